// halvexa.exe against the real service under Wine: LIST, STATUS, START, STOP
// and DISPLAY of a test service as a table and as JSON, and one run over a
// host list that mixes the service (several entries), a closed port and a
// listener that never answers.
#include <gtest/gtest.h>

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
  }

  // Runs halvexa.exe with `arguments`; its output goes to files, read after.
  ClientRun Halvexa(const std::string& arguments) {
    const std::string out_path = dir_ + "\\out.txt";
    const std::string err_path = dir_ + "\\err.txt";
    HANDLE out = OutputFile(out_path);
    HANDLE err = OutputFile(err_path);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi = {};
    std::string command = "\"" + halv::e2e::BinDir() + "\\halvexa.exe\" " + arguments;
    ClientRun run;
    const auto start = std::chrono::steady_clock::now();
    const BOOL created = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &si, &pi);
    CloseHandle(out);
    CloseHandle(err);
    EXPECT_TRUE(created) << command;
    if (!created) return run;
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 120000), WAIT_OBJECT_0);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    GetExitCodeProcess(pi.hProcess, &run.status);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    run.out = halv::e2e::ReadFileBytes(out_path);
    run.err = halv::e2e::ReadFileBytes(err_path);
    return run;
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
