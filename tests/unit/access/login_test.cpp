// Logins: the states of a connection, the three-failure close, replies and
// work that do not tell an unknown user from a wrong password, the
// constant-time comparison, the per-address failure deadlines and the
// ceiling on guesses of all clients together.
#include "login.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "auth/auth.h"
#include "memory_accounts.h"

namespace halv::access::testing {
namespace {

using halv::testing::MemoryAccounts;

// Credentials whose transform and comparison are counted; the comparison is
// the real constant-time one.
struct CountingCredentials {
  int transforms = 0;
  int comparisons = 0;
  std::vector<std::string> transformed;  // what was transformed, in order
  Credentials Get() {
    return {[this](std::string_view password) {
              ++transforms;
              transformed.emplace_back(password);
              return "form(" + std::string(password) + ")";
            },
            [this](std::string_view a, std::string_view b) {
              ++comparisons;
              return ConstantTimeEquals(a, b);
            }};
  }
};

class LoginTest : public ::testing::Test {
 protected:
  LoginTest() {
    accounts_.Set("bob", "Auth", "form(secret)");
    accounts_.Set("nopass", "AllowStop", "1");      // a user without Auth
    accounts_.Set("Admin", "Auth", "form(Admin)");  // created with an empty password
  }

  AuthOutcome Auth(const std::string& user, const std::string& password,
                   const std::string& address = "10.0.0.1") {
    now_ += 120000;  // past any deadline unless a test says otherwise
    return session_.Authenticate(user, password, address, now_, accounts_, throttle_,
                                 counting_creds_);
  }

  // Bob's right password from `address` at `at`, on `session`: held back
  // without a check and without counting as a failure.
  void ExpectHeldBack(LoginSession& session, const std::string& address, std::uint64_t at) {
    counting_.transforms = 0;
    EXPECT_EQ(session.Authenticate("bob", "secret", address, at, accounts_, throttle_,
                                   counting_creds_),
              AuthOutcome::kTooSoon);
    EXPECT_TRUE(session.last_attempt_throttled());
    EXPECT_EQ(counting_.transforms, 0);
    EXPECT_EQ(session.failures(), 0);
  }

