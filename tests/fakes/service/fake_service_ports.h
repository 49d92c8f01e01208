// Test doubles for every port of the service core, gathered in one object:
// a registry in memory holding the System values (any of which can be given
// a non-string type) and the user accounts,
// an event log and a server log that record their lines, a listener that
// tracks its port and whether it is open, a restart timer that records its
// starts and stops, a fixed clock, fixed machine facts, and VIEW's files and
// the manager supplied by the test; and the idle check's timer.
//
//   FakeServicePorts fakes(scm);
//   fakes.SetValue("VerboseLogging", "1");
//   ServiceCore core(fakes.Ports(), EnglishMonthNames());
//   core.LoadConfiguration();
//   EXPECT_EQ(fakes.log_lines[0], "Server logging started.");
#ifndef HALV_TESTS_FAKES_SERVICE_FAKE_SERVICE_PORTS_H_
#define HALV_TESTS_FAKES_SERVICE_FAKE_SERVICE_PORTS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config_schema.h"
#include "memory_accounts.h"
#include "memory_registry.h"
#include "service_ports.h"

namespace halv::testing {

class FakeServicePorts final : public EventLog,
                               public LogLibrary,
                               public Listener,
                               public RestartTimer,
                               public Clock,
                               public MachineInfo,
                               public CommandHost {
 public:
  // `manager` must outlive this object.
  explicit FakeServicePorts(ServiceManager& manager) : manager_(manager) {}

  // The ports over this object; it must outlive every user of them.
  ServicePorts Ports() {
    return ServicePorts{config, *this, *this, *this,    *this,
                        *this,  *this, *this, accounts, idle_timer};
  }

  // --- Registry: the System values set here, "" for the rest. A value
  // marked with SetNonString reads as the registry reads a REG_DWORD. The
  // user accounts live in the same registry.
  MemoryRegistry registry;
  ConfigReader config{registry};
  MemoryAccounts accounts{registry};
  void SetValue(const std::string& name, const std::string& value) {
    registry.Set(config::kSystemKey, name, value);
  }
  // The values a read needs before it can succeed: the folders under
  // C:\Halvexa, the program's name and verbose logging off.
  void SetRequiredValues() {
    SetValue(config::kBaseDir, "C:\\Halvexa");
    SetValue(config::kExecName, "halvexa351.exe");
    SetValue(config::kLogDir, "C:\\Halvexa\\log");
    SetValue(config::kVerboseLogging, "0");
  }
  void RemoveValue(const std::string& name) { registry.Remove(config::kSystemKey, name); }
  void SetNonString(const std::string& name) { registry.SetNonString(config::kSystemKey, name); }
  // Every System value name read, in order.
  std::vector<std::string> reads() const { return registry.NamesRead(config::kSystemKey); }

  // --- Event log.
  void ReportError(const std::string& text) override { event_lines.push_back(text); }
  std::vector<std::string> event_lines;
  // The audit entries: identifier, warning, inserts.
  struct AuditEntry {
    std::uint32_t id = 0;
    bool warning = false;
    std::vector<std::string> inserts;
  };
  void ReportAudit(std::uint32_t id, bool warning,
                   const std::vector<std::string>& inserts) override {
    audit_entries.push_back({id, warning, inserts});
  }
  std::vector<AuditEntry> audit_entries;

  // --- Log library: every open (library path, log path) and every line
  // written to an open log. With `log_opens` false the logs stay closed.
  std::unique_ptr<ServerLog> Open(const std::string& library_path,
                                  const std::string& log_path) override;
  std::vector<std::pair<std::string, std::string>> opened_logs;
  std::vector<std::string> log_lines;
  bool log_opens = true;
  // The size limit given to the last log opened (0: none).
  std::uint64_t log_max_bytes = 0;
  // The generations given to the last log opened (1 unless set).
  std::uint32_t log_max_files = 1;
  // Logs handed out and not yet destroyed.
  int live_logs() const { return *live_logs_; }

  // --- Listener.
  int Port() const override { return port; }
  bool Active() const override { return active; }
  void SetPort(int value) override { port = value; }
  void SetAddress(const std::optional<access::IpAddress>& value) override { address = value; }
  const std::optional<access::IpAddress>& Address() const override { return address; }
  std::optional<access::IpAddress> address;
  void Open() override;
  void Close() override {
    active = false;
    ++close_calls;
  }
  std::vector<Connection*> Clients() override { return clients; }
  int port = 9007;
  bool active = false;
  int open_calls = 0;
  int close_calls = 0;
  // Text of the error Open raises; "" opens.
  std::string open_failure;
  std::vector<Connection*> clients;

  // --- Restart timer.
  std::string Start(std::int32_t interval_ms) override;
  void Stop() override { ++timer_stops; }
  std::vector<std::int32_t> timer_starts;
  int timer_stops = 0;
  // What Start returns ("" starts).
  std::string timer_failure;

  // --- Clock: 7 December 2026 23:05:09 until set.
  LocalTime Now() const override { return now; }
  LocalTime now{2026, 12, 7, 23, 5, 9};
  // The millisecond clock stands at 1000000 until set.
  std::uint64_t TickMs() const override { return tick_ms; }
  std::uint64_t tick_ms = 1000000;
  // UTC: 7 December 2026 22:05:09.250 until set.
  UtcTime UtcNow() const override { return utc_now; }
  UtcTime utc_now{2026, 12, 7, 22, 5, 9, 250};

  // --- The idle check's timer.
  struct IdleTimer final : RestartTimer {
    std::string Start(std::int32_t interval_ms) override {
      starts.push_back(interval_ms);
      return {};
    }
    void Stop() override { ++stops; }
    std::vector<std::int32_t> starts;
    int stops = 0;
  } idle_timer;

  // --- Machine.
  std::string FileVersion(const std::string& path) override;
  std::string ComputerName() override { return computer_name; }
  std::string UserName() override { return user_name; }
  std::string file_version = "3.5.1.1";
  // Text of the error FileVersion raises; "" reads.
  std::string version_failure;
  std::vector<std::string> version_paths;
  std::string computer_name = "TESTHOST";
  std::string user_name = "SYSTEM";

  // --- Commands: no files; the manager given.
  std::unique_ptr<ByteSource> OpenShared(const std::string&) override { return nullptr; }
  ServiceManager& Manager() override { return manager_; }

 private:
  ServiceManager& manager_;
  std::shared_ptr<int> live_logs_ = std::make_shared<int>(0);
};

}  // namespace halv::testing

#endif  // HALV_TESTS_FAKES_SERVICE_FAKE_SERVICE_PORTS_H_
