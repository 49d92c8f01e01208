// The service core over fake ports: LoadConfiguration's rules as one table of
// registry states, the server-log and event-log lines, the greeting and the
// connection lines, the receipt road to the interpreter, and the INIT and
// CYCLE restart semantics.
#include "service_core.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "config_schema.h"
#include "fake_service_ports.h"
#include "halv_error.h"
#include "line_assembler.h"
#include "recording_connection.h"
#include "simulated_manager.h"

namespace halv::testing {
namespace {

using Lines = std::vector<std::string>;

const std::string kLogDate = "07 December 2026 11:05:09 PM";
const std::string kGreetingDate = "7 December 2026 11:05:09 PM";

// The lines a complete default configuration writes, in order.
Lines DefaultLogLines() {
  return {"Server logging started.",
          "Service started on " + kLogDate,
          "Service is using C:\\Halvexa\\halvexa351.exe",
          "Service version 3.5.1.1",
          "Service running on server TESTHOST",
          "Service running as SYSTEM",
          "Service is listening on port 9007",
          "Service timeout for stopping dependencies is 30000",
          "Service will stop dependent services"};
}

// The first `n` default lines.
Lines FirstLines(std::size_t n) {
  Lines all = DefaultLogLines();
  all.resize(n);
  return all;
}

ServiceFields DefaultFields() {
  ServiceFields f;
  f.version = "3.5.1.1";
  f.server_name = "TESTHOST";
  f.app_path = "C:\\Halvexa";
  f.log_pathfile = "C:\\Halvexa\\log\\serverlog.txt";
  f.exec_name = "halvexa351.exe";
  f.log_on_as = "SYSTEM";
  f.bin_pathname = "C:\\Halvexa\\halvexa351.exe";
  return f;
}

void ExpectFields(const ServiceFields& got, const ServiceFields& want) {
  EXPECT_EQ(got.version, want.version);
  EXPECT_EQ(got.server_name, want.server_name);
  EXPECT_EQ(got.app_path, want.app_path);
  EXPECT_EQ(got.log_pathfile, want.log_pathfile);
  EXPECT_EQ(got.exec_name, want.exec_name);
  EXPECT_EQ(got.log_on_as, want.log_on_as);
  EXPECT_EQ(got.bin_pathname, want.bin_pathname);
  EXPECT_EQ(got.stop_timeout, want.stop_timeout);
  EXPECT_EQ(got.grace_period, want.grace_period);
  EXPECT_EQ(got.port, want.port);
  EXPECT_EQ(got.verbose, want.verbose);
  EXPECT_EQ(got.stop_dependencies, want.stop_dependencies);
  EXPECT_EQ(got.restart_dependents, want.restart_dependents);
  EXPECT_EQ(got.list_filter, want.list_filter);
  EXPECT_EQ(got.update_enabled, want.update_enabled);
  EXPECT_EQ(got.watch_enabled, want.watch_enabled);
}

// Runs one line of connection 1 as the connection driver hands it over.
void RunLine(ServiceCore& core, Connection& client, std::string_view line) {
  auto words = std::make_unique<CommandLine>();
  SplitWords(line, *words);
  core.RunLine(1, client, *words);
}

// A core over fakes holding a complete configuration for port 9007.
class CoreTest : public ::testing::Test {
 protected:
  CoreTest() {
    fakes_.SetRequiredValues();
    fakes_.SetValue(config::kPort, "9007");
    fakes_.SetValue(config::kServiceStopTimeOut, "30000");
    fakes_.SetValue(config::kStopDependencies, "1");
  }

  // The error text LoadConfiguration raises, "" when it returns.
  std::string Load() {
    try {
      core_.LoadConfiguration();
      return "";
    } catch (const std::exception& e) {
      return e.what();
    }
  }

