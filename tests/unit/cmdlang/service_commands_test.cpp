// Transcript tests of the commands that go to the Service Control Manager:
// START, STOP, RSTRT and STATUS, against the simulated manager. The lines
// take the service's road: START, STOP and RSTRT wait on the operation
// scheduler, whose jobs the tests run on their own thread.
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

const std::string kAlreadyRunning = "An instance of the service is already running.\n\r";
const std::string kDoesNotExist = "Service does not exist.\n\r";

class ServiceCommandsTest : public ManagerCommandTest {};

TEST_F(ServiceCommandsTest, StartOutcomes) {
  scm_.AddService("Spooler", "Print Spooler", kStateStopped);
  scm_.AddService("W3SVC", "Web", kStateRunning);
  scm_.AddService("Fax", "Fax", kStateStopped).start_type = 4;
  struct {
    std::vector<std::string> words;
    Sends sends;
  } cases[] = {
      {{"start", "Spooler"}, {"Starting Service...Spooler\n\r", "Service started\n\r", ":: "}},
      {{"START", "W3SVC"}, {"Starting Service...W3SVC\n\r", kAlreadyRunning, ":: "}},
      {{"Start", "Fax"},
       {"Starting Service...Fax\n\r", "The service has been disabled.\n\r", ":: "}},
      {{"start", "NoSuch"}, {"Starting Service...NoSuch\n\r", kDoesNotExist, ":: "}},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.words[1]);
    EXPECT_EQ(Run(each.words), each.sends);
  }
  EXPECT_EQ(scm_.StateOf("Spooler"), kStateRunning);
}

// Without a name the empty name goes to the manager, whose refusal is shown.
TEST_F(ServiceCommandsTest, StartWithoutNameReportsTheRefusalOfTheEmptyName) {
  EXPECT_EQ(Run({"start"}), (Sends{"Starting Service...\n\r",
                                   "The specified service name is invalid.\n\r", ":: "}));
  EXPECT_EQ(Run({"stop"}), (Sends{"Stopping Service...\n\r",
                                  "The specified service name is invalid.\n\r", ":: "}));
}

TEST_F(ServiceCommandsTest, StartUsesOnlyTheFirstArgument) {
  scm_.AddService("my", "My", kStateStopped);
  scm_.AddService("service", "Other", kStateStopped);
  EXPECT_EQ(Run({"start", "my", "service"}),
            (Sends{"Starting Service...my\n\r", "Service started\n\r", ":: "}));
  EXPECT_EQ(scm_.StateOf("my"), kStateRunning);
  EXPECT_EQ(scm_.StateOf("service"), kStateStopped);
}

TEST_F(ServiceCommandsTest, StopWithDependantsFollowsTheSetting) {
  scm_.AddService("Base", "Base", kStateRunning);
  scm_.AddService("Child", "Child", kStateRunning);
  scm_.AddDependency("Base", "Child");

  server_.fields().stop_dependencies = false;
  EXPECT_EQ(Run({"stop", "Base"}),
            (Sends{"Stopping Service...Base\n\r",
                   "The service cannot be stopped because other running services are dependent "
                   "on it.\n\r",
                   ":: "}));
  EXPECT_EQ(scm_.StateOf("Base"), kStateRunning);

  server_.fields().stop_dependencies = true;
  EXPECT_EQ(Run({"STOP", "Base"}),
            (Sends{"Stopping Service...Base\n\r", "Service Stopped\n\r", ":: "}));
  EXPECT_EQ(scm_.StateOf("Base"), kStateStopped);
  EXPECT_EQ(scm_.StateOf("Child"), kStateStopped);
}

TEST_F(ServiceCommandsTest, StopThatOutlastsTheTimeOutIsReportedWithItsNumber) {
  SimulatedService& slow = scm_.AddService("Slow", "Slow", kStateRunning);
  slow.stop_delay_ms = kForever;
  slow.stop_wait_hint = 1000;
  server_.fields().stop_timeout = 5000;
  EXPECT_EQ(Run({"stop", "Slow"}),
            (Sends{"Stopping Service...Slow\n\r",
                   "The specified service error is not known for error code 1460.\n\r", ":: "}));
  // The configured time-out, not the default 30 s, bounded the wait.
  EXPECT_GE(scm_.Elapsed(), 5000u);
  EXPECT_LT(scm_.Elapsed(), 30000u);
}

