// Transcript tests of the commands that go to the Service Control Manager:
// START, STOP, RSTRT and STATUS, against the simulated manager.
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

// The line that says what is under way leaves before each wait; the rest of
// the reply leaves with the end of the command.
TEST_F(ServiceCommandsTest, WaitingCommandsFlushBeforeEachWait) {
  scm_.AddService("Spooler", "Print Spooler", kStateStopped);
  const struct {
    std::vector<std::string> words;
    std::vector<std::size_t> flushes;
  } cases[] = {
      {{"start", "Spooler"}, {1}},    {{"stop", "Spooler"}, {1}},
      {{"rstrt", "Spooler"}, {1, 2}},  // before the stop, and before the start
      {{"status", "Spooler"}, {}},    {{"help"}, {}},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.words[0]);
    Run(each.words);
    EXPECT_EQ(client_.flushes(), each.flushes);
  }
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
