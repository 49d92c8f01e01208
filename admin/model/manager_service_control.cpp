// Forwards the console's service control to the shared operations.
#include "manager_service_control.h"

#include "scm/service_control.h"

namespace halv::console {

std::uint32_t ManagerServiceControl::StartServiceAndWait(const std::string& name) {
  return halv::StartServiceAndWait(scm_, name);
}

std::uint32_t ManagerServiceControl::StopServiceAndDependents(const std::string& name,
                                                              bool stop_dependencies,
                                                              std::uint32_t timeout_ms) {
  return halv::StopServiceAndDependents(scm_, name, stop_dependencies, timeout_ms);
}

std::uint32_t ManagerServiceControl::QueryServiceState(const std::string& name) {
  return halv::QueryServiceState(scm_, name);
}

std::uint32_t ManagerServiceControl::QueryServiceConfiguration(const std::string& name,
                                                               ServiceConfigInfo* config,
                                                               std::uint32_t* bytes) {
  return halv::QueryServiceConfiguration(scm_, name, config, bytes);
}

}  // namespace halv::console
