// One connection per host (and service) and the product's worker pool over
// the list.
#include "fleet.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "net.h"
#include "worker_pool.h"

namespace halv::client {

namespace {

// The system error numbers of a stop of a stopped service and a start of a
// running one.
constexpr std::uint32_t kErrorServiceNotActive = 1062;
constexpr std::uint32_t kErrorAlreadyRunning = 1056;

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

// The "421-..." line of what a server sent before closing, without its line
// end; "" when there is none.
std::string BusyLine(const std::string& bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t end = bytes.find('\n', at);
    if (end == std::string::npos) end = bytes.size();
    std::string_view line(bytes.data() + at, end - at);
    if (!line.empty() && line.front() == '\r') line.remove_prefix(1);
    if (line.substr(0, 4) == "421-") return std::string(line);
    at = end + 1;
  }
  return {};
}

HostResult AskOnce(const HostEntry& entry, const Options& options,
                   const std::vector<std::string>& words);

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
    case HostOutcome::kBusy:
      return "busy";
  }
  return "?";
}

HostResult AskHost(const HostEntry& entry, const Options& options) {
  return AskHost(entry, options, options.words);
}

HostResult AskHost(const HostEntry& entry, const Options& options,
                   const std::vector<std::string>& words) {
  double pause = options.retry_delay;
  for (int attempt = 1;; ++attempt) {
    HostResult result = AskOnce(entry, options, words);
    result.attempts = attempt;
    if (result.outcome != HostOutcome::kBusy || attempt > options.retries) return result;
    std::this_thread::sleep_for(std::chrono::duration<double>(pause));
    pause *= 2;
  }
}

std::unique_ptr<TcpConnection> OpenSession(const HostEntry& entry, const Options& options,
                                           HostResult* result_out) {
  HostResult& result = *result_out;
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
    return nullptr;
  }

  std::string greeting;
  if (!ReadUntil(*connection, &greeting, GreetingComplete, After(options.connect_timeout),
                 options.connect_timeout, "the greeting", &result)) {
    // A server with all its clients says so in place of the greeting.
    if (std::string busy = BusyLine(greeting);
        !busy.empty() && result.outcome == HostOutcome::kBadReply) {
      result.outcome = HostOutcome::kBusy;
      result.message = busy;
    }
    return nullptr;
  }
  if (std::string problem = ParseGreeting(greeting, &result.greeting); !problem.empty()) {
    result.outcome = HostOutcome::kBadReply;
    result.message = problem;
    return nullptr;
  }

  if (!options.user.empty()) {
    // An empty password is sent as none: the server then takes the user name.
    status = connection->SendAll(
        "AUTH " + options.user + (options.password.empty() ? "" : " " + options.password) + "\r\n",
        After(options.connect_timeout));
    std::string auth;
    if (!status.ok()) {
      result.outcome =
          status.failure == NetFailure::kTimeout ? HostOutcome::kTimedOut : HostOutcome::kBadReply;
      result.message = status.message + " sending AUTH";
      return nullptr;
    }
    const auto prompted = [](const std::string& bytes) {
      return ReplyComplete(Command::kOther, bytes);
    };
    if (!ReadUntil(*connection, &auth, prompted, After(options.connect_timeout),
                   options.connect_timeout, "the AUTH reply", &result))
      return nullptr;
    std::string refusal;
    switch (ParseAuthReply(auth, &refusal)) {
      case LoginOutcome::kLoggedIn:
        break;
      case LoginOutcome::kLoginsOff:
        result.warning = "the server has logins off: --user " + options.user +
                         " was not needed, and its password was not checked";
        break;
      case LoginOutcome::kRefused:
        result.outcome = HostOutcome::kAuthRefused;
        result.message = "log-on refused: " + refusal;
        return nullptr;
    }
  }
  return connection;
}

