// What the service core reaches outside itself: the registry, the event log,
// the log library, the listener, the restart timer, the clock, facts about
// the machine and what the commands open.
//
// Each is a small interface, except the configuration and the accounts,
// which are concrete readers over the registry store (common/
// registry_store.h). The Windows host implements the interfaces with Win32
// calls (service/win/host_ports.h; the listener is the connection driver over
// the Winsock listener) and gives the readers the Win32 registry; tests use the fakes in tests/fakes/service and the registry
// in memory. Every call happens on the service thread.
#ifndef HALV_SERVICE_CORE_SERVICE_PORTS_H_
#define HALV_SERVICE_CORE_SERVICE_PORTS_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "address_list.h"
#include "audit_trail.h"
#include "config_schema.h"
#include "connection.h"
#include "date_format.h"
#include "permissions.h"
#include "registry_store.h"
#include "server_context.h"

namespace halv {

// The configuration values of this version's System key, read afresh at
// each call through the registry store, which must outlive the reader.
class ConfigReader {
 public:
  explicit ConfigReader(RegistryStore& registry, std::string system_key = config::kSystemKey)
      : registry_(registry), system_key_(std::move(system_key)) {}

  // The value as text; "" when the key or value is missing. Raises
  // halv::Error "Invalid data type for '<name>'" for a value that is not a
  // string.
  std::string ReadSystemValue(const std::string& name) {
    return registry_.ReadRegString(system_key_, name);
  }

 private:
  RegistryStore& registry_;
  std::string system_key_;
};

// The Application event log, source Halvexa351: errors with event
// identifier 0, and the audit trail's entries (AuditEventSink::ReportAudit)
// with the identifiers of their kinds.
class EventLog : public AuditEventSink {
 public:
  ~EventLog() override = default;
  // Records `text` as one error event; a log that cannot be reached is
  // passed over.
  virtual void ReportError(const std::string& text) = 0;
};

// One open server log.
class ServerLog {
 public:
  virtual ~ServerLog() = default;  // closes the log, then unloads its library
  virtual bool IsOpen() const = 0;
  // Writes one normal line; nothing when closed.
  virtual void Write(const std::string& text) = 0;
  // Limits the file to `max_bytes` (0: no limit): the line that would pass
  // it starts a new file, the old one kept as the one older generation.
  virtual void SetMaxBytes(std::uint64_t max_bytes) = 0;
  // How many older generations a rotation keeps (serverlog.1.txt the
  // newest); 1 unless set.
  virtual void SetMaxFiles(std::uint32_t /*max_files*/) {}
};

// The log library, loaded by full path.
class LogLibrary {
 public:
  virtual ~LogLibrary() = default;
  // Loads the library at `library_path` and opens the log at `log_path`.
  // Never fails: a library or log that cannot be opened gives a closed log.
  virtual std::unique_ptr<ServerLog> Open(const std::string& library_path,
                                          const std::string& log_path) = 0;
};

// The TCP listener with its client connections (the connection driver in
// the service).
class Listener {
 public:
  virtual ~Listener() = default;
  virtual int Port() const = 0;
  // Whether the listener is open.
  virtual bool Active() const = 0;
  // Changes the port of the next Open. The core never changes it while the
  // listener is open.
  virtual void SetPort(int port) = 0;
  // The address the next Open binds (ListenAddress); none: every IPv4
  // address. The core never changes it while the listener is open.
  virtual void SetAddress(const std::optional<access::IpAddress>& address) = 0;
  virtual const std::optional<access::IpAddress>& Address() const = 0;
  // Opens the listener (nothing when open); raises halv::Error on failure.
  virtual void Open() = 0;
  // Closes the listener and every connection, without disconnection events.
  virtual void Close() = 0;
  // The open connections, in order of acceptance.
  virtual std::vector<Connection*> Clients() = 0;
};

// An interval timer of the service thread: Timer1, the one-shot restart,
// whose ticks arrive as the host calls ServiceCore::Timer1Timer, and the
// idle check's (ServiceCore::IdleTimerTick).
class RestartTimer {
 public:
  virtual ~RestartTimer() = default;
  // (Re)starts the timer with `interval_ms`. Returns "" on success, or the
  // system's text for the failure.
  virtual std::string Start(std::int32_t interval_ms) = 0;
  virtual void Stop() = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() const = 0;
  // A monotonic count of milliseconds (login deadlines, IdleTimeout).
  virtual std::uint64_t TickMs() const = 0;
  // The time in UTC with milliseconds (the audit records); this default
  // takes the local time, for clocks that know no other.
  virtual UtcTime UtcNow() const {
    const LocalTime t = Now();
    return UtcTime{t.year, t.month, t.day, t.hour, t.minute, t.second, 0};
  }
};

// Facts the configuration read records about the machine and the program.
class MachineInfo {
 public:
  virtual ~MachineInfo() = default;
  // The program file's version as "a.b.c.d", or "3.5.1" when the file has no
  // version resource. Raises halv::Error when a resource cannot be read.
  virtual std::string FileVersion(const std::string& path) = 0;
  // The computer's NetBIOS name ("" when unknown).
  virtual std::string ComputerName() = 0;
  // The account the service runs as ("" when unknown).
  virtual std::string UserName() = 0;
};

// What the commands open beyond the service object: VIEW's file and the
// Service Control Manager (see ServerContext).
class CommandHost {
 public:
  virtual ~CommandHost() = default;
  virtual std::unique_ptr<ByteSource> OpenShared(const std::string& path) = 0;
  virtual ServiceManager& Manager() = 0;
};

// The set the core is built over; every object must outlive the core.
struct ServicePorts {
  ConfigReader& config;
  EventLog& events;
  LogLibrary& logs;
  Listener& listener;
  RestartTimer& timer;
  Clock& clock;
  MachineInfo& machine;
  CommandHost& commands;
  // The console's user accounts, read at each permission check and AUTH.
  access::AccountStore& accounts;
  // The idle check's timer: while IdleTimeout is set it ticks every second
  // and the host calls ServiceCore::IdleTimerTick.
  RestartTimer& idle_timer;
  // audit.log's file operations; null: the audit trail writes no file.
  AuditFiles* audit_files = nullptr;
};

}  // namespace halv

#endif  // HALV_SERVICE_CORE_SERVICE_PORTS_H_
