// ServiceCore: the rules of the service object, without Windows.
//
// It holds the configuration fields, the server log, the shared command-word
// buffer and the state of the restart timer, and carries out what the host
// asks: reading the configuration, starting, stopping and restarting the
// listener, admitting, greeting and logging connections, and running each
// line the connection driver hands over (through the command runner when
// one is set). It reaches the system through ServicePorts. The
// host (THalvexa351) keeps what only Windows has: status reports to the
// Service Control Manager, the message window, the sockets, the timer.
// Every call happens on the service thread.
#ifndef HALV_SERVICE_CORE_SERVICE_CORE_H_
#define HALV_SERVICE_CORE_SERVICE_CORE_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "access_settings.h"
#include "address_list.h"
#include "audit_trail.h"
#include "command_runner.h"
#include "connection_driver.h"
#include "log_options.h"
#include "login.h"
#include "operation_scheduler.h"
#include "refusal_limiter.h"
#include "server_context.h"
#include "service_ports.h"
#include "words.h"

namespace halv {

class ServiceCore final : public ServerContext, public ConnectionService {
 public:
  ServiceCore(const ServicePorts& ports, MonthNames months);
  ServiceCore(const ServiceCore&) = delete;
  ServiceCore& operator=(const ServiceCore&) = delete;

  // Reads the configuration into the fields, in this order: BaseDir and
  // ExecName, LogDir (which opens a new server log), VerboseLogging, the
  // program file and its version, the computer and account names, Port,
  // ServiceStopTimeOut, StopDependencies, then the optional access values
  // (RequireAuth, ListenAddress, AllowedClients, MaxClients, IdleTimeout,
  // LogMaxBytes; absent, they change nothing). Missing BaseDir, ExecName and
  // LogDir, and relative ones, are recorded in the event log and passed
  // over; the log library is loaded only from an absolute BaseDir. A missing
  // VerboseLogging, a text that is not a whole number, a value that is not a
  // string, a changed port while listening or an unreadable version resource
  // ends the read by raising halv::Error; what was read before stays. The
  // access values are read and applied in every case, a failure before them
  // or among them notwithstanding: a wrong one keeps what was in force (a
  // wrong RequireAuth requires logins), its message goes to the event log,
  // and the first message of the access values is raised when nothing else
  // failed.
  // Texts longer than their fields are cut to the field's capacity.
  void LoadConfiguration();
  // Reads the configuration, then reopens the listener.
  void StartServer();
  // The start: stops Timer1, then StartServer. Raises as StartServer.
  void ServiceStart();
  // After the start has been reported: "Service is running." to an open log.
  void ServiceRunning();
  // Stop and shutdown: close the listener, stop Timer1, write the last line
  // and close the log.
  void ServiceStop();
  void ServiceShutdown();
  // Timer1's tick: the delayed restart of the listener. Timer1 stays armed
  // when the restart raises, so it is tried again.
  void Timer1Timer();
  bool Timer1Enabled() const { return timer_enabled_; }
  // Stops Timer1 when armed.
  void DisarmTimer1();
  // Closes the server log (the thread's resources are going).
  void CloseLog() { log_.reset(); }

  // Records `text` in the event log.
  void LogEventError(const std::string& text) override;
  // One normal line to the server log; nothing while no log is open.
  void WriteLog(const std::string& text) override;

  // ConnectionService (the connection driver's calls).
  // A client has connected from `peer`: refused (a log line, for too many
  // clients also one line to it, and closed) when AllowedClients or
  // MaxClients say so; else the verbose log line, the greeting and the
  // prompt.
  void ServerSocket1ClientConnect(Connection& client, const std::string& peer) override;
  // The connection from `peer` has gone: the verbose log line.
  void ServerSocket1ClientDisconnect(const std::string& peer) override;
  // Runs one line of connection `id`: through the command runner when one
  // is set (START, STOP and RSTRT then wait on worker threads while the
  // connection's further lines wait), else through the interpreter.
  void RunLine(ConnectionId id, Connection& client, const CommandLine& line) override;
  bool VerboseLogging() const override { return fields_.verbose; }
  // Sets the command runner (not owned; null runs every command inline).
  void SetCommandRunner(CommandRunner* runner) { runner_ = runner; }

