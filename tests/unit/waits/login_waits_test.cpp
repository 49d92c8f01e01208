// AUTH's password transform on a worker: the connection's later lines wait
// for its reply, other connections are served meanwhile, and the throttle
// and audit trail learn of every check, also one whose client has gone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "auth/auth.h"
#include "login.h"
#include "waits_fixture.h"

namespace halv::testing {
namespace {

constexpr char kLoggedIn[] = "230-Logged in as bob\n\r";
constexpr char kIncorrect[] = "530-Login incorrect\n\r";

class LoginWaitsTest : public WaitsTest {
 protected:
  LoginWaitsTest() {
    server_.fields().require_auth = true;
    server_.accounts().Set("bob", "Auth", auth::AuthFromPassword("pw"));
    server_.accounts().Set("bob", "AllowStatus", "1");
    scm_.AddService("Spooler", "Print Spooler", kStateRunning);
  }

  // STIME's reply on the fixed clock, from a connection of its own.
  std::string StimeReply() {
    const ConnectionId probe = Connect();
    Receive(probe, "stime\n");
    Settle();
    const std::string text = SendsOf(probe).text;
    Disconnect(probe);
    return text;
  }

  // Moves the clock past every throttle deadline.
  void PastTheThrottle() { server_.set_tick_ms(server_.TickMs() + 120000); }
};

TEST_F(LoginWaitsTest, TheTransformRunsOnAWorkerAndLaterLinesWaitForTheReply) {
  const std::string stime = StimeReply();
  const ConnectionId a = Connect();
  Receive(a, "auth bob pw\nstime\nstatus Spooler\n");
  // Nothing computed or answered on the service thread; the rest is held.
  EXPECT_EQ(transforms_, 0);
  EXPECT_EQ(executor_.Pending(), 1u);
  EXPECT_TRUE(runner_.IsWaiting(a));
  EXPECT_EQ(SendsOf(a), Sends{});
  RunJobs();
  EXPECT_EQ(transforms_, 1);
  EXPECT_EQ(SendsOf(a), Sends{});  // the result is not delivered yet
  DeliverPosted();
  Settle();
  const std::string text = SendsOf(a).text;
  ASSERT_EQ(text.rfind(std::string(kLoggedIn) + ":: " + stime, 0), 0u) << text;
  // STATUS needs AllowStatus, which bob has and Anonymous has not.
  EXPECT_NE(text.find("The service is running."), std::string::npos) << text;
  EXPECT_FALSE(runner_.IsWaiting(a));
}

TEST_F(LoginWaitsTest, AnotherConnectionIsAnsweredWhileACheckIsUnderWay) {
  const std::string stime = StimeReply();
  const ConnectionId a = Connect();
  const ConnectionId b = Connect();
  Receive(a, "auth bob pw\n");
  Receive(b, "stime\n");
  EXPECT_EQ(SendsOf(b).text, stime);
  EXPECT_EQ(SendsOf(a), Sends{});
  Settle();
  EXPECT_EQ(SendsOf(a), (Sends{kLoggedIn, ":: "}));
}

// Each receipt's transcript, the clock past every deadline before each
// receipt; the replies keep the order of the lines.
TEST_F(LoginWaitsTest, RepliesKeepTheOrderOfTheLines) {
  const std::string stime = StimeReply();
  struct Case {
    const char* name;
    std::vector<std::string> receipts;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"WrongThenRight",
       {"auth bob nope\nstime\n", "auth bob pw\nstime\n"},
       std::string(kIncorrect) + ":: " + stime + kLoggedIn + ":: " + stime},
      {"UsageIsAnsweredAtOnce", {"auth\nstime\n"}, "501-Usage: AUTH <user> <password>\n\r:: " + stime},
      {"TooSoonIsAnsweredWithoutACheck",
       {"auth bob nope\nauth bob pw\nstime\n"},
       std::string(kIncorrect) + ":: " +
           "450-Too soon after a failed login from this address, try again in 1 second\n\r:: " +
           stime},
  };
  for (const Case& c : cases) {
    server_.LoginThrottle() = access::FailureThrottle();
    const ConnectionId id = Connect();
    for (const std::string& receipt : c.receipts) {
      PastTheThrottle();
      Receive(id, receipt);
      Settle();
    }
    EXPECT_EQ(SendsOf(id).text, c.expected) << c.name;
    Disconnect(id);
  }
}

TEST_F(LoginWaitsTest, ATooSoonAuthStartsNoCheck) {
  const ConnectionId a = Connect();
  Receive(a, "auth bob nope\n");
  Settle();
  const int before = transforms_;
  Receive(a, "auth bob pw\n");
  EXPECT_EQ(executor_.Pending(), 0u);
  EXPECT_FALSE(runner_.IsWaiting(a));
  Settle();
  EXPECT_EQ(transforms_, before);
}

TEST_F(LoginWaitsTest, AFailureIsCountedWhenTheClientLeavesBeforeTheAnswer) {
  const ConnectionId a = Connect();
  Receive(a, "auth bob nope\n");
  Disconnect(a);
  Settle();
  EXPECT_EQ(transforms_, 1);
  EXPECT_GT(server_.LoginThrottle().WaitMs("127.0.0.1", "bob", server_.TickMs()), 0u);
  ASSERT_FALSE(server_.records().empty());
  EXPECT_EQ(server_.records().back().event, AuditEvent::kLoginFailed);
  EXPECT_EQ(server_.records().back().text, "failed");
  EXPECT_FALSE(runner_.IsWaiting(a));
}

TEST_F(LoginWaitsTest, TheThirdFailureClosesAndDropsTheHeldLines) {
  const ConnectionId a = Connect();
  for (int i = 0; i < 2; ++i) {
    PastTheThrottle();
    Receive(a, "auth bob nope\n");
    Settle();
  }
  PastTheThrottle();
  Receive(a, "auth bob nope\nstime\n");
  Settle();
  EXPECT_TRUE(SendsOf(a).EndsWith(std::string(kIncorrect) +
                                  "421-Too many failed logins, closing the connection\n\r"))
      << SendsOf(a).text;
  EXPECT_EQ(driver_.FindById(a), nullptr);
}

}  // namespace
}  // namespace halv::testing
