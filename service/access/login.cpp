// Password checks, the per-address failure deadlines and a connection's
// login state.
#include "login.h"

#include <algorithm>
#include <exception>

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

}  // namespace

std::string LoginSucceededText(const std::string& user) {
  return "230-Logged in as " + user + "\n\r";
}

std::string TooSoonText(std::uint64_t wait_ms) {
  const std::uint64_t seconds = std::max<std::uint64_t>(1, (wait_ms + 999) / 1000);
  return "450-Too soon after a failed login from this address, try again in " +
         std::to_string(seconds) + (seconds == 1 ? " second" : " seconds") + "\n\r";
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

bool CheckPassword(AccountStore& accounts, const std::string& user, const std::string& password,
                   const Credentials& credentials) {
  bool known = false;
  try {
    const std::vector<std::string> names = accounts.UserNames();
    known = std::find(names.begin(), names.end(), user) != names.end();
  } catch (const std::exception&) {
    known = false;
  }
  const std::string stored = known ? ReadOrEmpty(accounts, user, config::kAuth) : std::string();
  // The console stores the form of the user name for an empty password.
  const std::string computed = credentials.transform(password.empty() ? user : password);
  const bool equal =
      credentials.equals(computed, stored.empty() ? kNoStoredForm : std::string_view(stored));
  return known && !stored.empty() && equal;
}

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
  const auto it = entries_.find(address);
  return it != entries_.end() && now_ms < it->second.deadline &&
         now_ms - it->second.last_failure < kForgetAfterMs;
}

std::uint64_t FailureThrottle::WaitMs(const std::string& address, std::uint64_t now_ms) const {
  if (!Blocked(address, now_ms)) return 0;
  return entries_.find(address)->second.deadline - now_ms;
}

std::uint64_t FailureThrottle::NextDelay(const std::string& address) const {
  const auto it = entries_.find(address);
  const std::uint32_t failures = it == entries_.end() ? 0 : it->second.failures;
  std::uint64_t delay = kFirstDelayMs;
  for (std::uint32_t i = 0; i < failures && delay < kMaxDelayMs; ++i) delay *= 2;
  return std::min(delay, kMaxDelayMs);
}

void FailureThrottle::Failed(const std::string& address, std::uint64_t now_ms) {
  Forget(now_ms);
  if (entries_.count(address) == 0 && entries_.size() >= kMaxAddresses) {
    const auto stalest = std::min_element(entries_.begin(), entries_.end(), [](auto& a, auto& b) {
      return a.second.last_failure < b.second.last_failure;
    });
    entries_.erase(stalest);
  }
  const std::uint64_t delay = NextDelay(address);
  Entry& entry = entries_[address];
  if (entry.failures < 64) ++entry.failures;
  entry.last_failure = now_ms;
  entry.deadline = now_ms + delay;
}

AuthOutcome LoginSession::Authenticate(const std::string& user, const std::string& password,
                                       const std::string& address, std::uint64_t now_ms,
                                       AccountStore& accounts, FailureThrottle& throttle,
                                       const Credentials& credentials) {
  throttled_ = throttle.Blocked(address, now_ms);
  if (throttled_) return AuthOutcome::kTooSoon;
  if (CheckPassword(accounts, user, password, credentials)) {
    throttle.Succeeded(address);
    user_ = user;
    logged_in_ = true;
    failures_ = 0;
    return AuthOutcome::kSuccess;
  }
  throttle.Failed(address, now_ms);
  ++failures_;
  return failures_ >= kMaxFailures ? AuthOutcome::kFailureAndClose : AuthOutcome::kFailure;
}

}  // namespace halv::access
