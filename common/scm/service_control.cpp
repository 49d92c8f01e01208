// The service-control operations, written over the ServiceManager interface
// so that the same steps run against advapi32 and against the simulated
// manager of the tests.
//
// Every handle an operation opens is held by a ScopedHandle, so it is closed
// on every way out, in the reverse order of opening.
#include "service_control.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace halv {
namespace {

// A manager or service handle, given back to its manager when it goes out of
// scope.
class ScopedHandle {
 public:
  explicit ScopedHandle(ServiceManager& scm) : scm_(scm) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() {
    if (handle_ != 0) scm_.Close(handle_);
  }
  ScHandle* Out() { return &handle_; }
  ScHandle Get() const { return handle_; }

 private:
  ServiceManager& scm_;
  ScHandle handle_ = 0;
};

// A deadline on the manager's tick counter: the time is up once more than
// `limit_ms` have passed since `start_tick`, measured with unsigned 32-bit
// subtraction so that a wrap of the tick counter does not end the wait early.
class Deadline {
 public:
  Deadline(ServiceManager& scm, std::uint32_t limit_ms)
      : scm_(scm), start_(scm.TickCount()), limit_(limit_ms) {}
  bool TimeIsUp() const { return Elapsed() > limit_; }
  // Milliseconds until the time is up (the first tick past the limit).
  std::uint64_t UntilUp() const {
    const std::uint32_t elapsed = Elapsed();
    return elapsed > limit_ ? 0 : std::uint64_t{limit_} - elapsed + 1;
  }
  // `ms`, cut so that the pause ends no later than the time is up.
  std::uint32_t Cut(std::uint32_t ms) const {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, UntilUp()));
  }

 private:
  std::uint32_t Elapsed() const { return static_cast<std::uint32_t>(scm_.TickCount() - start_); }

  ServiceManager& scm_;
  const std::uint32_t start_;
  const std::uint32_t limit_;
};

// The pause before the next status poll of a stop: the last status's wait
// hint, at least kMinimumStopPauseMs so a hint of 0 does not poll back to
// back. The pause never runs past the time-out, so a service that reports a
// huge wait hint cannot hold the caller beyond it.
void PauseForWaitHint(ServiceManager& scm, const ServiceStatusInfo& status, const Deadline& clock) {
  const std::uint32_t pause = clock.Cut(std::max(status.wait_hint, kMinimumStopPauseMs));
  if (pause != 0) scm.Pause(pause);
}

// Polls `service` until it reports stopped. 0 once stopped, 1460 when the time
// is up first, or the code of a failed query. `status` is the last status
// received and is updated.
std::uint32_t WaitUntilStopped(ServiceManager& scm, ScHandle service, const Deadline& clock,
                               ServiceStatusInfo& status) {
  while (status.current_state != kStateStopped) {
    PauseForWaitHint(scm, status, clock);
    if (std::uint32_t code = scm.QueryStatus(service, &status)) return code;
    if (status.current_state == kStateStopped) break;
    if (clock.TimeIsUp()) return kErrorTimeout;
  }
  return 0;
}

// Stops the running dependants of `service` one at a time, in the order the
// manager lists them. 0 when all have stopped (or there are none), else the
// first failure's code or 1460; the ones already stopped stay stopped.
// The running dependants of `service` in the manager's order (two calls, as
// the Windows one): 0 with `*dependants` filled, or the failing call's code.
std::uint32_t ActiveDependantsOf(ServiceManager& scm, ScHandle service,
                                 std::vector<ServiceEntry>* dependants) {
  dependants->clear();
  std::uint32_t bytes_needed = 0;
  std::uint32_t code = scm.EnumDependents(service, kServiceActive, nullptr, 0, &bytes_needed);
  if (code == 0) return 0;  // no active dependants
  if (code != kErrorMoreData) return code;
  return scm.EnumDependents(service, kServiceActive, dependants, bytes_needed, &bytes_needed);
}

