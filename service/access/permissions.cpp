// The command-to-permission table and the permission reads.
#include "permissions.h"

#include <exception>

namespace halv::access {
namespace {

struct Rule {
  std::string_view command;  // lower case
  Permission needed;
};

constexpr Rule kRules[] = {
    {"open", Permission::kNone},          {"auth", Permission::kNone},
    {"start", Permission::kAllowStart},   {"cycle", Permission::kAdminUser},
    {"stop", Permission::kAllowStop},     {"rstrt", Permission::kAllowRestart},
    {"who", Permission::kNone},           {"init", Permission::kAdminUser},
    {"stime", Permission::kNone},         {"display", Permission::kAllowList},
    {"view", Permission::kAdminUser},     {"list", Permission::kAllowList},
    {"update", Permission::kAllowUpdate}, {"quit", Permission::kNone},
    {"status", Permission::kAllowStatus}, {"help", Permission::kNone},
};

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

Permission RequiredPermission(std::string_view command) {
  const std::string upper = UpperCase(command);
  for (const Rule& rule : kRules) {
    if (upper == UpperCase(rule.command)) return rule.needed;
  }
  return Permission::kNone;
}

bool HoldsPermission(AccountStore& accounts, const std::string& user, Permission permission) {
  switch (permission) {
    case Permission::kNone:
      return true;
    case Permission::kAdminUser:
      return user == kAdminUser;
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
  return needed == Permission::kAdminUser ? std::string("the user ") + kAdminUser
                                          : std::string(PermissionValueName(needed));
}

std::string RefusalText(std::string_view command, Permission needed) {
  return "550-Permission denied: " + UpperCase(command) + " needs " + NeededText(needed) + "\n\r";
}

}  // namespace halv::access
