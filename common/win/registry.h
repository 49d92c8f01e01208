// The registry operations on the real registry (advapi32), under
// HKEY_LOCAL_MACHINE, and the registry store over them.
//
// Every call opens the key it needs, performs one operation and closes every
// handle before it returns, also on failure, so each value is read fresh.
// Key paths are relative to HKEY_LOCAL_MACHINE and have no leading
// backslash. Failures are raised as halv::Error with the product's texts;
// absence is never a failure. Nothing is kept between calls: any thread may
// call, and one WinRegistry may be shared.
#ifndef HALV_COMMON_WIN_REGISTRY_H_
#define HALV_COMMON_WIN_REGISTRY_H_

#include <string>
#include <vector>

#include "registry_store.h"

namespace halv {

// The value as text. REG_SZ and REG_EXPAND_SZ are taken as they stand (no
// expansion); a missing key or value reads as "". Any other value type raises
// "Invalid data type for '<name>'".
std::string ReadRegString(const std::string& key, const std::string& name);

// Writes `value` as REG_SZ including its terminating zero. With `create` set,
// the key and any missing keys above it are created. Raises
// "Failed to set data for '<name>'" when the key can be neither opened nor
// created, or the value cannot be written.
void WriteRegString(const std::string& key, const std::string& name, const std::string& value,
                    bool create);

// Replaces `out` with the names of the key's direct subkeys, in enumeration
// order. A missing key yields an empty list.
void ListRegSubKeys(const std::string& key, std::vector<std::string>& out);

// Replaces `out` with the names of the key's values, in enumeration order. A
// missing key yields an empty list.
void ListRegValueNames(const std::string& key, std::vector<std::string>& out);

// Deletes parent\subkey with everything beneath it. If that key cannot be
// opened, nothing is deleted and nothing is reported.
void DeleteRegKeyTree(const std::string& parent, const std::string& subkey);

// The registry store of the service and the console over the operations
// above; writes create missing keys.
class WinRegistry final : public RegistryStore {
 public:
  std::string ReadRegString(const std::string& key, const std::string& name) override;
  void WriteRegString(const std::string& key, const std::string& name,
                      const std::string& value) override;
  std::vector<std::string> ListRegSubKeys(const std::string& key) override;
  std::vector<std::string> ListRegValueNames(const std::string& key) override;
  void DeleteRegKeyTree(const std::string& parent, const std::string& subkey) override;
};

}  // namespace halv

#endif  // HALV_COMMON_WIN_REGISTRY_H_
