// The narrow interface through which the service-control operations reach
// the Service Control Manager, its tick counter and its pause.
//
// The real implementation calls advapi32 (SystemServiceManager, Windows
// only); tests use a simulated manager on a virtual clock. Calls mirror the
// Win32 functions: each returns 0 or the system error code of the call.
#ifndef HALV_COMMON_SCM_SERVICE_MANAGER_H_
#define HALV_COMMON_SCM_SERVICE_MANAGER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace halv {

using ScHandle = std::uintptr_t;  // 0 is no handle

inline constexpr std::uint32_t kStateStopped = 1;
inline constexpr std::uint32_t kStateStartPending = 2;
inline constexpr std::uint32_t kStateStopPending = 3;
inline constexpr std::uint32_t kStateRunning = 4;
inline constexpr std::uint32_t kStateContinuePending = 5;
inline constexpr std::uint32_t kStatePausePending = 6;
inline constexpr std::uint32_t kStatePaused = 7;

struct ServiceStatusInfo {
  std::uint32_t service_type = 0;
  std::uint32_t current_state = 0;
  std::uint32_t controls_accepted = 0;
  std::uint32_t win32_exit_code = 0;
  std::uint32_t service_specific_exit_code = 0;
  std::uint32_t check_point = 0;
  std::uint32_t wait_hint = 0;
};

struct ServiceEntry {
  std::string service_name;
  std::string display_name;
  ServiceStatusInfo status;
};

struct ServiceConfigInfo {
  std::uint32_t service_type = 0;
  std::uint32_t start_type = 0;
  std::uint32_t error_control = 0;
  std::string binary_path_name;
  std::string load_order_group;
  std::uint32_t tag_id = 0;
  std::string dependencies;
  std::string service_start_name;
  std::string display_name;
};

class ServiceManager;

}  // namespace halv

#endif  // HALV_COMMON_SCM_SERVICE_MANAGER_H_
