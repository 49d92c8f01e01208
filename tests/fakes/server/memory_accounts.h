// User accounts in memory for the access and interpreter tests: user keys with their values,
// a count of reads, and values that fail to read as a value of another type
// does.
#ifndef HALV_TESTS_FAKES_SERVER_MEMORY_ACCOUNTS_H_
#define HALV_TESTS_FAKES_SERVER_MEMORY_ACCOUNTS_H_

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "halv_error.h"
#include "permissions.h"

namespace halv::testing {

class MemoryAccounts : public access::AccountStore {
 public:
  void Set(const std::string& user, const std::string& name, const std::string& value) {
    users_[user][name] = value;
  }
  void Remove(const std::string& user) { users_.erase(user); }
  // Reading this value raises, as a value of a non-string type does.
  void SetUnreadable(const std::string& user, const std::string& name) {
    users_[user];
    unreadable_.insert({user, name});
  }

  std::vector<std::string> UserNames() override {
    std::vector<std::string> names;
    for (const auto& [name, values] : users_) names.push_back(name);
    return names;
  }
  std::string UserValue(const std::string& user, const std::string& name) override {
    ++reads;
    if (unreadable_.count({user, name}) != 0) throw Error("Invalid data type for '" + name + "'");
    const auto u = users_.find(user);
    if (u == users_.end()) return {};
    const auto v = u->second.find(name);
    return v == u->second.end() ? std::string() : v->second;
  }

  int reads = 0;

 private:
  std::map<std::string, std::map<std::string, std::string>> users_;
  std::set<std::pair<std::string, std::string>> unreadable_;
};

}  // namespace halv::testing

#endif  // HALV_TESTS_FAKES_SERVER_MEMORY_ACCOUNTS_H_
