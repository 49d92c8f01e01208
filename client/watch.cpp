// WATCH on every host at once: one connection each, on the worker pool.
#include "watch.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "fleet.h"
#include "json_writer.h"
#include "net.h"
#include "protocol_text.h"
#include "report.h"
#include "worker_pool.h"

namespace halv::client {

namespace {

// A line longer than this without a line end is not a watch line.
constexpr std::size_t kMaxLineBytes = 64u * 1024;
// How often a connection waiting for bytes looks whether the watch has ended.
constexpr auto kSlice = std::chrono::milliseconds(100);

// A numbered error line: "4xx-..." or "5xx-...".
bool IsErrorLine(std::string_view line) {
  return line.size() >= 4 && line[3] == '-' && (line[0] == '4' || line[0] == '5') &&
         line[1] >= '0' && line[1] <= '9' && line[2] >= '0' && line[2] <= '9';
}

std::tm SystemLocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  return local;
}

// A row of the table: each cell padded to its column's width and two blanks,
// the last one not.
std::string Row(const std::vector<std::string>& cells, const std::vector<std::size_t>& widths) {
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    line += cells[i];
    if (i + 1 < cells.size())
      line.append(widths[i] - std::min(widths[i], cells[i].size()) + 2, ' ');
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line + "\n";
}

// What every host's connection shares: the output, the count of changes,
// and whether the watch has ended.
struct Shared {
  const Options& options;
  const Console& console;
  std::vector<std::size_t> widths;
  std::mutex lock;
  int changes = 0;
  bool ended = false;
};

// Writes one change unless the watch has ended; ends it at its count.
void Report(Shared& shared, const HostEntry& entry, const WatchChange& change) {
  const std::lock_guard<std::mutex> guard(shared.lock);
  if (shared.ended) return;
  const std::tm local = shared.console.local_time ? shared.console.local_time() : SystemLocalTime();
  if (shared.options.json_lines) {
    shared.console.out(JsonObject()
                           .Add("host", HostWithPort(entry))
                           .Add("time", WatchTime(local, true))
                           .Add("service", change.service)
                           .Add("state", change.state)
                           .Add("previous", change.previous)
                           .Text() +
                       "\n");
  } else {
    shared.console.out(
        Row({entry.label, WatchTime(local, false), change.service, change.state}, shared.widths));
  }
  ++shared.changes;
  if (shared.options.count != 0 && shared.changes >= shared.options.count) shared.ended = true;
}

void ReportFailure(Shared& shared, const HostResult& result) {
  const std::lock_guard<std::mutex> guard(shared.lock);
  if (shared.options.json_lines) {
    shared.console.out(JsonObject()
                           .Add("host", HostWithPort(result.entry))
                           .AddBool("ok", false)
                           .Add("outcome", OutcomeName(result.outcome))
                           .Add("error", result.message)
                           .Text() +
                       "\n");
  } else {
    shared.console.err("halvexa: " + result.entry.label + ": " + result.message + "\n");
  }
}

bool Ended(Shared& shared) {
  const std::lock_guard<std::mutex> guard(shared.lock);
  if (!shared.ended && shared.console.interrupted && shared.console.interrupted())
    shared.ended = true;
  return shared.ended;
}

void EndAll(Shared& shared) {
  const std::lock_guard<std::mutex> guard(shared.lock);
  shared.ended = true;
}

// One host's watch, to its end; the result's outcome says how it went.
HostResult WatchHost(Shared& shared, const HostEntry& entry, Clock::time_point until) {
  const Options& options = shared.options;
  HostResult result;
  std::unique_ptr<TcpConnection> connection;
  // A server with all its clients is asked again, as for any command.
  double pause = options.retry_delay;
  for (int attempt = 1;; ++attempt) {
    result = HostResult{};
    result.attempts = attempt;
    connection = OpenSession(entry, options, &result);
    if (connection || result.outcome != HostOutcome::kBusy || attempt > options.retries) break;
    std::this_thread::sleep_for(std::chrono::duration<double>(pause));
    pause *= 2;
  }
  if (!connection) return result;
  std::string line = "WATCH";
  for (std::size_t i = 1; i < options.words.size(); ++i) line += " " + options.words[i];
  const auto seconds = [](double s) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
  };
  NetStatus status =
      connection->SendAll(line + "\r\n", Clock::now() + seconds(options.reply_timeout));
  if (!status.ok()) {
    result.outcome =
        status.failure == NetFailure::kTimeout ? HostOutcome::kTimedOut : HostOutcome::kBadReply;
    result.message = status.message + " sending WATCH";
    return result;
  }
  const Clock::time_point opening_by = Clock::now() + seconds(options.reply_timeout);
  WatchReader reader;
  std::vector<WatchChange> changes;
  for (;;) {
    if (Ended(shared)) break;
    const Clock::time_point now = Clock::now();
    if (now >= until) {
      EndAll(shared);
      break;
    }
    if (reader.status() == WatchReader::Status::kWaiting && now >= opening_by) {
      result.outcome = HostOutcome::kTimedOut;
      result.message = "timed out waiting for the WATCH reply";
      return result;
    }
    std::string bytes;
    status = connection->Receive(&bytes, std::min(now + kSlice, until));
    if (status.failure == NetFailure::kTimeout) continue;
    if (!status.ok()) {
      result.outcome = HostOutcome::kBadReply;
      result.message = status.message + (reader.status() == WatchReader::Status::kWaiting
                                             ? " before the WATCH reply"
                                             : " during the watch");
      return result;
    }
    changes.clear();
    const WatchReader::Status read = reader.Feed(bytes, &changes);
    for (const WatchChange& change : changes) Report(shared, entry, change);
    if (read == WatchReader::Status::kRefused) {
      result.outcome = HostOutcome::kCommandFailed;
      result.message = reader.error();
      return result;
    }
    if (read == WatchReader::Status::kBadReply) {
      result.outcome = HostOutcome::kBadReply;
      result.message = reader.error();
      return result;
    }
  }
  // Any line ends the watch; QUIT then ends the session.
  connection->SendAll("END\r\nQUIT\r\n", Clock::now() + std::chrono::milliseconds(500));
  return result;
}

}  // namespace

