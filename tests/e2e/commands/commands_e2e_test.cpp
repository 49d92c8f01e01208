// The command language over TCP against the real service under Wine, with
// several clients at once and a test service in Wine's manager.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "service_harness.h"
#include "win/registry.h"

namespace {

using namespace std::chrono_literals;
using halv::e2e::Client;

constexpr char kTestService[] = "HalvCmdTestSvc";
constexpr char kPrompt[] = "\n\r:: ";
const std::string kWarning =
    "\n\rPLEASE DISCONNECT NOW, THE SERVER IS GOING DOWN IN 30 SECONDS!\n\r";

std::string Format(const char* pattern, const char* a, const char* b = "", const char* c = "",
                   const char* d = "") {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, pattern, a, b, c, d);
  return buffer;
}

class CommandsTest : public halv::e2e::InstalledServiceTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(halv::e2e::InstallTestService(kTestService, "Halvexa command test service"));
    InstalledServiceTest::SetUp();
  }
  void TearDown() override {
    InstalledServiceTest::TearDown();
    EXPECT_TRUE(halv::e2e::RemoveTestService(kTestService));
  }
  // Connects and reads the greeting.
  void Connect(Client& client) {
    ASSERT_TRUE(client.Connect(Port()));
    ASSERT_NE(client.ReadUntil(kPrompt).find("Connected to: "), std::string::npos);
  }
  static std::string Ask(Client& client, const std::string& line,
                         const std::string& until = ":: ") {
    return client.Ask(line, until, 30s);
  }
};

TEST_F(CommandsTest, HelpUnknownAndStime) {
  StartRunning();
  Client c;
  Connect(c);
  const std::string help = Ask(c, "HeLp", "311-End of HELP info\n\r:: ");
  EXPECT_EQ(help.rfind("311-This is Halvexa Version 3.5.1.1\n\r311-Topics:", 0), 0u) << help;
  EXPECT_EQ(Ask(c, "help stop", "311-End of HELP info\n\r:: "),
            "311-STOP\n\r311-Use the STOP command to stop a service by name\n\r311- usage:  STOP "
            "<service_name>\n\r311-End of HELP info\n\r:: ");
  EXPECT_EQ(Ask(c, "help init", kPrompt), "504-Unknown help topic for 'init'\n\r\n\r:: ");
  EXPECT_EQ(Ask(c, "FOO bar"), "\n\r500-Unknown command 'FOO'\n\r:: ");
  const std::regex stime_reply(
      "[1-9][0-9]? [A-Z][a-z]+ 20[0-9][0-9] (0[1-9]|1[0-2]):[0-5][0-9]:[0-5][0-9] (am|pm)\n\r:: ");
  const std::string stime = Ask(c, "stime");
  EXPECT_TRUE(std::regex_match(stime, stime_reply)) << stime;
  EXPECT_EQ(Ask(c, "update svc prop value", "Updating Service\n\r"), "Updating Service\n\r");
  // No prompt after UPDATE: what follows is the next command's reply alone.
  const std::string next = Ask(c, "stime");
  EXPECT_TRUE(std::regex_match(next, stime_reply)) << next;
}

// ListFilter on: LIST with a pattern lists only the matching services of
// Wine's manager (by name or display name, any case; a pattern is one
// word, so "?" stands for the blank of the display name).
TEST_F(CommandsTest, ListWithAPatternWhenListFilterIsOn) {
  ASSERT_TRUE(halv::e2e::SetSystemValue("ListFilter", "1"));
  StartRunning();
  Client c;
  Connect(c);
  const std::string rule = std::string(80, '-') + "\n\r";
  for (const char* pattern : {"halvcmdtest*", "HALV?MDTESTSVC", "*command?test*"}) {
    SCOPED_TRACE(pattern);
    const std::string list = Ask(c, std::string("list ") + pattern);
    const std::size_t rows = list.find(rule);
    ASSERT_NE(rows, std::string::npos) << list;
    EXPECT_EQ(list.substr(rows + rule.size()), Format(" %-34s %-11s %-13s %-16s\n\r", kTestService,
                                                      "Stopped", "Demand", "LocalSystem") +
                                                   ":: ");
  }
  const std::string all = Ask(c, "list");
  EXPECT_NE(all.find(" Halvexa351 "), std::string::npos);
  EXPECT_NE(all.find(std::string(" ") + kTestService + " "), std::string::npos);
}