std::uint32_t StopActiveDependants(ServiceManager& scm, ScHandle manager, ScHandle service,
                                   const Deadline& clock, std::vector<std::string>* stopped) {
  std::vector<ServiceEntry> dependants;
  std::uint32_t code = ActiveDependantsOf(scm, service, &dependants);
  if (code != 0) return code;

  for (const ServiceEntry& entry : dependants) {
    ScopedHandle dependant(scm);
    code = scm.OpenServiceByName(manager, entry.service_name, kServiceStop | kServiceQueryStatus,
                                 dependant.Out());
    if (code != 0) return code;
    ServiceStatusInfo status;
    code = scm.Control(dependant.Get(), kServiceControlStop, &status);
    if (code != 0) return code;
    code = WaitUntilStopped(scm, dependant.Get(), clock, status);
    if (code != 0) return code;
    if (stopped != nullptr) stopped->push_back(entry.service_name);
  }
  return 0;
}

std::uint32_t StartPause(std::uint32_t wait_hint) {
  return std::clamp<std::uint32_t>(wait_hint / 10, 1000, 10000);
}

}  // namespace

std::uint32_t StopServiceAndDependents(ServiceManager& scm, const std::string& name,
                                       bool stop_dependencies, std::uint32_t timeout_ms,
                                       std::vector<std::string>* stopped) {
  const Deadline clock(scm, timeout_ms);  // read before anything else

  ScopedHandle manager(scm);
  if (std::uint32_t code = scm.OpenManager(kScManagerConnect, manager.Out())) return code;
  ScopedHandle service(scm);
  if (std::uint32_t code = scm.OpenServiceByName(
          manager.Get(), name, kServiceStop | kServiceQueryStatus | kServiceEnumerateDependents,
          service.Out()))
    return code;

  ServiceStatusInfo status;
  if (std::uint32_t code = scm.QueryStatus(service.Get(), &status)) return code;
  if (status.current_state == kStateStopped) return 0;

  // A stop already under way is only waited for.
  while (status.current_state == kStateStopPending) {
    PauseForWaitHint(scm, status, clock);
    if (std::uint32_t code = scm.QueryStatus(service.Get(), &status)) return code;
    if (status.current_state == kStateStopped) return 0;
    if (clock.TimeIsUp()) return kErrorTimeout;
  }

  if (stop_dependencies) {
    if (std::uint32_t code =
            StopActiveDependants(scm, manager.Get(), service.Get(), clock, stopped))
      return code;
  }

  if (std::uint32_t code = scm.Control(service.Get(), kServiceControlStop, &status)) return code;
  return WaitUntilStopped(scm, service.Get(), clock, status);
}

std::uint32_t ListActiveDependants(ServiceManager& scm, const std::string& name,
                                   std::vector<ServiceEntry>* dependants) {
  dependants->clear();
  ScopedHandle manager(scm);
  if (std::uint32_t code = scm.OpenManager(kScManagerConnect, manager.Out())) return code;
  ScopedHandle service(scm);
  if (std::uint32_t code =
          scm.OpenServiceByName(manager.Get(), name, kServiceEnumerateDependents, service.Out()))
    return code;
  return ActiveDependantsOf(scm, service.Get(), dependants);
}

std::uint32_t StartServiceAndWait(ServiceManager& scm, const std::string& name,
                                  std::uint32_t deadline_ms) {
  ScopedHandle manager(scm);
  if (std::uint32_t code = scm.OpenManager(kScManagerConnect, manager.Out())) return code;
  ScopedHandle service(scm);
  if (std::uint32_t code = scm.OpenServiceByName(
          manager.Get(), name, kServiceStart | kServiceQueryStatus, service.Out()))
    return code;
  if (std::uint32_t code = scm.Start(service.Get())) return code;
  ServiceStatusInfo status;
  if (std::uint32_t code = scm.QueryStatus(service.Get(), &status)) return code;

  // Progress resets the give-up by wait hint, never the overall deadline.
  const Deadline overall(scm, deadline_ms);
  std::uint32_t reference_tick = scm.TickCount();
  std::uint32_t reference_check_point = status.check_point;
  std::uint32_t query_failure = 0;
  while (status.current_state == kStateStartPending) {
    if (overall.TimeIsUp()) break;
    const std::uint32_t pause = overall.Cut(StartPause(status.wait_hint));
    if (pause != 0) scm.Pause(pause);
    query_failure = scm.QueryStatus(service.Get(), &status);
    if (query_failure != 0) break;
    if (status.check_point > reference_check_point) {
      reference_tick = scm.TickCount();
      reference_check_point = status.check_point;
      continue;
    }
    if (static_cast<std::uint32_t>(scm.TickCount() - reference_tick) > status.wait_hint) break;
  }

  if (query_failure != 0) return query_failure;
  if (status.current_state == kStateRunning) return 0;
  if (status.current_state == kStateStartPending) return kErrorServiceRequestTimeout;
  if (status.win32_exit_code != 0) return status.win32_exit_code;
  return kErrorServiceNotActive;
}

