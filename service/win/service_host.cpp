// The dispatcher, the control handler and the status reports.
#include "service_host.h"

#include "system_error_text.h"

namespace halv {
namespace {

static_assert(static_cast<DWORD>(HostedState::kStopped) == SERVICE_STOPPED);
static_assert(static_cast<DWORD>(HostedState::kStartPending) == SERVICE_START_PENDING);
static_assert(static_cast<DWORD>(HostedState::kStopPending) == SERVICE_STOP_PENDING);
static_assert(static_cast<DWORD>(HostedState::kRunning) == SERVICE_RUNNING);
static_assert(kServiceSpecificExitCode == ERROR_SERVICE_SPECIFIC_ERROR);

// The host of this process, for ServiceMain; set by Dispatch.
ServiceHost* g_host = nullptr;

}  // namespace

ServiceHost::ServiceHost(std::string name, HostedService& service, EventLog& events)
    : name_(std::move(name)), events_(events), lifecycle_(*this, service) {}

DWORD ServiceHost::Dispatch() {
  g_host = this;
  SERVICE_TABLE_ENTRYA table[] = {{name_.data(), ServiceMain}, {nullptr, nullptr}};
  const DWORD error = StartServiceCtrlDispatcherA(table) ? 0 : GetLastError();
  g_host = nullptr;
  return error;
}

void WINAPI ServiceHost::ServiceMain(DWORD, LPSTR*) {
  ServiceHost& host = *g_host;
  host.status_handle_ = RegisterServiceCtrlHandlerExA(host.name_.c_str(), ControlHandler, &host);
  if (host.status_handle_ == nullptr) {
    host.events_.ReportError(SystemErrorText(GetLastError()));
    return;
  }
  host.lifecycle_.Run();
}

DWORD WINAPI ServiceHost::ControlHandler(DWORD control, DWORD, void*, void* context) {
  auto& host = *static_cast<ServiceHost*>(context);
  switch (control) {
    case SERVICE_CONTROL_STOP:
      host.lifecycle_.Control(ServiceControl::kStop);
      return NO_ERROR;
    case SERVICE_CONTROL_SHUTDOWN:
      host.lifecycle_.Control(ServiceControl::kShutdown);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void ServiceHost::Report(const StatusReport& report) {
  SERVICE_STATUS status = {};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = static_cast<DWORD>(report.state);
  status.dwControlsAccepted =
      report.accepts_stop ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  status.dwWin32ExitCode = report.exit_code;
  status.dwServiceSpecificExitCode = report.exit_code == ERROR_SERVICE_SPECIFIC_ERROR ? 1 : 0;
  status.dwCheckPoint = report.check_point;
  status.dwWaitHint = report.wait_hint_ms;
  if (!SetServiceStatus(status_handle_, &status))
    events_.ReportError(SystemErrorText(GetLastError()));
}

}  // namespace halv
