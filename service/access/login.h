// Logins of client connections when logins are required.
//
// A connection starts as the user "Anonymous". AUTH <user> <password>
// computes the stored form of the password with the console's transform
// (an empty password stands for the user name, as the console stores it)
// and compares it in constant time with the user's `Auth` value. An unknown
// user, a user without `Auth` and a wrong password take the same steps and
// get the same answer. Three failures on one connection close it.
//
// Failures are also slowed down per client address, without anyone
// waiting: each failure from an address sets a deadline (1 s after the
// first, doubling up to 60 s), and an AUTH from that address before its
// deadline is answered at once with a line that says how long to wait,
// without checking the password and without counting as a failure. A
// success clears the address. Everything here runs on the
// service thread; times are a monotonic millisecond count from the caller.
#ifndef HALV_SERVICE_ACCESS_LOGIN_H_
#define HALV_SERVICE_ACCESS_LOGIN_H_

#include <cstddef>
#include <cstdint>
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
// exactly that name (case-sensitive), holds a non-empty `Auth`, and the
// stored form of `password` (of `user` when `password` is empty) equals
// it. The transform and the comparison run in every case, unknown user
// included, so the work done does not tell users apart. A failed read
// counts as a missing value.
bool CheckPassword(AccountStore& accounts, const std::string& user, const std::string& password,
                   const Credentials& credentials);

// Per-address deadlines after failed logins.
class FailureThrottle {
 public:
  static constexpr std::uint64_t kFirstDelayMs = 1000;
  static constexpr std::uint64_t kMaxDelayMs = 60000;
  // An address whose last failure is this old is forgotten.
  static constexpr std::uint64_t kForgetAfterMs = 15 * 60 * 1000;
  // At most this many addresses are kept; the stalest goes first.
  static constexpr std::size_t kMaxAddresses = 4096;

  // Whether an AUTH from `address` at `now_ms` comes before its deadline.
  bool Blocked(const std::string& address, std::uint64_t now_ms) const;
  // How long before the address's deadline `now_ms` is; 0 when not blocked.
  std::uint64_t WaitMs(const std::string& address, std::uint64_t now_ms) const;
  // The delay that the next failure from `address` would set.
  std::uint64_t NextDelay(const std::string& address) const;
  // Records a checked failure: the address's deadline moves to now plus
  // its delay, which doubles with each consecutive failure.
  void Failed(const std::string& address, std::uint64_t now_ms);
  // A successful login clears the address.
  void Succeeded(const std::string& address) { entries_.erase(address); }
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::uint32_t failures = 0;
    std::uint64_t deadline = 0;
    std::uint64_t last_failure = 0;
  };
  void Forget(std::uint64_t now_ms);
  std::map<std::string, Entry> entries_;
};

// The outcome of one AUTH.
enum class AuthOutcome {
  kSuccess,          // the connection now acts as the user
  kFailure,          // wrong or unknown; the connection goes on
  kFailureAndClose,  // the third failure: answer, then close
  kTooSoon,          // before the address's deadline: not checked, not counted
};

// The login state of one connection.
class LoginSession {
 public:
  static constexpr int kMaxFailures = 3;

  // The user the connection acts as: "Anonymous" until a login succeeds.
  const std::string& user() const { return user_; }
  bool logged_in() const { return logged_in_; }
  int failures() const { return failures_; }
  // Whether the last attempt was answered without a check (too soon).
  bool last_attempt_throttled() const { return throttled_; }

  // One AUTH from `address` at `now_ms`. A success switches the connection
  // to `user`; a failure leaves the user as it was and counts toward the
  // three. Before the address's deadline nothing is checked or counted
  // (kTooSoon).
  AuthOutcome Authenticate(const std::string& user, const std::string& password,
                           const std::string& address, std::uint64_t now_ms, AccountStore& accounts,
                           FailureThrottle& throttle, const Credentials& credentials);

 private:
  std::string user_ = kAnonymousUser;
  bool logged_in_ = false;
  int failures_ = 0;
  bool throttled_ = false;
};

}  // namespace halv::access

#endif  // HALV_SERVICE_ACCESS_LOGIN_H_
