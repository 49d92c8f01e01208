// The service object: lifecycle, configuration loading, connections, Timer1.
#include "halvexa351.h"

#include <winver.h>

#include <vector>

#include "halv_error.h"
#include "interpreter.h"
#include "registry.h"
#include "service_manager_win.h"
#include "str_to_int.h"
#include "system_error_text.h"

namespace halv {
namespace {

constexpr UINT kStopMessage = WM_APP + 10;
constexpr UINT kShutdownMessage = WM_APP + 11;
constexpr UINT_PTR kTimer1Id = 1;
constexpr DWORD kPendingWaitHint = 5000;
constexpr char kWindowClass[] = "Halvexa351ServiceWindow";

// Copies `value` into a field of fixed capacity, cutting what does not fit.
void AssignCapped(std::string& field, std::string_view value, std::size_t capacity) {
  field.assign(value.substr(0, capacity));
}

std::string ReadSystemValue(const char* name) { return ReadRegString(kSystemKey, name); }

// The program file's version as four numbers, or "3.5.1" without a version
// resource.
std::string FileVersionText(const std::string& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return "3.5.1";
  std::vector<char> data(size);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data()) ||
      !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) ||
      info == nullptr || length < sizeof(VS_FIXEDFILEINFO)) {
    throw Error("Unable to read the version resource of '" + path + "'");
  }
  char text[64];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(HIWORD(info->dwFileVersionMS)),
                static_cast<int>(LOWORD(info->dwFileVersionMS)),
                static_cast<int>(HIWORD(info->dwFileVersionLS)),
                static_cast<int>(LOWORD(info->dwFileVersionLS)));
  return text;
}

MonthNames LocaleMonthNames() {
  MonthNames names = EnglishMonthNames();
  for (int i = 0; i < 12; ++i) {
    char buffer[80];
    if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SMONTHNAME1 + i, buffer, sizeof buffer) > 1)
      names.full[i] = buffer;
    if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SABBREVMONTHNAME1 + i, buffer, sizeof buffer) >
        1)
      names.abbreviated[i] = buffer;
  }
  return names;
}

// Receipt handling for one connection.
class ClientReceipt final : public ReceiptEvents {
 public:
  ClientReceipt(THalvexa351& server, ClientConnection& client,
                const std::function<void(const std::string&)>& log)
      : server_(server), client_(client), log_(log) {}
  void LogLine(const std::string& text) override { log_(text); }
  void SendPrompt() override { client_.SendText("\n\r:: "); }
  bool RunCommand(const CommandLine& line) override {
    if (server_.command_handler) server_.command_handler(client_, line);
    return !client_.IsClosed();
  }

 private:
  THalvexa351& server_;
  ClientConnection& client_;
  const std::function<void(const std::string&)>& log_;
};

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

THalvexa351::THalvexa351() : months_(LocaleMonthNames()) {
  command_handler = [this](Connection& client, const CommandLine& line) {
    ProcessCommand(*this, client, line);
  };
}

std::vector<Connection*> THalvexa351::Clients() {
  return ServerSocket1 ? ServerSocket1->Clients() : std::vector<Connection*>{};
}

bool THalvexa351::Reinitialize() {
  try {
    LoadConfiguration();
    return true;
  } catch (const std::exception& e) {
    LogEventError(e.what());
    return false;
  }
}

std::unique_ptr<ByteSource> THalvexa351::OpenShared(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<SharedFile>(file);
}

ServiceManager& THalvexa351::Manager() { return SystemServiceManager(); }

THalvexa351::~THalvexa351() {
  if (event_source_ != nullptr) DeregisterEventSource(event_source_);
}

void THalvexa351::ReleaseThreadResources() {
  // The listener and the window belong to the service thread: released there.
  ServerSocket1.reset();
  log_.reset();
  if (window_ != nullptr) DestroyWindow(window_);
  window_ = nullptr;
}

LocalTime THalvexa351::Now() const {
  SYSTEMTIME st;
  GetLocalTime(&st);
  LocalTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  return t;
}

