// The service object's rules: configuration, lifecycle, connections, Timer1.
#include "service_core.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string_view>
#include <utility>

#include "access_settings.h"
#include "admission.h"
#include "config_checks.h"
#include "config_schema.h"
#include "halv_error.h"
#include "idle_connections.h"
#include "interpreter.h"
#include "login.h"

namespace halv {
namespace {

// The log library's file name inside BaseDir.
constexpr char kLogLibraryFile[] = "halvsyslog.dll";
// How often the idle check runs while IdleTimeout is set.
constexpr std::int32_t kIdleCheckMs = 1000;
// The audit trail's file beside serverlog.txt.
constexpr char kAuditLogFile[] = "audit.log";

// Copies `value` into a field of fixed capacity, cutting what does not fit.
void AssignCapped(std::string& field, std::string_view value, std::size_t capacity) {
  field.assign(value.substr(0, capacity));
}

// The record of a connection refused by the listener's limits.
AuditRecord ConnectionRefused(const std::string& peer, const std::string& why) {
  AuditRecord record;
  record.event = AuditEvent::kConnectionRefused;
  record.user = config::kAnonymousUser;
  record.peer = peer;
  record.result = kErrorConnectionRefused;
  record.text = why;
  return record;
}

}  // namespace

ServiceCore::ServiceCore(const ServicePorts& ports, MonthNames months)
    : ports_(ports), months_(std::move(months)), audit_(&ports_.events, ports_.audit_files) {}

void ServiceCore::LogEventError(const std::string& text) { ports_.events.ReportError(text); }

void ServiceCore::WriteLog(const std::string& text) {
  if (!log_) return;
  if (!fields_.log_timestamps) {
    log_->Write(text);
    return;
  }
  const LocalTime t = Now();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d ", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  log_->Write(stamp + text);
}

namespace {

std::optional<RefusalKind> RefusalOf(AuditEvent event) {
  switch (event) {
    case AuditEvent::kCommandRefused:
      return RefusalKind::kCommand;
    case AuditEvent::kLoginFailed:
      return RefusalKind::kLogin;
    case AuditEvent::kConnectionRefused:
      return RefusalKind::kConnection;
    default:
      return std::nullopt;
  }
}

}  // namespace

void ServiceCore::Audit(const AuditRecord& record, const std::string& log_line) {
  RefusalTick();
  if (const std::optional<RefusalKind> kind = RefusalOf(record.event)) {
    if (!refusals_.Admit(*kind, record.peer, TickMs())) return;
  }
  if (!log_line.empty()) WriteLog(log_line);
  audit_.Write(record, ports_.clock.UtcNow());
}

void ServiceCore::RefusalTick(bool all) {
  for (const RefusalLimiter::Summary& summary : refusals_.Due(TickMs(), all)) {
    const std::string text = SummaryText(summary);
    WriteLog(text);
    AuditRecord record;
    record.event = AuditEvent::kSuppressed;
    record.peer = summary.peer;
    record.text = text;
    audit_.Write(record, ports_.clock.UtcNow());
  }
}

void ServiceCore::ApplyLogOptions(const LogOptions& options) {
  fields_.log_timestamps = options.log_timestamps;
  fields_.audit_log = options.audit_log;
  log_max_files_ = options.log_max_files;
  if (log_) log_->SetMaxFiles(log_max_files_);
  AuditSettings settings;
  settings.on = options.audit_log;
  settings.path = audit_path_;
  settings.max_bytes = options.audit_max_bytes;
  settings.max_files = options.audit_max_files;
  audit_.Configure(settings);
}

void ServiceCore::LoadConfiguration() {
  try {
    LoadBaseSettings();
  } catch (...) {
    // The access settings apply even when another value fails: a failed
    // INIT never leaves logins off that the registry asks for.
    for (const std::string& error : ApplyAccessSettings(false)) LogEventError(error);
    throw;
  }
  std::vector<std::string> errors = ApplyAccessSettings(true);
  if (errors.empty()) return;
  for (std::size_t i = 1; i < errors.size(); ++i) LogEventError(errors[i]);
  throw Error(errors.front());
}

void ServiceCore::LoadBaseSettings() {
  ConfigReader& config = ports_.config;

  // 1. Base directory and program name. A relative directory would let the
  // current folder decide which library and program are used: refused.
  const std::string base_dir = config.ReadSystemValue(config::kBaseDir);
  if (!base_dir.empty() && !access::IsAbsoluteWindowsPath(base_dir)) {
    LogEventError("BaseDir '" + base_dir + "' is not an absolute path.  Check path and filename.");
  } else if (!base_dir.empty()) {
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
  if (!log_dir.empty() && !access::IsAbsoluteWindowsPath(log_dir)) {
    LogEventError("LogDir '" + log_dir + "' is not an absolute path.  Check path and filename.");
  } else if (!log_dir.empty()) {
    log_.reset();  // closes the old log and unloads its library
    AssignCapped(fields_.log_pathfile, log_dir + "\\" + config::kServerLogFile,
                 kLogPathfileCapacity);
    audit_path_ = log_dir + "\\" + kAuditLogFile;
    // The library is loaded only by a full path (app_path is empty or absolute).
    if (access::IsAbsoluteWindowsPath(fields_.app_path)) {
      log_ = ports_.logs.Open(fields_.app_path + "\\" + kLogLibraryFile, fields_.log_pathfile);
      log_->SetMaxFiles(log_max_files_);
    } else {
      LogEventError("The log library is not loaded: BaseDir must be an absolute path.");
    }
    WriteLog("Server logging started.");
    WriteLog("Service started on " + FormatDateTime(kLogDateForm, Now(), months_));
  } else {
    LogEventError("Unable to find log file directory.  Check path and filename.");
  }

  // 3. Logging mode: the value must be present (it has no default to fall
  // back on).
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

  // 9-10. Stopping services: a missing value takes the table's default.
  fields_.stop_timeout =
      config::NumberOrDefault(config::SystemValue(config::kServiceStopTimeOut),
                              config.ReadSystemValue(config::kServiceStopTimeOut));
  WriteLog("Service timeout for stopping dependencies is " + std::to_string(fields_.stop_timeout));
  fields_.stop_dependencies =
      config::NumberOrDefault(config::SystemValue(config::kStopDependencies),
                              config.ReadSystemValue(config::kStopDependencies)) != 0;
  WriteLog(fields_.stop_dependencies ? "Service will stop dependent services"
                                     : "Service will not stop dependent services");
}

std::vector<std::string> ServiceCore::ApplyAccessSettings(bool report) {
  // 11. Logins, listener and limits: all optional; absent, nothing changes.
  ConfigReader& config = ports_.config;
  std::vector<std::string> errors;
  // The reader goes through every optional value in table order, so the
  // service control options (12.) are taken as it passes them.
  std::string restart_dependents, list_filter, update_enabled, watch_enabled;
  std::map<std::string, std::string, std::less<>> log_values;  // step 13's texts
  access::AccessSettings settings = access::ReadAccessSettings(
      [&](const char* name) {
        std::string text = config.ReadSystemValue(name);
        if (std::string_view(name) == config::kRestartDependents) restart_dependents = text;
        if (std::string_view(name) == config::kListFilter) list_filter = text;
        if (std::string_view(name) == config::kUpdateEnabled) update_enabled = text;
        if (std::string_view(name) == config::kWatchEnabled) watch_enabled = text;
        log_values[name] = text;
        return text;
      },
      access_, errors);
  if (settings.listen_address != ports_.listener.Address()) {
    if (ports_.listener.Active()) {
      errors.insert(errors.begin(), "Can't change value while socket is active");
      settings.listen_address = access_.listen_address;
      settings.listen_address_text = access_.listen_address_text;
    } else {
      ports_.listener.SetAddress(settings.listen_address);
    }
  }
  fields_.require_auth = settings.require_auth;
  allowed_clients_ = settings.allowed_clients;
  max_clients_ = settings.max_clients;
  idle_timeout_ = settings.idle_timeout.value_or(0);
  login_timeout_ = access::LoginDeadline(settings).value_or(0);
  max_per_address_ = access::PerAddressLimit(settings);
  if (log_) log_->SetMaxBytes(static_cast<std::uint64_t>(settings.log_max_bytes.value_or(0)));
  if (report && errors.empty())
    for (const std::string& line : access::DescribeAccessSettings(settings)) WriteLog(line);
  if (idle_timeout_ > 0 || login_timeout_ > 0) {
    const std::string failure = ports_.idle_timer.Start(kIdleCheckMs);
    if (!failure.empty()) LogEventError(failure);
  } else {
    ports_.idle_timer.Stop();
  }
  access_ = std::move(settings);

  // 12. Service control options: optional; absent, nothing changes (no log
  // line). A faulty one is an error of this read, as a faulty access value
  // is, and leaves its option off.
  const auto yes = [&errors](const std::string& text) {
    if (text.empty()) return false;
    try {
      return config::NoYesIndex(text) == 1;
    } catch (const std::exception& e) {
      errors.emplace_back(e.what());
      return false;
    }
  };
  fields_.restart_dependents = yes(restart_dependents);
  fields_.list_filter = yes(list_filter);
  fields_.update_enabled = yes(update_enabled);
  fields_.watch_enabled = yes(watch_enabled);
  // Like the access lines, written only by a read without errors.
  if (report && errors.empty()) {
    if (fields_.restart_dependents) WriteLog("Service will restart the dependent services it stops");
    if (fields_.list_filter) WriteLog("Service will filter LIST by a name pattern");
    if (fields_.update_enabled)
      WriteLog("Service will change start types and display names on UPDATE");
    if (fields_.watch_enabled) WriteLog("Service will report changes of state on WATCH");
  }

  // 13. The audit trail and the server log's form: optional; absent, as
  // before. A faulty one is an error of this read.
  const LogOptions options = ReadLogOptions(
      [&log_values](const char* name) {
        const auto it = log_values.find(name);
        return it == log_values.end() ? std::string() : it->second;
      },
      errors);
  ApplyLogOptions(options);
  if (report && options.audit_log) WriteLog("Service keeps an audit trail in " + audit_path_);
  return errors;
}

void ServiceCore::IdleTimerTick() {
  const std::string now = FormatDateTime(kGreetingDateForm, Now(), months_);
  if (login_timeout_ > 0 && fields_.require_auth) {
    for (Connection* client : Clients()) {
      if (client->IsClosed() || client->Login().logged_in() ||
          !access::IdleExpired(client->connected_ms(), TickMs(), login_timeout_))
        continue;
      try {
        client->SendText(kLoginTimeoutText);
      } catch (const std::exception&) {
        // Closed all the same.
      }
      client->Close();
      if (fields_.verbose)
        WriteLog("Client (" + client->PeerAddress() + ") not logged in within " +
                 std::to_string(login_timeout_) + " seconds, closed at " + now);
    }
  }
  if (idle_timeout_ <= 0) return;
  for (const std::string& peer : CloseIdleConnections(Clients(), TickMs(), idle_timeout_)) {
    if (fields_.verbose)
      WriteLog("Client (" + peer + ") idle for " + std::to_string(idle_timeout_) +
               " seconds, closed at " + now);
  }
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
  RefusalTick(true);
  WriteLog("Service is stopped.");
  log_.reset();
}

void ServiceCore::ServiceShutdown() {
  ports_.listener.Close();
  DisarmTimer1();
  RefusalTick(true);
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
  client.set_last_receipt_ms(TickMs());
  client.set_connected_ms(TickMs());
  const std::vector<Connection*> listed = Clients();  // the new one is listed
  std::size_t others = 0;
  std::size_t same_address = 0;
  std::vector<Connection*> waiting;  // not logged in, oldest first
  for (Connection* other : listed) {
    if (other == &client || other->IsClosed()) continue;
    ++others;
    if (other->PeerAddress() == client.PeerAddress()) ++same_address;
    if (!other->Login().logged_in()) waiting.push_back(other);
  }
  const auto refuse_too_many = [&](const std::string& why) {
    Audit(ConnectionRefused(peer, why), "Client (" + peer + ") " + why);
    client.SendText(access::kTooManyConnectionsText);
    client.Close();
  };
  // With logins required, connections waiting for a login hold at most
  // MaxClients - 1 slots: a new one that finds a slot free but that many
  // waiting takes the place of the longest waiting (so a login always finds
  // a slot); when every slot is taken it is refused as before.
  std::size_t make_room = 0;
  if (fields_.require_auth && max_clients_) {
    const std::size_t waiting_cap = static_cast<std::size_t>(*max_clients_ - 1);
    if (waiting.size() + 1 > waiting_cap) make_room = waiting.size() + 1 - waiting_cap;
    make_room = std::min(make_room, waiting.size());
    if (others >= static_cast<std::size_t>(*max_clients_)) make_room = 0;
  }
  if (max_per_address_ && same_address >= static_cast<std::size_t>(*max_per_address_) &&
      (allowed_clients_ == std::nullopt || allowed_clients_->Allows(peer))) {
    refuse_too_many("refused: " + std::to_string(*max_per_address_) +
                    " clients already connected from this address");
    return;
  }
  if (make_room > 0 && (allowed_clients_ == std::nullopt || allowed_clients_->Allows(peer))) {
    for (std::size_t i = 0; i < make_room; ++i) {
      Connection* oldest = waiting[i];
      try {
        oldest->SendText(kLoginSlotTakenText);
      } catch (const std::exception&) {
        // Closed all the same.
      }
      oldest->Close();
      --others;
      if (fields_.verbose)
        WriteLog("Client (" + oldest->PeerAddress() + ") closed: its slot went to a newer connection");
    }
  }
  switch (
      access::Admit(allowed_clients_ ? &*allowed_clients_ : nullptr, max_clients_, peer, others)) {
    case access::Admission::kNotAllowed:
      Audit(ConnectionRefused(peer, "refused: not in AllowedClients"),
            "Client (" + peer + ") refused: not in AllowedClients");
      client.Close();
      return;
    case access::Admission::kTooMany: {
      const std::string why =
          "refused: " + std::to_string(*max_clients_) + " clients already connected";
      Audit(ConnectionRefused(peer, why), "Client (" + peer + ") " + why);
      client.SendText(access::kTooManyConnectionsText);
      client.Close();
      return;
    }
    case access::Admission::kAccept:
      break;
  }
  const std::string now = FormatDateTime(kGreetingDateForm, Now(), months_);
  if (fields_.verbose) WriteLog("Client (" + peer + ") connected at " + now);
  client.SendText("\n\rHalvexa: Version " + fields_.version);
  client.SendText("\n\rTenmark Halvexa remote service control, (c) Tenmark Software.");
  client.SendText("\n\r\n\rConnected to: " + fields_.server_name +
                  "\n\rService running as: " + fields_.log_on_as + "\n\rLocal Server Date: " + now);
  if (fields_.require_auth) client.SendText(access::kLoginRequiredNotice);
  client.SendText("\n\r:: ");
}

void ServiceCore::RunLine(ConnectionId id, Connection& client, const CommandLine& line) {
  if (runner_ != nullptr) {
    runner_->RunLine(id, client, line);
  } else {
    ProcessCommand(*this, client, line);
  }
}

void ServiceCore::ServerSocket1ClientDisconnect(const std::string& peer) {
  if (fields_.verbose)
    WriteLog("Client (" + peer + ") disconnected at " +
             FormatDateTime(kGreetingDateForm, Now(), months_));
}

}  // namespace halv