  // ServerContext
  const ServiceFields& Fields() const override { return fields_; }
  std::vector<Connection*> Clients() override { return ports_.listener.Clients(); }
  // Arms Timer1 with `interval_ms`; an equal interval on an armed timer
  // changes nothing, so a pending restart keeps its deadline. A timer that
  // cannot be started is recorded in the event log and left disarmed.
  void ArmRestart(std::int32_t interval_ms) override;
  // LoadConfiguration; an error is recorded in the event log and gives false.
  bool Reinitialize() override;
  LocalTime Now() const override { return ports_.clock.Now(); }
  const MonthNames& Months() const override { return months_; }
  std::unique_ptr<ByteSource> OpenShared(const std::string& path) override {
    return ports_.commands.OpenShared(path);
  }
  ServiceManager& Manager() override { return ports_.commands.Manager(); }
  access::AccountStore& Accounts() override { return ports_.accounts; }
  access::FailureThrottle& LoginThrottle() override { return login_throttle_; }
  std::uint64_t TickMs() const override { return ports_.clock.TickMs(); }
  // Audit lines go to the server log whatever the logging mode.
  void WriteAuditLine(const std::string& text) override { WriteLog(text); }
  // The record to the audit trail (while AuditLog is on) and `log_line` to
  // the server log; a refusal only when the rate limit admits it.
  void Audit(const AuditRecord& record, const std::string& log_line) override;
  bool AuditOn() const override { return audit_.On(); }
  std::vector<std::string> AuditLines(std::size_t n) override { return audit_.LastLines(n); }
  // The rate limit's summaries whose minute has passed (every second, and
  // with `all` at a stop), to both outputs.
  void RefusalTick(bool all = false);

  // The idle check (every second while IdleTimeout or the login deadline is
  // set): connections silent for that long, and connections not logged in
  // within the deadline, are told and closed, each with a verbose log line.
  // The host then drops them from the listener.
  void IdleTimerTick();

 private:
  bool LogIsOpen() const { return log_ && log_->IsOpen(); }
  // The audit trail's and the server log's options (step 13).
  void ApplyLogOptions(const LogOptions& options);
  // Steps 1 to 10 of LoadConfiguration: everything but the access settings.
  void LoadBaseSettings();
  // Reads the access settings and applies every right one (a wrong
  // RequireAuth requires logins); a ListenAddress that cannot change while
  // listening keeps the old one. Returns the errors, first one first; with
  // `report` and no error, writes the settings' log lines.
  std::vector<std::string> ApplyAccessSettings(bool report);

  ServicePorts ports_;
  MonthNames months_;
  ServiceFields fields_;
  std::unique_ptr<ServerLog> log_;
  std::int32_t timer_interval_ = 100;
  bool timer_enabled_ = false;
  CommandRunner* runner_ = nullptr;
  // Access control and the listener's limits, from the last read.
  access::FailureThrottle login_throttle_;
  std::optional<access::AllowList> allowed_clients_;
  std::optional<std::int32_t> max_clients_;
  std::int32_t idle_timeout_ = 0;  // seconds; 0: none
  std::int32_t login_timeout_ = 0;  // seconds; 0: none
  std::optional<std::int32_t> max_per_address_;
  access::AccessSettings access_;  // as last applied
  // The audit trail and the refusals' rate limit.
  AuditTrail audit_;
  RefusalLimiter refusals_;
  std::string audit_path_;  // audit.log in LogDir; "" until LogDir is read
  std::uint32_t log_max_files_ = 1;
};

}  // namespace halv

#endif  // HALV_SERVICE_CORE_SERVICE_CORE_H_
