// halvexa.exe against the real service under Wine: LIST, STATUS, START, STOP
// and DISPLAY of a test service as a table and as JSON, and one run over a
// host list that mixes the service (several entries), a closed port and a
// listener that never answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "auth/auth.h"
#include "config_schema.h"
#include "service_harness.h"
#include "win/registry.h"

namespace {

using namespace std::chrono_literals;

constexpr char kTestService[] = "HalvCliTestSvc";

struct ClientRun {
  DWORD status = 0;
  std::string out, err;
  double seconds = 0;
};

// An inheritable handle to a new file for the child's output.
HANDLE OutputFile(const std::string& path) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

class ClientTest : public halv::e2e::InstalledServiceTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(halv::e2e::InstallTestService(kTestService, "Halvexa client test service"));
    InstalledServiceTest::SetUp();
    dir_ = halv::e2e::MakeTempDir("client");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    InstalledServiceTest::TearDown();
    EXPECT_TRUE(halv::e2e::RemoveTestService(kTestService));
    halv::DeleteRegKeyTree("SOFTWARE\\HalvexaTests\\Services", kTestService);
  }

  // halvexa.exe started with `arguments`, its output going to files named
  // after `name`; Finish waits for it and reads them.
  struct Running {
    PROCESS_INFORMATION pi = {};
    std::string out_path, err_path;
    std::chrono::steady_clock::time_point start;
  };
  Running Spawn(const std::string& arguments, const std::string& name = "out") {
    Running running;
    running.out_path = dir_ + "\\" + name + ".txt";
    running.err_path = dir_ + "\\" + name + "-err.txt";
    HANDLE out = OutputFile(running.out_path);
    HANDLE err = OutputFile(running.err_path);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = err;
    std::string command = "\"" + halv::e2e::BinDir() + "\\halvexa.exe\" " + arguments;
    running.start = std::chrono::steady_clock::now();
    const BOOL created = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &si, &running.pi);
    CloseHandle(out);
    CloseHandle(err);
    EXPECT_TRUE(created) << command;
    if (!created) running.pi = {};
    return running;
  }
  ClientRun Finish(Running& running) {
    ClientRun run;
    if (running.pi.hProcess == nullptr) return run;
    EXPECT_EQ(WaitForSingleObject(running.pi.hProcess, 120000), WAIT_OBJECT_0);
    run.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - running.start).count();
    GetExitCodeProcess(running.pi.hProcess, &run.status);
    CloseHandle(running.pi.hThread);
    CloseHandle(running.pi.hProcess);
    running.pi = {};
    run.out = halv::e2e::ReadFileBytes(running.out_path);
    run.err = halv::e2e::ReadFileBytes(running.err_path);
    return run;
  }
  // Runs halvexa.exe with `arguments` to its end.
  ClientRun Halvexa(const std::string& arguments) {
    Running running = Spawn(arguments);
    return Finish(running);
  }

  // The -H argument and the label for the service (its port is known once
  // it runs).
  std::string HostArgument() const { return "-H " + Label() + " "; }
  std::string Label() const { return "127.0.0.1:" + std::to_string(Port()); }
  std::string dir_;
};

bool Matches(const std::string& text, const std::string& pattern) {
  return std::regex_search(text, std::regex(pattern));
}

