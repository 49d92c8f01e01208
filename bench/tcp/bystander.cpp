// Bystander latency: how long a second client waits for its greeting and
// for a STIME reply while a first client's STOP of a slow service waits.
//
// bystander PORT SERVICE ROUNDS [DELAY_MS]
//
// Each round: client A connects and sends "stop SERVICE"; DELAY_MS (default
// 500) after A's "Stopping Service..." line arrives, client B connects, and
// the time until its whole greeting is in and then the round trip of STIME
// are measured; then A's complete STOP reply is awaited and A starts the
// service again. Prints one line per round and a summary (median and
// largest). Builds for Windows and natively (POSIX sockets).
#include "bench_sockets.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Reads until the text received holds `marker` at its end; false if the
// peer closed first.
bool ReadUntil(SOCKET s, const std::string& marker, std::string& data) {
  char buffer[8192];
  while (data.size() < marker.size() ||
         data.compare(data.size() - marker.size(), marker.size(), marker) != 0) {
    const int n = recv(s, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

SOCKET Connect(int port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  int on = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    closesocket(s);
    return static_cast<SOCKET>(-1);
  }
  return s;
}

bool SendLine(SOCKET s, const std::string& line) {
  const std::string bytes = line + "\r\n";
  return send(s, bytes.data(), static_cast<int>(bytes.size()), 0) == static_cast<int>(bytes.size());
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: bystander PORT SERVICE ROUNDS [DELAY_MS]\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const std::string service = argv[2];
  const int rounds = std::atoi(argv[3]);
  const int delay_ms = argc > 4 ? std::atoi(argv[4]) : 500;
  StartSockets();
  std::vector<double> greetings, stimes, stops;
  for (int round = 0; round < rounds; ++round) {
    std::string a_text, b_text;
    SOCKET a = Connect(port);
    if (a == static_cast<SOCKET>(-1) || !ReadUntil(a, "\n\r:: ", a_text)) {
      std::fprintf(stderr, "client A could not connect\n");
      return 1;
    }
    a_text.clear();
    const auto stop_sent = Clock::now();
    SendLine(a, "stop " + service);
    if (!ReadUntil(a, "Stopping Service..." + service + "\n\r", a_text)) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));

    const auto b_start = Clock::now();
    SOCKET b = Connect(port);
    if (b == static_cast<SOCKET>(-1) || !ReadUntil(b, "\n\r:: ", b_text)) {
      std::fprintf(stderr, "client B was not greeted\n");
      return 1;
    }
    const double greeting = MsSince(b_start);
    b_text.clear();
    const auto stime_sent = Clock::now();
    SendLine(b, "stime");
    if (!ReadUntil(b, ":: ", b_text)) return 1;
    const double stime = MsSince(stime_sent);
    closesocket(b);

    if (!ReadUntil(a, "Service Stopped\n\r:: ", a_text)) {
      std::fprintf(stderr, "client A: unexpected reply: %s\n", a_text.c_str());
      return 1;
    }
    const double stop = MsSince(stop_sent);
    a_text.clear();
    SendLine(a, "start " + service);
    if (!ReadUntil(a, ":: ", a_text)) return 1;
    closesocket(a);
    std::printf("round %d: greeting_ms=%.1f stime_ms=%.1f stop_ms=%.1f\n", round + 1, greeting,
                stime, stop);
    greetings.push_back(greeting);
    stimes.push_back(stime);
    stops.push_back(stop);
  }
  std::printf(
      "rounds=%d greeting_median_ms=%.1f greeting_max_ms=%.1f stime_median_ms=%.1f "
      "stime_max_ms=%.1f stop_median_ms=%.1f\n",
      rounds, Median(greetings), *std::max_element(greetings.begin(), greetings.end()),
      Median(stimes), *std::max_element(stimes.begin(), stimes.end()), Median(stops));
  StopSockets();
  return 0;
}
