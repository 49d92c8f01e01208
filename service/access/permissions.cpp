// The permission value names and the permission reads.
#include "permissions.h"

#include <exception>

namespace halv::access {
namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string UpperCase(std::string_view word) {
  std::string out(word);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

std::string_view PermissionValueName(Permission permission) {
  switch (permission) {
    case Permission::kAllowList:
    case Permission::kLoginOrAllowList:
      return config::kAllowList;
    case Permission::kAllowStatus:
      return config::kAllowStatus;
    case Permission::kAllowStart:
      return config::kAllowStart;
    case Permission::kAllowStop:
      return config::kAllowStop;
    case Permission::kAllowRestart:
      return config::kAllowRestart;
    case Permission::kAllowUpdate:
      return config::kAllowUpdate;
    case Permission::kNone:
    case Permission::kAdminUser:
      break;
  }
  return "";
}

bool HoldsPermission(AccountStore& accounts, const std::string& user, Permission permission) {
  switch (permission) {
    case Permission::kNone:
      return true;
    case Permission::kAdminUser:
      return user == kAdminUser;
    case Permission::kLoginOrAllowList:
      if (user != kAnonymousUser) return true;
      break;
    default:
      break;
  }
  try {
    return accounts.UserValue(user, std::string(PermissionValueName(permission))) == "1";
  } catch (const std::exception&) {
    return false;  // an unreadable value grants nothing
  }
}

std::string NeededText(Permission needed) {
  if (needed == Permission::kLoginOrAllowList)
    return std::string("a login or ") + config::kAllowList;
  return needed == Permission::kAdminUser ? std::string("the user ") + kAdminUser
                                          : std::string(PermissionValueName(needed));
}

std::string RefusalText(std::string_view command, Permission needed) {
  return "550-Permission denied: " + UpperCase(command) + " needs " + NeededText(needed) + "\n\r";
}

}  // namespace halv::access