// DEPS and STOP --dry-run against the real service: the table (Wine's
// manager lists no dependants, so it has no rows; the native tests cover the
// rows) and nothing stopped; RSTRT with RestartDependents on still restarts
// and reports no dependant.
TEST_F(ClientTest, DepsDryRunAndRestartWithRestartDependents) {
  ASSERT_TRUE(halv::e2e::SetSystemValue("RestartDependents", "1"));
  StartRunning();
  ASSERT_EQ(halv::e2e::StartAndWait(kTestService), static_cast<DWORD>(SERVICE_RUNNING));
  const std::string target = HostArgument();

  ClientRun deps = Halvexa(target + "deps HalvCliTestSvc");
  EXPECT_EQ(deps.status, 0u) << deps.out << deps.err;
  EXPECT_EQ(deps.out, "HOST  SERVICE  DEPENDANT  DISPLAY NAME  STATE\n");
  ClientRun dry = Halvexa("--json " + target + "stop --dry-run HalvCliTestSvc");
  EXPECT_EQ(dry.status, 0u) << dry.out << dry.err;
  EXPECT_NE(dry.out.find("\"command\":\"DEPS\",\"service\":\"HalvCliTestSvc\",\"dependants\":[]"),
            std::string::npos)
      << dry.out;
  EXPECT_EQ(halv::e2e::ServiceState(kTestService), static_cast<DWORD>(SERVICE_RUNNING));
  ClientRun missing = Halvexa(target + "deps NoSuchServiceHere");
  EXPECT_EQ(missing.status, 1u) << missing.out;
  EXPECT_TRUE(Matches(missing.out, "error 1060: Service does not exist\\.\n$")) << missing.out;

  ClientRun restart = Halvexa("--json " + target + "rstrt HalvCliTestSvc");
  EXPECT_EQ(restart.status, 0u) << restart.out << restart.err;
  EXPECT_NE(restart.out.find("\"stop\":{\"done\":true},\"start\":{\"done\":true},\"text\""),
            std::string::npos)
      << restart.out;
  EXPECT_EQ(halv::e2e::ServiceState(kTestService), static_cast<DWORD>(SERVICE_RUNNING));
}

// halvexa audit against the service with AuditLog on: the records the
// client's own START and STOP made, as a table and as JSON lines, the same
// host asked twice as a fleet.
TEST_F(ClientTest, AuditShowsTheRecordsOfTheCommandsMade) {
  ASSERT_TRUE(halv::e2e::SetSystemValue("AuditLog", "1"));
  StartRunning();
  const std::string target = HostArgument();
  const std::string host = "127\\.0\\.0\\.1:" + std::to_string(Port());

  ClientRun none = Halvexa(target + "audit");
  EXPECT_EQ(none.status, 0u) << none.out << none.err;
  EXPECT_EQ(none.out, "HOST  TIME  EVENT  USER  PEER  COMMAND  RESULT  TEXT\n");
  ASSERT_EQ(Halvexa(target + "start HalvCliTestSvc").status, 0u);
  ASSERT_EQ(Halvexa(target + "stop HalvCliTestSvc").status, 0u);
  EXPECT_EQ(Halvexa(target + "start NoSuchServiceHere").status, 1u);

  const std::string time = "20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z";
  ClientRun table = Halvexa(target + "audit 2");
  EXPECT_EQ(table.status, 0u) << table.out << table.err;
  EXPECT_TRUE(Matches(table.out,
                      "^HOST +TIME +EVENT +USER +PEER +COMMAND +RESULT +TEXT\n" + host + " +" +
                          time + " +command +Anonymous +127\\.0\\.0\\.1 +STOP HalvCliTestSvc +0 +"
                          "carried out\n" + host + " +" + time +
                          " +command-failed +Anonymous +127\\.0\\.0\\.1 +START NoSuchServiceHere +"
                          "1060 +Service does not exist\\.\n$"))
      << table.out;

  ClientRun lines = Halvexa("--json-lines " + target + "-H " + Label() + " audit 3");
  EXPECT_EQ(lines.status, 0u) << lines.out << lines.err;
  const std::string start = "\\{\"host\":\"" + host + "\",\"time\":\"" + time +
                            "\",\"event\":\"command\",\"user\":\"Anonymous\",\"peer\":"
                            "\"127\\.0\\.0\\.1\",\"command\":\"START HalvCliTestSvc\",\"service\":"
                            "\"HalvCliTestSvc\",\"result\":0,\"text\":\"carried out\"\\}\n";
  const std::string record = "\\{\"host\":\"" + host + "\",[^\n]*\\}\n";
  // Each host's three records, the hosts in the order given.
  EXPECT_TRUE(Matches(lines.out, "^(" + start + record + record + "){2}$")) << lines.out;
}

