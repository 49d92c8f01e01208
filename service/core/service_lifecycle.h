// ServiceLifecycle: what the service reports to the Service Control Manager
// and when, without Windows.
//
// The host drives a HostedService through its life on the service thread:
// start pending (with a check point before each start step), running, then,
// once a stop or a shutdown has been carried out, stopped with the exit code.
// A stop or shutdown arrives on the control thread: it is reported as stop
// pending at once and handed to the service, which carries it out on its own
// thread and ends its Run. A request that comes while the start is still
// under way is kept: the start is then not reported as running, and the
// service carries the request out as soon as its loop runs. A failed start
// is reported as stopped with its code. Nothing here throws; what a handler
// raises ends the service with kServiceSpecificExitCode.
//
// The Win32 side (service/win/service_host.h) reports through SetServiceStatus
// and calls Control from its control handler; tests use a recording sink.
#ifndef HALV_SERVICE_CORE_SERVICE_LIFECYCLE_H_
#define HALV_SERVICE_CORE_SERVICE_LIFECYCLE_H_

#include <cstdint>
#include <mutex>
#include <optional>

namespace halv {

// The states reported; the numbers are the manager's (SERVICE_STOPPED, ...).
enum class HostedState : std::uint32_t {
  kStopped = 1,
  kStartPending = 2,
  kStopPending = 3,
  kRunning = 4,
};

// The controls the service accepts.
enum class ServiceControl { kStop, kShutdown };

// ERROR_SERVICE_SPECIFIC_ERROR: the exit code of a start that failed on an
// error of the service's own (the service-specific code is then 1).
inline constexpr std::uint32_t kServiceSpecificExitCode = 1066;
// How long the manager is told to wait while a start or stop is pending.
inline constexpr std::uint32_t kPendingWaitHintMs = 5000;

// One status report (the fields of SERVICE_STATUS that change).
struct StatusReport {
  HostedState state = HostedState::kStopped;
  // Stop and shutdown are accepted (only while running).
  bool accepts_stop = false;
  std::uint32_t exit_code = 0;
  // Counts up within a pending state from 1; 0 otherwise.
  std::uint32_t check_point = 0;
  // kPendingWaitHintMs while pending; 0 otherwise.
  std::uint32_t wait_hint_ms = 0;

  friend bool operator==(const StatusReport&, const StatusReport&) = default;
};

// Where reports go. Called from the service thread and from the control
// thread, never at once (the lifecycle serialises the calls).
class StatusSink {
 public:
  virtual ~StatusSink() = default;
  // Reports `status`; a failure is the sink's to record.
  virtual void Report(const StatusReport& status) = 0;
};

// The service as the host sees it. Open, Start and Run are called on the
// service thread, in that order, each only if the one before succeeded;
// RequestControl on the control thread, at most once.
class HostedService {
 public:
  virtual ~HostedService() = default;
  // Prepares the service thread (its event loop). Returns 0, or the system
  // error code the service stops with.
  virtual std::uint32_t Open() = 0;
  // Starts the service. Returns 0, or the exit code the service stops with
  // (having released what it holds).
  virtual std::uint32_t Start() = 0;
  // Serves until a requested control has been carried out, then releases
  // what the service thread holds. Returns the exit code to report.
  virtual std::uint32_t Run() = 0;
  // Asks the service thread to carry out `control` and then end Run; must
  // not wait. May come before Open or Start have returned: the request is
  // then carried out as soon as Run runs.
  virtual void RequestControl(ServiceControl control) = 0;
};

class ServiceLifecycle {
 public:
  // Both must outlive the lifecycle.
  ServiceLifecycle(StatusSink& sink, HostedService& service) : sink_(sink), service_(service) {}
  ServiceLifecycle(const ServiceLifecycle&) = delete;
  ServiceLifecycle& operator=(const ServiceLifecycle&) = delete;

  // The service thread's whole life: start pending, Open, start pending,
  // Start, running (stop pending when a control came meanwhile), Run,
  // stopped. Returns the exit code reported with stopped. Once.
  std::uint32_t Run() noexcept;

  // The control thread: a stop or a shutdown. The first request is reported
  // as stop pending (while running; during the start it waits for the start
  // to end) and handed to the service; later ones, and those after the
  // service has stopped, change nothing. Returns at once.
  void Control(ServiceControl control) noexcept;

  HostedState State() const;

 private:
  // Sets the state and reports it; the lock must be held.
  void ReportLocked(HostedState state, std::uint32_t exit_code = 0);
  void Stopped(std::uint32_t exit_code);

  StatusSink& sink_;
  HostedService& service_;
  mutable std::mutex mutex_;
  HostedState state_ = HostedState::kStopped;
  std::uint32_t check_point_ = 0;
  bool started_ = false;  // Run has begun
  std::optional<ServiceControl> requested_;
};

}  // namespace halv

#endif  // HALV_SERVICE_CORE_SERVICE_LIFECYCLE_H_
