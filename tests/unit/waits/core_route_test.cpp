// The service's road for a receipt: the connection driver over a fake
// socket hands its lines to the service core. With a command runner set a
// STOP goes to the scheduler (the service thread is free at once) and the
// lines after it wait for its reply; without one the core runs every
// command inline. In verbose mode each receipt is logged, and a receipt
// counts as the connection's last activity.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "command_runner.h"
#include "config_schema.h"
#include "connection_driver.h"
#include "fake_service_ports.h"
#include "fake_socket.h"
#include "manual_executor.h"
#include "operation_scheduler.h"
#include "service_core.h"
#include "simulated_manager.h"

namespace halv::testing {
namespace {

using Lines = std::vector<std::string>;

class CoreRouteTest : public ::testing::Test {
 protected:
  CoreRouteTest() {
    SimulatedService& slow = scm_.AddService("Slow", "Slow", kStateRunning);
    slow.stop_delay_ms = 6000;
    slow.stop_wait_hint = 1000;
    listener_.events = &driver_;
    runner_.set_on_wait_begin([this](ConnectionId id) { driver_.PauseInput(id); });
    runner_.set_on_wait_end([this](ConnectionId id) { driver_.ResumeInput(id); });
    core_.SetCommandRunner(&runner_);
  }

  // Accepts one client (greeted by the core); the test then sees only
  // what follows the greeting.
  ConnectionId Connect() {
    peer_ = listener_.Queue();
    driver_.ListenerReady(0);
    greeting_ = peer_->out.received.size();
    return listener_.accepted.back();
  }
  std::string Received() const { return peer_->out.received.substr(greeting_); }
  void Receive(ConnectionId id, const std::string& text) {
    peer_->inbound += text;
    driver_.Readable(id);
  }

  SimulatedManager scm_;
  FakeServicePorts fakes_{scm_};
  ServiceCore core_{fakes_.Ports(), EnglishMonthNames()};
  ManualExecutor executor_;
  std::vector<OperationReport> posted_;
  OperationScheduler scheduler_{executor_,
                                std::shared_ptr<ServiceManager>(&scm_, [](ServiceManager*) {}),
                                [this](OperationReport r) { posted_.push_back(std::move(r)); }};
  CommandRunner runner_{core_, scheduler_,
                        [this](ConnectionId id) { return driver_.FindById(id); }};
  FakeListeningSocket listener_;
  ConnectionDriver driver_{listener_, core_};
  std::shared_ptr<FakePeer> peer_;
  std::size_t greeting_ = 0;
};

TEST_F(CoreRouteTest, StopWaitsOnTheSchedulerAndTheRestFollowsItsReply) {
  const ConnectionId id = Connect();
  Receive(id, "stop Slow\r\nupdate\r\n");
  EXPECT_EQ(Received(), "Stopping Service...Slow\n\r");
  EXPECT_EQ(executor_.Pending(), 1u);
  EXPECT_EQ(scm_.CountCalls("OpenManager"), 0u);  // nothing of the stop ran here
  EXPECT_TRUE(runner_.IsWaiting(id));

  ASSERT_TRUE(executor_.RunNext());
  ASSERT_EQ(posted_.size(), 1u);
  runner_.Deliver(posted_[0]);
  driver_.Settle();
  EXPECT_EQ(Received(), "Stopping Service...Slow\n\rService Stopped\n\r:: Updating Service\n\r");
  EXPECT_FALSE(runner_.IsWaiting(id));
  EXPECT_EQ(scm_.StateOf("Slow"), kStateStopped);
}

// With no command runner behind it the interpreter does not wait: the stop
// is answered as one no worker could take, and the manager is not touched.
TEST_F(CoreRouteTest, WithoutARunnerTheCoreDoesNotWait) {
  core_.SetCommandRunner(nullptr);
  const ConnectionId id = Connect();
  Receive(id, "stop Slow\r\n");
  EXPECT_EQ(Received(),
            "Stopping Service...Slow\n\r"
            "The specified service error is not known for error code 8.\n\r:: ");
  EXPECT_EQ(executor_.Pending(), 0u);
  EXPECT_EQ(scm_.CountCalls("OpenManager"), 0u);
  EXPECT_EQ(scm_.StateOf("Slow"), kStateRunning);
}

TEST_F(CoreRouteTest, AReceiptRunsItsLinesThroughTheInterpreter) {
  fakes_.SetRequiredValues();
  fakes_.SetValue(config::kVerboseLogging, "1");
  core_.LoadConfiguration();
  core_.SetCommandRunner(nullptr);
  const ConnectionId id = Connect();
  fakes_.log_lines.clear();
  Receive(id, "update\r\n");
  EXPECT_EQ(Received(), "Updating Service\n\r");
  EXPECT_EQ(fakes_.log_lines,
            (Lines{"Received buffer size is 6", "Receive buffer is >>update\n<<"}));
  greeting_ = peer_->out.received.size();
  Receive(id, "\r\n");
  EXPECT_EQ(Received(), "\n\r:: ");
  Receive(id, "quit\r\nupdate\r\n");
  EXPECT_EQ(driver_.FindById(id), nullptr);  // closed by QUIT
  EXPECT_EQ(Received().find("Updating"), std::string::npos);
}

TEST_F(CoreRouteTest, AReceiptIsTheConnectionsLastActivity) {
  fakes_.tick_ms = 1000;
  const ConnectionId id = Connect();
  Connection* client = driver_.FindById(id);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(client->last_receipt_ms(), 1000u);
  fakes_.tick_ms = 20000;
  Receive(id, "stime\r\n");
  EXPECT_EQ(client->last_receipt_ms(), 20000u);
}

// Only a command line is activity: telnet commands (NOP, an option
// request), empty lines and half a line keep nobody connected.
TEST_F(CoreRouteTest, OnlyCommandLinesAreActivity) {
  fakes_.tick_ms = 1000;
  const ConnectionId id = Connect();
  Connection* client = driver_.FindById(id);
  ASSERT_NE(client, nullptr);
  const std::string receipts[] = {"\xff\xf1", "\xff\xfd\x01", "\r\n", "   \r\n", "sti"};
  for (const std::string& receipt : receipts) {
    fakes_.tick_ms += 2000;
    Receive(id, receipt);
    EXPECT_EQ(client->last_receipt_ms(), 1000u) << ::testing::PrintToString(receipt);
  }
  fakes_.tick_ms = 30000;
  Receive(id, "me\r\n");  // the line is whole now
  EXPECT_EQ(client->last_receipt_ms(), 30000u);
}

}  // namespace
}  // namespace halv::testing
