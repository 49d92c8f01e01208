// Logins of client connections when logins are required.
//
// A connection starts as the user "Anonymous". AUTH <user> <password>
// computes the stored form of the password with the console's transform
// (an empty password stands for the user name, as the console stores it)
// and compares it in constant time with the user's `Auth` value. An unknown
// user, a disabled user, a user without `Auth` and a wrong password take the
// same steps and get the same answer. Three failures on one connection close it.
//
// Failures are also slowed down, without anyone waiting: each failure sets
// a deadline (1 s after the first, doubling up to 60 s) for its address,
// its address block and its target user, and an AUTH that meets one of them
// is answered at once with a line that says how long to wait, without
// checking the password and without counting as a failure. A ceiling bounds
// the guesses of all clients together: the checks under way plus those that
// failed in the last second are at most 20, and an AUTH beyond it is
// answered in the same way with a line of its own. A check that succeeds
// leaves the ceiling as soon as its result is recorded, so correct logins
// never fill it. A success clears only its own user's record. Everything
// here runs on the service thread; times are a monotonic millisecond count
// from the caller.
#ifndef HALV_SERVICE_ACCESS_LOGIN_H_
#define HALV_SERVICE_ACCESS_LOGIN_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "permissions.h"

namespace halv::access {

// Replies of AUTH, each one numbered line.
inline constexpr std::string_view kLoginFailedText = "530-Login incorrect\n\r";
inline constexpr std::string_view kTooManyFailuresText =
    "421-Too many failed logins, closing the connection\n\r";
inline constexpr std::string_view kAuthUsageText = "501-Usage: AUTH <user> <password>\n\r";
// The answer to an AUTH before the address's deadline, `wait_ms` before it:
// "450-Too soon after a failed login from this address, try again in <n>
// seconds\n\r", n the wait rounded up to whole seconds (at least 1).
std::string TooSoonText(std::uint64_t wait_ms);
// The answer to an AUTH that the ceiling holds back, `wait_ms` before it has
// room: "450-Too many failed logins on this server just now, try again in
// <n> seconds\n\r", n as in TooSoonText.
std::string CeilingText(std::uint64_t wait_ms);
// "230-Logged in as <user>\n\r".
std::string LoginSucceededText(const std::string& user);
// The greeting line that tells a client how to log in.
inline constexpr std::string_view kLoginRequiredNotice =
    "\n\r\n\rThis server requires a login: AUTH <user> <password>";

// Whether `a` and `b` are equal, in a time that depends only on their
// lengths, never on where they differ.
bool ConstantTimeEquals(std::string_view a, std::string_view b);

// How a password is checked: the transform to the stored form and the
// comparison. Tests replace them to observe the calls.
struct Credentials {
  std::function<std::string(std::string_view)> transform;
  std::function<bool(std::string_view, std::string_view)> equals;
  // The console's transform (auth_from_password) and ConstantTimeEquals.
  static Credentials Standard();
};

// Whether `user` may log in with `password`: the user key exists under
// exactly that name (case-sensitive), is not disabled (its `Disabled` value
// absent, empty or "0"; an unreadable one disables), holds a non-empty `Auth`, and the
// stored form of `password` (of `user` when `password` is empty) equals
// it. The transform and the comparison run in every case, unknown user
// included, so the work done does not tell users apart. A failed read
// counts as a missing value.
bool CheckPassword(AccountStore& accounts, const std::string& user, const std::string& password,
                   const Credentials& credentials);

// CheckPassword in two halves, so that the transform can run away from the
// service thread: the registry read (service thread) and the computation
// (any thread; it touches nothing but its arguments).
struct StoredForm {
  bool known = false;  // the user key exists under exactly that name
  std::string stored;  // its `Auth` value; empty when missing or unreadable
  bool enabled = false;  // known and not disabled (a disabled user fails like a wrong password)
};
StoredForm ReadStoredForm(AccountStore& accounts, const std::string& user);
bool MatchesStoredForm(const StoredForm& form, const std::string& user,
                       const std::string& password, const Credentials& credentials);

// Deadlines after failed logins, kept per client address, per address block
// (the /24 of an IPv4 address, the /64 of an IPv6 one) and per target user
// name, so that neither many addresses nor many connections nor many users
// multiply the guesses; and a ceiling on the guesses of all clients
// together: the checks begun and not yet ended plus the checks that failed
// in the last second. Every check begun must be ended exactly once
// (CheckEnded, which RecordCheck calls). The table of records is bounded.
class FailureThrottle {
 public:
  static constexpr std::uint64_t kFirstDelayMs = 1000;
  static constexpr std::uint64_t kMaxDelayMs = 60000;
  // A record whose last failure is this old is forgotten.
  static constexpr std::uint64_t kForgetAfterMs = 15 * 60 * 1000;
  // At most this many records (addresses, blocks and users together) are
  // kept; the stalest goes first.
  static constexpr std::size_t kMaxAddresses = 4096;
  // At most this many checks, for all clients together, are under way or
  // failed within the last kCeilingWindowMs; a success does not stay.
  static constexpr std::size_t kMaxChecksPerSecond = 20;
  static constexpr std::uint64_t kCeilingWindowMs = 1000;

