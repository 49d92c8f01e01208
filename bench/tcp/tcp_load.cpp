// Load client: keeps N connections open to a server on 127.0.0.1 and sends a
// command on each in turn, timing every round trip (command out, reply up to
// its terminator in). Prints one summary line.
//
// tcp_load PORT CLIENTS SECONDS [COMMAND] [TERMINATOR]
//   defaults: COMMAND "help", TERMINATOR "\n\r:: "
//
// Builds for Windows and natively (POSIX sockets), so the load can come from
// outside Wine and measure the server alone.
#include "bench_sockets.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Reads until `data` ends with `terminator`; false if the peer closed.
bool ReadUntil(SOCKET s, const std::string& terminator, std::string& data) {
  char buffer[8192];
  while (data.size() < terminator.size() ||
         data.compare(data.size() - terminator.size(), terminator.size(), terminator) != 0) {
    const int n = recv(s, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: tcp_load PORT CLIENTS SECONDS [COMMAND] [TERMINATOR]\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const int clients = std::atoi(argv[2]);
  const double seconds = std::atof(argv[3]);
  const std::string command = std::string(argc > 4 ? argv[4] : "help") + "\r\n";
  const std::string terminator = argc > 5 ? argv[5] : "\n\r:: ";

  StartSockets();
  std::vector<SOCKET> sockets;
  // One after another: the server's listen backlog is small.
  for (int i = 0; i < clients; ++i) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    int on = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string greeting;
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        !ReadUntil(s, "\n\r:: ", greeting)) {
      std::fprintf(stderr, "client %d could not connect\n", i);
      return 1;
    }
    sockets.push_back(s);
  }

  std::vector<double> round_trips;
  std::vector<long> served(sockets.size(), 0);
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    for (std::size_t i = 0; i < sockets.size(); ++i) {
      const auto t0 = Clock::now();
      send(sockets[i], command.data(), static_cast<int>(command.size()), 0);
      std::string reply;
      if (!ReadUntil(sockets[i], terminator, reply)) {
        std::fprintf(stderr, "client %zu lost its connection\n", i);
        return 1;
      }
      round_trips.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
      ++served[i];
    }
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  std::sort(round_trips.begin(), round_trips.end());
  const auto at = [&](double q) {
    return round_trips[std::min(round_trips.size() - 1,
                                static_cast<std::size_t>(q * round_trips.size()))];
  };
  const long least = *std::min_element(served.begin(), served.end());
  std::printf(
      "clients=%d commands=%zu seconds=%.1f per_second=%.0f median_ms=%.3f p99_ms=%.3f "
      "least_served=%ld\n",
      clients, round_trips.size(), elapsed, round_trips.size() / elapsed, at(0.5), at(0.99), least);
  for (SOCKET s : sockets) closesocket(s);
  StopSockets();
  return least > 0 ? 0 : 1;
}
