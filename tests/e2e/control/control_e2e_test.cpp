// UPDATE and WATCH against the real service under Wine, on a test service
// in Wine's manager: what UPDATE changes is read back from the manager (the
// configuration that `sc qc` shows, through QueryServiceConfig and
// QueryServiceConfig2: Wine's sc has no qc), and WATCH reports a stop made by
// sc.exe and a start made by another connection.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "service_harness.h"
#include "win/registry.h"

namespace {

using namespace std::chrono_literals;
using halv::e2e::Client;

constexpr char kTestService[] = "HalvCtlTestSvc";
const std::string kTimingsKey = std::string("SOFTWARE\\HalvexaTests\\Services\\") + kTestService;
constexpr char kPrompt[] = "\n\r:: ";

// What the manager holds for a service: start type, delayed flag, display name.
struct ManagerConfig {
  bool knows_delayed = false;  // the delayed-start flag could be read
  DWORD start_type = 0;
  bool delayed = false;
  std::string display_name;
};

ManagerConfig ReadConfig(const char* name) {
  ManagerConfig config;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return config;
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_CONFIG);
  if (service != nullptr) {
    DWORD needed = 0;
    QueryServiceConfigA(service, nullptr, 0, &needed);
    std::vector<char> buffer(needed + 1);
    auto* qsc = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (needed != 0 && QueryServiceConfigA(service, qsc, needed, &needed)) {
      config.start_type = qsc->dwStartType;
      config.display_name = qsc->lpDisplayName != nullptr ? qsc->lpDisplayName : "";
      SERVICE_DELAYED_AUTO_START_INFO info{};
      DWORD size = 0;
      config.knows_delayed =
          QueryServiceConfig2A(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO,
                               reinterpret_cast<BYTE*>(&info), sizeof info, &size) != 0;
      config.delayed = info.fDelayedAutostart != FALSE;
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return config;
}

// Runs a program of the system (found on the path) and waits for it; its
// exit code, or ~0 when it could not be run or did not end within a minute.
DWORD RunSystemProgram(const std::string& command_line) {
  std::string command = command_line;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &si, &pi))
    return ~0u;
  DWORD code = ~0u;
  if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0)
    GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

// The change lines ("321-NAME: OLD -> NEW") of `text` for `name`, as
// {old, new} pairs in the order they came.
std::vector<std::pair<std::string, std::string>> Changes(const std::string& text,
                                                         const std::string& name) {
  std::vector<std::pair<std::string, std::string>> changes;
  const std::string lead = "321-" + name + ": ";
  for (std::size_t at = text.find(lead); at != std::string::npos; at = text.find(lead, at + 1)) {
    const std::size_t end = text.find("\n\r", at);
    if (end == std::string::npos) break;
    const std::string states = text.substr(at + lead.size(), end - at - lead.size());
    const std::size_t arrow = states.find(" -> ");
    if (arrow == std::string::npos) break;
    changes.emplace_back(states.substr(0, arrow), states.substr(arrow + 4));
  }
  return changes;
}

// Whether the last change of `name` in `text` ends in `state`.
bool EndsIn(const std::string& text, const std::string& name, const std::string& state) {
  const auto changes = Changes(text, name);
  return !changes.empty() && changes.back().second == state;
}

class ControlTest : public halv::e2e::InstalledServiceTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(halv::e2e::InstallTestService(kTestService, "Halvexa control test service"));
    InstalledServiceTest::SetUp();
  }
  void TearDown() override {
    InstalledServiceTest::TearDown();
    EXPECT_TRUE(halv::e2e::RemoveTestService(kTestService));
    halv::DeleteRegKeyTree("SOFTWARE\\HalvexaTests\\Services", kTestService);
  }
  void Connect(Client& client) {
    ASSERT_TRUE(client.Connect(Port()));
    ASSERT_NE(client.ReadUntil(kPrompt).find("Connected to: "), std::string::npos);
  }
  static std::string Ask(Client& client, const std::string& line) {
    return client.Ask(line, ":: ", 30s);
  }
};