  MemoryAccounts accounts_;
  FailureThrottle throttle_;
  CountingCredentials counting_;
  Credentials counting_creds_ = counting_.Get();
  LoginSession session_;
  std::uint64_t now_ = 1000000;
};

TEST_F(LoginTest, AConnectionStartsAsAnonymous) {
  EXPECT_EQ(session_.user(), "Anonymous");
  EXPECT_FALSE(session_.logged_in());
  EXPECT_EQ(session_.failures(), 0);
}

TEST_F(LoginTest, SuccessSwitchesToTheUserAndKeepsTheFailures) {
  EXPECT_EQ(Auth("bob", "wrong"), AuthOutcome::kFailure);
  EXPECT_EQ(session_.failures(), 1);
  EXPECT_EQ(session_.user(), "Anonymous");
  EXPECT_EQ(Auth("bob", "secret"), AuthOutcome::kSuccess);
  EXPECT_EQ(session_.user(), "bob");
  EXPECT_TRUE(session_.logged_in());
  EXPECT_EQ(session_.failures(), 1);  // a success resets no count
  // A later failure leaves the user logged in as before.
  EXPECT_EQ(Auth("Admin", "guess"), AuthOutcome::kFailure);
  EXPECT_EQ(session_.user(), "bob");
  // Another success switches to the other user.
  EXPECT_EQ(Auth("Admin", ""), AuthOutcome::kSuccess);
  EXPECT_EQ(session_.user(), "Admin");
}

TEST_F(LoginTest, TheThirdFailureClosesWhateverFailed) {
  // Unknown user, wrong password, user without Auth: three failures.
  EXPECT_EQ(Auth("mallory", "x"), AuthOutcome::kFailure);
  EXPECT_EQ(Auth("bob", "x"), AuthOutcome::kFailure);
  EXPECT_EQ(Auth("nopass", "x"), AuthOutcome::kFailureAndClose);
  EXPECT_EQ(session_.user(), "Anonymous");
  EXPECT_EQ(session_.failures(), 3);
}

TEST_F(LoginTest, FailuresCountPerConnection) {
  EXPECT_EQ(Auth("bob", "x"), AuthOutcome::kFailure);
  EXPECT_EQ(Auth("bob", "x"), AuthOutcome::kFailure);
  LoginSession other;
  now_ += 120000;
  EXPECT_EQ(other.Authenticate("bob", "x", "10.0.0.1", now_, accounts_, throttle_, counting_creds_),
            AuthOutcome::kFailure);
  EXPECT_EQ(Auth("bob", "x"), AuthOutcome::kFailureAndClose);
}

TEST_F(LoginTest, UnknownUserAndWrongPasswordDoTheSameWork) {
  // A user without Auth, a user that does not exist, a name that differs in
  // letter case only, and a wrong password: each is one transform and one
  // constant-time comparison, and the same outcome.
  for (const char* user : {"bob", "mallory", "BOB", "nopass", ""}) {
    SCOPED_TRACE(user);
    LoginSession fresh;
    counting_.transforms = counting_.comparisons = 0;
    now_ += 120000;
    EXPECT_EQ(
        fresh.Authenticate(user, "wrong", "10.0.0.9", now_, accounts_, throttle_, counting_creds_),
        AuthOutcome::kFailure);
    EXPECT_EQ(counting_.transforms, 1);
    EXPECT_EQ(counting_.comparisons, 1);
    EXPECT_EQ(fresh.user(), "Anonymous");
  }
}

TEST_F(LoginTest, AUserWithoutAuthCannotLogInEvenWithTheFormItWouldMatch) {
  // Its missing Auth is never taken as the empty text, nor as anything a
  // password could produce.
  Credentials empty_forms{[](std::string_view) { return std::string(); }, ConstantTimeEquals};
  LoginSession s;
  EXPECT_NE(s.Authenticate("nopass", "", "10.0.0.2", now_, accounts_, throttle_, empty_forms),
            AuthOutcome::kSuccess);
  accounts_.Set("emptyauth", "Auth", "");
  EXPECT_NE(s.Authenticate("emptyauth", "", "10.0.0.3", now_, accounts_, throttle_, empty_forms),
            AuthOutcome::kSuccess);
}

TEST_F(LoginTest, AnEmptyPasswordStandsForTheUserNameAsTheConsoleStoresIt) {
  EXPECT_EQ(Auth("Admin", ""), AuthOutcome::kSuccess);
  EXPECT_EQ(counting_.transformed.back(), "Admin");
}

TEST_F(LoginTest, AnUnreadableAuthCountsAsMissing) {
  accounts_.SetUnreadable("carol", "Auth");
  EXPECT_EQ(Auth("carol", "x"), AuthOutcome::kFailure);
}

TEST_F(LoginTest, TheConsolesOwnTransformIsUsed) {
  MemoryAccounts accounts;
  accounts.Set("bob", "Auth", auth::AuthFromPassword("s3cret pass"));
  FailureThrottle throttle;
  LoginSession s;
  const Credentials standard = Credentials::Standard();
  EXPECT_EQ(s.Authenticate("bob", "s3cret pas", "10.0.0.1", 0, accounts, throttle, standard),
            AuthOutcome::kFailure);
  EXPECT_EQ(s.Authenticate("bob", "s3cret pass", "10.0.0.1", 5000, accounts, throttle, standard),
            AuthOutcome::kSuccess);
  EXPECT_EQ(s.user(), "bob");
}

TEST_F(LoginTest, ADisabledAccountFailsLikeAWrongPassword) {
  // The right password of a disabled user: the same work, the same outcome
  // and the same count as a wrong one. Only absent, empty or "0" enable.
  const struct {
    const char* disabled;  // nullptr: no value; "?": unreadable
    bool logs_in;
  } cases[] = {
      {nullptr, true}, {"", true},   {"0", true},   {"1", false},
      {"yes", false},  {"2", false}, {" 0", false}, {"?", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.disabled == nullptr ? "(absent)" : c.disabled);
    MemoryAccounts accounts;
    accounts.Set("bob", "Auth", "form(secret)");
    if (c.disabled != nullptr && std::string(c.disabled) == "?") {
      accounts.SetUnreadable("bob", "Disabled");
    } else if (c.disabled != nullptr) {
      accounts.Set("bob", "Disabled", c.disabled);
    }
    FailureThrottle throttle;
    LoginSession s;
    counting_.transforms = counting_.comparisons = 0;
    const AuthOutcome outcome =
        s.Authenticate("bob", "secret", "10.0.0.5", now_, accounts, throttle, counting_creds_);
    EXPECT_EQ(outcome, c.logs_in ? AuthOutcome::kSuccess : AuthOutcome::kFailure);
    EXPECT_EQ(s.logged_in(), c.logs_in);
    EXPECT_EQ(s.user(), c.logs_in ? "bob" : "Anonymous");
    EXPECT_EQ(s.failures(), c.logs_in ? 0 : 1);
    EXPECT_EQ(counting_.transforms, 1);
    EXPECT_EQ(counting_.comparisons, 1);
    // A refused disabled login sets the address's deadline as a failure does.
    EXPECT_EQ(throttle.Blocked("10.0.0.5", now_ + 1), !c.logs_in);
  }
}

TEST_F(LoginTest, ThreeDisabledLoginsCloseTheConnection) {
  accounts_.Set("bob", "Disabled", "1");
  EXPECT_EQ(Auth("bob", "secret"), AuthOutcome::kFailure);
  EXPECT_EQ(Auth("bob", "secret"), AuthOutcome::kFailure);
  EXPECT_EQ(Auth("bob", "secret"), AuthOutcome::kFailureAndClose);
  // Enabled again, the same password logs in on a new connection.
  accounts_.Set("bob", "Disabled", "0");
  LoginSession fresh;
  now_ += 120000;
  EXPECT_EQ(
      fresh.Authenticate("bob", "secret", "10.0.0.1", now_, accounts_, throttle_, counting_creds_),
      AuthOutcome::kSuccess);
}

TEST(ConstantTimeEqualsTest, EqualOnlyForTheSameBytes) {
  const struct {
    std::string a, b;
    bool equal;
  } cases[] = {
      {"", "", true},
      {"abc", "abc", true},
      {"abc", "abd", false},
      {"abc", "xbc", false},
      {"abc", "ab", false},
      {"ab", "abc", false},
      {"", "a", false},
      {std::string("a\0b", 3), std::string("a\0c", 3), false},
      {std::string("a\0", 2), "a", false},
      {std::string(64, 'f'), std::string(64, 'f'), true},
  };
  for (const auto& c : cases) EXPECT_EQ(ConstantTimeEquals(c.a, c.b), c.equal) << c.a << "|" << c.b;
}

TEST_F(LoginTest, TheStandardCredentialsCompareInConstantTime) {
  // The standard comparison is ConstantTimeEquals itself.
  const Credentials standard = Credentials::Standard();
  auto* target = standard.equals.target<bool (*)(std::string_view, std::string_view)>();
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(*target, &ConstantTimeEquals);
}

// --- failure deadlines per address

TEST_F(LoginTest, AFailureMakesTheAddressWaitBeforeItsNextCheck) {
  const std::string address = "192.0.2.7";
  now_ = 5000000;
  LoginSession a;
  EXPECT_EQ(a.Authenticate("bob", "x", address, now_, accounts_, throttle_, counting_creds_),
            AuthOutcome::kFailure);
  EXPECT_FALSE(a.last_attempt_throttled());
  // 0.5 s later, even the right password is answered "too soon" without
  // any check, on this connection or another from the same address, and it
  // is no failure.
  LoginSession b;
  ExpectHeldBack(b, address, now_ + 500);
  EXPECT_EQ(throttle_.WaitMs(address, "bob", now_ + 500), 500u);
  EXPECT_EQ(throttle_.WaitMs(address, "bob", now_ + 1000), 0u);
  // Another address in another block, for another user, is not affected.
  EXPECT_EQ(b.Authenticate("Admin", "", "198.51.100.8", now_ + 500, accounts_, throttle_,
                           counting_creds_),
            AuthOutcome::kSuccess);
  // After the deadline (1 s) the address is checked again.
  LoginSession c;
  EXPECT_EQ(
      c.Authenticate("bob", "secret", address, now_ + 1000, accounts_, throttle_, counting_creds_),
      AuthOutcome::kSuccess);
  // The success cleared the user's record only: the address's stays.
  EXPECT_EQ(throttle_.NextDelay(FailureThrottle::UserKey("bob")), 1000u);
  EXPECT_EQ(throttle_.NextDelay(address), 2000u);
}

// An AUTH retyped at once is neither checked nor counted: three of them
// after one failure leave the connection open, and the right password
// succeeds once the deadline has passed.
TEST_F(LoginTest, AnAnswerWithoutACheckDoesNotCount) {
  const std::string address = "192.0.2.9";
  LoginSession s;
  EXPECT_EQ(s.Authenticate("bob", "x", address, 0, accounts_, throttle_, counting_creds_),
            AuthOutcome::kFailure);
  for (const std::uint64_t at : {10u, 20u, 999u}) {
    EXPECT_EQ(s.Authenticate("bob", "secret", address, at, accounts_, throttle_, counting_creds_),
              AuthOutcome::kTooSoon)
        << at;
    EXPECT_EQ(s.failures(), 1);
  }
  // Unchecked answers do not push the deadline further.
  EXPECT_FALSE(throttle_.Blocked(address, 1000));
  EXPECT_EQ(s.Authenticate("bob", "secret", address, 1000, accounts_, throttle_, counting_creds_),
            AuthOutcome::kSuccess);
  EXPECT_FALSE(s.last_attempt_throttled());
}

// Each case: failures recorded (address, user), then an attempt; whether it
// must wait. The records are kept by address, by /24 or /64 block and by
// target user.
TEST(FailureThrottleTest, KeysAreTheAddressItsBlockAndTheUser) {
  const struct {
    std::string failed_address, failed_user, address, user;
    bool waits;
  } cases[] = {
      {"192.0.2.7", "bob", "192.0.2.7", "alice", true},               // same address
      {"192.0.2.7", "bob", "192.0.2.200", "alice", true},             // same /24
      {"127.0.0.1", "bob", "127.0.0.60", "alice", true},              // loopback /24
      {"192.0.2.7", "bob", "192.0.3.7", "alice", false},              // another /24
      {"192.0.2.7", "bob", "198.51.100.1", "bob", true},              // same user anywhere
      {"192.0.2.7", "bob", "198.51.100.1", "Bob", false},             // user names are exact
      {"2001:db8:1:2::1", "bob", "2001:db8:1:2:ffff::9", "x", true},  // same /64
      {"2001:db8:1:2::1", "bob", "2001:db8:1:3::1", "x", false},      // another /64
      {"::ffff:192.0.2.7", "bob", "192.0.2.9", "x", true},            // mapped IPv4: its /24
      {"::1", "bob", "::1", "x", true},
  };
  for (const auto& c : cases) {
    FailureThrottle throttle;
    throttle.Failed(c.failed_address, c.failed_user, 1000);
    EXPECT_EQ(throttle.WaitMs(c.address, c.user, 1500) > 0, c.waits)
        << c.failed_address << " " << c.failed_user << " -> " << c.address << " " << c.user;
    EXPECT_EQ(throttle.WaitMs(c.address, c.user, 2000), 0u);
  }
  EXPECT_NE(FailureThrottle::UserKey("127.0.0.1"), "127.0.0.1");
  EXPECT_NE(FailureThrottle::BlockKey("127.0.0.1"), "127.0.0.1");
}

// The ceiling on guesses of all clients together: checks under way plus
// checks failed in the last second, at most kMaxChecksPerSecond; a success
// leaves it when it ends. Each case: checks ended as failures (at 5000,
// 5001, ...), checks ended as successes (at 5000), checks still under way;
// then the ceiling's wait at `at`, also what a fresh address and user wait.
TEST(FailureThrottleTest, TheCeilingCountsChecksUnderWayAndRecentFailures) {
  const struct {
    const char* name;
    std::size_t failed, succeeded, in_flight;
    std::uint64_t at, wait;
  } cases[] = {
      {"20 failures: the oldest leaves at 6000", 20, 0, 0, 5100, 900},
      {"20 failures, 1 ms before the oldest leaves", 20, 0, 0, 5999, 1},
      {"20 failures, the oldest gone", 20, 0, 0, 6000, 0},
      {"19 failures leave room", 19, 0, 0, 5100, 0},
      {"100 successes leave nothing", 0, 100, 0, 5100, 0},
      {"100 successes and 19 failures", 19, 100, 0, 5100, 0},
      {"20 under way: a window until results say more", 0, 0, 20, 5100, 1000},
      {"19 under way leave room", 0, 0, 19, 5100, 0},
      {"8 failures and 12 under way", 8, 0, 12, 5100, 900},
      {"8 failures and 12 under way, the oldest failure gone", 8, 0, 12, 6000, 0},
      {"12 failures and 10 under way: three must leave", 12, 0, 10, 5100, 902},
      {"2 failures and 20 under way: more must leave than failed", 2, 0, 20, 5100, 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FailureThrottle throttle;
    for (std::size_t i = 0; i < c.failed; ++i) {
      throttle.CheckBegun();
      throttle.CheckEnded(true, 5000 + i);
    }
    for (std::size_t i = 0; i < c.succeeded; ++i) {
      throttle.CheckBegun();
      throttle.CheckEnded(false, 5000);
    }
    for (std::size_t i = 0; i < c.in_flight; ++i) throttle.CheckBegun();
    EXPECT_EQ(throttle.checks_in_flight(), c.in_flight);
    EXPECT_EQ(throttle.CeilingWaitMs(c.at), c.wait);
    EXPECT_EQ(throttle.RecordWaitMs("10.9.9.9", "other", c.at), 0u);
    EXPECT_EQ(throttle.WaitMs("10.9.9.9", "other", c.at), c.wait);
  }
}

// A record and the ceiling apart: WaitMs is the longer of the two.
TEST(FailureThrottleTest, TheWaitIsTheLongerOfTheRecordAndTheCeiling) {
  FailureThrottle throttle;
  for (std::size_t i = 0; i < FailureThrottle::kMaxChecksPerSecond; ++i) {
    throttle.CheckBegun();
    throttle.CheckEnded(true, 5000);
  }
  throttle.Failed("192.0.2.7", "bob", 5000);
  throttle.Failed("192.0.2.7", 5001);  // the address's second failure: 2 s
  EXPECT_EQ(throttle.RecordWaitMs("192.0.2.7", "x", 5500), 1501u);
  EXPECT_EQ(throttle.CeilingWaitMs(5500), 500u);
  EXPECT_EQ(throttle.WaitMs("192.0.2.7", "x", 5500), 1501u);
  EXPECT_EQ(throttle.RecordWaitMs("198.51.100.1", "x", 5500), 0u);
  EXPECT_EQ(throttle.WaitMs("198.51.100.1", "x", 5500), 500u);
}

// Correct logins never fill the ceiling: 100 in one second, on one
// connection, on a connection each, and from an address each, all checked.
TEST_F(LoginTest, SuccessesInOneSecondAreNeverRefused) {
  const struct {
    const char* name;
    bool new_connection, new_address;
  } cases[] = {{"one connection", false, false},
               {"a connection each", true, false},
               {"an address each", true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FailureThrottle throttle;
    LoginSession one;
    counting_.transforms = 0;
    for (int i = 0; i < 100; ++i) {
      LoginSession fresh;
      LoginSession& s = c.new_connection ? fresh : one;
      const std::string address = c.new_address ? "10.0." + std::to_string(i) + ".1" : "10.0.0.1";
      EXPECT_EQ(s.Authenticate("bob", "secret", address, 7000000 + static_cast<std::uint64_t>(i),
                               accounts_, throttle, counting_creds_),
                AuthOutcome::kSuccess)
          << i;
    }
    EXPECT_EQ(counting_.transforms, 100);
    EXPECT_EQ(throttle.checks_in_flight(), 0u);
    EXPECT_EQ(throttle.CeilingWaitMs(7000100), 0u);
  }
}

// 20 failed guesses in one second from addresses of 20 blocks at 20 users:
// no record holds a 21st AUTH from a fresh address back, the ceiling does;
// it is neither checked nor counted, and is checked once the second passes.
TEST_F(LoginTest, TheCeilingHoldsBackAFreshAddressAfterTwentyFailures) {
  const std::uint64_t start = 8000000;
  for (std::size_t i = 0; i < FailureThrottle::kMaxChecksPerSecond; ++i) {
    LoginSession guesser;
    EXPECT_EQ(guesser.Authenticate("user" + std::to_string(i), "guess",
                                   "10." + std::to_string(i) + ".0.1", start + i, accounts_,
                                   throttle_, counting_creds_),
              AuthOutcome::kFailure)
        << i;
  }
  LoginSession s;
  const std::string fresh = "203.0.113.5";
  ExpectHeldBack(s, fresh, start + 500);
  EXPECT_EQ(throttle_.RecordWaitMs(fresh, "bob", start + 500), 0u);
  EXPECT_EQ(throttle_.CeilingWaitMs(start + 500), 500u);
  EXPECT_EQ(throttle_.checks_in_flight(), 0u);
  // The first failure leaves the window at start + 1000: one more fits.
  EXPECT_EQ(
      s.Authenticate("bob", "secret", fresh, start + 1000, accounts_, throttle_, counting_creds_),
      AuthOutcome::kSuccess);
  EXPECT_FALSE(s.last_attempt_throttled());
  EXPECT_EQ(counting_.transforms, 1);
}

// Checks begun and not yet ended fill the ceiling: of 25 begun from 25
// addresses before any result, 20 are checked. A success that ends leaves
// at once; a failure that ends stays for the second.
TEST_F(LoginTest, ChecksUnderWayFillTheCeilingUntilTheirResults) {
  const std::uint64_t now = 9000000;
  std::vector<LoginSession> sessions(25);
  std::vector<std::string> begun;
  for (std::size_t i = 0; i < sessions.size(); ++i) {
    const std::string address = "10." + std::to_string(i) + ".0.1";
    if (sessions[i].BeginAttempt("user" + std::to_string(i), address, now, throttle_))
      begun.push_back(address);
  }
  ASSERT_EQ(begun.size(), FailureThrottle::kMaxChecksPerSecond);
  EXPECT_EQ(throttle_.checks_in_flight(), FailureThrottle::kMaxChecksPerSecond);
  EXPECT_EQ(throttle_.RecordWaitMs("10.99.0.1", "x", now), 0u);
  EXPECT_GT(throttle_.CeilingWaitMs(now), 0u);
  // One failure ends: still full, now for one second.
  EXPECT_EQ(sessions[0].FinishAttempt("user0", false, begun[0], now + 10, throttle_),
            AuthOutcome::kFailure);
  EXPECT_EQ(throttle_.CeilingWaitMs(now + 10), 1000u);
  LoginSession late;
  EXPECT_FALSE(late.BeginAttempt("bob", "10.99.0.1", now + 10, throttle_));
  // One success ends: its place is free at once.
  EXPECT_EQ(sessions[1].FinishAttempt("user1", true, begun[1], now + 11, throttle_),
            AuthOutcome::kSuccess);
  EXPECT_EQ(throttle_.checks_in_flight(), FailureThrottle::kMaxChecksPerSecond - 2);
  EXPECT_EQ(throttle_.CeilingWaitMs(now + 11), 0u);
  EXPECT_TRUE(late.BeginAttempt("bob", "10.99.0.1", now + 11, throttle_));
  // Ending for a connection that has gone frees a place in the same way.
  RecordCheck(throttle_, "user2", true, begun[2], now + 12);
  EXPECT_EQ(throttle_.CeilingWaitMs(now + 12), 0u);
  EXPECT_EQ(throttle_.checks_in_flight(), FailureThrottle::kMaxChecksPerSecond - 2);
}

// A check whose computation throws still ends.
TEST_F(LoginTest, ACheckThatThrowsStillEnds) {
  Credentials throwing{[](std::string_view) -> std::string { throw std::runtime_error("no"); },
                       ConstantTimeEquals};
  LoginSession s;
  EXPECT_THROW(s.Authenticate("bob", "secret", "10.0.0.1", now_, accounts_, throttle_, throwing),
               std::runtime_error);
  EXPECT_EQ(throttle_.checks_in_flight(), 0u);
  EXPECT_EQ(s.failures(), 0);
}

// The side-step of a success between guesses: once a second, a good login
// as bob and a guess at Admin on one connection. The success clears only
// bob's record and no count, so the third checked guess closes.
TEST_F(LoginTest, GuessesInterleavedWithSuccessesStayThrottled) {
  LoginSession s;
  int checked = 0;
  bool closed = false;
  for (int i = 0; i < 60 && !closed; ++i) {
    const std::uint64_t now = 10000000 + static_cast<std::uint64_t>(i) * 1000;
    s.Authenticate("bob", "secret", "127.0.0.1", now, accounts_, throttle_, counting_creds_);
    const AuthOutcome guess = s.Authenticate("Admin", "guess" + std::to_string(i), "127.0.0.1", now,
                                             accounts_, throttle_, counting_creds_);
    if (guess == AuthOutcome::kFailure || guess == AuthOutcome::kFailureAndClose) ++checked;
    closed = guess == AuthOutcome::kFailureAndClose;
  }
  EXPECT_TRUE(closed);
  EXPECT_EQ(checked, 3);
}

// The side-step of many addresses: a fresh connection from another address
// of the loopback /24 every second guesses at Admin. The doubling delay of
// the block (and of the user) lets 5 guesses through in 20 s (at 0, 1, 3,
// 7 and 15 s), not 20.
TEST_F(LoginTest, ManyAddressesOfOneBlockShareTheirDelay) {
  int checked = 0;
  for (int i = 0; i < 20; ++i) {
    const std::uint64_t now = 20000000 + static_cast<std::uint64_t>(i) * 1000;
    LoginSession fresh;
    if (fresh.Authenticate("Admin", "guess", "127.0.0." + std::to_string(1 + i), now, accounts_,
                           throttle_, counting_creds_) != AuthOutcome::kTooSoon)
      ++checked;
  }
  EXPECT_EQ(checked, 5);
}

TEST(TooSoonTextTest, SaysHowManySecondsRoundedUp) {
  const struct {
    std::uint64_t wait_ms;
    std::string seconds;
  } cases[] = {{0, "1 second"},     {1, "1 second"},       {1000, "1 second"},
               {1001, "2 seconds"}, {59999, "60 seconds"}, {60000, "60 seconds"}};
  for (const auto& c : cases) {
    EXPECT_EQ(
        TooSoonText(c.wait_ms),
        "450-Too soon after a failed login from this address, try again in " + c.seconds + "\n\r")
        << c.wait_ms;
    EXPECT_EQ(
        CeilingText(c.wait_ms),
        "450-Too many failed logins on this server just now, try again in " + c.seconds + "\n\r")
        << c.wait_ms;
  }
}

TEST(FailureThrottleTest, TheDelayDoublesUpToAMinute) {
  FailureThrottle throttle;
  const std::string address = "2001:db8::1";
  const std::uint64_t expected[] = {1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000, 60000};
  std::uint64_t now = 1000;
  for (const std::uint64_t delay : expected) {
    EXPECT_EQ(throttle.NextDelay(address), delay);
    throttle.Failed(address, now);
    EXPECT_TRUE(throttle.Blocked(address, now + delay - 1)) << delay;
    EXPECT_FALSE(throttle.Blocked(address, now + delay)) << delay;
    now += delay;
  }
}

TEST(FailureThrottleTest, AnAddressIsForgottenAfterAQuarterHour) {
  FailureThrottle throttle;
  for (int i = 0; i < 5; ++i) throttle.Failed("10.1.1.1", 1000 + i);
  EXPECT_EQ(throttle.NextDelay("10.1.1.1"), 32000u);
  // Another failure elsewhere, long after, drops the stale address.
  throttle.Failed("10.2.2.2", 1000 + FailureThrottle::kForgetAfterMs + 10);
  EXPECT_EQ(throttle.size(), 1u);
  EXPECT_EQ(throttle.NextDelay("10.1.1.1"), 1000u);
}

TEST(FailureThrottleTest, TheTableIsBoundedAndDropsTheStalestAddress) {
  FailureThrottle throttle;
  for (std::size_t i = 0; i < FailureThrottle::kMaxAddresses + 10; ++i)
    throttle.Failed("addr" + std::to_string(i), 1000 + i);
  EXPECT_EQ(throttle.size(), FailureThrottle::kMaxAddresses);
  EXPECT_FALSE(throttle.Blocked("addr0", 1100));  // dropped
  EXPECT_TRUE(throttle.Blocked("addr" + std::to_string(FailureThrottle::kMaxAddresses + 9),
                               1100 + FailureThrottle::kMaxAddresses));
}

TEST(LoginTextTest, Replies) {
  EXPECT_EQ(LoginSucceededText("bob"), "230-Logged in as bob\n\r");
  EXPECT_EQ(kLoginFailedText, "530-Login incorrect\n\r");
}

}  // namespace
}  // namespace halv::access::testing
