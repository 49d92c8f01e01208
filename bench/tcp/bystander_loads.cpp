// Bystander latency under load: how long a client's STIME round trip takes
// while other clients load the service.
//
// bystander_loads PORT MODE ROUNDS USER PASSWORD [LOAD_SECONDS] [CLIENTS]
//
// MODE is one of
//   auth       one connection pipelining 1,000 "AUTH USER PASSWORD" lines
//              (a right password: each is checked and succeeds);
//   addresses  one "AUTH USER PASSWORD" (a wrong password) from each of
//              CLIENTS (default 400) loopback addresses 127.0.0.2 onwards;
//   refused    6,000 "STOP x" lines on one connection that is not logged in
//              (each refused);
//   help       CLIENTS (default 400) connections, from 127.0.0.2 onwards,
//              each sending 60 KB of "HELP" lines.
// Each round connects the load's clients and reads their greetings, then
// releases all their lines at once; while the load runs (until every line is
// answered, or LOAD_SECONDS, default 10, have passed), the bystander, already
// connected from 127.0.0.1, sends STIME after STIME and times each round
// trip. Then the load's connections are closed and the bystander waits for
// one more STIME (not timed) before the next round. Every read has a
// deadline; a STIME unanswered for 60 s counts as 60000 ms and is reported
// (exit status 3); a service that does not answer within 120 s after a load
// ends the run (exit status 1, after the summary).
// Prints one line per round and a summary (median, 90th percentile and largest over all
// round trips). Builds for Windows and natively (POSIX sockets).
#include "bench_sockets.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr SOCKET kNoSocket = static_cast<SOCKET>(-1);
constexpr char kPrompt[] = "\n\r:: ";
constexpr double kStimeTimeoutMs = 60000;

double MsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Every recv on `s` returns after at most `ms` milliseconds.
void SetReadTimeout(SOCKET s, int ms) {
#ifdef _WIN32
  const DWORD value = static_cast<DWORD>(ms);
#else
  timeval value = {};
  value.tv_sec = ms / 1000;
  value.tv_usec = (ms % 1000) * 1000;
#endif
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value), sizeof value);
}

// Connects to the service from the loopback address 127.0.0.1 + `offset`.
SOCKET Connect(int port, std::uint32_t offset) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == kNoSocket) return s;
  int on = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  sockaddr_in from = {};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = htonl(INADDR_LOOPBACK + offset);
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<u_short>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    closesocket(s);
    return kNoSocket;
  }
  SetReadTimeout(s, 200);
  return s;
}

