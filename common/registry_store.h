// The registry as the service and the console see it: string values under
// keys of HKEY_LOCAL_MACHINE, named by paths without a leading backslash.
//
// One Win32 implementation (common/win/registry.h) and one in-memory fake
// (tests/fakes/registry). Every call reads or writes afresh, nothing is
// cached. Absence is never a failure; failures raise halv::Error with the
// product's texts ("Invalid data type for '<name>'", "Failed to set data for
// '<name>'"). Which threads may call is the implementation's to say; the
// Win32 one may be called from any thread.
#ifndef HALV_COMMON_REGISTRY_STORE_H_
#define HALV_COMMON_REGISTRY_STORE_H_

#include <string>
#include <vector>

namespace halv {

class RegistryStore {
 public:
  virtual ~RegistryStore() = default;

  // The value as text; "" when the key or the value is missing. A value that
  // is no string (REG_SZ or REG_EXPAND_SZ, the latter not expanded) raises
  // "Invalid data type for '<name>'".
  virtual std::string ReadRegString(const std::string& key, const std::string& name) = 0;

  // Writes `value` as a string value, creating the key and any missing keys
  // above it. Raises "Failed to set data for '<name>'" when the key can be
  // neither opened nor created or the value cannot be written.
  virtual void WriteRegString(const std::string& key, const std::string& name,
                              const std::string& value) = 0;

  // The names of the key's direct subkeys, in enumeration order; none for a
  // missing key.
  virtual std::vector<std::string> ListRegSubKeys(const std::string& key) = 0;

  // The names of the key's values, in enumeration order; none for a missing
  // key.
  virtual std::vector<std::string> ListRegValueNames(const std::string& key) = 0;

  // Deletes parent\subkey with everything beneath it. A key that cannot be
  // opened is passed over silently.
  virtual void DeleteRegKeyTree(const std::string& parent, const std::string& subkey) = 0;
};

}  // namespace halv

#endif  // HALV_COMMON_REGISTRY_STORE_H_