  SimulatedManager scm_;
  FakeServicePorts fakes_{scm_};
  ServiceCore core_{fakes_.Ports(), EnglishMonthNames()};
};

struct LoadCase {
  const char* name;
  // Values to change: a text, or nothing to remove the value.
  std::vector<std::pair<std::string, std::optional<std::string>>> values;
  // Values stored with a non-string type.
  std::vector<std::string> non_string;
  // The listener is open on port 9007 while the configuration is read.
  bool listening;
  std::string error;  // "" when the read succeeds
  Lines events;
  Lines log;
  // Changes from DefaultFields().
  std::function<void(ServiceFields&)> fields;
};

// Absolute paths of 600 characters (relative ones are refused).
const std::string kLongBaseDir = "C:\\" + std::string(597, 'b');
const std::string kLong600 = "C:\\" + std::string(597, 'd');

const LoadCase kLoadCases[] = {
    {"Complete", {}, {}, false, "", {}, DefaultLogLines(), [](ServiceFields&) {}},
    {"VerboseOne",
     {{config::kVerboseLogging, "1"}},
     {},
     false,
     "",
     {},
     [] {
       Lines l = DefaultLogLines();
       l.insert(l.begin() + 2, "Service is in verbose logging mode.");
       return l;
     }(),
     [](ServiceFields& f) { f.verbose = true; }},
    {"VerboseOtherNumberIsOff",
     {{config::kVerboseLogging, "2"}},
     {},
     false,
     "",
     {},
     DefaultLogLines(),
     [](ServiceFields&) {}},
    {"MissingVerboseLogging",
     {{config::kVerboseLogging, std::nullopt}},
     {},
     false,
     "'' is not a valid integer value",
     {},
     FirstLines(2),
     [](ServiceFields& f) { f.version = f.server_name = f.log_on_as = f.bin_pathname = ""; }},
    {"PortAsDword",
     {{config::kPort, "9010"}},
     {config::kPort},
     false,
     "Invalid data type for 'Port'",
     {},
     FirstLines(6),
     [](ServiceFields&) {}},
    {"PortNotAWholeNumber",
     {{config::kPort, "90 07"}},
     {},
     false,
     "'90 07' is not a valid integer value",
     {},
     FirstLines(6),
     [](ServiceFields&) {}},
    {"TimeOutNotAWholeNumber",
     {{config::kServiceStopTimeOut, "30s"}},
     {},
     false,
     "'30s' is not a valid integer value",
     {},
     FirstLines(7),
     [](ServiceFields&) {}},
    {"StopDependenciesNotAWholeNumber",
     {{config::kStopDependencies, "Yes"}},
     {},
     false,
     "'Yes' is not a valid integer value",
     {},
     FirstLines(8),
     [](ServiceFields&) {}},
    {"StopDependenciesZero",
     {{config::kStopDependencies, "0"}, {config::kServiceStopTimeOut, "-5"}},
     {},
     false,
     "",
     {},
     [] {
       Lines l = DefaultLogLines();
       l[7] = "Service timeout for stopping dependencies is -5";
       l[8] = "Service will not stop dependent services";
       return l;
     }(),
     [](ServiceFields& f) {
       f.stop_dependencies = false;
       f.stop_timeout = -5;
     }},
    {"MissingPortTimeOutAndStopDependenciesTakeDefaults",
     {{config::kPort, std::nullopt},
      {config::kServiceStopTimeOut, std::nullopt},
      {config::kStopDependencies, std::nullopt}},
     {},
     false,
     "",
     {},
     DefaultLogLines(),
     [](ServiceFields&) {}},
    {"OtherPort",
     {{config::kPort, "9100"}},
     {},
     false,
     "",
     {},
     [] {
       Lines l = DefaultLogLines();
       l[6] = "Service is listening on port 9100";
       return l;
     }(),
     [](ServiceFields& f) { f.port = 9100; }},
    // Without a BaseDir the log library has no full path: no log.
    {"MissingBaseDir",
     {{config::kBaseDir, std::nullopt}},
     {},
     false,
     "",
     {"Unable to find base directory.  Check path and filename.",
      "The log library is not loaded: BaseDir must be an absolute path."},
     {},
     [](ServiceFields& f) {
       f.app_path = f.exec_name = "";
       f.bin_pathname = "\\";
     }},
    {"MissingExecName",
     {{config::kExecName, std::nullopt}},
     {},
     false,
     "",
     {"Unable to find exec name.  Check path and filename."},
     [] {
       Lines l = DefaultLogLines();
       l[2] = "Service is using C:\\Halvexa\\";
       return l;
     }(),
     [](ServiceFields& f) {
       f.exec_name = "";
       f.bin_pathname = "C:\\Halvexa\\";
     }},
    {"MissingLogDir",
     {{config::kLogDir, std::nullopt}},
     {},
     false,
     "",
     {"Unable to find log file directory.  Check path and filename."},
     {},
     [](ServiceFields& f) { f.log_pathfile = ""; }},
    {"AllThreeMissing",
     {{config::kBaseDir, std::nullopt}, {config::kLogDir, std::nullopt}},
     {},
     false,
     "",
     {"Unable to find base directory.  Check path and filename.",
      "Unable to find log file directory.  Check path and filename."},
     {},
     [](ServiceFields& f) {
       f.app_path = f.exec_name = f.log_pathfile = "";
       f.bin_pathname = "\\";
     }},
    {"ValuesLongerThanTheirFields",
     {{config::kBaseDir, kLongBaseDir},
      {config::kExecName, std::string(300, 'e')},
      {config::kLogDir, kLong600}},
     {},
     false,
     "",
     {},
     [] {
       Lines l = DefaultLogLines();
       l[2] = "Service is using " + kLongBaseDir.substr(0, 511) + "\\" + std::string(255, 'e');
       return l;
     }(),
     [](ServiceFields& f) {
       f.app_path = kLongBaseDir.substr(0, 511);
       f.exec_name = std::string(255, 'e');
       f.log_pathfile = kLong600.substr(0, 511);
       f.bin_pathname = f.app_path + "\\" + f.exec_name;
     }},
    {"ChangedPortWhileListening",
     {{config::kPort, "9010"}},
     {},
     true,
     "Can't change value while socket is active",
     {},
     FirstLines(6),
     [](ServiceFields& f) { f.port = 9010; }},
    {"SamePortWhileListening", {}, {}, true, "", {}, DefaultLogLines(), [](ServiceFields&) {}},
    // RestartDependents is read last: on, it is logged; a faulty one leaves
    // everything before it applied.
    {"RestartDependentsOn",
     {{config::kRestartDependents, "1"}},
     {},
     false,
     "",
     {},
     [] {
       Lines l = DefaultLogLines();
       l.push_back("Service will restart the dependent services it stops");
       return l;
     }(),
     [](ServiceFields& f) { f.restart_dependents = true; }},
    {"ListFilterOn",
     {{config::kListFilter, "1"}},
     {},
     false,
     "",
     {},
     [] {
       Lines l = DefaultLogLines();
       l.push_back("Service will filter LIST by a name pattern");
       return l;
     }(),
     [](ServiceFields& f) { f.list_filter = true; }},
    {"UpdateAndWatchEnabledOn",
     {{config::kUpdateEnabled, "1"}, {config::kWatchEnabled, "1"}},
     {},
     false,
     "",
     {},
     [] {
       Lines l = DefaultLogLines();
       l.push_back("Service will change start types and display names on UPDATE");
       l.push_back("Service will report changes of state on WATCH");
       return l;
     }(),
     [](ServiceFields& f) { f.update_enabled = f.watch_enabled = true; }},
    {"WatchEnabledNotAWholeNumber",
     {{config::kUpdateEnabled, "1"}, {config::kWatchEnabled, "on"}},
     {},
     false,
     "'on' is not a valid integer value",
     {},
     DefaultLogLines(),
     [](ServiceFields& f) { f.update_enabled = true; }},
    {"RestartDependentsOff",
     {{config::kRestartDependents, "0"}},
     {},
     false,
     "",
     {},
     DefaultLogLines(),
     [](ServiceFields&) {}},
    {"RestartDependentsNotAWholeNumber",
     {{config::kRestartDependents, "Yes"}},
     {},
     false,
     "'Yes' is not a valid integer value",
     {},
     DefaultLogLines(),
     [](ServiceFields&) {}},
    {"LogDirAsDword",
     {},
     {config::kLogDir},
     false,
     "Invalid data type for 'LogDir'",
     {},
     {},
     [](ServiceFields& f) {
       f.version = f.server_name = f.log_on_as = f.bin_pathname = f.log_pathfile = "";
     }},
};

class LoadConfigurationTest : public CoreTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadConfigurationTest, GivesTheFieldsOrTheError) {
  const LoadCase& c = GetParam();
  for (const auto& [name, value] : c.values) {
    if (value)
      fakes_.SetValue(name, *value);
    else
      fakes_.RemoveValue(name);
  }
  for (const std::string& name : c.non_string) fakes_.SetNonString(name);
  fakes_.active = c.listening;

