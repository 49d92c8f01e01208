// The service object's rules: configuration, lifecycle, connections, Timer1.
#include "service_core.h"

#include <string_view>
#include <utility>

#include "config_schema.h"
#include "halv_error.h"
#include "interpreter.h"

namespace halv {
namespace {

// The log library's file name inside BaseDir.
constexpr char kLogLibraryFile[] = "halvsyslog.dll";

// Copies `value` into a field of fixed capacity, cutting what does not fit.
void AssignCapped(std::string& field, std::string_view value, std::size_t capacity) {
  field.assign(value.substr(0, capacity));
}

// One receipt's command lines go to the command runner when there is one,
// else straight to the interpreter.
class ReceiptRunner final : public ReceiptEvents {
 public:
  ReceiptRunner(ServiceCore& core, Connection& client, CommandRunner* runner = nullptr,
                ConnectionId id = 0)
      : core_(core), client_(client), runner_(runner), id_(id) {}
  void LogLine(const std::string& text) override { core_.WriteLog(text); }
  void SendPrompt() override { client_.SendText("\n\r:: "); }
  bool RunCommand(const CommandLine& line) override {
    if (runner_ != nullptr) {
      runner_->RunLine(id_, client_, line);
    } else {
      ProcessCommand(core_, client_, line);
    }
    return !client_.IsClosed();
  }

