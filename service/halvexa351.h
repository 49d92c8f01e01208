// THalvexa351: the service object of halvexa351, the Win32 shell over the
// portable ServiceCore.
//
// It keeps what only Windows has: the status reports to the Service Control
// Manager, the message-only window, the listener ServerSocket1, the window
// timer behind Timer1, the event log, VIEW's files and the real manager. The
// rules (configuration, greeting, logging, restarts) are the core's; the
// methods below hand over to it. Everything runs on the service thread: the
// start, stop and shutdown requests (posted there by the control handler),
// every socket event and Timer1Timer, which is a window timer of the same
// thread. So the delayed restart can never overlap a socket event, and no
// lock is needed.
//
// START, STOP and RSTRT wait on worker threads (WorkerPool) that touch
// nothing but the Service Control Manager: each step's result is put in a
// mailbox and a message posted to the window, and the service thread hands
// it to the command runner, which finds the connection by its number. While
// a connection waits its input is paused. Stopping the service cancels the
// waits (the workers' manager then fails every call at once) and gives the
// workers a moment to end before the stop is reported.
#ifndef HALV_SERVICE_HALVEXA351_H_
#define HALV_SERVICE_HALVEXA351_H_

// Winsock's header must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "cancellable_manager.h"
#include "command_runner.h"
#include "connection_driver.h"
#include "host_ports.h"
#include "operation_scheduler.h"
#include "registry_accounts.h"
#include "server_socket.h"
#include "service_core.h"
#include "service_ports.h"
#include "worker_pool.h"

namespace halv {

inline constexpr char kServiceName[] = "Halvexa351";
inline constexpr char kServiceDisplayName[] = "Tenmark Halvexa Service 3.5.1";

class THalvexa351 final : public EventLog, public RestartTimer, public CommandHost {
 public:
  THalvexa351();
  ~THalvexa351() override;
  THalvexa351(const THalvexa351&) = delete;
  THalvexa351& operator=(const THalvexa351&) = delete;

  // The service thread's whole life (ServiceMain): registers the control
  // handler, starts, runs the message loop until stopped, reports stopped.
  void Run();

  // Stops Timer1, starts the server and reports the service running.
  void ServiceStart();
  void ServiceStop() { core_.ServiceStop(); }
  void ServiceShutdown() { core_.ServiceShutdown(); }
  void StartServer() { core_.StartServer(); }
  // See ServiceCore::LoadConfiguration.
  void LoadConfiguration() { core_.LoadConfiguration(); }
  void Timer1Timer() { core_.Timer1Timer(); }
  void LogEventError(const std::string& text) { core_.LogEventError(text); }

  // EventLog: the Application event log, source Halvexa351.
  void ReportError(const std::string& text) override;
  // RestartTimer: the window timer behind Timer1.
  std::string Start(std::int32_t interval_ms) override;
  void Stop() override;
  // CommandHost: VIEW's files and the system's Service Control Manager.
  std::unique_ptr<ByteSource> OpenShared(const std::string& path) override;
  ServiceManager& Manager() override;

 private:
  // The idle check's window timer (see ServiceCore::IdleTimerTick).
  class IdleTimer final : public RestartTimer {
   public:
    explicit IdleTimer(const HWND& window) : window_(window) {}
    std::string Start(std::int32_t interval_ms) override;
    void Stop() override;

   private:
    const HWND& window_;  // the service object's window, once created
  };

  // Where workers leave their reports for the service thread; shared with
  // the jobs, so a worker that outlives the stop still has somewhere to put
  // its report (which is then simply dropped).
  struct Mailbox {
    std::mutex mutex;
    std::deque<OperationReport> reports;
    HWND window = nullptr;  // null once the service thread no longer reads
  };

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  // Hands every report in the mailbox to the command runner.
  void DeliverReports();
  // Cancels the waits and lets the workers end (briefly); the mailbox is
  // closed to further messages.
  void EndWaits();
  static DWORD WINAPI ControlHandler(DWORD control, DWORD type, void* data, void* context);
  LRESULT OnMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void ReportStatus(DWORD state, DWORD exit_code = NO_ERROR);
  void ReleaseThreadResources();

  HWND window_ = nullptr;
  SERVICE_STATUS_HANDLE status_handle_ = nullptr;
  DWORD check_point_ = 0;
  HANDLE event_source_ = nullptr;
  RegistryConfig config_;
  SystemLogLibrary logs_;
  WindowsMachine machine_;
  RegistryAccounts accounts_{config::kUsersKey};
  IdleTimer idle_timer_{window_};
  // The listener reports to the connection driver, which hands lines to
  // core_; each is constructed before the one it serves and uses it only once
  // events arrive.
  ServerSocket ServerSocket1{driver_};
  ConnectionDriver driver_{ServerSocket1, core_};
  ServiceCore core_;

  std::shared_ptr<CancelSignal> cancel_ = std::make_shared<CancelSignal>();
  std::shared_ptr<Mailbox> mailbox_ = std::make_shared<Mailbox>();
  WorkerPool workers_{kMaxRunningOperations};
  OperationScheduler scheduler_;
  CommandRunner runner_;
};

}  // namespace halv

#endif  // HALV_SERVICE_HALVEXA351_H_