// UPDATE with UpdateEnabled: a display name given as one argument, seen by
// the next LIST (ListFilter on, by a pattern of the new name), and a bad
// start type answered with the server's line and status 1.
TEST_F(ClientTest, UpdateShowsTheServersLineAndTheNextListSeesTheChange) {
  ASSERT_TRUE(halv::e2e::SetSystemValue("UpdateEnabled", "1"));
  ASSERT_TRUE(halv::e2e::SetSystemValue("ListFilter", "1"));
  StartRunning();
  const std::string target = HostArgument();
  const std::string host = "127\\.0\\.0\\.1:" + std::to_string(Port());
  ClientRun renamed =
      Halvexa(target + "update HalvCliTestSvc displayname \"Halvexa renamed client service\"");
  EXPECT_EQ(renamed.status, 0u) << renamed.out << renamed.err;
  EXPECT_TRUE(Matches(renamed.out, "^HOST +SERVICE +RESULT\n" + host +
                                       " +HalvCliTestSvc +Service updated: HalvCliTestSvc "
                                       "DisplayName Halvexa renamed client service\n$"))
      << renamed.out;
  ClientRun list = Halvexa(target + "list *renamed?client*");
  EXPECT_EQ(list.status, 0u) << list.out;
  EXPECT_TRUE(Matches(list.out, "\n" + host + " +HalvCliTestSvc +Stopped +Demand +LocalSystem\n$"))
      << list.out;

  ClientRun bad = Halvexa("--json " + target + "update HalvCliTestSvc starttype Sometimes");
  EXPECT_EQ(bad.status, 1u) << bad.out;
  EXPECT_NE(bad.out.find("\"outcome\":\"failed\",\"error\":\"501-Unknown StartType 'Sometimes'; "
                         "valid values: Automatic, Delayed, Manual, Disabled\""),
            std::string::npos)
      << bad.out;
  ClientRun missing = Halvexa(target + "update NoSuchServiceHere displayname x");
  EXPECT_EQ(missing.status, 1u) << missing.out;
  EXPECT_TRUE(Matches(missing.out, host + " +NoSuchServiceHere +error 1060: Service does not "
                                          "exist\\.\n$"))
      << missing.out;
}