 private:
  ServiceCore& core_;
  Connection& client_;
  CommandRunner* runner_;
  ConnectionId id_;
};

}  // namespace

ServiceCore::ServiceCore(const ServicePorts& ports, MonthNames months)
    : ports_(ports), months_(std::move(months)) {}

void ServiceCore::LogEventError(const std::string& text) { ports_.events.ReportError(text); }

void ServiceCore::WriteLog(const std::string& text) {
  if (log_) log_->Write(text);
}

void ServiceCore::LoadConfiguration() {
  ConfigReader& config = ports_.config;

  // 1. Base directory and program name.
  const std::string base_dir = config.ReadSystemValue(config::kBaseDir);
  if (!base_dir.empty()) {
    AssignCapped(fields_.app_path, base_dir, kAppPathCapacity);
    const std::string exec_name = config.ReadSystemValue(config::kExecName);
    if (!exec_name.empty())
      AssignCapped(fields_.exec_name, exec_name, kExecNameCapacity);
    else
      LogEventError("Unable to find exec name.  Check path and filename.");
  } else {
    LogEventError("Unable to find base directory.  Check path and filename.");
  }

  // 2. Log directory and the server log.
  const std::string log_dir = config.ReadSystemValue(config::kLogDir);
  if (!log_dir.empty()) {
    log_.reset();  // closes the old log and unloads its library
    AssignCapped(fields_.log_pathfile, log_dir + "\\" + config::kServerLogFile,
                 kLogPathfileCapacity);
    log_ = ports_.logs.Open(fields_.app_path + "\\" + kLogLibraryFile, fields_.log_pathfile);
    WriteLog("Server logging started.");
    WriteLog("Service started on " + FormatDateTime(kLogDateForm, Now(), months_));
  } else {
    LogEventError("Unable to find log file directory.  Check path and filename.");
  }

  // 3. Logging mode: the value must be present.
  fields_.verbose = config::WholeNumber(config.ReadSystemValue(config::kVerboseLogging)) == 1;
  if (fields_.verbose) WriteLog("Service is in verbose logging mode.");

  // 4-7. Program file, version, computer and account.
  AssignCapped(fields_.bin_pathname, fields_.app_path + "\\" + fields_.exec_name,
               kBinPathnameCapacity);
  WriteLog("Service is using " + fields_.bin_pathname);
  AssignCapped(fields_.version, ports_.machine.FileVersion(fields_.bin_pathname), kVersionCapacity);
  WriteLog("Service version " + fields_.version);
  AssignCapped(fields_.server_name, ports_.machine.ComputerName(), kServerNameCapacity);
  WriteLog("Service running on server " + fields_.server_name);
  AssignCapped(fields_.log_on_as, ports_.machine.UserName(), kLogOnAsCapacity);
  WriteLog("Service running as " + fields_.log_on_as);

  // 8. Port: kept when missing; cannot change while the listener is open.
  const std::string port = config.ReadSystemValue(config::kPort);
  if (!port.empty()) fields_.port = config::WholeNumber(port);
  if (fields_.port != ports_.listener.Port()) {
    if (ports_.listener.Active()) throw Error("Can't change value while socket is active");
    ports_.listener.SetPort(fields_.port);
  }
  WriteLog("Service is listening on port " + std::to_string(ports_.listener.Port()));

  // 9-10. Stopping services.
  const std::string timeout = config.ReadSystemValue(config::kServiceStopTimeOut);
  fields_.stop_timeout =
      timeout.empty() ? config::kDefaultStopTimeOut : config::WholeNumber(timeout);
  WriteLog("Service timeout for stopping dependencies is " + std::to_string(fields_.stop_timeout));
  const std::string stop_dependencies = config.ReadSystemValue(config::kStopDependencies);
  fields_.stop_dependencies = stop_dependencies.empty()
                                  ? config::kDefaultStopDependencies
                                  : config::WholeNumber(stop_dependencies) != 0;
  WriteLog(fields_.stop_dependencies ? "Service will stop dependent services"
                                     : "Service will not stop dependent services");
}

bool ServiceCore::Reinitialize() {
  try {
    LoadConfiguration();
    return true;
  } catch (const std::exception& e) {
    LogEventError(e.what());
    return false;
  }
}

void ServiceCore::StartServer() {
  LoadConfiguration();
  ports_.listener.Close();
  ports_.listener.Open();
}

void ServiceCore::ServiceStart() {
  DisarmTimer1();
  StartServer();
}

void ServiceCore::ServiceRunning() {
  if (LogIsOpen()) WriteLog("Service is running.");
}

void ServiceCore::ServiceStop() {
  DisarmTimer1();
  ports_.listener.Close();
  // The last line is written and the log closed before the stop is reported,
  // so the process cannot end with the line still unwritten.
  WriteLog("Service is stopped.");
  log_.reset();
}

void ServiceCore::ServiceShutdown() {
  ports_.listener.Close();
  DisarmTimer1();
  WriteLog("Service is down.");
  log_.reset();
}

void ServiceCore::Timer1Timer() {
  WriteLog("Service is restarting.");
  StartServer();
  if (LogIsOpen()) WriteLog("Service is running.");
  DisarmTimer1();
}

void ServiceCore::ArmRestart(std::int32_t interval_ms) {
  if (timer_enabled_ && interval_ms == timer_interval_) return;
  timer_interval_ = interval_ms;
  const std::string failure = ports_.timer.Start(interval_ms);
  if (!failure.empty()) {
    // Left disarmed, so a later CYCLE tries again.
    LogEventError(failure);
    return;
  }
  timer_enabled_ = true;
}

void ServiceCore::DisarmTimer1() {
  if (!timer_enabled_) return;
  timer_enabled_ = false;
  ports_.timer.Stop();
}

void ServiceCore::ServerSocket1ClientConnect(Connection& client, const std::string& peer) {
  const std::string now = FormatDateTime(kGreetingDateForm, Now(), months_);
  if (fields_.verbose) WriteLog("Client (" + peer + ") connected at " + now);
  client.SendText("\n\rHalvexa: Version " + fields_.version);
  client.SendText("\n\rTenmark Halvexa remote service control, (c) Tenmark Software.");
  client.SendText("\n\r\n\rConnected to: " + fields_.server_name +
                  "\n\rService running as: " + fields_.log_on_as + "\n\rLocal Server Date: " + now);
  client.SendText("\n\r:: ");
}

void ServiceCore::ServerSocket1ClientRead(Connection& client, const std::string& text) {
  ReceiptRunner runner(*this, client);
  HandleReceipt(text, fields_.verbose, words_, runner);
}

void ServiceCore::ServerSocket1ClientRead(Connection& client, ConnectionId id,
                                          const std::string& text) {
  ReceiptRunner runner(*this, client, runner_, id);
  HandleReceipt(text, fields_.verbose, words_, runner);
}

void ServiceCore::ServerSocket1ClientDisconnect(const std::string& peer) {
  if (fields_.verbose)
    WriteLog("Client (" + peer + ") disconnected at " +
             FormatDateTime(kGreetingDateForm, Now(), months_));
}

}  // namespace halv