TEST_F(ServiceCommandsTest, RestartSuccessTextsDifferFromStopAndStart) {
  scm_.AddService("Spooler", "Print Spooler", kStateRunning);
  EXPECT_EQ(Run({"rstrt", "Spooler"}),
            (Sends{"Restarting Service...Spooler\n\r", "Service Stopped...\n\r",
                   "Service Started\n\r", ":: "}));
  EXPECT_EQ(scm_.StateOf("Spooler"), kStateRunning);
  EXPECT_EQ(scm_.CountCalls("Start", "Spooler"), 1u);
}

TEST_F(ServiceCommandsTest, RestartGoesOnToTheStartAfterAFailedStop) {
  scm_.AddService("Stubborn", "Stubborn", kStateRunning).accepts_stop = false;
  EXPECT_EQ(Run({"RSTRT", "Stubborn"}),
            (Sends{"Restarting Service...Stubborn\n\r",
                   "The requested control code is not valid, or it is unacceptable to the "
                   "service.\n\r",
                   kAlreadyRunning, ":: "}));
  EXPECT_EQ(Run({"rstrt", "NoSuch"}),
            (Sends{"Restarting Service...NoSuch\n\r", kDoesNotExist, kDoesNotExist, ":: "}));
}

TEST_F(ServiceCommandsTest, RestartOfAStoppedServiceStartsIt) {
  scm_.AddService("Idle", "Idle", kStateStopped);
  EXPECT_EQ(Run({"rstrt", "Idle"}),
            (Sends{"Restarting Service...Idle\n\r", "Service Stopped...\n\r", "Service Started\n\r",
                   ":: "}));
  EXPECT_EQ(scm_.StateOf("Idle"), kStateRunning);
}

// The line that says what is under way has gone out when the wait begins
// (the job is handed out with nothing else sent); each step's result goes
// out as its report arrives, and the prompt with the last. A command that
// does not wait hands out no job and is complete at once.
TEST_F(ServiceCommandsTest, HeadingBeforeTheWaitThenEachStepAsItEnds) {
  scm_.AddService("Spooler", "Print Spooler", kStateStopped);
  const std::string start = "Starting Service...Spooler\n\r";
  const std::string stop = "Stopping Service...Spooler\n\r";
  const std::string restart = "Restarting Service...Spooler\n\r";
  const struct {
    std::vector<std::string> words;
    std::vector<Sends> stages;  // when the line has run, then after each report
  } cases[] = {
      {{"start", "Spooler"}, {{start}, {start, "Service started\n\r", ":: "}}},
      {{"stop", "Spooler"}, {{stop}, {stop, "Service Stopped\n\r", ":: "}}},
      // before the stop, and before the start
      {{"rstrt", "Spooler"},
       {{restart},
        {restart, "Service Stopped...\n\r"},
        {restart, "Service Stopped...\n\r", "Service Started\n\r", ":: "}}},
      {{"status", "Spooler"}, {{"Retrieving Status\n\r", "The service is running.\n\r", ":: "}}},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.words[0]);
    client_.ClearSends();
    commands_.Submit(client_, *MakeLine(each.words));
    EXPECT_EQ(client_.sends(), each.stages[0]);
    EXPECT_EQ(commands_.executor().Pending(), each.stages.size() > 1 ? 1u : 0u);
    if (each.stages.size() > 1) {
      EXPECT_EQ(scm_.CountCalls("OpenManager"), 0u);  // nothing of the wait has run yet
    }
    if (commands_.executor().RunNext()) {
      for (std::size_t i = 1; i < each.stages.size(); ++i) {
        ASSERT_TRUE(commands_.DeliverNext());
        EXPECT_EQ(client_.sends(), each.stages[i]);
      }
    }
    EXPECT_FALSE(commands_.DeliverNext());
    EXPECT_FALSE(commands_.runner().IsWaiting(1));
    scm_.ClearCalls();
  }
}