std::uint32_t QueryServiceState(ServiceManager& scm, const std::string& name) {
  ScopedHandle manager(scm);
  if (scm.OpenManager(kScManagerConnect, manager.Out()) != 0) return 0;
  ScopedHandle service(scm);
  if (scm.OpenServiceByName(manager.Get(), name, kServiceQueryStatus, service.Out()) != 0) return 0;
  ServiceStatusInfo status;
  if (scm.QueryStatus(service.Get(), &status) != 0) return 0;
  return status.current_state;
}

std::uint32_t EnumerateServices(ServiceManager& scm, std::vector<ServiceEntry>* entries,
                                std::uint32_t* bytes) {
  ScopedHandle manager(scm);
  if (std::uint32_t code = scm.OpenManager(kScManagerEnumerateService, manager.Out())) return code;
  std::uint32_t resume_handle = 0;
  std::uint32_t bytes_needed = 0;
  if (entries == nullptr) {
    // Only the size is wanted; the manager's answer (234 as a rule) is not a
    // failure.
    scm.EnumServices(manager.Get(), kServiceWin32, kServiceStateAll, nullptr, 0, &bytes_needed,
                     &resume_handle);
    *bytes = bytes_needed;
    return 0;
  }
  entries->clear();
  std::uint32_t code = scm.EnumServices(manager.Get(), kServiceWin32, kServiceStateAll, entries,
                                        *bytes, &bytes_needed, &resume_handle);
  if (code == kErrorMoreData) *bytes = bytes_needed;
  return code;
}

std::uint32_t QueryServiceConfiguration(ServiceManager& scm, const std::string& name,
                                        ServiceConfigInfo* config, std::uint32_t* bytes) {
  ScopedHandle manager(scm);
  if (std::uint32_t code = scm.OpenManager(kScManagerConnect, manager.Out())) return code;
  ScopedHandle service(scm);
  if (std::uint32_t code =
          scm.OpenServiceByName(manager.Get(), name, kServiceQueryConfig, service.Out()))
    return code;
  std::uint32_t bytes_needed = 0;
  if (config == nullptr) {
    // The answer that no buffer is too small is the expected one.
    scm.QueryConfig(service.Get(), nullptr, 0, &bytes_needed);
    *bytes = bytes_needed;
    return 0;
  }
  std::uint32_t code = scm.QueryConfig(service.Get(), config, *bytes, &bytes_needed);
  if (code == kErrorInsufficientBuffer) *bytes = bytes_needed;
  return code;
}

namespace {

// Opens `name` for changing its configuration and runs `change` on it.
template <typename Change>
std::uint32_t WithConfigHandle(ServiceManager& scm, const std::string& name, Change&& change) {
  ScopedHandle manager(scm);
  if (std::uint32_t code = scm.OpenManager(kScManagerConnect, manager.Out())) return code;
  ScopedHandle service(scm);
  if (std::uint32_t code =
          scm.OpenServiceByName(manager.Get(), name, kServiceChangeConfig, service.Out()))
    return code;
  return change(service.Get());
}

}  // namespace

std::uint32_t ChangeStartType(ServiceManager& scm, const std::string& name, StartChoice choice) {
  std::uint32_t start_type = kServiceAutoStart;
  if (choice == StartChoice::kManual) start_type = kServiceDemandStart;
  if (choice == StartChoice::kDisabled) start_type = kServiceDisabled;
  return WithConfigHandle(scm, name, [&](ScHandle service) {
    if (std::uint32_t code = scm.ChangeConfig(service, start_type, nullptr)) return code;
    return scm.SetDelayedAutoStart(service, choice == StartChoice::kDelayed);
  });
}

std::uint32_t ChangeDisplayName(ServiceManager& scm, const std::string& name,
                                const std::string& display_name) {
  return WithConfigHandle(scm, name, [&](ScHandle service) {
    return scm.ChangeConfig(service, kServiceNoChange, &display_name);
  });
}

}  // namespace halv