  // The record keys of the block of `address` and of the user `user`; they
  // never equal an address.
  static std::string BlockKey(const std::string& address);
  static std::string UserKey(const std::string& user);

  // Whether an AUTH from `address` at `now_ms` comes before the address's
  // own deadline.
  bool Blocked(const std::string& address, std::uint64_t now_ms) const;
  // How long an AUTH for `user` from `address` must wait at `now_ms` for
  // the latest deadline of the address, its block and the user; 0 when none
  // holds it back.
  std::uint64_t RecordWaitMs(const std::string& address, const std::string& user,
                             std::uint64_t now_ms) const;
  // How long any AUTH must wait at `now_ms` until the ceiling has room; 0
  // when it has room now. When only checks under way fill it, the wait
  // given is one window (their results decide: a failure stays that long).
  std::uint64_t CeilingWaitMs(std::uint64_t now_ms) const;
  // The longer of the two: 0 when the AUTH may be checked now.
  std::uint64_t WaitMs(const std::string& address, const std::string& user,
                       std::uint64_t now_ms) const {
    return std::max(RecordWaitMs(address, user, now_ms), CeilingWaitMs(now_ms));
  }
  // The delay that the next failure recorded under `key` would set.
  std::uint64_t NextDelay(const std::string& key) const;
  // A password check begins: it fills the ceiling until it ends.
  void CheckBegun() { ++in_flight_; }
  // The check begun earlier ends at `now_ms`: it leaves the checks under
  // way, and when it `failed` (or ended without a result) it stays in the
  // ceiling for one window.
  void CheckEnded(bool failed, std::uint64_t now_ms);
  std::size_t checks_in_flight() const { return in_flight_; }
  // Records a checked failure under `key` alone: its deadline moves to now
  // plus its delay, which doubles with each failure while it is kept.
  void Failed(const std::string& key, std::uint64_t now_ms);
  // Records a checked failure of `user` from `address`: under the address,
  // its block and the user.
  void Failed(const std::string& address, const std::string& user, std::uint64_t now_ms);
  // A successful login clears the user's record only: the address and its
  // block keep theirs, so a login of one's own cannot reset the count.
  void Succeeded(const std::string& user) { entries_.erase(UserKey(user)); }
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::uint32_t failures = 0;
    std::uint64_t deadline = 0;
    std::uint64_t last_failure = 0;
  };
  std::uint64_t KeyWaitMs(const std::string& key, std::uint64_t now_ms) const;
  void Forget(std::uint64_t now_ms);
  std::map<std::string, Entry> entries_;
  std::size_t in_flight_ = 0;                // checks begun and not yet ended
  std::deque<std::uint64_t> failed_checks_;  // times of the latest failed checks, oldest first
};

// The outcome of one AUTH.
enum class AuthOutcome {
  kSuccess,          // the connection now acts as the user
  kFailure,          // wrong or unknown; the connection goes on
  kFailureAndClose,  // the third failure: answer, then close
  kTooSoon,          // held back by a record or the ceiling: not checked, not counted
};

// The login state of one connection.
class LoginSession {
 public:
  static constexpr int kMaxFailures = 3;

  // The user the connection acts as: "Anonymous" until a login succeeds.
  const std::string& user() const { return user_; }
  bool logged_in() const { return logged_in_; }
  int failures() const { return failures_; }
  // Whether the last attempt was answered without a check (too soon or
  // over the ceiling).
  bool last_attempt_throttled() const { return throttled_; }

  // One AUTH from `address` at `now_ms`. A success switches the connection
  // to `user` and clears only that user's record; a failure leaves the user
  // as it was and counts toward the three, which nothing resets. While the
  // throttle says to wait nothing is checked or counted (kTooSoon).
  AuthOutcome Authenticate(const std::string& user, const std::string& password,
                           const std::string& address, std::uint64_t now_ms, AccountStore& accounts,
                           FailureThrottle& throttle, const Credentials& credentials);

  // Authenticate in two steps around a check that runs elsewhere. Begin
  // gives false (nothing checked or counted; the throttle's RecordWaitMs
  // and CeilingWaitMs tell why) or true when the password is to be
  // checked, the check then under way for the ceiling; Finish applies the
  // check's result at `now_ms` and ends it. A check whose connection has
  // gone is ended by RecordCheck instead.
  bool BeginAttempt(const std::string& user, const std::string& address, std::uint64_t now_ms,
                    FailureThrottle& throttle);
  AuthOutcome FinishAttempt(const std::string& user, bool matched, const std::string& address,
                            std::uint64_t now_ms, FailureThrottle& throttle);

 private:
  std::string user_ = kAnonymousUser;
  bool logged_in_ = false;
  int failures_ = 0;
  bool throttled_ = false;
};

// What a checked AUTH leaves in the throttle, also when its connection has
// gone before the result came back: the check ends, a success clears the
// user's record, a failure is recorded under the address, its block and the
// user, and in the ceiling.
void RecordCheck(FailureThrottle& throttle, const std::string& user, bool matched,
                 const std::string& address, std::uint64_t now_ms);

}  // namespace halv::access

#endif  // HALV_SERVICE_ACCESS_LOGIN_H_