// The interpreter alone never waits: given a command that waits, with no
// scheduler behind it, it answers as for an operation no worker could take
// and leaves the manager alone.
TEST_F(ServiceCommandsTest, WithoutASchedulerTheInterpreterDoesNotWait) {
  scm_.AddService("Spooler", "Print Spooler", kStateStopped);
  const std::string no_worker = "The specified service error is not known for error code 8.\n\r";
  const struct {
    std::vector<std::string> words;
    Sends sends;
  } cases[] = {
      {{"start", "Spooler"}, {"Starting Service...Spooler\n\r", no_worker, ":: "}},
      {{"STOP", "Spooler"}, {"Stopping Service...Spooler\n\r", no_worker, ":: "}},
      {{"Rstrt", "Spooler"}, {"Restarting Service...Spooler\n\r", no_worker, no_worker, ":: "}},
      {{"stop", "HALVEXA351"},
       {"553-STOP HALVEXA351 refused: this service cannot stop itself; use CYCLE to restart its "
        "listener\n\r",
        ":: "}},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.words[0]);
    client_.ClearSends();
    ProcessCommand(server_, client_, *MakeLine(each.words));
    EXPECT_EQ(client_.sends(), each.sends);
  }
  EXPECT_EQ(scm_.CountCalls("OpenManager"), 0u);
  EXPECT_EQ(scm_.StateOf("Spooler"), kStateStopped);
}

TEST_F(ServiceCommandsTest, StatusTextForEveryState) {
  struct {
    std::uint32_t state;
    std::string text;
  } cases[] = {
      {kStateStopped, "The service is stopped.\n\r"},
      {kStateStartPending, "The service is starting.\n\r"},
      {kStateStopPending, "The service is stopping.\n\r"},
      {kStateRunning, "The service is running.\n\r"},
      {kStateContinuePending, "The service continue is pending.\n\r"},
      {kStatePausePending, "The service pause is pending.\n\r"},
      {kStatePaused, "The service is paused.\n\r"},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.state);
    const std::string name = "S" + std::to_string(each.state);
    SimulatedService& service = scm_.AddService(name, name);
    service.start_delay_ms = kForever;
    service.stop_delay_ms = kForever;
    scm_.SetState(name, each.state);
    EXPECT_EQ(Run({"status", name}), (Sends{"Retrieving Status\n\r", each.text, ":: "}));
  }
}

