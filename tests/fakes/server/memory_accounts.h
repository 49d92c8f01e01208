// User accounts for the access and interpreter tests: the service's
// AccountStore over a registry in memory (its own, or one shared with the
// test's other readers), with the users' keys set up by name under this
// version's Users key.
//
//   MemoryAccounts accounts;
//   accounts.Set("bob", "AllowStop", "1");
//   accounts.SetUnreadable("carol", "Auth");  // reads raise, as a REG_DWORD does
//   EXPECT_TRUE(access::HoldsPermission(accounts, "bob", access::Permission::kAllowStop));
#ifndef HALV_TESTS_FAKES_SERVER_MEMORY_ACCOUNTS_H_
#define HALV_TESTS_FAKES_SERVER_MEMORY_ACCOUNTS_H_

#include <string>

#include "config_schema.h"
#include "memory_registry.h"
#include "permissions.h"

namespace halv::testing {

// The registry comes first, so it exists before the store built over it.
struct MemoryAccountsRegistry {
  MemoryAccountsRegistry() : registry(own) {}
  explicit MemoryAccountsRegistry(MemoryRegistry& shared) : registry(shared) {}
  MemoryRegistry own;        // unused when shared
  MemoryRegistry& registry;  // the registry the accounts live in
};

class MemoryAccounts : public MemoryAccountsRegistry, public access::AccountStore {
 public:
  MemoryAccounts() : access::AccountStore(registry, config::kUsersKey) {}
  // Over `shared`, which must outlive this object.
  explicit MemoryAccounts(MemoryRegistry& shared)
      : MemoryAccountsRegistry(shared), access::AccountStore(registry, config::kUsersKey) {}
  // The store refers to this object's own registry.
  MemoryAccounts(const MemoryAccounts&) = delete;
  MemoryAccounts& operator=(const MemoryAccounts&) = delete;

  // Value `name` of user `user`, the user's key created as needed.
  void Set(const std::string& user, const std::string& name, const std::string& value) {
    registry.Set(KeyOf(user), name, value);
  }
  // Deletes the user's key with its values.
  void Remove(const std::string& user) { registry.DeleteRegKeyTree(config::kUsersKey, user); }
  // Reading this value raises, as a value of a non-string type does.
  void SetUnreadable(const std::string& user, const std::string& name) {
    registry.SetNonString(KeyOf(user), name);
  }
  // How many values have been read from the registry.
  int reads() const { return static_cast<int>(registry.reads.size()); }

  static std::string KeyOf(const std::string& user) { return config::kUsersKey + "\\" + user; }
};

}  // namespace halv::testing

#endif  // HALV_TESTS_FAKES_SERVER_MEMORY_ACCOUNTS_H_
