// Password checks, the per-address failure deadlines and a connection's
// login state.
#include "login.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <vector>

#include "address_list.h"
#include "auth/auth.h"

namespace halv::access {
namespace {

// Compared against when the user has no stored form, so that the same work
// is done; no transform output has this form (it is not hexadecimal).
constexpr std::string_view kNoStoredForm =
    "--------------------------------------------------------------zz";

std::string ReadOrEmpty(AccountStore& accounts, const std::string& user, const char* name) {
  try {
    return accounts.UserValue(user, name);
  } catch (const std::exception&) {
    return {};
  }
}

// Whether the account may log in: its `Disabled` value is absent, empty or
// "0". Any other text, and a value that cannot be read, disable it.
bool AccountEnabled(AccountStore& accounts, const std::string& user) {
  try {
    return !config::DisablesAccount(accounts.UserValue(user, config::kDisabled));
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

std::string LoginSucceededText(const std::string& user) {
  return "230-Logged in as " + user + "\n\r";
}

namespace {

// "<n> second(s)", the wait rounded up to whole seconds (at least 1).
std::string WaitSecondsText(std::uint64_t wait_ms) {
  const std::uint64_t seconds = std::max<std::uint64_t>(1, (wait_ms + 999) / 1000);
  return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

}  // namespace

std::string TooSoonText(std::uint64_t wait_ms) {
  return "450-Too soon after a failed login from this address, try again in " +
         WaitSecondsText(wait_ms) + "\n\r";
}

std::string CeilingText(std::uint64_t wait_ms) {
  return "450-Too many failed logins on this server just now, try again in " +
         WaitSecondsText(wait_ms) + "\n\r";
}

bool ConstantTimeEquals(std::string_view a, std::string_view b) {
  const std::size_t n = std::max(a.size(), b.size());
  unsigned difference = a.size() == b.size() ? 0u : 1u;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0u;
    const unsigned y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0u;
    difference |= x ^ y;
  }
  return difference == 0;
}

Credentials Credentials::Standard() {
  return {[](std::string_view password) { return auth::AuthFromPassword(password); },
          ConstantTimeEquals};
}

StoredForm ReadStoredForm(AccountStore& accounts, const std::string& user) {
  StoredForm form;
  try {
    const std::vector<std::string> names = accounts.UserNames();
    form.known = std::find(names.begin(), names.end(), user) != names.end();
  } catch (const std::exception&) {
    form.known = false;
  }
  if (form.known) form.stored = ReadOrEmpty(accounts, user, config::kAuth);
  form.enabled = form.known && AccountEnabled(accounts, user);
  return form;
}

bool MatchesStoredForm(const StoredForm& form, const std::string& user,
                       const std::string& password, const Credentials& credentials) {
  // The console stores the form of the user name for an empty password.
  const std::string computed = credentials.transform(password.empty() ? user : password);
  const bool equal = credentials.equals(
      computed, form.stored.empty() ? kNoStoredForm : std::string_view(form.stored));
  return form.known && form.enabled && !form.stored.empty() && equal;
}

bool CheckPassword(AccountStore& accounts, const std::string& user, const std::string& password,
                   const Credentials& credentials) {
  return MatchesStoredForm(ReadStoredForm(accounts, user), user, password, credentials);
}

std::string FailureThrottle::BlockKey(const std::string& address) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string key = "\x02";
  const std::optional<IpAddress> parsed = ParseIpAddress(address);
  if (!parsed) return key + address;
  const IpAddress ip = parsed->Unmapped();
  if (!ip.v6) {
    for (int i = 0; i < 3; ++i) key += std::to_string(ip.bytes[i]) + ".";
    return key + "0/24";
  }
  for (int i = 0; i < 8; ++i) {
    key.push_back(kHex[ip.bytes[i] >> 4]);
    key.push_back(kHex[ip.bytes[i] & 0xf]);
    if (i % 2 == 1) key.push_back(':');
  }
  return key + ":/64";
}

std::string FailureThrottle::UserKey(const std::string& user) { return "\x01" + user; }

void FailureThrottle::Forget(std::uint64_t now_ms) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (now_ms - it->second.last_failure >= kForgetAfterMs) {
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
}

bool FailureThrottle::Blocked(const std::string& address, std::uint64_t now_ms) const {
  return KeyWaitMs(address, now_ms) > 0;
}

std::uint64_t FailureThrottle::KeyWaitMs(const std::string& key, std::uint64_t now_ms) const {
  const auto it = entries_.find(key);
  if (it == entries_.end() || now_ms >= it->second.deadline ||
      now_ms - it->second.last_failure >= kForgetAfterMs)
    return 0;
  return it->second.deadline - now_ms;
}

std::uint64_t FailureThrottle::RecordWaitMs(const std::string& address, const std::string& user,
                                            std::uint64_t now_ms) const {
  return std::max({KeyWaitMs(address, now_ms), KeyWaitMs(BlockKey(address), now_ms),
                   KeyWaitMs(UserKey(user), now_ms)});
}

std::uint64_t FailureThrottle::CeilingWaitMs(std::uint64_t now_ms) const {
  // The failures of the last window, oldest first; they leave in that order.
  std::vector<std::uint64_t> recent;
  for (const std::uint64_t at : failed_checks_)
    if (now_ms - at < kCeilingWindowMs) recent.push_back(at);
  const std::size_t filled = in_flight_ + recent.size();
  if (filled < kMaxChecksPerSecond) return 0;
  // So many must leave before one more fits.
  const std::size_t leaving = filled - kMaxChecksPerSecond + 1;
  if (leaving > recent.size()) return kCeilingWindowMs;
  return recent[leaving - 1] + kCeilingWindowMs - now_ms;
}

void FailureThrottle::CheckEnded(bool failed, std::uint64_t now_ms) {
  if (in_flight_ > 0) --in_flight_;
  if (!failed) return;
  while (!failed_checks_.empty() && now_ms - failed_checks_.front() >= kCeilingWindowMs)
    failed_checks_.pop_front();
  failed_checks_.push_back(now_ms);
  // More can never be in one window: a check begins only below the ceiling.
  while (failed_checks_.size() > kMaxChecksPerSecond) failed_checks_.pop_front();
}

std::uint64_t FailureThrottle::NextDelay(const std::string& key) const {
  const auto it = entries_.find(key);
  const std::uint32_t failures = it == entries_.end() ? 0 : it->second.failures;
  std::uint64_t delay = kFirstDelayMs;
  for (std::uint32_t i = 0; i < failures && delay < kMaxDelayMs; ++i) delay *= 2;
  return std::min(delay, kMaxDelayMs);
}

void FailureThrottle::Failed(const std::string& key, std::uint64_t now_ms) {
  Forget(now_ms);
  if (entries_.count(key) == 0 && entries_.size() >= kMaxAddresses) {
    const auto stalest = std::min_element(entries_.begin(), entries_.end(), [](auto& a, auto& b) {
      return a.second.last_failure < b.second.last_failure;
    });
    entries_.erase(stalest);
  }
  const std::uint64_t delay = NextDelay(key);
  Entry& entry = entries_[key];
  if (entry.failures < 64) ++entry.failures;
  entry.last_failure = now_ms;
  entry.deadline = now_ms + delay;
}

void FailureThrottle::Failed(const std::string& address, const std::string& user,
                             std::uint64_t now_ms) {
  Failed(address, now_ms);
  Failed(BlockKey(address), now_ms);
  Failed(UserKey(user), now_ms);
}

AuthOutcome LoginSession::Authenticate(const std::string& user, const std::string& password,
                                       const std::string& address, std::uint64_t now_ms,
                                       AccountStore& accounts, FailureThrottle& throttle,
                                       const Credentials& credentials) {
  if (!BeginAttempt(user, address, now_ms, throttle)) return AuthOutcome::kTooSoon;
  bool matched = false;
  try {
    matched = CheckPassword(accounts, user, password, credentials);
  } catch (...) {
    throttle.CheckEnded(true, now_ms);  // no result: it ends as a failure would, uncounted
    throw;
  }
  return FinishAttempt(user, matched, address, now_ms, throttle);
}

bool LoginSession::BeginAttempt(const std::string& user, const std::string& address,
                                std::uint64_t now_ms, FailureThrottle& throttle) {
  throttled_ = throttle.WaitMs(address, user, now_ms) > 0;
  if (throttled_) return false;
  throttle.CheckBegun();
  return true;
}

AuthOutcome LoginSession::FinishAttempt(const std::string& user, bool matched,
                                        const std::string& address, std::uint64_t now_ms,
                                        FailureThrottle& throttle) {
  RecordCheck(throttle, user, matched, address, now_ms);
  if (matched) {
    user_ = user;
    logged_in_ = true;
    return AuthOutcome::kSuccess;
  }
  ++failures_;
  return failures_ >= kMaxFailures ? AuthOutcome::kFailureAndClose : AuthOutcome::kFailure;
}

void RecordCheck(FailureThrottle& throttle, const std::string& user, bool matched,
                 const std::string& address, std::uint64_t now_ms) {
  throttle.CheckEnded(!matched, now_ms);
  if (matched) {
    throttle.Succeeded(user);
  } else {
    throttle.Failed(address, user, now_ms);
  }
}

}  // namespace halv::access