// RSTRT with RestartDependents: after the service, the dependants its stop
// stopped start again, last stopped first, each on its own line; one that
// fails is named with its code; one already stopped is left alone. Without
// the value (or without StopDependencies) nothing is started again.
TEST_F(ServiceCommandsTest, RestartStartsTheDependantsItStoppedInReverseOrder) {
  const std::string heading = "Restarting Service...Base\n\r";
  const std::string stopped = "Service Stopped...\n\r";
  const std::string started = "Service Started\n\r";
  struct {
    const char* title;
    std::vector<std::string> running, stopped_before;  // dependants, in manager order
    std::string failing;                               // refuses its start again
    bool restart_dependents = true;
    bool stop_dependencies = true;
    Sends tail;                       // after the service's own two lines
    std::vector<std::string> starts;  // names started, in order
  } cases[] = {
      {"none", {}, {}, "", true, true, {":: "}, {"Base"}},
      {"one",
       {"Child"},
       {},
       "",
       true,
       true,
       {"Dependent service started: Child\n\r", ":: "},
       {"Base", "Child"}},
      {"three, one failing, one already stopped",
       {"A", "B", "C"},
       {"D"},
       "B",
       true,
       true,
       {"Dependent service started: C\n\r",
        "Dependent service not started: B, error 1069: The service could not be logged on.\n\r",
        "Dependent service started: A\n\r", ":: "},
       {"Base", "C", "B", "A"}},
      {"value off", {"Child"}, {}, "", false, true, {":: "}, {"Base"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    // A manager and server of the case's own.
    SimulatedManager scm;
    FakeServerContext server{scm};
    RecordingConnection client;
    server.AddClient(&client);
    SettledRunner runner{server};
    scm.AddService("Base", "Base", kStateRunning);
    for (const std::string& name : c.running) {
      scm.AddService(name, name, kStateRunning).refuse_start = name == c.failing ? 1069 : 0;
      scm.AddDependency("Base", name);
    }
    for (const std::string& name : c.stopped_before) {
      scm.AddService(name, name, kStateStopped);
      scm.AddDependency("Base", name);
    }
    server.fields().stop_dependencies = c.stop_dependencies;
    server.fields().restart_dependents = c.restart_dependents;
    Sends want = {heading, stopped, started};
    want.insert(want.end(), c.tail.begin(), c.tail.end());
    runner.Run(client, *MakeLine({"rstrt", "Base"}));
    EXPECT_EQ(client.sends(), want);
    EXPECT_EQ(scm.OpenHandleCount(), 0u);
    std::vector<std::string> starts;
    for (const SimulatedCall& call : scm.Calls())
      if (call.op == "Start") starts.push_back(call.target);
    EXPECT_EQ(starts, c.starts);
    for (const std::string& name : c.running) {
      const bool back = c.restart_dependents && name != c.failing;
      EXPECT_EQ(scm.StateOf(name), back ? kStateRunning : kStateStopped) << name;
    }
    for (const std::string& name : c.stopped_before) EXPECT_EQ(scm.StateOf(name), kStateStopped);
  }
}

// With StopDependencies off the stop fails on running dependants, so none
// is stopped and none started again.
TEST_F(ServiceCommandsTest, RestartDependentsNeedsStopDependencies) {
  scm_.AddService("Base", "Base", kStateRunning);
  scm_.AddService("Child", "Child", kStateRunning);
  scm_.AddDependency("Base", "Child");
  server_.fields().stop_dependencies = false;
  server_.fields().restart_dependents = true;
  EXPECT_EQ(Run({"rstrt", "Base"}),
            (Sends{"Restarting Service...Base\n\r",
                   "The service cannot be stopped because other running services are dependent "
                   "on it.\n\r",
                   kAlreadyRunning, ":: "}));
  EXPECT_EQ(scm_.CountCalls("Start", "Child"), 0u);
  EXPECT_EQ(scm_.StateOf("Child"), kStateRunning);
}

// STOP and RSTRT of this service itself, in any case, are refused before
// the manager is asked anything; its dependants are left alone too.
TEST_F(ServiceCommandsTest, StopAndRestartOfThisServiceAreRefused) {
  scm_.AddService("Halvexa351", "Halvexa Server", kStateRunning);
  scm_.AddService("Helper", "Helper", kStateRunning);
  scm_.AddDependency("Halvexa351", "Helper");
  server_.fields().stop_dependencies = true;
  const std::string cycle =
      " refused: this service cannot stop itself; use CYCLE to restart its listener\n\r";
  struct {
    std::vector<std::string> words;
    std::string line;
  } cases[] = {
      {{"stop", "Halvexa351"}, "553-STOP Halvexa351" + cycle},
      {{"STOP", "halvexa351"}, "553-STOP halvexa351" + cycle},
      {{"Rstrt", "HALVEXA351"}, "553-RSTRT HALVEXA351" + cycle},
      {{"rstrt", "hAlVeXa351", "extra"}, "553-RSTRT hAlVeXa351" + cycle},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.words[0] + " " + each.words[1]);
    EXPECT_EQ(Run(each.words), (Sends{each.line, ":: "}));
  }
  EXPECT_EQ(scm_.StateOf("Halvexa351"), kStateRunning);
  EXPECT_EQ(scm_.StateOf("Helper"), kStateRunning);
  EXPECT_EQ(scm_.CountCalls("OpenService"), 0u);
  // A similar name is no refusal, and START of itself is left as it was.
  EXPECT_EQ(Run({"stop", "Halvexa3510"}),
            (Sends{"Stopping Service...Halvexa3510\n\r", kDoesNotExist, ":: "}));
  EXPECT_EQ(Run({"start", "Halvexa351"}),
            (Sends{"Starting Service...Halvexa351\n\r", kAlreadyRunning, ":: "}));
}

TEST_F(ServiceCommandsTest, StatusFailuresAllSayUnableToDetermine) {
  scm_.AddService("Secret", "Secret", kStateRunning).refuse_query = 5;
  scm_.AddService("Spooler", "Print Spooler", kStateRunning);
  const Sends unable = {"Retrieving Status\n\r", "Unable to determine status.\n\r", ":: "};
  EXPECT_EQ(Run({"STATUS", "NoSuch"}), unable);
  EXPECT_EQ(Run({"status"}), unable);
  EXPECT_EQ(Run({"status", "Secret"}), unable);
  EXPECT_EQ(Run({"status", "Spooler", "NoSuch"}),
            (Sends{"Retrieving Status\n\r", "The service is running.\n\r", ":: "}));
}

}  // namespace
}  // namespace halv::testing
