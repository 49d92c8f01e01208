// The console's settings store over the shared registry operations
// (HKEY_LOCAL_MACHINE, each call opening and closing its own handles).
#ifndef HALV_ADMIN_MODEL_REGISTRY_STORE_H_
#define HALV_ADMIN_MODEL_REGISTRY_STORE_H_

#include "console_ports.h"

namespace halv::console {

class RegistryStore : public SettingsStore {
 public:
  std::string ReadRegString(const std::string& key, const std::string& name) override;
  void WriteRegString(const std::string& key, const std::string& name,
                      const std::string& value) override;
  std::vector<std::string> ListRegSubKeys(const std::string& key) override;
  std::vector<std::string> ListRegValueNames(const std::string& key) override;
  void DeleteRegKeyTree(const std::string& parent, const std::string& subkey) override;
};

}  // namespace halv::console

#endif  // HALV_ADMIN_MODEL_REGISTRY_STORE_H_
