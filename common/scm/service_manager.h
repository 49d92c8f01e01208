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
  std::string dependencies;  // names, each followed by '\0' (empty when none)
  std::string service_start_name;
  std::string display_name;
};

// Access rights, controls, selectors and the codes the operations use, with
// their Win32 values.
inline constexpr std::uint32_t kScManagerConnect = 0x0001;
inline constexpr std::uint32_t kScManagerEnumerateService = 0x0004;
inline constexpr std::uint32_t kServiceQueryConfig = 0x0001;
inline constexpr std::uint32_t kServiceChangeConfig = 0x0002;
inline constexpr std::uint32_t kServiceQueryStatus = 0x0004;
inline constexpr std::uint32_t kServiceEnumerateDependents = 0x0008;
inline constexpr std::uint32_t kServiceStart = 0x0010;
inline constexpr std::uint32_t kServiceStop = 0x0020;
inline constexpr std::uint32_t kServiceAllAccess = 0xF01FF;
inline constexpr std::uint32_t kServiceControlStop = 1;
inline constexpr std::uint32_t kServiceWin32 = 0x30;  // own- and shared-process services
inline constexpr std::uint32_t kServiceActive = 1;
inline constexpr std::uint32_t kServiceInactive = 2;
inline constexpr std::uint32_t kServiceStateAll = 3;
// Start types, and the "keep it" of ChangeServiceConfig.
inline constexpr std::uint32_t kServiceAutoStart = 2;
inline constexpr std::uint32_t kServiceDemandStart = 3;
inline constexpr std::uint32_t kServiceDisabled = 4;
inline constexpr std::uint32_t kServiceNoChange = 0xFFFFFFFF;

inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorInvalidName = 123;
inline constexpr std::uint32_t kErrorMoreData = 234;
inline constexpr std::uint32_t kErrorDependentServicesRunning = 1051;
inline constexpr std::uint32_t kErrorInvalidServiceControl = 1052;
inline constexpr std::uint32_t kErrorServiceRequestTimeout = 1053;
inline constexpr std::uint32_t kErrorServiceAlreadyRunning = 1056;
inline constexpr std::uint32_t kErrorServiceDisabled = 1058;
inline constexpr std::uint32_t kErrorServiceDoesNotExist = 1060;
inline constexpr std::uint32_t kErrorServiceCannotAcceptCtrl = 1061;
inline constexpr std::uint32_t kErrorServiceNotActive = 1062;
inline constexpr std::uint32_t kErrorTimeout = 1460;

// The Service Control Manager calls the operations make, one method per Win32
// function, plus the tick counter and the pause. Every method that can fail
// returns 0 or the system error code of the call (taken right after it
// failed) and leaves its outputs untouched on failure unless said otherwise.
// Handles come from OpenManager/OpenServiceByName and must be given back to Close
// exactly once. Implementations may be used from one thread at a time.
class ServiceManager {
 public:
  virtual ~ServiceManager() = default;

  // OpenSCManager on the local machine's active database. On success stores
  // the handle in `*manager`.
  virtual std::uint32_t OpenManager(std::uint32_t access, ScHandle* manager) = 0;

  // OpenService by service name (not a macro-clashing name, so the Win32
  // adapter may include windows.h). On success stores the handle in `*service`.
  virtual std::uint32_t OpenServiceByName(ScHandle manager, const std::string& name,
                                          std::uint32_t access, ScHandle* service) = 0;

  // CloseServiceHandle. Returns 0, or 6 for a handle that is not open.
  virtual std::uint32_t Close(ScHandle handle) = 0;

  // QueryServiceStatus.
  virtual std::uint32_t QueryStatus(ScHandle service, ServiceStatusInfo* status) = 0;

  // ControlService: sends `control` and, on success, stores the status the
  // manager returns with it.
  virtual std::uint32_t Control(ScHandle service, std::uint32_t control,
                                ServiceStatusInfo* status) = 0;

  // StartService without arguments.
  virtual std::uint32_t Start(ScHandle service) = 0;

  // EnumDependentServices for dependants in `state` (kServiceActive, ...).
  // With `entries` null the call is made with no buffer: 0 means there are
  // none, 234 means there are some and `*bytes_needed` holds the buffer size
  // they take. With `entries`, the call is made with a zero-filled buffer of
  // `buffer_bytes` bytes; on success `*entries` holds them in the manager's
  // order, on 234 `*bytes_needed` holds the size needed.
  virtual std::uint32_t EnumDependents(ScHandle service, std::uint32_t state,
                                       std::vector<ServiceEntry>* entries,
                                       std::uint32_t buffer_bytes, std::uint32_t* bytes_needed) = 0;

  // EnumServicesStatus of services of `type` in `state`, from and advancing
  // `*resume_handle`. The buffer works as for EnumDependents: none when
  // `entries` is null, else `buffer_bytes` bytes; on 234 `*bytes_needed`
  // holds the size the remaining entries take.
  virtual std::uint32_t EnumServices(ScHandle manager, std::uint32_t type, std::uint32_t state,
                                     std::vector<ServiceEntry>* entries, std::uint32_t buffer_bytes,
                                     std::uint32_t* bytes_needed, std::uint32_t* resume_handle) = 0;

  // QueryServiceConfig. With `config` null the call is made with no buffer
  // (size 0) and answers 122 with the size needed in `*bytes_needed`. With
  // `config`, a buffer of `buffer_bytes` bytes: on success `*config` is
  // filled, on 122 `*bytes_needed` holds the size needed.
  virtual std::uint32_t QueryConfig(ScHandle service, ServiceConfigInfo* config,
                                    std::uint32_t buffer_bytes, std::uint32_t* bytes_needed) = 0;

  // ChangeServiceConfig changing the start type (kServiceNoChange keeps it)
  // and, when `display_name` is not null, the display name; everything else
  // is kept.
  virtual std::uint32_t ChangeConfig(ScHandle service, std::uint32_t start_type,
                                     const std::string* display_name) = 0;

  // ChangeServiceConfig2 with SERVICE_CONFIG_DELAYED_AUTO_START_INFO: whether
  // an automatic start waits until after the other automatic services.
  virtual std::uint32_t SetDelayedAutoStart(ScHandle service, bool delayed) = 0;

  // GetTickCount: milliseconds since an arbitrary start, wrapping at 2^32.
  virtual std::uint32_t TickCount() = 0;

  // Sleep for `ms` milliseconds.
  virtual void Pause(std::uint32_t ms) = 0;
};

}  // namespace halv

#endif  // HALV_COMMON_SCM_SERVICE_MANAGER_H_
