// Forwards the settings store to the shared registry operations.
#include "registry_store.h"

#include "registry.h"

namespace halv::console {

std::string RegistryStore::ReadRegString(const std::string& key, const std::string& name) {
  return halv::ReadRegString(key, name);
}

void RegistryStore::WriteRegString(const std::string& key, const std::string& name,
                                   const std::string& value) {
  halv::WriteRegString(key, name, value, /*create=*/true);
}

std::vector<std::string> RegistryStore::ListRegSubKeys(const std::string& key) {
  std::vector<std::string> out;
  halv::ListRegSubKeys(key, out);
  return out;
}

std::vector<std::string> RegistryStore::ListRegValueNames(const std::string& key) {
  std::vector<std::string> out;
  halv::ListRegValueNames(key, out);
  return out;
}

void RegistryStore::DeleteRegKeyTree(const std::string& parent, const std::string& subkey) {
  halv::DeleteRegKeyTree(parent, subkey);
}

}  // namespace halv::console