// WATCH with WatchEnabled: halvexa watch, running while the test service is
// stopped and started, writes a JSON line for each change until its count;
// the table form ends at its time-out with the header alone when nothing
// changes.
TEST_F(ClientTest, WatchSeesAStopAndAStartOfTheTestService) {
  ASSERT_TRUE(halv::e2e::SetSystemValue("WatchEnabled", "1"));
  // Each change lasts long enough for the watch's first poll to come before
  // it has run its course.
  const std::string timings = std::string("SOFTWARE\\HalvexaTests\\Services\\") + kTestService;
  halv::WriteRegString(timings, "StopDelay", "2000", true);
  halv::WriteRegString(timings, "StartDelay", "2000", true);
  ASSERT_EQ(halv::e2e::StartAndWait(kTestService), static_cast<DWORD>(SERVICE_RUNNING));
  StartRunning();
  const std::string target = HostArgument();
  halv::e2e::Client who;
  ASSERT_TRUE(who.Connect(Port()));
  who.ReadUntil("\n\r:: ");

  Running watch =
      Spawn("--json-lines --count 3 --timeout 90 " + target + "watch HalvCliTestSvc", "watch");
  // The watch has its connection once WHO lists two clients.
  const auto rows = [&who] {
    const std::string text = who.Ask("who");
    std::size_t count = 0;
    for (std::size_t at = text.find(" anonymous "); at != std::string::npos;
         at = text.find(" anonymous ", at + 1))
      ++count;
    return count;
  };
  ASSERT_TRUE(halv::e2e::WaitUntil([&] { return rows() >= 2; }, 30s));
  EXPECT_EQ(halv::e2e::StopAndWait(kTestService), static_cast<DWORD>(SERVICE_STOPPED));
  // The start only once the watch has written the stop (its rows are
  // written as they come): a poll a second could miss a short stop.
  EXPECT_TRUE(halv::e2e::WaitUntil(
      [&] {
        return halv::e2e::ReadFileBytes(watch.out_path).find("\"state\":\"Stopped\"") !=
               std::string::npos;
      },
      30s))
      << halv::e2e::ReadFileBytes(watch.out_path);
  EXPECT_EQ(halv::e2e::StartAndWait(kTestService), static_cast<DWORD>(SERVICE_RUNNING));
  ClientRun run = Finish(watch);
  EXPECT_EQ(run.status, 0u) << run.out << run.err;
  // Three changes of one chain: from Running (or already Stopping), through
  // Stopped, on towards Running.
  const std::regex line(
      "\\{\"host\":\"127\\.0\\.0\\.1:[0-9]+\",\"time\":\"20[0-9]{2}-[0-1][0-9]-[0-3][0-9]T[0-2][0-"
      "9]:"
      "[0-5][0-9]:[0-5][0-9]\",\"service\":\"HalvCliTestSvc\",\"state\":\"([A-Za-z]+)\","
      "\"previous\":\"([A-Za-z]+)\"\\}\n");
  std::vector<std::pair<std::string, std::string>> changes;  // {previous, state}
  for (std::sregex_iterator it(run.out.begin(), run.out.end(), line), end; it != end; ++it)
    changes.emplace_back((*it)[2].str(), (*it)[1].str());
  ASSERT_EQ(changes.size(), 3u) << run.out;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 3) << run.out;
  EXPECT_TRUE(changes[0].first == "Running" || changes[0].first == "Stopping") << run.out;
  bool stopped = false;
  for (std::size_t i = 0; i < changes.size(); ++i) {
    if (i != 0) {
      EXPECT_EQ(changes[i].first, changes[i - 1].second) << run.out;
    }
    stopped = stopped || changes[i].second == "Stopped";
  }
  EXPECT_TRUE(stopped) << run.out;

  ClientRun quiet = Halvexa("--timeout 2 " + target + "watch HalvCliTestSvc");
  EXPECT_EQ(quiet.status, 0u) << quiet.err;
  EXPECT_TRUE(Matches(quiet.out, "^HOST +TIME +SERVICE +STATE\n$")) << quiet.out;
}

// --user against the real service: without logins the command runs with a
// warning that the login was not needed; with RequireAuth "1" the 230 reply
// is a login (a password with a blank in it, as the server takes it) and a
// wrong password fails that host with the server's line.
TEST_F(ClientTest, UserLogsInWhereLoginsAreOnAndWarnsWhereTheyAreOff) {
  const std::string admin = halv::config::kUsersKey + "\\Admin";
  halv::WriteRegString(admin, "Auth", halv::auth::AuthFromPassword("pw word"), true);
  halv::WriteRegString(admin, "AllowStatus", "1", true);
  StartRunning();
  const std::string target = HostArgument();
  ASSERT_TRUE(SetEnvironmentVariableA("HALVEXA_PASSWORD", "pw word"));

  ClientRun off = Halvexa("--user Admin " + target + "status HalvCliTestSvc");
  EXPECT_EQ(off.status, 0u) << off.out << off.err;
  EXPECT_TRUE(Matches(off.out, "HalvCliTestSvc +Stopped\n$")) << off.out;
  EXPECT_NE(off.err.find(": warning: the server has logins off"), std::string::npos) << off.err;

  // Logins on from the next configuration read.
  ASSERT_TRUE(halv::e2e::SetSystemValue("RequireAuth", "1"));
  ClientRun init = Halvexa(target + "init");
  ASSERT_EQ(init.status, 0u) << init.out << init.err;
  ClientRun anonymous = Halvexa(target + "status HalvCliTestSvc");
  ASSERT_EQ(anonymous.status, 1u) << anonymous.out;  // Anonymous holds no AllowStatus

  ClientRun on = Halvexa("--user Admin " + target + "status HalvCliTestSvc");
  EXPECT_EQ(on.status, 0u) << on.out << on.err;
  EXPECT_TRUE(Matches(on.out, "HalvCliTestSvc +Stopped\n$")) << on.out;
  EXPECT_EQ(on.err, "");

  ASSERT_TRUE(SetEnvironmentVariableA("HALVEXA_PASSWORD", "wrong"));
  ClientRun wrong = Halvexa("--user Admin " + target + "status HalvCliTestSvc");
  ASSERT_TRUE(SetEnvironmentVariableA("HALVEXA_PASSWORD", nullptr));
  EXPECT_EQ(wrong.status, 1u) << wrong.out << wrong.err;
  EXPECT_NE(wrong.out.find("error: log-on refused: 530-Login incorrect"), std::string::npos)
      << wrong.out;
}

