// The user accounts of the console, read from the registry for the service's
// permission checks and logins.
//
// Each call reads afresh (the registry operations cache nothing), so a user
// or permission changed in the console counts from the next command. Any
// thread.
#ifndef HALV_SERVICE_REGISTRY_ACCOUNTS_H_
#define HALV_SERVICE_REGISTRY_ACCOUNTS_H_

#include <string>
#include <vector>

#include "permissions.h"

namespace halv {

class RegistryAccounts final : public access::AccountStore {
 public:
  // `users_key`: the key whose subkeys are the users.
  explicit RegistryAccounts(std::string users_key) : users_key_(std::move(users_key)) {}

  std::vector<std::string> UserNames() override;
  std::string UserValue(const std::string& user, const std::string& name) override;

 private:
  std::string users_key_;
};

}  // namespace halv

#endif  // HALV_SERVICE_REGISTRY_ACCOUNTS_H_
