// The service object's Win32 shell: status reports, the message window, the
// listener's and Timer1's messages, the event log.
#include "halvexa351.h"

#include <chrono>
#include <utility>

#include "service_manager_win.h"
#include "system_error_text.h"

namespace halv {
namespace {

constexpr UINT kStopMessage = WM_APP + 10;
constexpr UINT kShutdownMessage = WM_APP + 11;
constexpr UINT kReportMessage = WM_APP + 12;
constexpr UINT_PTR kTimer1Id = 1;
constexpr UINT_PTR kIdleTimerId = 2;
// How often the service thread looks for connections that no accept
// notification announced.
constexpr UINT_PTR kAcceptPollId = 3;
constexpr UINT kAcceptPollMs = 1000;
constexpr DWORD kPendingWaitHint = 5000;
// How long a stop waits for cancelled workers to end: well inside the wait
// hint reported with the stop.
constexpr std::chrono::milliseconds kWorkerGrace(2000);
constexpr char kWindowClass[] = "Halvexa351ServiceWindow";

// A file opened for VIEW, closed with the object.
class SharedFile final : public ByteSource {
 public:
  explicit SharedFile(HANDLE file) : file_(file) {}
  ~SharedFile() override { CloseHandle(file_); }
  SharedFile(const SharedFile&) = delete;
  SharedFile& operator=(const SharedFile&) = delete;
  long Read(void* buffer, std::size_t size) override {
    DWORD got = 0;
    if (!ReadFile(file_, buffer, static_cast<DWORD>(size), &got, nullptr)) return -1;
    return static_cast<long>(got);
  }

