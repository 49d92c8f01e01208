// ServiceHost: the program's connection to the Service Control Manager.
//
// Dispatch hands the main thread to the manager's dispatcher
// (StartServiceCtrlDispatcherA). The manager then starts the service thread
// (ServiceMain), which registers the control handler and runs the hosted
// service through its ServiceLifecycle: every status report (start pending
// with check points, running, stop pending on a stop and on a shutdown,
// stopped with the exit code) is made here, through SetServiceStatus. The
// control handler runs on the main thread; it reports stop pending and hands
// the request to the service, without waiting. The hosted service never
// calls back into the host.
//
// One host per process (ServiceMain has no context of its own).
#ifndef HALV_SERVICE_WIN_SERVICE_HOST_H_
#define HALV_SERVICE_WIN_SERVICE_HOST_H_

#include <windows.h>

#include <string>

#include "service_lifecycle.h"
#include "service_ports.h"

namespace halv {

class ServiceHost final : private StatusSink {
 public:
  // `service` and `events` (where a failed status report is recorded) must
  // outlive the host.
  ServiceHost(std::string name, HostedService& service, EventLog& events);
  ServiceHost(const ServiceHost&) = delete;
  ServiceHost& operator=(const ServiceHost&) = delete;

  // Main thread: serves as the process of service `name` until the service
  // has stopped. Returns 0, or the system error code of the dispatcher
  // (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT for a program not started by
  // the manager). Once.
  DWORD Dispatch();

 private:
  static void WINAPI ServiceMain(DWORD argc, LPSTR* argv);
  static DWORD WINAPI ControlHandler(DWORD control, DWORD type, void* data, void* context);
  // StatusSink: SetServiceStatus; a failure goes to the event log.
  void Report(const StatusReport& status) override;

  std::string name_;
  EventLog& events_;
  ServiceLifecycle lifecycle_;
  SERVICE_STATUS_HANDLE status_handle_ = nullptr;
};

}  // namespace halv

#endif  // HALV_SERVICE_WIN_SERVICE_HOST_H_
