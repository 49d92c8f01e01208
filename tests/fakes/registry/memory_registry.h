// The registry in memory, for every test of code that reads or writes it
// (the service core's configuration read, the access checks, the console):
// keys kept in creation order, as enumeration returns them, holding string
// values and values of another type; a record of reads and writes; writes
// that fail on request; a hook called at every operation.
//
//   MemoryRegistry registry;
//   registry.Set(config::kSystemKey, "Port", "9007");
//   registry.SetNonString(config::kSystemKey, "VerboseLogging");  // reads raise
//   registry.fail_writes.insert("Port");                         // writes raise
//
// Single-threaded: the test and the code under test take turns.
#ifndef HALV_TESTS_FAKES_REGISTRY_MEMORY_REGISTRY_H_
#define HALV_TESTS_FAKES_REGISTRY_MEMORY_REGISTRY_H_

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "halv_error.h"
#include "registry_store.h"

namespace halv::testing {

class MemoryRegistry : public RegistryStore {
 public:
  // One read (value empty) or one successful write.
  struct Write {
    std::string key, name, value;
    bool operator==(const Write&) const = default;
  };

  // --- Set-up, neither recorded nor hooked.
  // A string value; the key and the keys above it are created as needed.
  void Set(const std::string& key, const std::string& name, const std::string& value) {
    Put(key, name, {true, value});
  }
  // A value of another type (REG_DWORD, say): reading it raises "Invalid
  // data type for '<name>'".
  void SetNonString(const std::string& key, const std::string& name) {
    Put(key, name, {false, ""});
  }
  // Removes one value; the key stays.
  void Remove(const std::string& key, const std::string& name) {
    auto k = values_.find(key);
    if (k != values_.end())
      std::erase_if(k->second, [&](const auto& v) { return v.first == name; });
  }

  // --- Inspection.
  bool Has(const std::string& key, const std::string& name) const {
    auto k = values_.find(key);
    if (k == values_.end()) return false;
    return std::any_of(k->second.begin(), k->second.end(),
                       [&](const auto& v) { return v.first == name; });
  }
  // The value's text; "<missing>" when there is none.
  std::string Get(const std::string& key, const std::string& name) const {
    auto k = values_.find(key);
    if (k != values_.end())
      for (const auto& [n, v] : k->second)
        if (n == name) return v.text;
    return "<missing>";
  }
  bool HasKey(const std::string& key) const {
    return std::find(keys_.begin(), keys_.end(), key) != keys_.end();
  }
  // The names read under `key`, in order.
  std::vector<std::string> NamesRead(const std::string& key) const {
    std::vector<std::string> names;
    for (const auto& r : reads)
      if (r.key == key) names.push_back(r.name);
    return names;
  }

  std::set<std::string> fail_writes;  // value names whose writes raise
  std::vector<Write> writes;          // every successful write, in order
  std::vector<Write> reads;           // every read (value empty), in order
  std::function<void()> on_access;    // called at every operation

  // --- RegistryStore.
  std::string ReadRegString(const std::string& key, const std::string& name) override {
    Touch();
    reads.push_back({key, name, ""});
    auto k = values_.find(key);
    if (k == values_.end()) return "";
    for (const auto& [n, v] : k->second) {
      if (n != name) continue;
      if (!v.is_string) throw Error(FormatMessageText("Invalid data type for '%s'", name));
      return v.text;
    }
    return "";
  }
  void WriteRegString(const std::string& key, const std::string& name,
                      const std::string& value) override {
    Touch();
    if (fail_writes.count(name))
      throw Error(FormatMessageText("Failed to set data for '%s'", name));
    Set(key, name, value);
    writes.push_back({key, name, value});
  }
  std::vector<std::string> ListRegSubKeys(const std::string& key) override {
    Touch();
    std::vector<std::string> out;
    const std::string prefix = key + "\\";
    for (const auto& k : keys_) {
      if (k.compare(0, prefix.size(), prefix) != 0) continue;
      const std::string rest = k.substr(prefix.size());
      if (rest.find('\\') == std::string::npos) out.push_back(rest);
    }
    return out;
  }
  std::vector<std::string> ListRegValueNames(const std::string& key) override {
    Touch();
    std::vector<std::string> out;
    auto k = values_.find(key);
    if (k != values_.end())
      for (const auto& v : k->second) out.push_back(v.first);
    return out;
  }
  void DeleteRegKeyTree(const std::string& parent, const std::string& subkey) override {
    Touch();
    const std::string path = parent + "\\" + subkey;
    const auto in_tree = [&](const std::string& k) {
      return k == path || k.compare(0, path.size() + 1, path + "\\") == 0;
    };
    std::erase_if(keys_, in_tree);
    std::erase_if(values_, [&](const auto& kv) { return in_tree(kv.first); });
  }

 private:
  struct Value {
    bool is_string;
    std::string text;
  };

  void Touch() {
    if (on_access) on_access();
  }
  void CreateKey(const std::string& key) {
    for (std::size_t at = key.find('\\'); at != std::string::npos; at = key.find('\\', at + 1))
      AddKey(key.substr(0, at));
    AddKey(key);
  }
  void AddKey(const std::string& key) {
    if (!HasKey(key)) keys_.push_back(key);
  }
  void Put(const std::string& key, const std::string& name, Value value) {
    CreateKey(key);
    auto& list = values_[key];
    for (auto& [n, v] : list)
      if (n == name) {
        v = std::move(value);
        return;
      }
    list.emplace_back(name, std::move(value));
  }

  std::vector<std::string> keys_;
  std::map<std::string, std::vector<std::pair<std::string, Value>>> values_;
};

}  // namespace halv::testing

#endif  // HALV_TESTS_FAKES_REGISTRY_MEMORY_REGISTRY_H_
