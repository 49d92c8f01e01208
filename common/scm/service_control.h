// Service-control operations shared by the service and the console.
//
// Each operation opens its own handles through a ServiceManager, does its
// work and closes everything before it returns, on every path. Results are 0
// for success, otherwise a Windows system error code (1460 when a stop
// outlasts its time-out). The operations block the calling thread while they
// wait and share no state.
#ifndef HALV_COMMON_SCM_SERVICE_CONTROL_H_
#define HALV_COMMON_SCM_SERVICE_CONTROL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "protocol_text.h"  // ScmErrorText: the client text of each code
#include "service_manager.h"

namespace halv {

// The shortest pause between two status polls of a stop: a service that
// reports a wait hint of 0 (or a few ms) is not polled back to back.
inline constexpr std::uint32_t kMinimumStopPauseMs = 100;

// How long a start may go on in all, however steadily the service advances
// its check point: 10 minutes.
inline constexpr std::uint32_t kStartDeadlineMs = 600000;

// Stops `name`; with `stop_dependencies`, first stops each running dependant
// in the order the manager returns them. The whole operation must finish
// within `timeout_ms` (unsigned tick arithmetic, so a counter wrap does no
// harm); otherwise 1460. A stop already pending is only waited for. Between
// polls it pauses for the service's wait hint, at least kMinimumStopPauseMs,
// never past the time-out. Opens the service for stop, status and dependants
// only, each dependant for stop and status.
// With `stopped` set, the names of the dependants this call stopped are
// appended to it in the order they were stopped, also when a later step
// fails.
std::uint32_t StopServiceAndDependents(ServiceManager& scm, const std::string& name,
                                       bool stop_dependencies, std::uint32_t timeout_ms,
                                       std::vector<std::string>* stopped = nullptr);

// The running dependants of `name` that StopServiceAndDependents would stop,
// in the order it stops them (the manager's order). 0 with `*dependants`
// filled (emptied first; none is 0 with it empty), or the code of the failing
// open or enumeration. Opens the service for enumerating dependants only.
std::uint32_t ListActiveDependants(ServiceManager& scm, const std::string& name,
                                   std::vector<ServiceEntry>* dependants);

// Starts `name` without arguments and waits while it reports start-pending
// and keeps advancing its check point, polling every tenth of its wait hint
// (1 to 10 s). 0 when it ends up running; never 0 when it does not: the code
// of a failed open, start or query; 1053 when it stayed start-pending without
// progress for longer than its wait hint, or still start-pending when
// `deadline_ms` had passed since the start (no pause runs past it); its Win32
// exit code when it stopped with one; otherwise (stopped without an error, or
// any other state) 1062. Opens the service for start and status only.
std::uint32_t StartServiceAndWait(ServiceManager& scm, const std::string& name,
                                  std::uint32_t deadline_ms = kStartDeadlineMs);

// The current state (1..7) of `name`, or 0 when it cannot be read. Opens the
// service for status only.
std::uint32_t QueryServiceState(ServiceManager& scm, const std::string& name);

// Two steps, as the Windows call. With `entries` null: stores the needed size
// in `*bytes` and returns 0 whatever the manager answered (non-zero only when
// the manager cannot be opened). With `entries`: fills it with the Win32
// services in every state, in the manager's order, in one call limited to
// `*bytes` bytes; returns 0 or the failing call's code (234 when the list grew,
// and then `*bytes` holds the size now needed).
std::uint32_t EnumerateServices(ServiceManager& scm, std::vector<ServiceEntry>* entries,
                                std::uint32_t* bytes);

// Two steps in the same way (the service opened for its configuration only).
// With `config` null: stores the needed size in
// `*bytes` (left unchanged when the service cannot be opened) and returns 0,
// or the code of a failed open. With `config`: fills it within `*bytes` bytes
// and returns 0 or the failing call's code (122 when `*bytes` is too small,
// and then `*bytes` holds the size needed).
std::uint32_t QueryServiceConfiguration(ServiceManager& scm, const std::string& name,
                                        ServiceConfigInfo* config, std::uint32_t* bytes);

// UPDATE's start types: Automatic and Delayed both start with the system,
// Delayed after the other automatic services.
enum class StartChoice { kAutomatic, kDelayed, kManual, kDisabled };

// Sets the start type of `name` (ChangeServiceConfig), then whether an
// automatic start is delayed (ChangeServiceConfig2: set for kDelayed,
// cleared for the others). 0, or the code of the failing open or change (a
// failure of the second change leaves the first one made). Opens the
// service for changing its configuration only.
std::uint32_t ChangeStartType(ServiceManager& scm, const std::string& name, StartChoice choice);

// Sets the display name of `name`; 0 or the failing call's code. Opens the
// service for changing its configuration only.
std::uint32_t ChangeDisplayName(ServiceManager& scm, const std::string& name,
                                const std::string& display_name);

}  // namespace halv

#endif  // HALV_COMMON_SCM_SERVICE_CONTROL_H_
