// THalvexa351: the service object of halvexa351, the Win32 shell over the
// portable ServiceCore.
//
// It wires the pieces and keeps the service's own methods: ServiceStart,
// ServiceStop, ServiceShutdown, Timer1Timer and LogEventError hand over to
// the core, which holds the rules (configuration, greeting, logging,
// restarts). The service thread's event loop (EventLoop) delivers
// everything: the listener ServerSocket1's socket messages, Timer1 (the
// delayed restart), the idle check and the accept poll, which are timers of
// that loop, the stop and shutdown requests and the workers' reports, both
// posted to it. So the delayed restart can never overlap a socket event,
// and no lock is needed. The core reaches Windows through the ports of
// host_ports.h, the event log and the listener, never through this object.
//
// The Service Control Manager sees it through ServiceHost, as a
// HostedService: Open prepares the loop, Start runs ServiceStart, Run serves
// until a stop or shutdown has been carried out, RequestControl (from the
// control thread) posts one to the loop.
//
// START, STOP and RSTRT wait on worker threads (WorkerPool) that touch
// nothing but the Service Control Manager (AUTH's password transform runs
// there too, touching nothing at all): each step's result is posted to
// the loop, which hands it to the command runner, which finds the connection
// by its number. While a connection waits its input is paused. Stopping the
// service cancels the waits (the workers' manager then fails every call at
// once) and gives the workers a moment to end before the stop is reported.
#ifndef HALV_SERVICE_WIN_HALVEXA351_H_
#define HALV_SERVICE_WIN_HALVEXA351_H_

// Winsock's header must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "application_event_log.h"
#include "audit_files.h"
#include "cancellable_manager.h"
#include "command_runner.h"
#include "connection_driver.h"
#include "event_loop.h"
#include "host_ports.h"
#include "operation_scheduler.h"
#include "password_checks.h"
#include "server_socket.h"
#include "service_core.h"
#include "service_lifecycle.h"
#include "service_ports.h"
#include "service_watch.h"
#include "win/registry.h"
#include "worker_pool.h"

namespace halv {

inline constexpr char kServiceName[] = "Halvexa351";
inline constexpr char kServiceDisplayName[] = "Tenmark Halvexa Service 3.5.1";

class THalvexa351 final : public HostedService {
 public:
  THalvexa351();
  ~THalvexa351() override;
  THalvexa351(const THalvexa351&) = delete;
  THalvexa351& operator=(const THalvexa351&) = delete;

  // Service thread. Stops Timer1 and starts the server (the host then
  // reports the service running); raises as ServiceCore::ServiceStart.
  void ServiceStart() { core_.ServiceStart(); }
  void ServiceStop() { core_.ServiceStop(); }
  void ServiceShutdown() { core_.ServiceShutdown(); }
  void Timer1Timer() { core_.Timer1Timer(); }
  void LogEventError(const std::string& text) { core_.LogEventError(text); }

  // The event log, for the host's failed status reports. Any thread.
  EventLog& Events() { return event_log_; }

  // HostedService (see there). Open creates the loop with its accept poll
  // (failure: "Service failed on start: <system text>" in the event log);
  // Start runs ServiceStart ("Service failed on start: <error>" and the exit
  // code ERROR_SERVICE_SPECIFIC_ERROR on failure); Run writes "Service is
  // running.", serves, then ends the waits and releases the listener, the
  // log and the loop.
  std::uint32_t Open() override;
  std::uint32_t Start() override;
  std::uint32_t Run() override;
  void RequestControl(ServiceControl control) override;

 private:
  // Loop thread: a stop or shutdown request; the loop ends after it.
  void OnControl(ServiceControl control);
  // Loop thread: runs `work` (a worker's result handed on), records what it
  // raises in the event log, then lets the connections it resumed run.
  template <typename Work>
  void DeliverFromWorker(Work&& work);
  // Loop thread: one report of a worker, handed to the command runner.
  void OnReport(const OperationReport& report);
  // Loop thread: a watch poll's result, handed to the watches.
  void OnWatchPoll(const WatchPoll& poll);
  // Loop thread: a password check's result, handed to the command runner.
  void OnLoginCheck(const LoginCheckReport& report);
  // Cancels the waits and lets the workers end (briefly).
  void EndWaits();
  // The listener, the log and the loop belong to the service thread:
  // released there.
  void ReleaseThreadResources();

  // --- The listener's part (ServerSocket1), kept together.
  // Open: the socket messages, the accept poll, the window.
  void ConnectListener();
  // The idle check's tick: idle connections are closed and dropped.
  void IdleTick();

  ApplicationEventLog event_log_{kServiceName};
  EventLoop loop_;
  WinRegistry registry_;
  ConfigReader config_{registry_};
  SystemLogLibrary logs_;
  WindowsMachine machine_;
  SystemCommands commands_;
  WindowsAuditFiles audit_files_;
  access::AccountStore accounts_{registry_};
  LoopTimer timer1_;
  LoopTimer idle_timer_;
  // The listener reports to the connection driver, which hands lines to
  // core_; each is constructed before the one it serves and uses it only once
  // events arrive.
  ServerSocket ServerSocket1{driver_};
  ConnectionDriver driver_{ServerSocket1, core_};
  ServiceCore core_;

  std::shared_ptr<CancelSignal> cancel_ = std::make_shared<CancelSignal>();
  // The operations' threads, and two more so that password checks and the
  // watch poll never queue behind eight slow stops.
  WorkerPool workers_{kMaxRunningOperations + 2};
  OperationScheduler scheduler_;
  // WATCH: its polls run on the same workers; the loop's watch timer ticks
  // every second while a watch is open.
  ServiceWatch watch_;
  // AUTH's password transform, on the same workers.
  PasswordChecks checks_;
  CommandRunner runner_;
};

}  // namespace halv

#endif  // HALV_SERVICE_WIN_HALVEXA351_H_
