// The service control options that change replies: UPDATE with
// UpdateEnabled over the simulated manager, and HELP's topics and WATCH's
// word with and without their switches.
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

const std::string kValidStartTypes = "valid values: Automatic, Delayed, Manual, Disabled\n\r";

class UpdateTest : public ManagerCommandTest {
 protected:
  UpdateTest() {
    server_.fields().update_enabled = true;
    SimulatedService& spooler = scm_.AddService("Spooler", "Print Spooler", kStateRunning);
    spooler.start_type = kServiceAutoStart;
    spooler.delayed_auto_start = true;
  }
};

// Each start type: the start type the manager keeps, whether an automatic
// start is delayed, and the line, with the property and the value in their
// own spelling whatever the line's case.
TEST_F(UpdateTest, EachStartType) {
  struct {
    std::vector<std::string> words;
    std::uint32_t start_type;
    bool delayed;
    std::string line;
  } cases[] = {
      {{"update", "Spooler", "StartType", "manual"}, kServiceDemandStart, false,
       "Service updated: Spooler StartType Manual\n\r"},
      {{"UPDATE", "spooler", "starttype", "DELAYED"}, kServiceAutoStart, true,
       "Service updated: spooler StartType Delayed\n\r"},
      {{"Update", "Spooler", "STARTTYPE", "Disabled"}, kServiceDisabled, false,
       "Service updated: Spooler StartType Disabled\n\r"},
      {{"update", "Spooler", "StartType", "automatic"}, kServiceAutoStart, false,
       "Service updated: Spooler StartType Automatic\n\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    scm_.ClearCalls();
    EXPECT_EQ(Run(c.words), (Sends{c.line, ":: "}));
    EXPECT_EQ(scm_.Find("Spooler")->start_type, c.start_type);
    EXPECT_EQ(scm_.Find("Spooler")->delayed_auto_start, c.delayed);
    // Opened for changing its configuration only.
    EXPECT_EQ(scm_.Transcript(),
              "OpenManager SCM 1 -> 0\n"
              "OpenService Spooler 2 -> 0\n"
              "ChangeConfig Spooler " + std::to_string(c.start_type) + " -> 0\n"
              "SetDelayedAutoStart Spooler " + std::string(c.delayed ? "1" : "0") + " -> 0\n"
              "Close Spooler 0 -> 0\n"
              "Close SCM 0 -> 0\n");
  }
}

TEST_F(UpdateTest, DisplayNameTakesTheRestOfTheLine) {
  EXPECT_EQ(Run({"update", "Spooler", "displayname", "Print", "Queue", "2"}),
            (Sends{"Service updated: Spooler DisplayName Print Queue 2\n\r", ":: "}));
  EXPECT_EQ(scm_.Find("Spooler")->display_name, "Print Queue 2");
  EXPECT_EQ(scm_.Find("Spooler")->start_type, kServiceAutoStart);
  EXPECT_TRUE(scm_.Find("Spooler")->delayed_auto_start);
  EXPECT_EQ(scm_.CountCalls("SetDelayedAutoStart"), 0u);
}

// Lines UPDATE cannot carry out: a numbered line naming what is valid, the
// manager not asked.
TEST_F(UpdateTest, BadLinesNameTheValidChoices) {
  struct {
    std::vector<std::string> words;
    std::string line;
  } cases[] = {
      {{"update"},
       "501-Usage: UPDATE <service_name> StartType <Automatic|Delayed|Manual|Disabled> | UPDATE "
       "<service_name> DisplayName <text>\n\r"},
      {{"update", "Spooler"},
       "501-Usage: UPDATE <service_name> StartType <Automatic|Delayed|Manual|Disabled> | UPDATE "
       "<service_name> DisplayName <text>\n\r"},
      {{"update", "Spooler", "Colour", "red"},
       "501-Unknown property 'Colour'; valid properties: StartType, DisplayName\n\r"},
      {{"update", "Spooler", "start_type", "2"},
       "501-Unknown property 'start_type'; valid properties: StartType, DisplayName\n\r"},
      {{"update", "Spooler", "StartType"}, "501-StartType needs a value; " + kValidStartTypes},
      {{"update", "Spooler", "StartType", "2"}, "501-Unknown StartType '2'; " + kValidStartTypes},
      {{"update", "Spooler", "StartType", "Auto"},
       "501-Unknown StartType 'Auto'; " + kValidStartTypes},
      {{"update", "Spooler", "StartType", "Boot"},
       "501-Unknown StartType 'Boot'; " + kValidStartTypes},
      {{"update", "Spooler", "DisplayName"},
       "501-DisplayName needs a value: the new display name\n\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    scm_.ClearCalls();
    EXPECT_EQ(Run(c.words), (Sends{c.line, ":: "}));
    EXPECT_TRUE(scm_.Calls().empty());
  }
  EXPECT_EQ(scm_.Find("Spooler")->start_type, kServiceAutoStart);
  EXPECT_EQ(scm_.Find("Spooler")->display_name, "Print Spooler");
}

// What the manager refuses comes back as its error text; a refusal of the
// delayed-start change leaves the start type changed.
TEST_F(UpdateTest, RefusalsGiveTheSystemErrorText) {
  scm_.AddService("Locked", "Locked", kStateStopped).refuse_open = kErrorAccessDenied;
  scm_.AddService("Stubborn", "Stubborn", kStateStopped).refuse_change_config = 1072;
  scm_.AddService("Halfway", "Halfway", kStateStopped).refuse_delayed_start =
      kErrorInvalidParameter;
  struct {
    std::vector<std::string> words;
    std::string line;
  } cases[] = {
      {{"update", "NoSuch", "StartType", "Manual"}, "Service does not exist.\n\r"},
      {{"update", "Locked", "DisplayName", "x"}, "The requested access was denied.\n\r"},
      {{"update", "Stubborn", "StartType", "Manual"}, ScmErrorText(1072)},
      {{"update", "Halfway", "StartType", "Disabled"},
       "A parameter that was specified is invalid.\n\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(Run(c.words), (Sends{c.line, ":: "}));
  }
  EXPECT_EQ(scm_.Find("Stubborn")->start_type, kServiceDemandStart);
  EXPECT_EQ(scm_.Find("Halfway")->start_type, kServiceDisabled);
}

// Without UpdateEnabled UPDATE is what it was: one line, no prompt, nothing
// changed.
TEST_F(UpdateTest, WithoutTheSwitchNothingChanges) {
  server_.fields().update_enabled = false;
  scm_.ClearCalls();
  EXPECT_EQ(Run({"update", "Spooler", "StartType", "Manual"}), (Sends{"Updating Service\n\r"}));
  EXPECT_TRUE(scm_.Calls().empty());
  EXPECT_EQ(scm_.Find("Spooler")->start_type, kServiceAutoStart);
}

class SwitchedHelpTest : public ManagerCommandTest {};

const std::string kEnd = "\n\r311-End of HELP info";

// The general help lists DEPS with RestartDependents and WATCH with
// WatchEnabled, on a line of their own after the others; without them it
// is as it was.
TEST_F(SwitchedHelpTest, GeneralHelpAddsTheSwitchedTopics) {
  const std::string base = "\n\r311-    STIME     WHO      VIEW      INIT";
  struct {
    bool deps, watch;
    std::string added;  // the line after INIT's, "" for none
  } cases[] = {
      {false, false, ""},
      {true, false, "\n\r311-    DEPS"},
      {false, true, "\n\r311-    WATCH"},
      {true, true, "\n\r311-    DEPS      WATCH"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.added);
    server_.fields().restart_dependents = c.deps;
    server_.fields().watch_enabled = c.watch;
    const Sends sends = Run({"help"});
    ASSERT_GE(sends.size(), 5u);
    EXPECT_EQ(sends[3], base);
    if (c.added.empty()) {
      EXPECT_EQ(sends.size(), 7u);
      EXPECT_EQ(sends[4].rfind("\n\r311-For more info", 0), 0u);
    } else {
      EXPECT_EQ(sends.size(), 8u);
      EXPECT_EQ(sends[4], c.added);
    }
  }
}

TEST_F(SwitchedHelpTest, TopicsWithAndWithoutTheirSwitches) {
  struct {
    std::string topic;
    bool on;
    Sends sends;
  } cases[] = {
      {"DEPS", false, {"504-Unknown help topic for 'DEPS'\n\r", "\n\r:: "}},
      {"watch", false, {"504-Unknown help topic for 'watch'\n\r", "\n\r:: "}},
      {"DEPS",
       true,
       {"311-DEPS",
        "\n\r311-Use the DEPS command to list the running services that STOP would stop with a",
        "\n\r311-service, in the order it stops them.",
        "\n\r311- usage:  DEPS <service_name>" + kEnd, "\n\r:: "}},
      {"Watch",
       true,
       {"311-WATCH",
        "\n\r311-Use the WATCH command to follow the state of services: a line for each change,",
        "\n\r311-of the services named or, with no name, of every service. Any line ends it.",
        "\n\r311- usage:  WATCH [ <service_name> ... ]" + kEnd, "\n\r:: "}},
      {"update",
       true,
       {"311-UPDATE",
        "\n\r311-Use the UPDATE command to change the start type or the display name of a "
        "service.",
        "\n\r311- usage:  UPDATE <service_name> StartType <Automatic|Delayed|Manual|Disabled>",
        "\n\r311-         UPDATE <service_name> DisplayName <text>" + kEnd, "\n\r:: "}},
      {"list",
       true,
       {"311-LIST", "\n\r311-Use the LIST command to retrieve the list of server services.",
        "\n\r311-With a pattern, only the services whose name or display name it matches",
        "\n\r311-(any case; * stands for any characters, ? for any one character).",
        "\n\r311- usage:  LIST [ <pattern> ]" + kEnd, "\n\r:: "}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.topic + (c.on ? " on" : " off"));
    server_.fields().restart_dependents = server_.fields().watch_enabled = c.on;
    server_.fields().update_enabled = server_.fields().list_filter = c.on;
    EXPECT_EQ(Run({"help", c.topic}), c.sends);
  }
}

// Without WatchEnabled WATCH is an unknown word, as before; with it, given
// to a runner with no watcher behind it, it says so.
TEST_F(SwitchedHelpTest, WatchIsUnknownWithoutItsSwitch) {
  EXPECT_EQ(Run({"WATCH", "Spooler"}), (Sends{"\n\r500-Unknown command 'WATCH'\n\r", ":: "}));
  server_.fields().watch_enabled = true;
  EXPECT_EQ(Run({"watch"}), (Sends{"502-WATCH is not available here\n\r", ":: "}));
}

}  // namespace
}  // namespace halv::testing
