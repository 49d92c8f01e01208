// The service core with AuditLog, LogTimestamps and LogMaxFiles: the trail's
// file beside serverlog.txt, refused connections recorded in both logs under
// one rate limit with its summary line, the timestamps' form, and nothing
// new while the values are absent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config_schema.h"
#include "fake_service_ports.h"
#include "memory_audit_files.h"
#include "recording_connection.h"
#include "service_core.h"
#include "simulated_manager.h"

namespace halv::testing {
namespace {

using Lines = std::vector<std::string>;

constexpr char kAuditPath[] = "C:\\Halvexa\\log\\audit.log";

class CoreAuditTest : public ::testing::Test {
 protected:
  CoreAuditTest() {
    fakes_.SetRequiredValues();
  }
  static ServicePorts WithFiles(FakeServicePorts& fakes, MemoryAuditFiles& files) {
    ServicePorts ports = fakes.Ports();
    ports.audit_files = &files;
    return ports;
  }
  std::string Load() {
    try {
      core_.LoadConfiguration();
      return "";
    } catch (const std::exception& e) {
      return e.what();
    }
  }
  Lines AuditFileLines() {
    Lines out;
    const std::string text = files_.Read(kAuditPath);
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = text.find("\r\n", at);
      out.push_back(text.substr(at, end - at));
      at = end + 2;
    }
    return out;
  }
  // Refuses a connection from `peer` (not in AllowedClients).
  void Refuse(const std::string& peer) {
    RecordingConnection c(peer);
    fakes_.clients = {&c};
    core_.ServerSocket1ClientConnect(c, peer);
    ASSERT_TRUE(c.IsClosed());
  }
  std::size_t Count(const std::string& line) const {
    return static_cast<std::size_t>(
        std::count(fakes_.log_lines.begin(), fakes_.log_lines.end(), line));
  }

  SimulatedManager scm_;
  FakeServicePorts fakes_{scm_};
  MemoryAuditFiles files_;
  ServiceCore core_{WithFiles(fakes_, files_), EnglishMonthNames()};
};

TEST_F(CoreAuditTest, AbsentValuesChangeNothing) {
  fakes_.SetValue(config::kAllowedClients, "127.0.0.1");
  ASSERT_EQ(Load(), "");
  EXPECT_FALSE(core_.AuditOn());
  EXPECT_EQ(fakes_.log_lines[0], "Server logging started.");
  EXPECT_EQ(fakes_.log_max_files, 1u);
  Refuse("10.0.0.9");
  EXPECT_EQ(fakes_.log_lines.back(), "Client (10.0.0.9) refused: not in AllowedClients");
  EXPECT_TRUE(files_.appends.empty());
  EXPECT_TRUE(fakes_.audit_entries.empty());
}

TEST_F(CoreAuditTest, ARefusedConnectionIsRecordedInBothLogs) {
  fakes_.SetValue(config::kAuditLog, "1");
  fakes_.SetValue(config::kAllowedClients, "127.0.0.1");
  ASSERT_EQ(Load(), "");
  EXPECT_TRUE(core_.AuditOn());
  EXPECT_EQ(fakes_.log_lines.back(), std::string("Service keeps an audit trail in ") + kAuditPath);
  Refuse("10.0.0.9");
  EXPECT_EQ(fakes_.log_lines.back(), "Client (10.0.0.9) refused: not in AllowedClients");
  EXPECT_EQ(AuditFileLines(),
            (Lines{"{\"time\":\"2026-12-07T22:05:09.250Z\",\"event\":\"connection-refused\","
                   "\"user\":\"Anonymous\",\"peer\":\"10.0.0.9\",\"command\":\"\",\"service\":\"\","
                   "\"result\":1225,\"text\":\"refused: not in AllowedClients\"}"}));
  ASSERT_EQ(fakes_.audit_entries.size(), 1u);
  EXPECT_EQ(fakes_.audit_entries[0].id, 1020u);
  EXPECT_TRUE(fakes_.audit_entries[0].warning);
  EXPECT_EQ(core_.AuditLines(5), AuditFileLines());
}

// However fast one client is refused, both logs get a few lines and then,
// once its minute has passed, one count line; the rotation that a flood
// would cause never happens.
TEST_F(CoreAuditTest, RefusalsAreRateLimitedForBothLogsWithOneCountLine) {
  for (const bool audit : {false, true}) {
    SCOPED_TRACE(audit);
    SimulatedManager scm;
    FakeServicePorts fakes(scm);
    MemoryAuditFiles files;
    fakes.SetRequiredValues();
    fakes.SetValue(config::kAllowedClients, "127.0.0.1");
    if (audit) fakes.SetValue(config::kAuditLog, "1");
    ServiceCore core(WithFiles(fakes, files), EnglishMonthNames());
    core.LoadConfiguration();
    const std::size_t before = fakes.log_lines.size();
    for (int i = 0; i < 317; ++i) {
      RecordingConnection c("10.0.0.9");
      fakes.clients = {&c};
      core.ServerSocket1ClientConnect(c, "10.0.0.9");
      EXPECT_TRUE(c.IsClosed());
      fakes.tick_ms += 3;
    }
    EXPECT_EQ(fakes.log_lines.size() - before, RefusalLimiter::kBurstPerKey);
    core.RefusalTick();  // the minute has not passed
    EXPECT_EQ(fakes.log_lines.size() - before, RefusalLimiter::kBurstPerKey);
    fakes.tick_ms += RefusalLimiter::kWindowMs;
    core.RefusalTick();
    const std::string count = "312 more refused connections from 10.0.0.9 in the last minute";
    EXPECT_EQ(fakes.log_lines.back(), count);
    const std::size_t records = audit ? RefusalLimiter::kBurstPerKey + 1 : 0;
    EXPECT_EQ(files.appends.size(), records);
    EXPECT_EQ(fakes.audit_entries.size(), records);
    if (audit) {
      EXPECT_NE(files.appends.back().second.find("\"event\":\"suppressed\""), std::string::npos);
      EXPECT_NE(files.appends.back().second.find(count), std::string::npos);
      EXPECT_EQ(fakes.audit_entries.back().id, 1030u);
    }
  }
}

TEST_F(CoreAuditTest, CountsStillDueAreWrittenAtTheStop) {
  fakes_.SetValue(config::kAllowedClients, "127.0.0.1");
  ASSERT_EQ(Load(), "");
  for (int i = 0; i < 7; ++i) Refuse("10.0.0.8");
  core_.ServiceStop();
  const Lines& lines = fakes_.log_lines;
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "2 more refused connections from 10.0.0.8 in the last minute");
  EXPECT_EQ(lines.back(), "Service is stopped.");
}