 private:
  HANDLE file_;
};

}  // namespace

namespace {

// The manager the workers use: the system's, failing at once when cancelled.
std::shared_ptr<ServiceManager> WorkerManager(std::shared_ptr<CancelSignal> cancel) {
  std::shared_ptr<ServiceManager> system(&SystemServiceManager(), [](ServiceManager*) {});
  return std::make_shared<CancellableManager>(std::move(system), std::move(cancel));
}

}  // namespace

THalvexa351::THalvexa351()
    : core_(ServicePorts{config_, *this, logs_, driver_, *this, machine_, machine_, *this,
                         accounts_, idle_timer_},
            LocaleMonthNames()),
      scheduler_(workers_, WorkerManager(cancel_),
                 [mailbox = mailbox_](OperationReport report) {
                   // On a worker thread: only the mailbox is touched here.
                   std::lock_guard<std::mutex> lock(mailbox->mutex);
                   mailbox->reports.push_back(std::move(report));
                   if (mailbox->window != nullptr)
                     PostMessageA(mailbox->window, kReportMessage, 0, 0);
                 }),
      runner_(core_, scheduler_, [this](ConnectionId id) { return driver_.FindById(id); }) {
  runner_.set_on_wait_begin([this](ConnectionId id) { driver_.PauseInput(id); });
  runner_.set_on_wait_end([this](ConnectionId id) { driver_.ResumeInput(id); });
  core_.SetCommandRunner(&runner_);
}

void THalvexa351::DeliverReports() {
  std::deque<OperationReport> reports;
  {
    std::lock_guard<std::mutex> lock(mailbox_->mutex);
    reports.swap(mailbox_->reports);
  }
  for (const OperationReport& report : reports) {
    try {
      runner_.Deliver(report);
    } catch (const std::exception& e) {
      LogEventError(e.what());
    }
  }
  // The replies leave, resumed connections run their waiting lines, and a
  // connection that a delivered reply or a QUIT closed is dropped.
  driver_.Settle();
}

void THalvexa351::EndWaits() {
  {
    std::lock_guard<std::mutex> lock(mailbox_->mutex);
    mailbox_->window = nullptr;
  }
  cancel_->Raise();
  workers_.Shutdown(kWorkerGrace);
}

THalvexa351::~THalvexa351() {
  if (event_source_ != nullptr) DeregisterEventSource(event_source_);
}

std::unique_ptr<ByteSource> THalvexa351::OpenShared(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<SharedFile>(file);
}

ServiceManager& THalvexa351::Manager() { return SystemServiceManager(); }

void THalvexa351::ReleaseThreadResources() {
  // The listener, the connections and the window belong to the service
  // thread: released there.
  driver_.Close();
  core_.CloseLog();
  if (window_ != nullptr) DestroyWindow(window_);
  window_ = nullptr;
}

void THalvexa351::ReportError(const std::string& text) {
  if (event_source_ == nullptr) event_source_ = RegisterEventSourceA(nullptr, kServiceName);
  if (event_source_ == nullptr) return;
  const char* strings[1] = {text.c_str()};
  ReportEventA(event_source_, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
}

std::string THalvexa351::Start(std::int32_t interval_ms) {
  if (SetTimer(window_, kTimer1Id, static_cast<UINT>(interval_ms), nullptr) == 0)
    return SystemErrorText(GetLastError());
  return std::string();
}

void THalvexa351::Stop() { KillTimer(window_, kTimer1Id); }

std::string THalvexa351::IdleTimer::Start(std::int32_t interval_ms) {
  if (SetTimer(window_, kIdleTimerId, static_cast<UINT>(interval_ms), nullptr) == 0)
    return SystemErrorText(GetLastError());
  return std::string();
}

void THalvexa351::IdleTimer::Stop() { KillTimer(window_, kIdleTimerId); }

void THalvexa351::ServiceStart() {
  core_.ServiceStart();
  ReportStatus(SERVICE_RUNNING);
  core_.ServiceRunning();
}

void THalvexa351::ReportStatus(DWORD state, DWORD exit_code) {
  if (status_handle_ == nullptr) return;
  SERVICE_STATUS status = {};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted =
      (state == SERVICE_RUNNING) ? (SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN) : 0;
  status.dwWin32ExitCode = exit_code;
  status.dwServiceSpecificExitCode = exit_code == ERROR_SERVICE_SPECIFIC_ERROR ? 1 : 0;
  const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
  status.dwCheckPoint = pending ? ++check_point_ : 0;
  status.dwWaitHint = pending ? kPendingWaitHint : 0;
  if (!SetServiceStatus(status_handle_, &status)) LogEventError(SystemErrorText(GetLastError()));
}

DWORD WINAPI THalvexa351::ControlHandler(DWORD control, DWORD, void*, void* context) {
  auto* self = static_cast<THalvexa351*>(context);
  switch (control) {
    case SERVICE_CONTROL_STOP:
      PostMessageA(self->window_, kStopMessage, 0, 0);
      return NO_ERROR;
    case SERVICE_CONTROL_SHUTDOWN:
      PostMessageA(self->window_, kShutdownMessage, 0, 0);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

LRESULT CALLBACK THalvexa351::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<THalvexa351*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcA(window, message, wparam, lparam);
  return self->OnMessage(message, wparam, lparam);
}

LRESULT THalvexa351::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  try {
    switch (message) {
      case ServerSocket::kListenMessage:
        ServerSocket1.OnListenerEvent(wparam, lparam);
        return 0;
      case ServerSocket::kClientMessage:
        ServerSocket1.OnClientEvent(wparam, lparam);
        return 0;
      case WM_TIMER:
        if (wparam == kTimer1Id && core_.Timer1Enabled()) Timer1Timer();
        if (wparam == kAcceptPollId) driver_.Poll();
        if (wparam == kIdleTimerId) {
          core_.IdleTimerTick();
          driver_.Settle();  // writes the notices, drops what the idle check closed
        }
        return 0;
      case kReportMessage:
        DeliverReports();
        return 0;
      case kStopMessage:
        PostQuitMessage(0);  // first, so the loop ends even if the stop raises
        ReportStatus(SERVICE_STOP_PENDING);
        ServiceStop();
        return 0;
      case kShutdownMessage:
        PostQuitMessage(0);
        ServiceShutdown();
        return 0;
      default:
        break;
    }
  } catch (const std::exception& e) {
    // An error escaping an event is recorded and the service goes on; Timer1
    // stays armed, so a failed restart is tried again.
    LogEventError(e.what());
    return 0;
  }
  return DefWindowProcA(window_, message, wparam, lparam);
}

void THalvexa351::Run() {
  status_handle_ = RegisterServiceCtrlHandlerExA(kServiceName, ControlHandler, this);
  if (status_handle_ == nullptr) {
    LogEventError(SystemErrorText(GetLastError()));
    return;
  }
  ReportStatus(SERVICE_START_PENDING);

  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = kWindowClass;
  RegisterClassA(&window_class);
  window_ = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
  if (window_ == nullptr) {
    const DWORD error = GetLastError();
    LogEventError("Service failed on start: " + SystemErrorText(error));
    ReportStatus(SERVICE_STOPPED, error);
    return;
  }
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetTimer(window_, kAcceptPollId, kAcceptPollMs, nullptr);
  ServerSocket1.SetWindow(window_);
  {
    std::lock_guard<std::mutex> lock(mailbox_->mutex);
    mailbox_->window = window_;
  }

  try {
    ServiceStart();
  } catch (const std::exception& e) {
    LogEventError(std::string("Service failed on start: ") + e.what());
    core_.DisarmTimer1();
    EndWaits();
    ReleaseThreadResources();
    ReportStatus(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR);
    return;
  }

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  core_.DisarmTimer1();
  EndWaits();
  ReleaseThreadResources();
  ReportStatus(SERVICE_STOPPED);
}

}  // namespace halv