namespace {

HostResult AskOnce(const HostEntry& entry, const Options& options,
                   const std::vector<std::string>& words) {
  HostResult result;
  std::unique_ptr<TcpConnection> connection = OpenSession(entry, options, &result);
  if (!connection) return result;
  NetStatus status;

  std::string line;
  for (const std::string& word : words) {
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

  const std::string service = words.size() > 1 ? words[1] : std::string();
  if (std::string problem = ParseReply(command, service, result.raw, &result.reply);
      !problem.empty()) {
    result.outcome = HostOutcome::kBadReply;
    result.message = problem;
    return result;
  }
  // Already in the state asked for: nothing to do is no failure.
  const std::uint32_t code = result.reply.control.code;
  if (!result.reply.ok && ((command == Command::kStop && code == kErrorServiceNotActive) ||
                           (command == Command::kStart && code == kErrorAlreadyRunning))) {
    result.unchanged = true;
    result.reply.ok = true;
    result.reply.error.clear();
    return result;
  }
  if (!result.reply.ok) {
    result.outcome = HostOutcome::kCommandFailed;
    result.message = result.reply.error;
  }
  return result;
}

}  // namespace

std::vector<HostResult> AskAll(
    const Options& options, const std::function<void(std::size_t, std::size_t)>& on_done,
    const std::function<void(std::size_t, const HostResult&)>& on_result) {
  // One job per host, or per host and service when several are named.
  struct Job {
    const HostEntry* entry;
    std::vector<std::string> words;
    std::string server;  // the host (ASCII lower case) and port
  };
  std::vector<Job> jobs;
  const std::vector<std::string> services = ServicesOf(options);
  for (const HostEntry& entry : options.hosts) {
    std::string key = entry.host;
    for (char& c : key) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    key += "|" + std::to_string(entry.port);
    if (services.size() < 2) {
      jobs.push_back({&entry, options.words, key});
      continue;
    }
    for (const std::string& service : services)
      jobs.push_back({&entry, {options.words[0], service}, key});
  }
  const std::size_t total = jobs.size();
  std::vector<HostResult> results(total);
  // One server answers one command at a time and keeps a short queue of
  // pending connections, so jobs for the same server run at most
  // kConnectionsPerServer at once; workers take other servers meanwhile.
  std::mutex lock;
  std::condition_variable freed;
  std::vector<bool> taken(total, false);
  std::map<std::string, int> busy;
  std::size_t first_open = 0;  // every job before it is taken
  std::size_t done = 0;
  std::size_t loops_running = 0;
  // Each worker runs this loop until no job is left.
  const auto work = [&] {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
      while (first_open < total && taken[first_open]) ++first_open;
      if (first_open >= total) break;
      std::size_t pick = total;
      for (std::size_t i = first_open; i < total; ++i) {
        if (!taken[i] && busy[jobs[i].server] < kConnectionsPerServer) {
          pick = i;
          break;
        }
      }
      if (pick == total) {
        freed.wait(guard);
        continue;
      }
      taken[pick] = true;
      ++busy[jobs[pick].server];
      guard.unlock();
      HostResult result = AskHost(*jobs[pick].entry, options, jobs[pick].words);
      guard.lock();
      results[pick] = std::move(result);
      --busy[jobs[pick].server];
      ++done;
      if (on_result) on_result(pick, results[pick]);
      if (on_done) on_done(done, total);
      freed.notify_all();
    }
    --loops_running;
    freed.notify_all();
  };
  const std::size_t workers =
      std::min<std::size_t>(total, static_cast<std::size_t>(std::max(1, options.parallel)));
  WorkerPool pool(workers > 1 ? workers - 1 : 1);
  for (std::size_t i = 1; i < workers; ++i) {
    {
      std::lock_guard<std::mutex> guard(lock);
      ++loops_running;
    }
    try {
      pool.Execute(work);
    } catch (const std::system_error&) {
      std::lock_guard<std::mutex> guard(lock);
      --loops_running;
      break;  // fewer workers then; the ones running take the rest
    }
  }
  {
    std::lock_guard<std::mutex> guard(lock);
    ++loops_running;
  }
  work();  // this thread is one of the workers
  {
    // Every job is done; the pool's loops have left `work` once this is 0.
    std::unique_lock<std::mutex> guard(lock);
    freed.wait(guard, [&] { return loops_running == 0; });
  }
  pool.Shutdown(std::chrono::seconds(5));  // every loop has ended: joins at once
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
      case HostOutcome::kBusy:
        status = 2;
        break;
    }
  }
  return status;
}

}  // namespace halv::client
