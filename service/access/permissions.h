// The permissions a command can need when logins are required, and whether
// a user holds one. Which command needs which is a column of the command
// table (service/core/command_table.cpp).
//
// A permission is a value of the user's key under "\Security\Users"; it
// counts only when it reads exactly "1". VIEW, INIT and CYCLE are reserved
// to the user named "Admin"; WHO, which shows every login name and address,
// needs a login as any user but "Anonymous" or AllowList; HELP, STIME,
// OPEN, AUTH and QUIT need nothing. RSTRT needs AllowRestart alone: the console offers it as a
// permission of its own, and a restart leaves the service running, which a
// grant of AllowStop alone does not allow for. Values are read at each check,
// so the console's changes apply from the next command. Any thread; the
// reads go through the caller's AccountStore.
#ifndef HALV_SERVICE_ACCESS_PERMISSIONS_H_
#define HALV_SERVICE_ACCESS_PERMISSIONS_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config_schema.h"
#include "registry_store.h"

namespace halv::access {

// The built-in accounts: every connection starts as the first; the second
// alone may use VIEW, INIT and CYCLE. Both compare case-sensitively.
using config::kAdminUser;
using config::kAnonymousUser;

enum class Permission {
  kNone,  // anyone
  kAllowList,
  kAllowStatus,
  kAllowStart,
  kAllowStop,
  kAllowRestart,
  kAllowUpdate,
  kAdminUser,         // the user "Admin" only
  kLoginOrAllowList,  // any user but "Anonymous", or AllowList
};

// The registry value that grants `permission` ("AllowStop"); "" for kNone
// and kAdminUser, "AllowList" for kLoginOrAllowList.
std::string_view PermissionValueName(Permission permission);

// The user accounts as the service reads them: each user is a subkey of
// `users_key` (this version's Users key), its permissions and Auth the values
// of that key. Each call reads afresh, so a change made in the console counts
// from the next call. The registry must outlive the store; calls may come
// from any thread the registry store allows.
class AccountStore {
 public:
  explicit AccountStore(RegistryStore& registry, std::string users_key = config::kUsersKey)
      : registry_(registry), users_key_(std::move(users_key)) {}

  // The names of the user keys, in enumeration order.
  std::vector<std::string> UserNames() { return registry_.ListRegSubKeys(users_key_); }

  // Value `name` of the key of user `user`; "" when the key or the value is
  // missing, and for a name that is empty or holds a backslash (it never
  // addresses a key below another user's). Raises halv::Error for a value of
  // another type.
  std::string UserValue(const std::string& user, const std::string& name) {
    if (user.empty() || user.find('\\') != std::string::npos) return {};
    return registry_.ReadRegString(users_key_ + "\\" + user, name);
  }

 private:
  RegistryStore& registry_;
  std::string users_key_;
};

// Whether `user` holds `permission` now: kNone always; kAdminUser when `user`
// is exactly "Admin"; kLoginOrAllowList when `user` is not "Anonymous" (a
// connection acts as another user only after a login) or its AllowList
// reads exactly "1"; otherwise when the user's value reads exactly "1". A
// read that fails counts as not granted.
bool HoldsPermission(AccountStore& accounts, const std::string& user, Permission permission);

// What a refusal says the command needs: the value name ("AllowStop"),
// "the user Admin" or "a login or AllowList".
std::string NeededText(Permission needed);

// The reply to a refused command (one numbered line): names the command in
// upper case and what it needs, e.g.
// "550-Permission denied: STOP needs AllowStop\n\r".
std::string RefusalText(std::string_view command, Permission needed);

// `word` mapped to upper case (ASCII).
std::string UpperCase(std::string_view word);

}  // namespace halv::access

#endif  // HALV_SERVICE_ACCESS_PERMISSIONS_H_