TEST_F(ClientTest, ListStatusStartStopAndDisplayAsTableAndJson) {
  StartRunning();
  const std::string target = HostArgument();
  const std::string label = Label();
  const std::string host = "127\\.0\\.0\\.1:" + std::to_string(Port());

  ClientRun list = Halvexa(target + "list");
  EXPECT_EQ(list.status, 0u) << list.out << list.err;
  EXPECT_EQ(list.out.rfind("HOST ", 0), 0u) << list.out;
  EXPECT_TRUE(Matches(list.out, "\n" + host + " +HalvCliTestSvc +Stopped +Demand +LocalSystem\n"))
      << list.out;
  EXPECT_TRUE(Matches(list.out, "\n" + host + " +Halvexa351 +Running +Automatic +LocalSystem\n"))
      << list.out;
  ClientRun list_json = Halvexa("--json " + target + "list");
  EXPECT_EQ(list_json.status, 0u);
  EXPECT_EQ(list_json.out.rfind("{\"host\":\"" + label + "\",\"ok\":true,\"outcome\":\"ok\"", 0),
            0u)
      << list_json.out;
  EXPECT_NE(list_json.out.find("{\"name\":\"HalvCliTestSvc\",\"state\":\"Stopped\",\"start_type\":"
                               "\"Demand\",\"account\":\"LocalSystem\"}"),
            std::string::npos)
      << list_json.out;
  EXPECT_EQ(list_json.out.find('\n'), list_json.out.size() - 1);  // one line for one host

  ClientRun status = Halvexa(target + "status HalvCliTestSvc");
  EXPECT_EQ(status.status, 0u);
  EXPECT_TRUE(
      Matches(status.out, "^HOST +SERVICE +STATE\n" + host + " +HalvCliTestSvc +Stopped\n$"))
      << status.out;

  ClientRun start = Halvexa(target + "start HalvCliTestSvc");
  EXPECT_EQ(start.status, 0u) << start.out;
  EXPECT_TRUE(Matches(start.out, "\n" + host + " +HalvCliTestSvc +done\n")) << start.out;
  EXPECT_EQ(halv::e2e::ServiceState(kTestService), static_cast<DWORD>(SERVICE_RUNNING));
  ClientRun running = Halvexa("--json " + target + "STATUS HalvCliTestSvc");
  EXPECT_NE(running.out.find("\"command\":\"STATUS\",\"service\":\"HalvCliTestSvc\",\"state\":"
                             "\"Running\""),
            std::string::npos)
      << running.out;

  ClientRun stop = Halvexa("--json " + target + "stop HalvCliTestSvc");
  EXPECT_EQ(stop.status, 0u) << stop.out;
  EXPECT_NE(stop.out.find("\"service\":\"HalvCliTestSvc\",\"done\":true"), std::string::npos)
      << stop.out;
  EXPECT_EQ(halv::e2e::ServiceState(kTestService), static_cast<DWORD>(SERVICE_STOPPED));

  ClientRun missing = Halvexa("--json " + target + "start NoSuchServiceHere");
  EXPECT_EQ(missing.status, 1u) << missing.out;
  EXPECT_NE(missing.out.find("\"outcome\":\"failed\",\"error\":\"Service does not exist.\""),
            std::string::npos)
      << missing.out;
  EXPECT_NE(missing.out.find("\"done\":false,\"code\":1060,\"message\":\"Service does not "
                             "exist.\""),
            std::string::npos)
      << missing.out;
  ClientRun missing_table = Halvexa(target + "stop NoSuchServiceHere");
  EXPECT_EQ(missing_table.status, 1u);
  EXPECT_TRUE(Matches(missing_table.out,
                      host + " +NoSuchServiceHere +error 1060: Service does not exist\\.\n"))
      << missing_table.out;

  ClientRun display = Halvexa(target + "display");
  EXPECT_EQ(display.status, 0u);
  EXPECT_TRUE(Matches(display.out, "\n" + host + " +port +" + std::to_string(Port()) + "\n"))
      << display.out;
  EXPECT_TRUE(Matches(display.out, "\n" + host + " +exec_name +halvexa351\\.exe\n")) << display.out;
  ClientRun display_json = Halvexa("--json " + target + "display");
  EXPECT_NE(display_json.out.find("\"parameters\":{\"version\":\"3.5.1.1\""), std::string::npos)
      << display_json.out;
  EXPECT_NE(display_json.out.find("\"stop_timeout\":\"30000\""), std::string::npos);
  EXPECT_NE(display_json.out.find("\"port\":\"" + std::to_string(Port()) + "\"}"),
            std::string::npos);
}