// UpdateEnabled on: each start type and a new display name reach the
// manager, each answered by its line; bad lines get the numbered line with
// the valid choices, and a missing service the manager's text. A manager
// without the delayed-start flag (Wine's) refuses that part of each start
// type's change with its error text, after the start type itself changed.
TEST_F(ControlTest, UpdateChangesTheStartTypeAndDisplayNameInTheManager) {
  ASSERT_TRUE(halv::e2e::SetSystemValue("UpdateEnabled", "1"));
  StartRunning();
  Client c;
  Connect(c);
  const std::string name = kTestService;
  const bool knows_delayed = ReadConfig(kTestService).knows_delayed;
  struct Case {
    const char* typed;
    const char* answered;
    DWORD start_type;
    bool delayed;
  };
  // Delayed between two plain automatic starts: the flag is set, then cleared.
  const Case cases[] = {
      {"automatic", "Automatic", SERVICE_AUTO_START, false},
      {"Delayed", "Delayed", SERVICE_AUTO_START, true},
      {"AUTOMATIC", "Automatic", SERVICE_AUTO_START, false},
      {"Disabled", "Disabled", SERVICE_DISABLED, false},
      {"manual", "Manual", SERVICE_DEMAND_START, false},
  };
  for (const Case& c_ : cases) {
    SCOPED_TRACE(c_.typed);
    const std::string reply = Ask(c, "update " + name + " starttype " + c_.typed);
    const ManagerConfig config = ReadConfig(kTestService);
    EXPECT_EQ(config.start_type, c_.start_type);
    if (knows_delayed) {
      EXPECT_EQ(reply, "Service updated: " + name + " StartType " + c_.answered + "\n\r:: ");
      EXPECT_EQ(config.delayed, c_.delayed);
    } else {
      EXPECT_EQ(reply, "A parameter that was specified is invalid.\n\r:: ");
    }
  }

  EXPECT_EQ(Ask(c, "UPDATE " + name + " DisplayName Halvexa  renamed test service"),
            "Service updated: " + name + " DisplayName Halvexa renamed test service\n\r:: ");
  const ManagerConfig renamed = ReadConfig(kTestService);
  EXPECT_EQ(renamed.display_name, "Halvexa renamed test service");
  EXPECT_EQ(renamed.start_type, static_cast<DWORD>(SERVICE_DEMAND_START));

  const std::string valid_types = "valid values: Automatic, Delayed, Manual, Disabled\n\r:: ";
  EXPECT_EQ(Ask(c, "update " + name + " Colour red"),
            "501-Unknown property 'Colour'; valid properties: StartType, DisplayName\n\r:: ");
  EXPECT_EQ(Ask(c, "update " + name + " StartType Boot"),
            "501-Unknown StartType 'Boot'; " + valid_types);
  EXPECT_EQ(Ask(c, "update " + name + " StartType"), "501-StartType needs a value; " + valid_types);
  EXPECT_EQ(Ask(c, "update NoSuchServiceHere StartType Manual"), "Service does not exist.\n\r:: ");
  // None of the refused lines changed anything.
  const ManagerConfig after = ReadConfig(kTestService);
  EXPECT_EQ(after.start_type, static_cast<DWORD>(SERVICE_DEMAND_START));
  EXPECT_EQ(after.display_name, "Halvexa renamed test service");
}

// WatchEnabled on: a watch of the test service and a watch of every service
// both report its stop (by sc.exe) and its start (by another connection) as
// chains of changes ending in Stopped, then Running; a line ends each watch
// with the prompt alone (it is not run) and the connection takes commands
// again.
TEST_F(ControlTest, WatchReportsAStopAndAStartUntilALineIsSent) {
  ASSERT_TRUE(halv::e2e::SetSystemValue("WatchEnabled", "1"));
  // Slow enough that the first poll of each watch sees the service before
  // each change has run its course.
  halv::WriteRegString(kTimingsKey, "StopDelay", "1500", true);
  halv::WriteRegString(kTimingsKey, "StartDelay", "1500", true);
  ASSERT_EQ(halv::e2e::StartAndWait(kTestService), static_cast<DWORD>(SERVICE_RUNNING));
  StartRunning();
  Client one, every, other;
  Connect(one);
  Connect(every);
  Connect(other);
  const std::string name = kTestService;
  EXPECT_EQ(one.Ask("WATCH " + name, "\n\r"), "320-Watching " + name + "\n\r");
  EXPECT_EQ(every.Ask("watch", "\n\r"), "320-Watching all services\n\r");

  ASSERT_EQ(RunSystemProgram("sc.exe stop " + name), 0u);
  auto stopped = [&](const std::string& text) { return EndsIn(text, name, "Stopped"); };
  std::string one_text = one.ReadWhile(stopped, 30s);
  std::string every_text = every.ReadWhile(stopped, 30s);
  EXPECT_EQ(halv::e2e::ServiceState(kTestService), static_cast<DWORD>(SERVICE_STOPPED));

  EXPECT_EQ(Ask(other, "start " + name),
            "Starting Service..." + name + "\n\rService started\n\r:: ");
  auto running = [&](const std::string& text) { return EndsIn(text, name, "Running"); };
  one_text += one.ReadWhile(running, 30s);
  every_text += every.ReadWhile(running, 30s);

  for (const std::string* text : {&one_text, &every_text}) {
    SCOPED_TRACE(*text);
    const auto changes = Changes(*text, name);
    ASSERT_GE(changes.size(), 2u);
    // A chain: each change starts where the one before ended, from Running
    // (or on its way to stopping) through Stopped to Running.
    EXPECT_TRUE(changes.front().first == "Running" || changes.front().first == "Stopping");
    bool saw_stopped = false;
    for (std::size_t i = 0; i < changes.size(); ++i) {
      if (i != 0) {
        EXPECT_EQ(changes[i].first, changes[i - 1].second);
      }
      saw_stopped = saw_stopped || changes[i].second == "Stopped";
    }
    EXPECT_TRUE(saw_stopped);
    EXPECT_EQ(changes.back().second, "Running");
  }
  // Every line the named watch sent is about its one service.
  for (std::size_t at = one_text.find("321-"); at != std::string::npos;
       at = one_text.find("321-", at + 1))
    EXPECT_EQ(one_text.compare(at, 5 + name.size(), "321-" + name + ":"), 0) << one_text;

  // The line that ends a watch is not run: this STOP stops nothing.
  EXPECT_EQ(one.Ask("anything"), ":: ");
  EXPECT_EQ(every.Ask("stop " + name), ":: ");
  EXPECT_EQ(Ask(one, "status " + name), "Retrieving Status\n\rThe service is running.\n\r:: ");
  EXPECT_EQ(Ask(every, "status " + name), "Retrieving Status\n\rThe service is running.\n\r:: ");
}

}  // namespace