TEST_F(CoreAuditTest, LogTimestampsPutsTheLocalTimeBeforeEachText) {
  fakes_.SetValue(config::kLogTimestamps, "1");
  fakes_.now = {2026, 12, 10, 3, 12, 5};
  ASSERT_EQ(Load(), "");
  // The first lines come before the value is read; every later one has it.
  core_.WriteLog("Stopping MSSQL");
  EXPECT_EQ(fakes_.log_lines.back(), "2026-12-10 03:12:05 Stopping MSSQL");
  EXPECT_EQ(Load(), "");
  EXPECT_EQ(fakes_.log_lines[fakes_.log_lines.size() - 1].substr(0, 20), "2026-12-10 03:12:05 ");
  EXPECT_EQ(Count("2026-12-10 03:12:05 Server logging started."), 1u);
}

TEST_F(CoreAuditTest, TheLogGenerationsAndTheTrailsLimitsAreApplied) {
  fakes_.SetValue(config::kAuditLog, "1");
  fakes_.SetValue(config::kAuditMaxBytes, "300");
  fakes_.SetValue(config::kAuditMaxFiles, "2");
  fakes_.SetValue(config::kLogMaxFiles, "4");
  fakes_.SetValue(config::kAllowedClients, "127.0.0.1");
  ASSERT_EQ(Load(), "");
  EXPECT_EQ(fakes_.log_max_files, 4u);
  for (int i = 0; i < 5; ++i) {
    Refuse("10.0.1." + std::to_string(i));
    fakes_.tick_ms += 1000;  // below the ceiling per second
  }
  EXPECT_EQ(files_.files.size(), 3u);  // audit.log and two generations
  for (const auto& [path, text] : files_.files) EXPECT_LE(text.size(), 300u) << path;
}

TEST_F(CoreAuditTest, AWrongValueIsAnErrorOfTheRead) {
  fakes_.SetValue(config::kAuditLog, "Yes");
  EXPECT_EQ(Load(), "AuditLog must be 0 or 1, not 'Yes'");
  EXPECT_TRUE(core_.AuditOn());  // fails closed
  fakes_.SetValue(config::kAuditLog, "1");
  fakes_.SetValue(config::kLogMaxFiles, "0");
  EXPECT_EQ(Load(), "LogMaxFiles must be 1 or more, not '0'");
}

}  // namespace
}  // namespace halv::testing
