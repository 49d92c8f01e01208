// Transcript tests of LIST against the simulated manager, and of the word
// tables of the listings.
#include "listings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_server_context.h"
#include "interpreter.h"
#include "recording_connection.h"
#include "simulated_manager.h"
#include "transcript.h"

namespace halv::testing {
namespace {

using Sends = std::vector<std::string>;

const Sends kListHeader = {
    "\n\rHalvexa Version 3.5.1.0\n\r\n\rServer: TESTHOST\n\rService running as: SYSTEM\n\r"
    "Local Server Date: 7 December 2026 11:05:09 pm\n\r\n\r",
    " Service Name                       Status      Startup Type  Log On As\n\r",
    std::string(80, '-') + "\n\r"};

Sends WithHeader(const Sends& rest) {
  Sends all = kListHeader;
  all.insert(all.end(), rest.begin(), rest.end());
  return all;
}

class ListTest : public ManagerCommandTest {};

TEST_F(ListTest, RowsInTheManagersOrderWithWideningColumns) {
  SimulatedService& spooler = scm_.AddService("Spooler", "Print Spooler", kStateRunning);
  spooler.start_type = 2;
  const std::string long_name = "AVeryLongServiceNameOfMoreThan34Chars";  // 37 characters
  SimulatedService& wide = scm_.AddService(long_name, "Long", kStateStopped);
  wide.start_type = 4;
  wide.start_name = "NT AUTHORITY\\LocalService";  // 25 characters
  SimulatedService& boot = scm_.AddService("Disk", "Disk", kStateStopped);
  boot.start_type = 0;
  boot.start_name = "";
  scm_.AddService("Odd", "Odd", kStateStopped).start_type = 9;

  const Sends expected = WithHeader({
      " Spooler                            Running     Automatic     LocalSystem     \n\r",
      " " + long_name + " Stopped     Disabled      NT AUTHORITY\\LocalService\n\r",
      Field("Disk", 34) + Field("Stopped", 11) + Field("Boot", 13) + Field("", 16) + "\n\r",
      Field("Odd", 34) + Field("Stopped", 11) + Field("Unknown", 13) + Field("LocalSystem", 16) +
          "\n\r",
      ":: ",
  });
  EXPECT_EQ(Run({"list"}), expected);
  // Any argument is ignored: the whole list again.
  EXPECT_EQ(Run({"LIST", "Spooler"}), expected);
}

TEST_F(ListTest, EveryStateAndStartTypeWord) {
  const char* const states[] = {"Unknown",    "Stopped", "Starting", "Stopping", "Running",
                                "Continuing", "Pausing", "Paused",   "Unknown"};
  for (std::uint32_t state = 0; state <= 8; ++state) {
    EXPECT_EQ(StateWord(state), states[state]) << state;
  }
  EXPECT_EQ(StateWord(0xFFFFFFFF), "Unknown");
  const char* const types[] = {"Boot", "System", "Automatic", "Demand", "Disabled", "Unknown"};
  for (std::uint32_t type = 0; type <= 5; ++type) {
    EXPECT_EQ(StartTypeWord(type), types[type]) << type;
  }
  EXPECT_EQ(StatusText(8), "Unable to determine status.\n\r");
}

// A service whose configuration cannot be read keeps its row, with
// "Unknown" as start type and an empty account.
TEST_F(ListTest, UnreadableConfiguration) {
  scm_.AddService("Locked", "Locked", kStateRunning).refuse_config = 5;
  scm_.AddService("Gone", "Gone", kStateStopped).refuse_open = 1060;
  EXPECT_EQ(Run({"list"}), WithHeader({Field("Locked", 34) + Field("Running", 11) +
                                           Field("Unknown", 13) + Field("", 16) + "\n\r",
                                       Field("Gone", 34) + Field("Stopped", 11) +
                                           Field("Unknown", 13) + Field("", 16) + "\n\r",
                                       ":: "}));
}

TEST_F(ListTest, ManagerThatCannotBeOpenedIsReportedAfterTheHeader) {
  scm_.AddService("Spooler", "Print Spooler", kStateRunning);
  scm_.RefuseOpenManager(5);
  EXPECT_EQ(Run({"list"}), WithHeader({"The requested access was denied.\n\r", ":: "}));
}

TEST_F(ListTest, FailedEnumerationShowsAnEmptyList) {
  scm_.AddService("Spooler", "Print Spooler", kStateRunning);
  scm_.RefuseEnumServices(5);
  EXPECT_EQ(Run({"list"}), WithHeader({":: "}));
}

TEST_F(ListTest, NoServices) { EXPECT_EQ(Run({"list"}), WithHeader({":: "})); }

TEST_F(ListTest, HeaderShowsTheServiceObjectsTexts) {
  server_.fields().version = "1.2.3.4";
  server_.fields().server_name = "DB7";
  server_.fields().log_on_as = "svc_halvexa";
  server_.set_now({2026, 2, 3, 12, 0, 7});
  const Sends sends = Run({"list"});
  ASSERT_FALSE(sends.empty());
  EXPECT_EQ(sends[0],
            "\n\rHalvexa Version 1.2.3.4\n\r\n\rServer: DB7\n\rService running as: svc_halvexa"
            "\n\rLocal Server Date: 3 February 2026 12:00:07 pm\n\r\n\r");
}

// ListFilter on: LIST <pattern> keeps the services whose name or display
// name the pattern matches (whole, any case, * and ?); without a pattern, or
// with the value off, every service as before.
TEST_F(ListTest, APatternFiltersByNameOrDisplayNameWhenListFilterIsOn) {
  scm_.AddService("Spooler", "Print Spooler", kStateRunning);
  scm_.AddService("W32Time", "Windows Time", kStateStopped);
  scm_.AddService("wuauserv", "Windows Update", kStateStopped);
  const std::string spooler = Field("Spooler", 34) + Field("Running", 11) + Field("Demand", 13) +
                              Field("LocalSystem", 16) + "\n\r";
  const std::string time = Field("W32Time", 34) + Field("Stopped", 11) + Field("Demand", 13) +
                           Field("LocalSystem", 16) + "\n\r";
  const std::string update = Field("wuauserv", 34) + Field("Stopped", 11) + Field("Demand", 13) +
                             Field("LocalSystem", 16) + "\n\r";
  const struct {
    std::vector<std::string> words;
    bool filter;
    Sends rows;
  } cases[] = {
      {{"list", "spooler"}, true, {spooler}},
      {{"list", "WINDOWS*"}, true, {time, update}},  // display names
      {{"list", "w32tim?"}, true, {time}},
      {{"list", "w?2*e"}, true, {time}},
      {{"list", "*up*"}, true, {update}},
      {{"list", "*"}, true, {spooler, time, update}},
      {{"list", "spool"}, true, {}},  // the whole name, not a part
      {{"list", "??"}, true, {}},
      {{"list"}, true, {spooler, time, update}},
      {{"list", "spooler"}, false, {spooler, time, update}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE((c.words.size() > 1 ? c.words[1] : "(none)") + (c.filter ? " on" : " off"));
    server_.fields().list_filter = c.filter;
    Sends rows = c.rows;
    rows.push_back(":: ");
    EXPECT_EQ(Run(c.words), WithHeader(rows));
  }
}

TEST(MatchesPatternTest, WildcardsAndCase) {
  const struct {
    const char* pattern;
    const char* text;
    bool match;
  } cases[] = {
      {"", "", true},         {"", "a", false},           {"*", "", true},
      {"?", "", false},       {"a*b*c", "aXbYc", true},   {"a*b*c", "aXbY", false},
      {"*a", "banana", true}, {"*an*na", "banana", true}, {"b*n?n?", "BANANA", true},
      {"**", "x", true},      {"abc", "ABD", false},      {"a?c", "abc", true},
      {"*x*", "abc", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MatchesPattern(c.pattern, c.text), c.match) << c.pattern << " " << c.text;
}

// DEPS: the running dependants in the order STOP stops them (the manager's),
// pending and paused ones included, stopped ones left out; the table's
// header and rule come first whatever follows.
TEST(DepsTest, RunningDependantsInStopOrderOrTheError) {
  const std::string header =
      " Service Name                       Display Name                       Status\n\r";
  const std::string rule = std::string(80, '-') + "\n\r";
  const std::string long_name = "AVeryLongServiceNameOfMoreThan34Chars";
  const struct {
    const char* title;
    std::vector<std::string> words;
    Sends rows;  // between the rule and the prompt
  } cases[] = {
      {"several",
       {"deps", "W32Time"},
       {Field("TimeBroker", 34) + Field("Time Broker", 34) + Field("Running", 11) + "\n\r",
        " " + long_name + Field("Long one", 34) + Field("Paused", 11) + "\n\r",
        Field("Sync", 34) + Field("Sync Host", 34) + Field("Stopping", 11) + "\n\r"}},
      {"any case", {"DEPS", "w32time"}, {}},  // filled below from "several"
      {"none running", {"deps", "Lonely"}, {}},
      {"no such service", {"deps", "NoSuch"}, {"Service does not exist.\n\r"}},
      {"listing refused", {"Deps", "Secret"}, {"The requested access was denied.\n\r"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    SimulatedManager scm;
    FakeServerContext server{scm};
    RecordingConnection client;
    scm.AddService("W32Time", "Windows Time", kStateRunning);
    scm.AddService("TimeBroker", "Time Broker", kStateRunning);
    scm.AddService("Gone", "Stopped one", kStateStopped);
    SimulatedService& paused = scm.AddService(long_name, "Long one", kStateRunning);
    scm.SetState(long_name, kStatePaused);
    (void)paused;
    SimulatedService& sync = scm.AddService("Sync", "Sync Host", kStateRunning);
    sync.stop_delay_ms = kForever;
    scm.SetState("Sync", kStateStopPending);
    for (const char* d : {"TimeBroker", "Gone", "AVeryLongServiceNameOfMoreThan34Chars", "Sync"})
      scm.AddDependency("W32Time", d);
    scm.AddService("Lonely", "Lonely", kStateRunning);
    scm.AddService("Secret", "Secret", kStateRunning).refuse_enum_dependents = 5;

    Sends want = {header, rule};
    const Sends& rows = std::string(c.title) == "any case" ? cases[0].rows : c.rows;
    want.insert(want.end(), rows.begin(), rows.end());
    want.push_back(":: ");
    ProcessCommand(server, client, *MakeLine(c.words));
    EXPECT_EQ(client.sends(), want);
    EXPECT_EQ(scm.OpenHandleCount(), 0u);
    EXPECT_EQ(scm.CountCalls("Control"), 0u);
    EXPECT_EQ(scm.StateOf("TimeBroker"), kStateRunning);
  }
}

}  // namespace
}  // namespace halv::testing
