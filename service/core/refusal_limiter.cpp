// The refusal rate limit: bursts per key, a ceiling per second, summaries.
#include "refusal_limiter.h"

namespace halv {

bool RefusalLimiter::Admit(RefusalKind kind, const std::string& peer, std::uint64_t now_ms) {
  auto key = std::make_pair(kind, peer);
  auto it = entries_.find(key);
  if (it == entries_.end()) {
    if (entries_.size() >= kMaxKeys) key.second = kOtherAddresses;
    it = entries_.try_emplace(key).first;
    if (it->second.admitted == 0 && it->second.counted == 0) it->second.window_start = now_ms;
  }
  Entry& entry = it->second;
  while (!recent_.empty() && now_ms - recent_.front() >= 1000) recent_.pop_front();
  if (entry.admitted < kBurstPerKey && recent_.size() < kMaxPerSecond) {
    ++entry.admitted;
    recent_.push_back(now_ms);
    return true;
  }
  ++entry.counted;
  return false;
}

std::vector<RefusalLimiter::Summary> RefusalLimiter::Due(std::uint64_t now_ms, bool all) {
  std::vector<Summary> out;
  std::map<RefusalKind, std::size_t> per_kind;  // summaries given per kind
  std::map<RefusalKind, std::pair<std::size_t, std::uint64_t>> folded;  // addresses, count
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (!all && now_ms - it->second.window_start < kWindowMs) {
      ++it;
      continue;
    }
    const RefusalKind kind = it->first.first;
    if (it->second.counted > 0) {
      if (per_kind[kind] < kMaxSummaries) {
        ++per_kind[kind];
        out.push_back({kind, it->first.second, it->second.counted});
      } else {
        ++folded[kind].first;
        folded[kind].second += it->second.counted;
      }
    }
    it = entries_.erase(it);
  }
  for (const auto& [kind, rest] : folded)
    out.push_back({kind, std::to_string(rest.first) + " more addresses", rest.second});
  return out;
}

std::string SummaryText(const RefusalLimiter::Summary& summary) {
  const bool one = summary.count == 1;
  std::string what;
  switch (summary.kind) {
    case RefusalKind::kCommand:
      what = one ? "refused command" : "refused commands";
      break;
    case RefusalKind::kLogin:
      what = one ? "failed login" : "failed logins";
      break;
    case RefusalKind::kConnection:
      what = one ? "refused connection" : "refused connections";
      break;
  }
  return std::to_string(summary.count) + " more " + what + " from " + summary.peer +
         " in the last minute";
}

}  // namespace halv
