// One connection per host and a pool of worker threads over the host list.
#include "fleet.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "net.h"

namespace halv::client {

namespace {

// A reply larger than this is taken as a runaway server, not read further.
constexpr std::size_t kMaxReplyBytes = 64u << 20;

Clock::time_point After(double seconds) {
  return Clock::now() +
         std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

std::string SecondsText(double seconds) {
  std::string text = std::to_string(seconds);
  text.erase(text.find_last_not_of('0') + 1);
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

// Reads until `complete(bytes)` holds. On failure sets the result's outcome
// and message (naming `what` was awaited) and returns false.
template <typename Complete>
bool ReadUntil(TcpConnection& connection, std::string* bytes, Complete complete,
               Clock::time_point deadline, double seconds, const char* what, HostResult* result) {
  while (!complete(*bytes)) {
    const NetStatus status = connection.Receive(bytes, deadline);
    if (status.ok()) {
      if (bytes->size() > kMaxReplyBytes) {
        result->outcome = HostOutcome::kBadReply;
        result->message = std::string(what) + " is larger than 64 MiB";
        return false;
      }
      continue;
    }
    if (status.failure == NetFailure::kTimeout) {
      result->outcome = HostOutcome::kTimedOut;
      result->message = "timed out after " + SecondsText(seconds) + " s waiting for " + what;
    } else {
      result->outcome = HostOutcome::kBadReply;
      result->message = status.message + " before " + what + " was complete";
      if (bytes->empty()) result->message = status.message + " before " + what;
    }
    return false;
  }
  return true;
}

}  // namespace

const char* OutcomeName(HostOutcome outcome) {
  switch (outcome) {
    case HostOutcome::kOk:
      return "ok";
    case HostOutcome::kCommandFailed:
      return "failed";
    case HostOutcome::kAuthRefused:
      return "auth";
    case HostOutcome::kUnreachable:
      return "unreachable";
    case HostOutcome::kTimedOut:
      return "timeout";
    case HostOutcome::kBadReply:
      return "bad-reply";
  }
  return "?";
}

HostResult AskHost(const HostEntry& entry, const Options& options) {
  HostResult result;
  result.entry = entry;
  NetStatus status;
  std::unique_ptr<TcpConnection> connection =
      TcpConnection::Open(entry.host, entry.port, After(options.connect_timeout), &status);
  if (!connection) {
    result.outcome =
        status.failure == NetFailure::kTimeout ? HostOutcome::kTimedOut : HostOutcome::kUnreachable;
    result.message =
        status.failure == NetFailure::kTimeout
            ? "timed out after " + SecondsText(options.connect_timeout) + " s connecting"
            : status.message;
    return result;
  }

  std::string greeting;
  if (!ReadUntil(*connection, &greeting, GreetingComplete, After(options.connect_timeout),
                 options.connect_timeout, "the greeting", &result))
    return result;
  if (std::string problem = ParseGreeting(greeting, &result.greeting); !problem.empty()) {
    result.outcome = HostOutcome::kBadReply;
    result.message = problem;
    return result;
  }

  if (!options.user.empty()) {
    status = connection->SendAll("AUTH " + options.user + " " + options.password + "\r\n",
                                 After(options.connect_timeout));
    std::string auth;
    if (!status.ok()) {
      result.outcome =
          status.failure == NetFailure::kTimeout ? HostOutcome::kTimedOut : HostOutcome::kBadReply;
      result.message = status.message + " sending AUTH";
      return result;
    }
    const auto prompted = [](const std::string& bytes) {
      return ReplyComplete(Command::kOther, bytes);
    };
    if (!ReadUntil(*connection, &auth, prompted, After(options.connect_timeout),
                   options.connect_timeout, "the AUTH reply", &result))
      return result;
    Reply auth_reply;
    ParseReply(Command::kOther, {}, auth, &auth_reply);
    if (!auth_reply.ok) {
      result.outcome = HostOutcome::kAuthRefused;
      result.message = "log-on refused: " + auth_reply.error;
      return result;
    }
  }

  std::string line;
  for (const std::string& word : options.words) {
    if (!line.empty()) line += ' ';
    line += word;
  }
  status = connection->SendAll(line + "\r\n", After(options.reply_timeout));
  if (!status.ok()) {
    result.outcome =
        status.failure == NetFailure::kTimeout ? HostOutcome::kTimedOut : HostOutcome::kBadReply;
    result.message = status.message + " sending the command";
    return result;
  }
  const Command command = options.command;
  const auto complete = [command](const std::string& bytes) {
    return ReplyComplete(command, bytes);
  };
  if (command == Command::kQuit) {
    // QUIT has no reply: the server closes the connection.
    const NetStatus closed = connection->Receive(&result.raw, After(options.reply_timeout));
    if (closed.failure == NetFailure::kTimeout) {
      result.outcome = HostOutcome::kTimedOut;
      result.message = "timed out waiting for the server to close the connection";
      return result;
    }
  } else {
    if (!ReadUntil(*connection, &result.raw, complete, After(options.reply_timeout),
                   options.reply_timeout, "the reply", &result))
      return result;
    // Ends the session politely; the answer does not matter.
    connection->SendAll("QUIT\r\n", After(0.5));
  }

  const std::string service = options.words.size() > 1 ? options.words[1] : std::string();
  if (std::string problem = ParseReply(command, service, result.raw, &result.reply);
      !problem.empty()) {
    result.outcome = HostOutcome::kBadReply;
    result.message = problem;
    return result;
  }
  if (!result.reply.ok) {
    result.outcome = HostOutcome::kCommandFailed;
    result.message = result.reply.error;
  }
  return result;
}

std::vector<HostResult> AskAll(const Options& options,
                               const std::function<void(std::size_t, std::size_t)>& on_done) {
  const std::size_t total = options.hosts.size();
  std::vector<HostResult> results(total);
  // One server answers one command at a time and keeps a short queue of
  // pending connections, so entries that name the same server are asked at
  // most kConnectionsPerServer at once; workers take other servers meanwhile.
  std::vector<std::string> servers(total);
  for (std::size_t i = 0; i < total; ++i) {
    std::string key = options.hosts[i].host;
    for (char& c : key) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    servers[i] = key + "|" + std::to_string(options.hosts[i].port);
  }
  std::mutex lock;
  std::condition_variable freed;
  std::vector<bool> taken(total, false);
  std::map<std::string, int> busy;
  std::size_t first_open = 0;  // every entry before it is taken
  std::size_t done = 0;
  const auto work = [&] {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
      while (first_open < total && taken[first_open]) ++first_open;
      if (first_open >= total) return;
      std::size_t pick = total;
      for (std::size_t i = first_open; i < total; ++i) {
        if (!taken[i] && busy[servers[i]] < kConnectionsPerServer) {
          pick = i;
          break;
        }
      }
      if (pick == total) {
        freed.wait(guard);
        continue;
      }
      taken[pick] = true;
      ++busy[servers[pick]];
      guard.unlock();
      HostResult result = AskHost(options.hosts[pick], options);
      guard.lock();
      results[pick] = std::move(result);
      --busy[servers[pick]];
      ++done;
      if (on_done) on_done(done, total);
      freed.notify_all();
    }
  };
  const std::size_t workers =
      std::min<std::size_t>(total, static_cast<std::size_t>(std::max(1, options.parallel)));
  std::vector<std::thread> threads;
  threads.reserve(workers);
  for (std::size_t i = 1; i < workers; ++i) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer workers then; the ones running take the rest
    }
  }
  work();  // this thread is one of the workers
  for (std::thread& each : threads) each.join();
  return results;
}

int ExitStatus(const std::vector<HostResult>& results) {
  int status = 0;
  for (const HostResult& each : results) {
    switch (each.outcome) {
      case HostOutcome::kOk:
        break;
      case HostOutcome::kCommandFailed:
      case HostOutcome::kAuthRefused:
        status = std::max(status, 1);
        break;
      case HostOutcome::kUnreachable:
      case HostOutcome::kTimedOut:
      case HostOutcome::kBadReply:
        status = 2;
        break;
    }
  }
  return status;
}

}  // namespace halv::client
