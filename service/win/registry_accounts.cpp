// User accounts over the shared registry operations.
#include "registry_accounts.h"

#include "registry.h"

namespace halv {

std::vector<std::string> RegistryAccounts::UserNames() {
  std::vector<std::string> names;
  ListRegSubKeys(users_key_, names);
  return names;
}

std::string RegistryAccounts::UserValue(const std::string& user, const std::string& name) {
  // A user name never addresses a key below another user's.
  if (user.empty() || user.find('\\') != std::string::npos) return {};
  return ReadRegString(users_key_ + "\\" + user, name);
}

}  // namespace halv