TEST_F(ClientTest, AFleetWithAClosedPortAndASilentHostTakesAboutOneTimeOut) {
  StartRunning();
  // A listener that accepts connections (in its backlog) and never answers,
  // and a port bound without a listener, where connections are refused.
  halv::e2e::HeldPort silent, closed;
  ASSERT_TRUE(silent.Open("127.0.0.4", true));
  ASSERT_TRUE(closed.Open("127.0.0.1", false));
  const std::string port = std::to_string(Port());
  const std::string silent_port = std::to_string(silent.port());
  const std::string closed_port = std::to_string(closed.port());
  const std::vector<std::string> hosts = {
      "127.0.0.1:" + port,        "127.0.0.4:" + silent_port, "127.0.0.2:" + port,
      "127.0.0.1:" + closed_port, "127.0.0.3:" + port,
  };
  const std::string hosts_file = dir_ + "\\hosts.txt";
  std::string fleet = "# the fleet\r\n";
  for (const std::string& each : hosts) fleet += each + "\r\n";
  ASSERT_TRUE(halv::e2e::WriteFileBytes(hosts_file, fleet));
  constexpr double kTimeout = 3;
  ClientRun run =
      Halvexa("--json-lines --timeout 3 --hosts \"" + hosts_file + "\" status Halvexa351");
  EXPECT_EQ(run.status, 2u) << run.out << run.err;
  EXPECT_LT(run.seconds, 2.5 * kTimeout);
  const std::vector<std::string> expected = {
      "\"ok\":true,\"outcome\":\"ok\"",
      "\"ok\":false,\"outcome\":\"timeout\",\"error\":\"timed out after 3 s waiting for the "
      "greeting\"}",
      "\"service\":\"Halvexa351\",\"state\":\"Running\"",
      "\"ok\":false,\"outcome\":\"unreachable\",\"error\":\"connection refused\"}",
      "\"server\":\"",
  };
  std::size_t at = 0;
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    const std::size_t end = run.out.find('\n', at);
    ASSERT_NE(end, std::string::npos) << run.out;
    const std::string line = run.out.substr(at, end - at);
    EXPECT_EQ(line.rfind("{\"host\":\"" + hosts[i] + "\"", 0), 0u) << line;
    EXPECT_NE(line.find(expected[i]), std::string::npos) << line;
    at = end + 1;
  }

  // The same fleet as a table: one row per host, the failed ones with their error.
  ClientRun table = Halvexa("--timeout 3 --hosts \"" + hosts_file + "\" status Halvexa351");
  EXPECT_EQ(table.status, 2u);
  EXPECT_TRUE(Matches(table.out, "\n127\\.0\\.0\\.2:" + port + " +Halvexa351 +Running\n"))
      << table.out;
  EXPECT_TRUE(
      Matches(table.out, "\n127\\.0\\.0\\.1:" + closed_port + " +error: connection refused\n"))
      << table.out;
  EXPECT_TRUE(
      Matches(table.out, "\n127\\.0\\.0\\.4:" + silent_port + " +error: timed out after 3 s"))
      << table.out;
}

}  // namespace
