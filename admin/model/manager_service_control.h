// The console's service control over the shared service-control operations
// and one Service Control Manager (the system's, or a simulated one in tests).
#ifndef HALV_ADMIN_MODEL_MANAGER_SERVICE_CONTROL_H_
#define HALV_ADMIN_MODEL_MANAGER_SERVICE_CONTROL_H_

#include "console_ports.h"

namespace halv::console {

class ManagerServiceControl : public ServiceControl {
 public:
  // `scm` must outlive this object.
  explicit ManagerServiceControl(ServiceManager& scm) : scm_(scm) {}
  std::uint32_t StartServiceAndWait(const std::string& name) override;
  std::uint32_t StopServiceAndDependents(const std::string& name, bool stop_dependencies,
                                         std::uint32_t timeout_ms) override;
  std::uint32_t QueryServiceState(const std::string& name) override;
  std::uint32_t QueryServiceConfiguration(const std::string& name, ServiceConfigInfo* config,
                                          std::uint32_t* bytes) override;

 private:
  ServiceManager& scm_;
};

}  // namespace halv::console

#endif  // HALV_ADMIN_MODEL_MANAGER_SERVICE_CONTROL_H_
