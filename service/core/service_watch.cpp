// WATCH: the watches of the connections and their poll.
#include "service_watch.h"

#include <exception>
#include <set>
#include <utility>

#include "command_table.h"
#include "protocol_text.h"
#include "service_control.h"
#include "service_manager.h"

namespace halv {
namespace {

constexpr std::string_view kWatchWord = "watch";

// The poll's work, on the executor's thread: the state of each of `names`,
// or of every service.
WatchPoll RunPoll(ServiceManager& scm, std::uint64_t round, bool every_service,
                  const std::vector<std::string>& names) {
  WatchPoll poll;
  poll.round = round;
  poll.every_service = every_service;
  if (every_service) {
    std::uint32_t bytes = 0;
    std::vector<ServiceEntry> entries;
    if (EnumerateServices(scm, nullptr, &bytes) != 0 ||
        EnumerateServices(scm, &entries, &bytes) != 0) {
      poll.failed = true;
      return poll;
    }
    for (const ServiceEntry& entry : entries)
      poll.states[ServiceKey(entry.service_name)] = {entry.service_name,
                                                     entry.status.current_state};
  }
  for (const std::string& name : names) {
    const std::string key = ServiceKey(name);
    if (poll.states.count(key) == 0) poll.states[key] = {name, QueryServiceState(scm, name)};
  }
  return poll;
}

}  // namespace

bool IsWatchLine(const CommandLine& line, const ServiceFields& fields) {
  const CommandRow* row = FindCommand(line.Word(0), fields);
  return row != nullptr && row->word == kWatchWord;
}

std::string WatchOpeningText(const std::vector<std::string>& names) {
  std::string text(kWatchOpeningLead);
  if (names.empty()) text += kWatchEveryService;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i != 0) text += ' ';
    text += names[i];
  }
  return text + std::string(kLineEnd);
}

ServiceWatch::ServiceWatch(Executor& executor, std::shared_ptr<ServiceManager> manager, Post post,
                           FindClient find_client)
    : executor_(executor),
      manager_(std::move(manager)),
      post_(std::move(post)),
      find_client_(std::move(find_client)) {}

void ServiceWatch::Begin(ConnectionId id, Connection& client, const CommandLine& line) {
  Watch watch;
  std::set<std::string> keys;
  for (int i = 1; i < line.WordCount; ++i) {
    const std::string name(line.Word(i));
    if (keys.insert(ServiceKey(name)).second) watch.names.push_back(name);
  }
  watch.first_round = next_round_;
  client.SendText(WatchOpeningText(watch.names));
  const bool first = watches_.empty();
  watches_[id] = std::move(watch);
  if (first && on_active_) on_active_(true);
  if (!running_) Launch();
}

void ServiceWatch::End(ConnectionId id, Connection& client) {
  Erase(id);
  client.SendText(kPrompt);
}

void ServiceWatch::Erase(ConnectionId id) {
  if (watches_.erase(id) != 0 && watches_.empty() && on_active_) on_active_(false);
}

void ServiceWatch::Tick() {
  if (!running_ && !watches_.empty()) Launch();
}

void ServiceWatch::Launch() {
  bool every_service = false;
  std::vector<std::string> names;
  std::set<std::string> keys;
  for (const auto& [id, watch] : watches_) {
    every_service = every_service || watch.names.empty();
    for (const std::string& name : watch.names)
      if (keys.insert(ServiceKey(name)).second) names.push_back(name);
  }
  running_ = true;
  const std::uint64_t round = next_round_++;
  executor_.Execute([manager = manager_, post = post_, round, every_service, names] {
    post(RunPoll(*manager, round, every_service, names));
  });
}

void ServiceWatch::Deliver(const WatchPoll& poll) {
  running_ = false;
  std::exception_ptr first_failure;
  std::vector<ConnectionId> gone;
  for (auto& [id, watch] : watches_) {
    Connection* client = find_client_(id);
    if (client == nullptr || client->IsClosed()) {
      gone.push_back(id);
      continue;
    }
    if (poll.failed || poll.round < watch.first_round) continue;
    // The states of what this watch follows, in its order.
    std::vector<std::pair<std::string, WatchPoll::Sample>> now;
    if (watch.names.empty()) {
      now.assign(poll.states.begin(), poll.states.end());
    } else {
      for (const std::string& name : watch.names) {
        const auto found = poll.states.find(ServiceKey(name));
        now.emplace_back(ServiceKey(name),
                         WatchPoll::Sample{name, found != poll.states.end() ? found->second.state
                                                                            : 0u});
      }
    }
    std::string lines;
    if (watch.compared) {
      for (const auto& [key, sample] : now) {
        const auto before = watch.last.find(key);
        const std::uint32_t old_state = before != watch.last.end() ? before->second.state : 0;
        if (old_state != sample.state) lines += WatchChangeText(sample.name, old_state, sample.state);
      }
      // Services that have gone from the list (watching all): now unknown.
      for (const auto& [key, sample] : watch.last) {
        if (watch.names.empty() && sample.state != 0 && poll.states.count(key) == 0)
          lines += WatchChangeText(sample.name, sample.state, 0);
      }
    }
    watch.last.clear();
    for (auto& [key, sample] : now) watch.last[key] = std::move(sample);
    watch.compared = true;
    if (lines.empty()) continue;
    try {
      client->SendText(lines);
    } catch (...) {
      if (!first_failure) first_failure = std::current_exception();
    }
  }
  for (ConnectionId id : gone) Erase(id);
  if (first_failure) std::rethrow_exception(first_failure);
}

}  // namespace halv
