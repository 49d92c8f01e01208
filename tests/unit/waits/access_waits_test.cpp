// Logins on the road of the commands that wait: START, STOP and RSTRT go to
// a worker only after their permission check, and a refusal waits for
// nothing.
#include <gtest/gtest.h>

#include <string>

#include "waits_fixture.h"

namespace halv::testing {
namespace {

class AccessWaitsTest : public WaitsTest {
 protected:
  AccessWaitsTest() {
    server_.fields().require_auth = true;
    scm_.AddService("Spooler", "Print Spooler", kStateRunning);
    server_.accounts().Set("Anonymous", "AllowStatus", "1");
  }
};

TEST_F(AccessWaitsTest, ARefusedStopIsAnsweredAtOnceAndStartsNoWait) {
  const ConnectionId a = Connect();
  for (const char* line : {"stop Spooler\n", "start Spooler\n", "rstrt Spooler\n"}) {
    Receive(a, line);
    EXPECT_FALSE(runner_.IsWaiting(a)) << line;
  }
  Settle();
  EXPECT_EQ(SendsOf(a), (Sends{"550-Permission denied: STOP needs AllowStop\n\r",
                               ":: ", "550-Permission denied: START needs AllowStart\n\r", ":: ",
                               "550-Permission denied: RSTRT needs AllowRestart\n\r", ":: "}));
  EXPECT_EQ(scm_.StateOf("Spooler"), kStateRunning);
  EXPECT_EQ(server_.audit_lines().size(), 3u);
}

TEST_F(AccessWaitsTest, AGrantedStopWaitsOnAWorkerAndIsAudited) {
  server_.accounts().Set("Anonymous", "AllowStop", "1");
  const ConnectionId a = Connect();
  Receive(a, "stop Spooler\n");
  EXPECT_TRUE(runner_.IsWaiting(a));
  Settle();
  EXPECT_EQ(SendsOf(a), (Sends{"Stopping Service...Spooler\n\r", "Service Stopped\n\r", ":: "}));
  EXPECT_EQ(scm_.StateOf("Spooler"), kStateStopped);
  EXPECT_EQ(server_.audit_lines(),
            std::vector<std::string>{"Audit: Anonymous at 127.0.0.1: STOP Spooler"});
}

// A line held while another command waits is checked when it runs.
TEST_F(AccessWaitsTest, LinesHeldDuringAWaitAreCheckedWhenTheyRun) {
  server_.accounts().Set("Anonymous", "AllowStop", "1");
  const ConnectionId a = Connect();
  Receive(a, "stop Spooler\n");
  Receive(a, "start Spooler\n");
  Settle();
  EXPECT_EQ(SendsOf(a), (Sends{"Stopping Service...Spooler\n\r", "Service Stopped\n\r",
                               ":: ", "550-Permission denied: START needs AllowStart\n\r", ":: "}));
  EXPECT_EQ(scm_.StateOf("Spooler"), kStateStopped);
}

}  // namespace
}  // namespace halv::testing