// Reads until the text received ends with `marker`; false if the peer closed
// or `timeout_ms` passed first.
bool ReadUntil(SOCKET s, const std::string& marker, std::string& data, double timeout_ms) {
  const auto start = Clock::now();
  char buffer[8192];
  while (data.size() < marker.size() ||
         data.compare(data.size() - marker.size(), marker.size(), marker) != 0) {
    if (MsSince(start) > timeout_ms) return false;
    const int n = recv(s, buffer, sizeof buffer, 0);
    if (n == 0) return false;
    if (n < 0) continue;  // the 200 ms read timeout: check the deadline
    data.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

bool SendAll(SOCKET s, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const int n = send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// The value below which `fraction` of `values` lie (nearest rank).
double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const std::size_t rank = static_cast<std::size_t>(fraction * static_cast<double>(values.size()));
  return values[std::min(rank, values.size() - 1)];
}

double Median(const std::vector<double>& values) { return Percentile(values, 0.5); }

// One load connection: its lines, how many replies they get, and what came.
struct LoadClient {
  std::uint32_t offset = 0;
  std::string lines;
  int replies = 0;
  SOCKET s = kNoSocket;
  std::string first_reply;
  bool keep_all = false;  // keep every reply, to count their codes
  std::string received;
  std::atomic<bool> done{false};
};

struct Load {
  std::vector<std::unique_ptr<LoadClient>> clients;
};

// The load of `mode`, or an empty one for an unknown mode.
Load MakeLoad(const std::string& mode, const std::string& user, const std::string& password,
              int clients) {
  Load load;
  const auto add = [&](std::uint32_t offset, const std::string& line, int count) {
    auto c = std::make_unique<LoadClient>();
    c->offset = offset;
    for (int i = 0; i < count; ++i) c->lines += line + "\r\n";
    c->replies = count;
    c->keep_all = mode != "help";
    load.clients.push_back(std::move(c));
  };
  if (mode == "auth") {
    add(0, "AUTH " + user + " " + password, 1000);
  } else if (mode == "addresses") {
    for (int i = 0; i < clients; ++i) add(static_cast<std::uint32_t>(1 + i), "AUTH " + user + " " + password, 1);
  } else if (mode == "refused") {
    add(0, "STOP x", 6000);
  } else if (mode == "help") {
    for (int i = 0; i < clients; ++i) add(static_cast<std::uint32_t>(1 + i), "HELP", 60000 / 6);
  }
  return load;
}

// Counts prompts on `c` until all its replies are in, it closes, or `stop`.
void Drain(LoadClient& c, const std::atomic<bool>& stop) {
  char buffer[16384];
  std::string tail;
  int prompts = 0;
  while (prompts < c.replies && !stop) {
    const int n = recv(c.s, buffer, sizeof buffer, 0);
    if (n == 0) break;
    if (n < 0) continue;
    std::string text = tail + std::string(buffer, static_cast<std::size_t>(n));
    if (c.keep_all) c.received.append(buffer, static_cast<std::size_t>(n));
    if (c.first_reply.size() < 200) c.first_reply += std::string(buffer, static_cast<std::size_t>(n)).substr(0, 200);
    for (std::size_t at = text.find(kPrompt); at != std::string::npos; at = text.find(kPrompt, at + 1)) ++prompts;
    // Keep a partial prompt for the next chunk, never a whole one.
    const std::size_t keep = std::min<std::size_t>(text.size(), sizeof kPrompt - 2);
    tail = text.substr(text.size() - keep);
  }
  c.done = true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr,
                 "usage: bystander_loads PORT auth|addresses|refused|help ROUNDS USER PASSWORD "
                 "[LOAD_SECONDS] [CLIENTS]\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const std::string mode = argv[2];
  const int rounds = std::atoi(argv[3]);
  const std::string user = argv[4];
  const std::string password = argv[5];
  const double load_ms = 1000.0 * (argc > 6 ? std::atof(argv[6]) : 10.0);
  const int clients = argc > 7 ? std::atoi(argv[7]) : 400;
  if (MakeLoad(mode, user, password, clients).clients.empty() || rounds < 1) {
    std::fprintf(stderr, "bystander_loads: unknown mode \"%s\" or no rounds\n", mode.c_str());
    return 2;
  }
  StartSockets();
  std::string text;
  SOCKET b = Connect(port, 0);
  if (b == kNoSocket || !ReadUntil(b, kPrompt, text, 30000)) {
    std::fprintf(stderr, "bystander_loads: the bystander was not greeted\n");
    return 1;
  }
  std::vector<double> all;
  int unanswered = 0;
  bool settled = true;
  for (int round = 1; round <= rounds; ++round) {
    Load load = MakeLoad(mode, user, password, clients);
    for (auto& c : load.clients) {
      std::string greeting;
      c->s = Connect(port, c->offset);
      if (c->s == kNoSocket || !ReadUntil(c->s, kPrompt, greeting, 30000)) {
        std::fprintf(stderr, "bystander_loads: load client from 127.0.0.%u was not greeted\n",
                     1 + c->offset);
        return 1;
      }
    }
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (auto& c : load.clients) {
      LoadClient* p = c.get();
      threads.emplace_back([p, &stop] { Drain(*p, stop); });
      threads.emplace_back([p] { SendAll(p->s, p->lines); });
    }
    const auto load_start = Clock::now();
    const auto load_running = [&] {
      if (MsSince(load_start) > load_ms) return false;
      for (auto& c : load.clients)
        if (!c->done) return true;
      return false;
    };
    std::vector<double> samples;
    while (load_running()) {
      text.clear();
      const auto sent = Clock::now();
      if (!SendAll(b, "STIME\r\n")) {
        std::fprintf(stderr, "bystander_loads: the bystander's connection was closed\n");
        return 1;
      }
      if (ReadUntil(b, kPrompt, text, kStimeTimeoutMs)) {
        samples.push_back(MsSince(sent));
      } else {
        samples.push_back(kStimeTimeoutMs);
        ++unanswered;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const double load_took = MsSince(load_start);
    bool finished = true;
    for (auto& c : load.clients) finished = finished && c->done;
    stop = true;
    for (auto& c : load.clients) {
#ifdef _WIN32
      shutdown(c->s, SD_BOTH);
#else
      shutdown(c->s, SHUT_RDWR);
#endif
    }
    for (auto& t : threads) t.join();
    const std::string first = load.clients.front()->first_reply;
    for (auto& c : load.clients) closesocket(c->s);
    if (samples.empty()) {
      std::fprintf(stderr, "bystander_loads: the load ended before a STIME was sent\n");
      return 1;
    }
    // The first round trip starts as the load's lines are released; the
    // largest of the others shows whether it was that moment alone.
    const double later_max =
        samples.size() > 1 ? *std::max_element(samples.begin() + 1, samples.end()) : 0.0;
    std::printf("round %d: mode=%s samples=%d stime_median_ms=%.1f stime_p90_ms=%.1f "
                "stime_max_ms=%.1f first_ms=%.1f later_max_ms=%.1f load_ms=%.0f %s\n",
                round, mode.c_str(), static_cast<int>(samples.size()), Median(samples),
                Percentile(samples, 0.9), *std::max_element(samples.begin(), samples.end()),
                samples.front(), later_max, load_took, finished ? "load_answered" : "load_cut_off");
    std::string shown;
    for (char ch : first.substr(0, 80))
      shown += (ch == '\r' || ch == '\n') ? ' ' : ch;
    std::printf("  first load reply: %s\n", shown.c_str());
    // How the load's lines were answered: reply codes and their counts.
    std::vector<std::pair<std::string, int>> codes;
    for (auto& c : load.clients) {
      std::size_t at = 0;
      for (std::size_t end = c->received.find(kPrompt); end != std::string::npos;
           at = end + 5, end = c->received.find(kPrompt, at)) {
        const std::size_t start = c->received.find_first_not_of("\r\n", at);
        const std::string code =
            start == std::string::npos || start >= end ? "" : c->received.substr(start, 3);
        auto it = std::find_if(codes.begin(), codes.end(), [&](const auto& e) { return e.first == code; });
        if (it == codes.end()) codes.emplace_back(code, 1); else ++it->second;
      }
    }
    if (!codes.empty()) {
      std::printf("  load replies:");
      for (const auto& e : codes) std::printf(" %s x %d", e.first.c_str(), e.second);
      std::printf("\n");
    }
    all.insert(all.end(), samples.begin(), samples.end());
    // The service is answering again before the next round (not timed).
    text.clear();
    if (!SendAll(b, "STIME\r\n") || !ReadUntil(b, kPrompt, text, 120000)) {
      std::fprintf(stderr, "bystander_loads: no STIME reply within 120 s after the load\n");
      settled = false;
      break;
    }
  }
  closesocket(b);
  std::printf("mode=%s rounds=%d samples=%d stime_median_ms=%.1f stime_p90_ms=%.1f "
              "stime_max_ms=%.1f unanswered=%d\n",
              mode.c_str(), rounds, static_cast<int>(all.size()), Median(all), Percentile(all, 0.9),
              *std::max_element(all.begin(), all.end()), unanswered);
  StopSockets();
  if (!settled) return 1;
  return unanswered == 0 ? 0 : 3;
}