void THalvexa351::LogEventError(const std::string& text) {
  if (event_source_ == nullptr) event_source_ = RegisterEventSourceA(nullptr, kServiceName);
  if (event_source_ == nullptr) return;
  const char* strings[1] = {text.c_str()};
  ReportEventA(event_source_, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
}

void THalvexa351::WriteLog(const std::string& text) {
  if (log_) log_->Write(text);
}

bool THalvexa351::LogIsOpen() const { return log_ && log_->IsOpen(); }

void THalvexa351::LoadConfiguration() {
  // 1. Base directory and program name.
  const std::string base_dir = ReadSystemValue("BaseDir");
  if (!base_dir.empty()) {
    AssignCapped(fields_.app_path, base_dir, kAppPathCapacity);
    const std::string exec_name = ReadSystemValue("ExecName");
    if (!exec_name.empty())
      AssignCapped(fields_.exec_name, exec_name, kExecNameCapacity);
    else
      LogEventError("Unable to find exec name.  Check path and filename.");
  } else {
    LogEventError("Unable to find base directory.  Check path and filename.");
  }

  // 2. Log directory and the server log.
  const std::string log_dir = ReadSystemValue("LogDir");
  if (!log_dir.empty()) {
    log_.reset();  // closes the old log and unloads its library
    AssignCapped(fields_.log_pathfile, log_dir + "\\serverlog.txt", kLogPathfileCapacity);
    log_ = std::make_unique<SystemLog>(fields_.app_path + "\\halvsyslog.dll", fields_.log_pathfile);
    WriteLog("Server logging started.");
    WriteLog("Service started on " + FormatDateTime(kLogDateForm, Now(), months_));
  } else {
    LogEventError("Unable to find log file directory.  Check path and filename.");
  }

  // 3. Logging mode: the value must be present.
  fields_.verbose = StrToInt(ReadSystemValue("VerboseLogging")) == 1;
  if (fields_.verbose) WriteLog("Service is in verbose logging mode.");

  // 4-7. Program file, version, computer and account.
  AssignCapped(fields_.bin_pathname, fields_.app_path + "\\" + fields_.exec_name,
               kBinPathnameCapacity);
  WriteLog("Service is using " + fields_.bin_pathname);
  AssignCapped(fields_.version, FileVersionText(fields_.bin_pathname), kVersionCapacity);
  WriteLog("Service version " + fields_.version);

  char computer[16] = {};
  DWORD computer_size = sizeof computer;
  if (!GetComputerNameA(computer, &computer_size)) computer[0] = '\0';
  AssignCapped(fields_.server_name, computer, kServerNameCapacity);
  WriteLog("Service running on server " + fields_.server_name);

  DWORD user_size = 0;
  GetUserNameA(nullptr, &user_size);
  std::string user(user_size + 1, '\0');
  DWORD user_length = static_cast<DWORD>(user.size());
  if (user_size == 0 || !GetUserNameA(user.data(), &user_length)) user_length = 0;
  user.resize(user_length > 0 ? user_length - 1 : 0);  // the count includes the zero
  AssignCapped(fields_.log_on_as, user.c_str(), kLogOnAsCapacity);
  WriteLog("Service running as " + fields_.log_on_as);

  // 8. Port: kept when missing; cannot change while the listener is open.
  const std::string port = ReadSystemValue("Port");
  if (!port.empty()) fields_.port = StrToInt(port);
  ServerSocket1->SetPort(fields_.port);
  WriteLog("Service is listening on port " + std::to_string(ServerSocket1->Port()));

  // 9-10. Stopping services.
  const std::string timeout = ReadSystemValue("ServiceStopTimeOut");
  fields_.stop_timeout = timeout.empty() ? 30000 : StrToInt(timeout);
  WriteLog("Service timeout for stopping dependencies is " + std::to_string(fields_.stop_timeout));
  const std::string stop_dependencies = ReadSystemValue("StopDependencies");
  fields_.stop_dependencies = stop_dependencies.empty() ? true : StrToInt(stop_dependencies) != 0;
  WriteLog(fields_.stop_dependencies ? "Service will stop dependent services"
                                     : "Service will not stop dependent services");
}

void THalvexa351::StartServer() {
  LoadConfiguration();
  ServerSocket1->Close();
  ServerSocket1->Open();
}

void THalvexa351::ServiceStart() {
  DisarmTimer1();
  StartServer();
  ReportStatus(SERVICE_RUNNING);
  if (LogIsOpen()) WriteLog("Service is running.");
}

void THalvexa351::ServiceStop() {
  DisarmTimer1();
  ServerSocket1->Close();
  // The last line is written and the log closed before the stop is reported,
  // so the process cannot end with the line still unwritten.
  WriteLog("Service is stopped.");
  log_.reset();
}

void THalvexa351::ServiceShutdown() {
  ServerSocket1->Close();
  DisarmTimer1();
  WriteLog("Service is down.");
  log_.reset();
}

void THalvexa351::Timer1Timer() {
  WriteLog("Service is restarting.");
  StartServer();
  if (LogIsOpen()) WriteLog("Service is running.");
  DisarmTimer1();
}

void THalvexa351::ArmTimer1(std::int32_t interval_ms) {
  if (timer_enabled_ && interval_ms == timer_interval_) return;
  timer_interval_ = interval_ms;
  if (SetTimer(window_, kTimer1Id, static_cast<UINT>(interval_ms), nullptr) == 0) {
    // Left disarmed, so a later CYCLE tries again.
    LogEventError(SystemErrorText(GetLastError()));
    return;
  }
  timer_enabled_ = true;
}

void THalvexa351::DisarmTimer1() {
  if (!timer_enabled_) return;
  timer_enabled_ = false;
  KillTimer(window_, kTimer1Id);
}

void THalvexa351::ServerSocket1ClientConnect(ClientConnection& client) {
  const std::string now = FormatDateTime(kGreetingDateForm, Now(), months_);
  if (fields_.verbose) WriteLog("Client (" + client.Peer() + ") connected at " + now);
  client.SendText("\n\rHalvexa: Version " + fields_.version);
  client.SendText("\n\rTenmark Halvexa remote service control, (c) Tenmark Software.");
  client.SendText("\n\r\n\rConnected to: " + fields_.server_name +
                  "\n\rService running as: " + fields_.log_on_as + "\n\rLocal Server Date: " + now);
  client.SendText("\n\r:: ");
}

void THalvexa351::ServerSocket1ClientRead(ClientConnection& client, const std::string& text) {
  const std::function<void(const std::string&)> log = [this](const std::string& line) {
    WriteLog(line);
  };
  ClientReceipt receipt(*this, client, log);
  HandleReceipt(text, fields_.verbose, words_, receipt);
}

void THalvexa351::ServerSocket1ClientDisconnect(ClientConnection& client) {
  if (fields_.verbose)
    WriteLog("Client (" + client.Peer() + ") disconnected at " +
             FormatDateTime(kGreetingDateForm, Now(), months_));
}

void THalvexa351::ServerSocket1Error(const std::string& text) { LogEventError(text); }

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
        ServerSocket1->OnListenerEvent(wparam, lparam);
        return 0;
      case ServerSocket::kClientMessage:
        ServerSocket1->OnClientEvent(wparam, lparam);
        return 0;
      case WM_TIMER:
        if (wparam == kTimer1Id && timer_enabled_) Timer1Timer();
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
  ServerSocket1 = std::make_unique<ServerSocket>(window_, *this);

  try {
    ServiceStart();
  } catch (const std::exception& e) {
    LogEventError(std::string("Service failed on start: ") + e.what());
    DisarmTimer1();
    ReleaseThreadResources();
    ReportStatus(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR);
    return;
  }

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  DisarmTimer1();
  ReleaseThreadResources();
  ReportStatus(SERVICE_STOPPED);
}

}  // namespace halv