// STOP and RSTRT of the service itself are refused, in any case of its
// name, and it goes on serving: the same client is still answered.
TEST_F(CommandsTest, StopAndRestartOfItselfAreRefused) {
  StartRunning();
  Client c;
  Connect(c);
  const std::string tail =
      " refused: this service cannot stop itself; use CYCLE to restart its listener\n\r:: ";
  EXPECT_EQ(Ask(c, "stop Halvexa351"), "553-STOP Halvexa351" + tail);
  EXPECT_EQ(Ask(c, "RSTRT halvexa351"), "553-RSTRT halvexa351" + tail);
  EXPECT_EQ(halv::e2e::ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(Ask(c, "status Halvexa351"), "Retrieving Status\n\rThe service is running.\n\r:: ");
}

TEST_F(CommandsTest, WhoListsEveryClient) {
  StartRunning();
  Client a, b;
  Connect(a);
  Connect(b);
  const std::string who = Ask(a, "who");
  const std::string row_start = " anonymous       Anonymous User  127.0.0.1     ";
  std::size_t rows = 0;
  for (std::size_t at = who.find(row_start); at != std::string::npos;
       at = who.find(row_start, at + 1))
    ++rows;
  EXPECT_EQ(rows, 2u) << who;
  EXPECT_NE(who.find(" Login Name      Name            Remote Host   Date              What\n\r" +
                     std::string(80, '-') + "\n\r"),
            std::string::npos);
  EXPECT_TRUE(std::regex_search(
      who,
      std::regex(" anonymous       Anonymous User  127\\.0\\.0\\.1     [1-9][0-9]? [A-Z][a-z]+ "
                 "20[0-9][0-9] [0-2][0-9]:[0-5][0-9] +exec\\(\\)       \n\r")))
      << who;
  EXPECT_EQ(who.substr(who.size() - 3), ":: ");
}

TEST_F(CommandsTest, StartStopStatusAndRestartAService) {
  StartRunning();
  Client c;
  Connect(c);
  const std::string name = kTestService;
  EXPECT_EQ(Ask(c, "status " + name), "Retrieving Status\n\rThe service is stopped.\n\r:: ");
  EXPECT_EQ(Ask(c, "START " + name), "Starting Service..." + name + "\n\rService started\n\r:: ");
  EXPECT_EQ(halv::e2e::ServiceState(kTestService), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(Ask(c, "status " + name), "Retrieving Status\n\rThe service is running.\n\r:: ");
  EXPECT_EQ(Ask(c, "rstrt " + name),
            "Restarting Service..." + name + "\n\rService Stopped...\n\rService Started\n\r:: ");
  EXPECT_EQ(halv::e2e::ServiceState(kTestService), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(Ask(c, "stop " + name), "Stopping Service..." + name + "\n\rService Stopped\n\r:: ");
  EXPECT_EQ(halv::e2e::ServiceState(kTestService), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(Ask(c, "status NoSuchServiceHere"),
            "Retrieving Status\n\rUnable to determine status.\n\r:: ");
  EXPECT_EQ(Ask(c, "start NoSuchServiceHere"),
            "Starting Service...NoSuchServiceHere\n\rService does not exist.\n\r:: ");
}

TEST_F(CommandsTest, ListShowsTheTestServiceAndDisplayTheValues) {
  ASSERT_TRUE(halv::e2e::SetSystemValue("ServiceStopTimeOut", "12345"));
  ASSERT_TRUE(halv::e2e::SetSystemValue("StopDependencies", "0"));
  StartRunning();
  Client c;
  Connect(c);
  const std::string list = Ask(c, "list anything");
  EXPECT_NE(
      list.find(" Service Name                       Status      Startup Type  Log On As\n\r"),
      std::string::npos);
  EXPECT_NE(list.find(Format(" %-34s %-11s %-13s %-16s\n\r", kTestService, "Stopped", "Demand",
                             "LocalSystem")),
            std::string::npos)
      << list;
  EXPECT_NE(list.find(Format(" %-34s %-11s %-13s %-16s\n\r", "Halvexa351", "Running", "Automatic",
                             "LocalSystem")),
            std::string::npos)
      << list;

  const std::string display = Ask(c, "display");
  const std::string bin = halv::e2e::BinDir();
  for (const std::string& row :
       {Format(" %-18s %-60s\n\r", "version", "3.5.1.1"),
        Format(" %-18s %-60s\n\r", "app_path", bin.c_str()),
        Format(" %-18s %-60s\n\r", "log_pathfile", (log_dir_ + "\\serverlog.txt").c_str()),
        Format(" %-18s %-60s\n\r", "exec_name", "halvexa351.exe"),
        Format(" %-18s %-60s\n\r", "bin_pathname", (bin + "\\halvexa351.exe").c_str()),
        Format(" %-18s %-60s\n\r", "stop_timeout", "12345"),
        Format(" %-18s %-60s\n\r", "verbose", "0"),
        Format(" %-18s %-60s\n\r", "stop_dependencies", "0"),
        Format(" %-18s %-60s\n\r", "grace_period", "30000"),
        Format(" %-18s %-60s\n\r", "port", std::to_string(Port()).c_str())})
    EXPECT_NE(display.find(row), std::string::npos) << row << display;
}

TEST_F(CommandsTest, ViewSendsTheLogFileBytes) {
  std::string bytes;
  for (int i = 0; i < 300; ++i) bytes.push_back(static_cast<char>(i % 256));
  ASSERT_TRUE(halv::e2e::WriteFileBytes(log_dir_ + "\\serverlog.txt", bytes));
  StartRunning();
  Client c;
  Connect(c);
  const std::string view = Ask(c, "view", kPrompt);
  ASSERT_GE(view.size(), bytes.size() + 5);
  EXPECT_EQ(view.substr(0, bytes.size()), bytes);
  EXPECT_EQ(view.substr(view.size() - 5), kPrompt);
}

TEST_F(CommandsTest, InitReloadsAndReportsAChangedPort) {
  StartRunning();
  Client c;
  Connect(c);
  EXPECT_EQ(Ask(c, "init"), "Reinitializing server.\n\r:: ");
  // Another port in the registry (never bound: the listener stays where it is).
  const int other_port = Port() < 65535 ? Port() + 1 : Port() - 1;
  ASSERT_TRUE(halv::e2e::SetSystemValue("Port", std::to_string(other_port)));
  EXPECT_EQ(Ask(c, "init"),
            "Reinitializing server.\n\rError reinitializing server, please check logfile and "
            "system logs.\n\r:: ");
  EXPECT_TRUE(EventLogged("Can't change value while socket is active", 5s));
  // The listener stays where it was.
  Client d;
  Connect(d);
}

TEST_F(CommandsTest, QuitClosesOnlyThatConnection) {
  StartRunning();
  Client a, b;
  Connect(a);
  Connect(b);
  a.Send("quit\r\nwho\r\n");
  EXPECT_TRUE(a.WaitClosed(5s));
  // One empty line (each empty line now answers its own prompt).
  EXPECT_EQ(Ask(b, "", kPrompt), kPrompt);
}

TEST_F(CommandsTest, CycleWarnsEveryClientThenRestartsTheListener) {
  StartRunning();
  Client a, b, c;
  Connect(a);
  Connect(b);
  Connect(c);
  a.Send("cycle\r\n");
  EXPECT_EQ(a.ReadUntil(kPrompt), "Restarting the Halvexa Service" + kWarning + kPrompt);
  const auto first_warning = std::chrono::steady_clock::now();
  EXPECT_EQ(b.ReadUntil(kWarning), kWarning);
  EXPECT_EQ(c.ReadUntil(kWarning), kWarning);
  // The clients are still served during the grace period.
  EXPECT_EQ(Ask(b, "", kPrompt), kPrompt);
  // A second CYCLE, ten seconds into the grace period, warns everyone again
  // but keeps the pending deadline: the restart still comes 30 seconds after
  // the first one, not after this one.
  std::this_thread::sleep_until(first_warning + 10s);
  b.Send("CYCLE\r\n");
  EXPECT_EQ(a.ReadUntil(kWarning), kWarning);
  EXPECT_EQ(b.ReadUntil(kPrompt), "Restarting the Halvexa Service" + kWarning + kPrompt);
  EXPECT_EQ(c.ReadUntil(kWarning), kWarning);
  EXPECT_TRUE(a.WaitClosed(25s));
  EXPECT_TRUE(b.WaitClosed(5s));
  EXPECT_TRUE(c.WaitClosed(5s));
  Client fresh;
  Connect(fresh);
  EXPECT_EQ(halv::e2e::ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
}

}  // namespace
