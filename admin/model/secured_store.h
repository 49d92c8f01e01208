// The console's registry with the accounts branch kept private: before the
// first write below a version's "Security" key, `restrict` is called with
// that key, so that it (and its Users key) exists with access for
// Administrators and SYSTEM only before any account is written into it; and
// again after the first write to each key below it, so a key the write
// created has that access too. Everything else is passed through to the
// store underneath.
#ifndef HALV_ADMIN_MODEL_SECURED_STORE_H_
#define HALV_ADMIN_MODEL_SECURED_STORE_H_

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "config_schema.h"
#include "registry_store.h"

namespace halv::console {

class SecuredStore : public RegistryStore {
 public:
  // `restrict(security_key)` raises halv::Error when it cannot; the write
  // that needed it is then not made. `inner` must outlive this object.
  SecuredStore(RegistryStore& inner, std::function<void(const std::string&)> restrict)
      : inner_(inner), restrict_(std::move(restrict)) {}

  // The version's Security key when `key` is that key or lies below it
  // (letter case aside, as the registry compares names); "" otherwise.
  static std::string SecurityKeyOf(const std::string& key) {
    const std::string product = std::string(config::kProductKey) + "\\";
    if (!StartsWithIgnoringCase(key, product)) return {};
    const std::size_t version_end = key.find('\\', product.size());
    if (version_end == std::string::npos) return {};
    const std::string security = key.substr(0, version_end) + "\\" + config::kSecuritySubkey;
    if (!StartsWithIgnoringCase(key, security)) return {};
    if (key.size() != security.size() && key[security.size()] != '\\') return {};
    return key.substr(0, security.size());
  }

  std::string ReadRegString(const std::string& key, const std::string& name) override {
    return inner_.ReadRegString(key, name);
  }
  void WriteRegString(const std::string& key, const std::string& name,
                      const std::string& value) override {
    const std::string security = SecurityKeyOf(key);
    if (!security.empty()) {
      std::string folded = Folded(security);
      if (restricted_.count(folded) == 0) {
        restrict_(security);
        restricted_.insert(std::move(folded));
      }
    }
    inner_.WriteRegString(key, name, value);
    // After the first write to each key below Security once more, for a key
    // that this write created where the registry does not pass the list on
    // to new keys by inheritance (Wine's does not).
    if (!security.empty() && written_.insert(Folded(key)).second) restrict_(security);
  }
  std::vector<std::string> ListRegSubKeys(const std::string& key) override {
    return inner_.ListRegSubKeys(key);
  }
  std::vector<std::string> ListRegValueNames(const std::string& key) override {
    return inner_.ListRegValueNames(key);
  }
  void DeleteRegKeyTree(const std::string& parent, const std::string& subkey) override {
    inner_.DeleteRegKeyTree(parent, subkey);
  }

 private:
  static std::string Folded(std::string text) {
    for (char& c : text)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
  }
  static bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && Folded(text.substr(0, prefix.size())) == Folded(prefix);
  }

  RegistryStore& inner_;
  std::function<void(const std::string&)> restrict_;
  std::set<std::string> restricted_;  // folded Security keys already restricted
  std::set<std::string> written_;     // folded keys below Security written to
};

}  // namespace halv::console

#endif  // HALV_ADMIN_MODEL_SECURED_STORE_H_