WatchReader::Status WatchReader::Feed(std::string_view bytes, std::vector<WatchChange>* changes) {
  if (status_ == Status::kRefused || status_ == Status::kBadReply) return status_;
  pending_.append(bytes.data(), bytes.size());
  std::size_t start = 0;
  for (std::size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string_view line(pending_.data() + start, end - start);
    // The server ends its lines with LF CR: the CR opens the next piece.
    if (!line.empty() && line.front() == '\r') line.remove_prefix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    if (status_ == Status::kWaiting) {
      if (line.substr(0, kWatchOpeningLead.size()) == kWatchOpeningLead) {
        status_ = Status::kWatching;
      } else if (IsErrorLine(line)) {
        status_ = Status::kRefused;
        error_ = std::string(line);
        return status_;
      } else {
        status_ = Status::kBadReply;
        error_ = "the WATCH reply does not start with \"" + std::string(kWatchOpeningLead) + "\"";
        return status_;
      }
      continue;
    }
    WatchChange change;
    if (ReadWatchChange(line, &change.service, &change.previous, &change.state))
      changes->push_back(std::move(change));
  }
  pending_.erase(0, start);
  if (pending_.size() > kMaxLineBytes) {
    status_ = Status::kBadReply;
    error_ = "a line of the watch is longer than 64 KiB";
  }
  return status_;
}

std::string WatchTime(const std::tm& local, bool json) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d%c%02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, json ? 'T' : ' ', local.tm_hour, local.tm_min,
                local.tm_sec);
  return text;
}

int RunWatch(const Options& options, const Console& console) {
  Shared shared{options, console, {}, {}, 0, false};
  // The columns: the longest host label and service name given (a service
  // reported when every one is watched may be longer: its row is then wider).
  std::size_t host_width = 4, service_width = 7;
  for (const HostEntry& entry : options.hosts)
    host_width = std::max(host_width, entry.label.size());
  for (std::size_t i = 1; i < options.words.size(); ++i)
    service_width = std::max(service_width, options.words[i].size());
  if (options.words.size() < 2) service_width = std::max<std::size_t>(service_width, 20);
  shared.widths = {host_width, 19, service_width, 0};
  if (!options.json_lines) console.out(Row({"HOST", "TIME", "SERVICE", "STATE"}, shared.widths));
  if (console.catch_interrupt) console.catch_interrupt();

  const Clock::time_point until =
      options.watch_seconds > 0
          ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(options.watch_seconds))
          : Clock::time_point::max();
  const std::size_t total = options.hosts.size();
  std::vector<HostResult> results(total);
  std::mutex lock;
  std::condition_variable finished;
  std::size_t done = 0;
  const auto watch = [&](std::size_t index) {
    HostResult result = WatchHost(shared, options.hosts[index], until);
    if (result.outcome != HostOutcome::kOk) ReportFailure(shared, result);
    const std::lock_guard<std::mutex> guard(lock);
    results[index] = std::move(result);
    ++done;
    finished.notify_all();
  };
  // Every host at once: the first on this thread, the others on the pool.
  WorkerPool pool(total > 1 ? total - 1 : 1);
  std::size_t started = 1;
  for (; started < total; ++started) {
    try {
      pool.Execute([&watch, started] { watch(started); });
    } catch (const std::system_error&) {
      break;
    }
  }
  watch(0);
  // Hosts no thread could be started for are watched in turn here.
  for (std::size_t i = started; i < total; ++i) watch(i);
  {
    std::unique_lock<std::mutex> guard(lock);
    finished.wait(guard, [&] { return done == total; });
  }
  pool.Shutdown(std::chrono::seconds(5));
  return ExitStatus(results);
}

}  // namespace halv::client