  EXPECT_EQ(Load(), c.error);

  ServiceFields want = DefaultFields();
  c.fields(want);
  ExpectFields(core_.Fields(), want);
  EXPECT_EQ(fakes_.event_lines, c.events);
  EXPECT_EQ(fakes_.log_lines, c.log);
  // The listener only changes port while closed.
  EXPECT_EQ(fakes_.port, c.listening ? 9007 : (c.error.empty() ? want.port : 9007));
  EXPECT_EQ(fakes_.open_calls, 0);
}

INSTANTIATE_TEST_SUITE_P(Registry, LoadConfigurationTest, ::testing::ValuesIn(kLoadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CoreTest, ReadsTheValuesInTheirFixedOrder) {
  ASSERT_EQ(Load(), "");
  EXPECT_EQ(fakes_.reads(),
            (Lines{"BaseDir", "ExecName", "LogDir", "VerboseLogging", "Port", "ServiceStopTimeOut",
                   "StopDependencies", "RequireAuth", "ListenAddress", "AllowedClients",
                   "MaxClients", "IdleTimeout", "LogMaxBytes", "RestartDependents", "ListFilter",
                   "UpdateEnabled", "WatchEnabled",
                   "AuditLog", "AuditMaxBytes", "AuditMaxFiles", "LogTimestamps", "LogMaxFiles",
                   "LoginTimeout", "MaxClientsPerAddress"}));
  EXPECT_EQ(fakes_.version_paths, (Lines{"C:\\Halvexa\\halvexa351.exe"}));
}

TEST_F(CoreTest, OpensTheLogThroughTheLibraryInBaseDir) {
  ASSERT_EQ(Load(), "");
  ASSERT_EQ(fakes_.opened_logs.size(), 1u);
  EXPECT_EQ(fakes_.opened_logs[0].first, "C:\\Halvexa\\halvsyslog.dll");
  EXPECT_EQ(fakes_.opened_logs[0].second, "C:\\Halvexa\\log\\serverlog.txt");
}

TEST_F(CoreTest, ARereadClosesTheOldLogBeforeOpeningTheNew) {
  ASSERT_EQ(Load(), "");
  EXPECT_EQ(fakes_.live_logs(), 1);
  ASSERT_EQ(Load(), "");
  EXPECT_EQ(fakes_.opened_logs.size(), 2u);
  EXPECT_EQ(fakes_.live_logs(), 1);
}

TEST_F(CoreTest, AnUnreadableVersionResourceEndsTheRead) {
  fakes_.version_failure = "Unable to read the version resource of 'C:\\Halvexa\\halvexa351.exe'";
  EXPECT_EQ(Load(), fakes_.version_failure);
  EXPECT_EQ(fakes_.log_lines, FirstLines(3));
}

TEST_F(CoreTest, NamesLongerThanTheirFieldsAreCut) {
  fakes_.file_version = std::string(200, '9');
  fakes_.computer_name = std::string(100, 'C');
  fakes_.user_name = std::string(300, 'U');
  ASSERT_EQ(Load(), "");
  EXPECT_EQ(core_.Fields().version, std::string(127, '9'));
  EXPECT_EQ(core_.Fields().server_name, std::string(63, 'C'));
  EXPECT_EQ(core_.Fields().log_on_as, std::string(255, 'U'));
}

TEST_F(CoreTest, ReinitializeRecordsTheErrorAndReportsFailure) {
  fakes_.SetValue(config::kPort, "x");
  EXPECT_FALSE(core_.Reinitialize());
  EXPECT_EQ(fakes_.event_lines, (Lines{"'x' is not a valid integer value"}));
  fakes_.SetValue(config::kPort, "9007");
  EXPECT_TRUE(core_.Reinitialize());
  EXPECT_EQ(fakes_.event_lines.size(), 1u);
}

// --- Lifecycle

TEST_F(CoreTest, StartReadsTheConfigurationThenReopensTheListener) {
  core_.ServiceStart();
  EXPECT_EQ(fakes_.close_calls, 1);
  EXPECT_EQ(fakes_.open_calls, 1);
  EXPECT_TRUE(fakes_.active);
  core_.ServiceRunning();
  Lines want = DefaultLogLines();
  want.push_back("Service is running.");
  EXPECT_EQ(fakes_.log_lines, want);
}

TEST_F(CoreTest, AFailedStartRaisesAndOpensNothing) {
  fakes_.RemoveValue(config::kVerboseLogging);
  EXPECT_THROW(core_.ServiceStart(), Error);
  EXPECT_EQ(fakes_.open_calls, 0);
}

TEST_F(CoreTest, StopAndShutdownWriteTheirLastLineAndCloseTheLog) {
  const struct {
    void (ServiceCore::*call)();
    const char* line;
  } cases[] = {{&ServiceCore::ServiceStop, "Service is stopped."},
               {&ServiceCore::ServiceShutdown, "Service is down."}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    fakes_.log_lines.clear();
    core_.ServiceStart();
    core_.ArmRestart(30000);
    const int stops = fakes_.timer_stops;
    (core_.*c.call)();
    EXPECT_EQ(fakes_.log_lines.back(), c.line);
    EXPECT_EQ(fakes_.live_logs(), 0);
    EXPECT_FALSE(fakes_.active);
    EXPECT_FALSE(core_.Timer1Enabled());
    EXPECT_EQ(fakes_.timer_stops, stops + 1);
  }
}

// --- Connections

TEST_F(CoreTest, GreetingIsSentPieceByPiece) {
  ASSERT_EQ(Load(), "");
  RecordingConnection client("127.0.0.5");
  core_.ServerSocket1ClientConnect(client, "127.0.0.5");
  EXPECT_EQ(client.sends(),
            (Lines{"\n\rHalvexa: Version 3.5.1.1",
                   "\n\rTenmark Halvexa remote service control, (c) Tenmark Software.",
                   "\n\r\n\rConnected to: TESTHOST\n\rService running as: SYSTEM\n\rLocal Server "
                   "Date: " +
                       kGreetingDate,
                   "\n\r:: "}));
  // Not verbose: connections are not logged.
  core_.ServerSocket1ClientDisconnect("127.0.0.5");
  EXPECT_EQ(fakes_.log_lines, DefaultLogLines());
}

TEST_F(CoreTest, VerboseModeLogsConnectAndDisconnect) {
  fakes_.SetValue(config::kVerboseLogging, "1");
  ASSERT_EQ(Load(), "");
  fakes_.log_lines.clear();
  RecordingConnection client("127.0.0.5");
  core_.ServerSocket1ClientConnect(client, "127.0.0.5");
  fakes_.now.second = 30;
  core_.ServerSocket1ClientDisconnect("127.0.0.5");
  EXPECT_EQ(fakes_.log_lines, (Lines{"Client (127.0.0.5) connected at " + kGreetingDate,
                                     "Client (127.0.0.5) disconnected at 7 December 2026 "
                                     "11:05:30 PM"}));
}

// --- INIT and CYCLE

TEST_F(CoreTest, InitRereadsTheConfigurationAndReportsAFailure) {
  ASSERT_EQ(Load(), "");
  RecordingConnection client;
  fakes_.SetValue(config::kServiceStopTimeOut, "45000");
  RunLine(core_, client, "init");
  EXPECT_EQ(core_.Fields().stop_timeout, 45000);
  EXPECT_EQ(client.sends(), (Lines{"Reinitializing server.\n\r", ":: "}));

  client.ClearSends();
  fakes_.SetValue(config::kPort, "9010");
  fakes_.active = true;  // listening: the port cannot change
  RunLine(core_, client, "init");
  EXPECT_EQ(
      client.sends(),
      (Lines{"Reinitializing server.\n\r",
             "Error reinitializing server, please check logfile and system logs.\n\r", ":: "}));
  EXPECT_EQ(fakes_.event_lines, (Lines{"Can't change value while socket is active"}));
}

TEST_F(CoreTest, ArmingAnArmedTimerWithTheSameIntervalKeepsItsDeadline) {
  core_.ArmRestart(30000);
  core_.ArmRestart(30000);
  EXPECT_EQ(fakes_.timer_starts, (std::vector<std::int32_t>{30000}));
  EXPECT_TRUE(core_.Timer1Enabled());
  core_.ArmRestart(5000);
  EXPECT_EQ(fakes_.timer_starts, (std::vector<std::int32_t>{30000, 5000}));
}

TEST_F(CoreTest, ATimerThatCannotStartIsRecordedAndLeftDisarmed) {
  fakes_.timer_failure = "Not enough quota is available to process this command.";
  core_.ArmRestart(30000);
  EXPECT_FALSE(core_.Timer1Enabled());
  EXPECT_EQ(fakes_.event_lines, (Lines{fakes_.timer_failure}));
  fakes_.timer_failure.clear();
  core_.ArmRestart(30000);  // a later CYCLE tries again
  EXPECT_TRUE(core_.Timer1Enabled());
  EXPECT_EQ(fakes_.timer_starts.size(), 2u);
}

TEST_F(CoreTest, CycleArmsTheTimerWhichRestartsTheListenerOnce) {
  core_.ServiceStart();
  core_.ServiceRunning();
  RecordingConnection client;
  fakes_.clients = {&client};
  RunLine(core_, client, "cycle");
  EXPECT_EQ(fakes_.timer_starts, (std::vector<std::int32_t>{30000}));
  ASSERT_TRUE(core_.Timer1Enabled());

  fakes_.log_lines.clear();
  core_.Timer1Timer();
  Lines want = {"Service is restarting."};
  for (const std::string& line : DefaultLogLines()) want.push_back(line);
  want.push_back("Service is running.");
  EXPECT_EQ(fakes_.log_lines, want);
  EXPECT_EQ(fakes_.close_calls, 2);
  EXPECT_EQ(fakes_.open_calls, 2);
  EXPECT_FALSE(core_.Timer1Enabled());
  EXPECT_EQ(fakes_.timer_stops, 1);
}

TEST_F(CoreTest, AFailedRestartLeavesTheTimerArmedToTryAgain) {
  core_.ServiceStart();
  core_.ArmRestart(30000);
  fakes_.open_failure = "Windows socket error: bind";
  EXPECT_THROW(core_.Timer1Timer(), Error);
  EXPECT_TRUE(core_.Timer1Enabled());
  EXPECT_EQ(fakes_.timer_stops, 0);
  fakes_.open_failure.clear();
  core_.Timer1Timer();
  EXPECT_FALSE(core_.Timer1Enabled());
}

}  // namespace
}  // namespace halv::testing
