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

// The fault this guards against: one connection pipelining correct AUTHs
// was held back after 20 of them, as if something had failed.
TEST_F(LoginWaitsTest, PipelinedCorrectLoginsAreAllChecked) {
  const ConnectionId a = Connect();
  std::string lines;
  for (int i = 0; i < 100; ++i) lines += "auth bob pw\n";
  Receive(a, lines);
  Settle();
  std::string expected;
  for (int i = 0; i < 100; ++i) expected += std::string(kLoggedIn) + ":: ";
  EXPECT_EQ(SendsOf(a).text, expected);
  EXPECT_EQ(transforms_, 100);
  EXPECT_EQ(server_.LoginThrottle().checks_in_flight(), 0u);
}

constexpr char kCeiling[] =
    "450-Too many failed logins on this server just now, try again in 1 second\n\r:: ";

// Checks on the workers fill the ceiling until their results are in: of 25
// AUTHs from 25 addresses begun before any result, 20 are handed out and 5
// answered by the ceiling at once. Each case: whether the 20 are right.
TEST_F(LoginWaitsTest, ChecksUnderWayFillTheCeiling) {
  for (const bool right : {false, true}) {
    SCOPED_TRACE(right ? "right passwords" : "wrong passwords");
    server_.LoginThrottle() = access::FailureThrottle();
    transforms_ = 0;
    std::vector<ConnectionId> ids;
    for (int i = 0; i < 25; ++i) {
      ids.push_back(Connect("10." + std::to_string(i) + ".0.1"));
      Receive(ids.back(), right ? "auth bob pw\n" : "auth user" + std::to_string(i) + " nope\n");
    }
    EXPECT_EQ(executor_.Pending(), 20u);
    EXPECT_EQ(server_.LoginThrottle().checks_in_flight(), 20u);
    for (int i = 0; i < 25; ++i) EXPECT_EQ(SendsOf(ids[i]).text, i < 20 ? "" : kCeiling) << i;
    EXPECT_EQ(server_.records().back().text,
              "not checked (too many failed logins on this server in the last second)");
    Settle();
    EXPECT_EQ(transforms_, 20);
    EXPECT_EQ(server_.LoginThrottle().checks_in_flight(), 0u);
    for (int i = 0; i < 20; ++i)
      EXPECT_EQ(SendsOf(ids[i]).text,
                right ? std::string(kLoggedIn) + ":: " : std::string(kIncorrect) + ":: ")
          << i;
    // The results are in: successes have left the ceiling, failures stay
    // for the second.
    const ConnectionId late = Connect("203.0.113.5");
    Receive(late, "auth bob pw\n");
    Settle();
    EXPECT_EQ(SendsOf(late).text, right ? std::string(kLoggedIn) + ":: " : kCeiling);
    EXPECT_EQ(transforms_, right ? 21 : 20);
    for (const ConnectionId id : ids) Disconnect(id);
    Disconnect(late);
  }
}

// A check whose client has gone ends when its result comes back, and a
// success then leaves the ceiling as one answered would.
TEST_F(LoginWaitsTest, AChecksEndIsRecordedWhenItsClientHasGone) {
  std::vector<ConnectionId> ids;
  for (int i = 0; i < 20; ++i) {
    ids.push_back(Connect("10." + std::to_string(i) + ".0.1"));
    Receive(ids.back(), "auth bob pw\n");
  }
  for (const ConnectionId id : ids) Disconnect(id);
  EXPECT_EQ(server_.LoginThrottle().checks_in_flight(), 20u);
  Settle();
  EXPECT_EQ(transforms_, 20);
  EXPECT_EQ(server_.LoginThrottle().checks_in_flight(), 0u);
  EXPECT_EQ(server_.LoginThrottle().CeilingWaitMs(server_.TickMs()), 0u);
}

// Checks whose results will never be delivered, the service stopping, end
// as the sessions are cancelled.
TEST_F(LoginWaitsTest, CancellingTheSessionsEndsTheirChecks) {
  const ConnectionId a = Connect();
  Receive(a, "auth bob pw\n");
  EXPECT_EQ(server_.LoginThrottle().checks_in_flight(), 1u);
  runner_.CancelAll();
  EXPECT_EQ(server_.LoginThrottle().checks_in_flight(), 0u);
  // The result that comes back later ends nothing a second time.
  Settle();
  EXPECT_EQ(server_.LoginThrottle().checks_in_flight(), 0u);
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
