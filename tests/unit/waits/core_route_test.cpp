// The service core's receipt road with a command runner set: a STOP goes to
// the scheduler (the core's thread is free at once), the lines after it wait
// for its reply, and without a connection number the core still runs every
// command inline.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "command_runner.h"
#include "config_schema.h"
#include "fake_service_ports.h"
#include "manual_executor.h"
#include "operation_scheduler.h"
#include "recording_connection.h"
#include "service_core.h"
#include "simulated_manager.h"

namespace halv::testing {
namespace {

using Sends = std::vector<std::string>;

class CoreRouteTest : public ::testing::Test {
 protected:
  CoreRouteTest() {
    SimulatedService& slow = scm_.AddService("Slow", "Slow", kStateRunning);
    slow.stop_delay_ms = 6000;
    slow.stop_wait_hint = 1000;
    core_.SetCommandRunner(&runner_);
  }

  SimulatedManager scm_;
  FakeServicePorts fakes_{scm_};
  ServiceCore core_{fakes_.Ports(), EnglishMonthNames()};
  ManualExecutor executor_;
  std::vector<OperationReport> posted_;
  OperationScheduler scheduler_{executor_,
                                std::shared_ptr<ServiceManager>(&scm_, [](ServiceManager*) {}),
                                [this](OperationReport r) { posted_.push_back(std::move(r)); }};
  RecordingConnection client_;
  CommandRunner runner_{core_, scheduler_, [this](ConnectionId id) -> Connection* {
                          return id == 7 ? &client_ : nullptr;
                        }};
};

TEST_F(CoreRouteTest, StopWaitsOnTheSchedulerAndTheRestFollowsItsReply) {
  core_.ServerSocket1ClientRead(client_, 7, "stop Slow\r\nupdate\r\n");
  EXPECT_EQ(client_.sends(), Sends{"Stopping Service...Slow\n\r"});
  EXPECT_EQ(executor_.Pending(), 1u);
  EXPECT_EQ(scm_.CountCalls("OpenManager"), 0u);  // nothing of the stop ran here
  EXPECT_TRUE(runner_.IsWaiting(7));

  ASSERT_TRUE(executor_.RunNext());
  ASSERT_EQ(posted_.size(), 1u);
  runner_.Deliver(posted_[0]);
  EXPECT_EQ(client_.sends(), (Sends{"Stopping Service...Slow\n\r", "Service Stopped\n\r",
                                    ":: ", "Updating Service\n\r"}));
  EXPECT_FALSE(runner_.IsWaiting(7));
  EXPECT_EQ(scm_.StateOf("Slow"), kStateStopped);
}

// With no command runner behind it the interpreter does not wait: the stop
// is answered as one no worker could take, and the manager is not touched.
TEST_F(CoreRouteTest, WithoutANumberTheCoreDoesNotWait) {
  core_.ServerSocket1ClientRead(client_, "stop Slow\r\n");
  EXPECT_EQ(client_.sends(),
            (Sends{"Stopping Service...Slow\n\r",
                   "The specified service error is not known for error code 8.\n\r", ":: "}));
  EXPECT_EQ(executor_.Pending(), 0u);
  EXPECT_EQ(scm_.CountCalls("OpenManager"), 0u);
  EXPECT_EQ(scm_.StateOf("Slow"), kStateRunning);
}

}  // namespace
}  // namespace halv::testing
