// The rate limit of refusal records: refused commands, failed logins and
// refused connections write a few lines, then are only counted, so that no
// client can rotate the server log or audit.log away by its volume.
//
// Records are keyed by kind and client address. Each key may write
// kBurstPerKey records per window of kWindowMs, and all keys together at
// most kMaxPerSecond records in any second; what goes beyond is counted, and
// when the key's window has closed the count comes back from Due as one
// summary ("312 more refused commands from 10.0.0.9 in the last minute").
// The table is bounded: past kMaxKeys, new addresses share one key, and Due
// folds the summaries of one kind beyond kMaxSummaries into one. One
// decision serves both outputs: the caller writes the server-log line and
// the audit record of an admitted refusal, neither of a counted one. Service
// thread; times are a monotonic millisecond count from the caller.
#ifndef HALV_SERVICE_CORE_REFUSAL_LIMITER_H_
#define HALV_SERVICE_CORE_REFUSAL_LIMITER_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace halv {

enum class RefusalKind { kCommand, kLogin, kConnection };

class RefusalLimiter {
 public:
  static constexpr std::uint64_t kWindowMs = 60000;
  static constexpr std::size_t kBurstPerKey = 5;
  static constexpr std::size_t kMaxPerSecond = 5;
  static constexpr std::size_t kMaxKeys = 1024;
  static constexpr std::size_t kMaxSummaries = 8;
  // The shared key's address once the table is full.
  static constexpr char kOtherAddresses[] = "other addresses";

  struct Summary {
    RefusalKind kind = RefusalKind::kCommand;
    std::string peer;  // an address, or "<n> addresses" for a folded summary
    std::uint64_t count = 0;
    bool operator==(const Summary&) const = default;
  };

  // Whether the refusal of `kind` from `peer` at `now_ms` is written; false:
  // it is counted for a summary.
  bool Admit(RefusalKind kind, const std::string& peer, std::uint64_t now_ms);
  // The counts of the keys whose window has closed at `now_ms` (of every
  // key with `all`, as at a stop); those keys are forgotten.
  std::vector<Summary> Due(std::uint64_t now_ms, bool all = false);
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::uint64_t window_start = 0;
    std::size_t admitted = 0;
    std::uint64_t counted = 0;
  };
  std::map<std::pair<RefusalKind, std::string>, Entry> entries_;
  std::deque<std::uint64_t> recent_;  // times of the admissions of the last second
};

// "312 more refused commands from 10.0.0.9 in the last minute" ("failed
// logins", "refused connections"; "1 more refused command ...").
std::string SummaryText(const RefusalLimiter::Summary& summary);

}  // namespace halv

#endif  // HALV_SERVICE_CORE_REFUSAL_LIMITER_H_
