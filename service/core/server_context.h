// The service object as the command interpreter and the listing commands see it.
//
// ServiceCore implements this over its ports; interpreter tests implement it
// with fixed fields, a fixed clock, recording connections and the simulated manager.
// Every call happens on the service thread.
#ifndef HALV_SERVICE_CORE_SERVER_CONTEXT_H_
#define HALV_SERVICE_CORE_SERVER_CONTEXT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audit_record.h"
#include "byte_source.h"
#include "config_schema.h"
#include "connection.h"
#include "date_format.h"
#include "login.h"
#include "permissions.h"

namespace halv {

class ServiceManager;

// The run-time configuration fields of the service, with their values at
// creation. Texts never exceed the capacities below (terminating zero
// excluded); the loader cuts longer registry values to fit.
struct ServiceFields {
  std::string version;
  std::string server_name;
  std::string app_path;
  std::string log_pathfile;
  std::string exec_name;
  std::string log_on_as;
  std::string bin_pathname;
  std::int32_t stop_timeout = config::kDefaultStopTimeOut;
  std::int32_t grace_period = config::kDefaultGracePeriod;
  std::int32_t port = config::kDefaultPort;
  bool verbose = false;
  bool stop_dependencies = config::kDefaultStopDependencies;
  // RestartDependents "1": RSTRT starts again the dependants it stopped.
  bool restart_dependents = false;
  // ListFilter "1": LIST <pattern> lists only the services that match.
  bool list_filter = false;
  // UpdateEnabled "1": UPDATE changes a service's start type or display name.
  bool update_enabled = false;
  // WatchEnabled "1": the WATCH command reports services' changes of state.
  bool watch_enabled = false;
  // LogTimestamps "1": each text logged starts with the local time.
  bool log_timestamps = false;
  // AuditLog "1": the audit trail is kept and the AUDIT command offered.
  bool audit_log = false;
  // RequireAuth "1": clients start as "Anonymous", log in with AUTH, and
  // each command needs its permission.
  bool require_auth = false;
};

inline constexpr std::size_t kVersionCapacity = 127;
inline constexpr std::size_t kServerNameCapacity = 63;
inline constexpr std::size_t kAppPathCapacity = 511;
inline constexpr std::size_t kLogPathfileCapacity = 511;
inline constexpr std::size_t kExecNameCapacity = 255;
inline constexpr std::size_t kLogOnAsCapacity = 255;
inline constexpr std::size_t kBinPathnameCapacity = 1023;

class ServerContext {
 public:
  virtual ~ServerContext() = default;

  virtual const ServiceFields& Fields() const = 0;
  // The open client connections, in order of acceptance.
  virtual std::vector<Connection*> Clients() = 0;
  // Sets the restart timer's interval and enables it. An equal interval and
  // an already enabled timer change nothing, so a pending deadline stands.
  virtual void ArmRestart(std::int32_t interval_ms) = 0;
  // Re-reads the configuration. On an error that ends the read, records the
  // error in the event log and returns false.
  virtual bool Reinitialize() = 0;
  // The server's current local time and the locale's month names.
  virtual LocalTime Now() const = 0;
  virtual const MonthNames& Months() const = 0;
  // Opens `path` for reading in binary mode, shared for reading and writing,
  // creating it empty when missing. Null when it cannot be opened.
  virtual std::unique_ptr<ByteSource> OpenShared(const std::string& path) = 0;
  // The Service Control Manager that START, STOP, LIST and the others use.
  virtual ServiceManager& Manager() = 0;

  // --- Access control, used while `require_auth` is set.
  // The user accounts, read from the registry at each call.
  virtual access::AccountStore& Accounts() = 0;
  // The deadlines of addresses after failed logins (one per service).
  virtual access::FailureThrottle& LoginThrottle() = 0;
  // A monotonic count of milliseconds.
  virtual std::uint64_t TickMs() const = 0;
  // Writes one audit line to the server log, whatever the logging mode.
  virtual void WriteAuditLine(const std::string& text) = 0;

  // --- The audit trail (AuditLog), whether or not logins are required.
  // One record whose outcome is known, with `log_line` ("" for none), the
  // server-log line of the same fact. A refusal (refused command, failed
  // login, refused connection) first passes the rate limit, which decides
  // for both: counted, neither is written. This default writes the line.
  virtual void Audit(const AuditRecord& /*record*/, const std::string& log_line) {
    if (!log_line.empty()) WriteAuditLine(log_line);
  }
  // Whether AuditLog is on.
  virtual bool AuditOn() const { return false; }
  // The last `n` lines of audit.log, oldest first.
  virtual std::vector<std::string> AuditLines(std::size_t /*n*/) { return {}; }

  // The outcome of the command running now, for its audit record: the
  // interpreter clears it before an audited command that runs at once, and
  // a handler that fails sets it.
  struct CommandOutcome {
    std::uint32_t result = 0;  // 0 or a system error code
    std::string text;          // the failure in words; "" when carried out
  };
  CommandOutcome& Outcome() { return outcome_; }

 private:
  CommandOutcome outcome_;
};

}  // namespace halv

#endif  // HALV_SERVICE_CORE_SERVER_CONTEXT_H_
