// A bare Winsock server to compare the service with: greets like the
// service and answers every line with HELP-sized text: seven sends of about
// the size of HELP's pieces, the last one the prompt, or (SENDS 1) the same
// bytes joined into one send. Non-blocking sockets and select(),
// TCP_NODELAY on each connection, one thread.
//
// baseline_server PORT [SENDS]   (SENDS 7, the default, or 1)
#define FD_SETSIZE 1024  // room for the 100-client run
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: baseline_server PORT [SENDS]\n");
    return 2;
  }
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(std::atoi(argv[1])));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, SOMAXCONN) != 0) {
    std::fprintf(stderr, "cannot listen\n");
    return 1;
  }
  const std::vector<std::string> greeting = {
      "\n\rHalvexa: Version 3.5.1.1", "\n\rA notice line of about the same length.",
      "\n\r\n\rConnected to: SERVER\n\rService running as: SYSTEM\n\rLocal Server Date: x",
      "\n\r:: "};
  const std::vector<std::string> reply = {std::string(36, 'a'),
                                          std::string(55, 'b'),
                                          std::string(45, 'c'),
                                          std::string(45, 'd'),
                                          std::string(130, 'e'),
                                          std::string(100, 'f'),
                                          "\n\r:: "};
  const bool joined = argc > 2 && std::atoi(argv[2]) == 1;
  std::vector<std::string> pieces = joined ? std::vector<std::string>{""} : reply;
  if (joined)
    for (const auto& piece : reply) pieces[0] += piece;
  std::vector<SOCKET> clients;
  for (;;) {
    fd_set read_set;
    FD_ZERO(&read_set);
    FD_SET(listener, &read_set);
    for (SOCKET c : clients) FD_SET(c, &read_set);
    if (select(0, &read_set, nullptr, nullptr, nullptr) <= 0) continue;
    if (FD_ISSET(listener, &read_set)) {
      SOCKET c = accept(listener, nullptr, nullptr);
      if (c != INVALID_SOCKET && clients.size() < FD_SETSIZE - 1) {
        BOOL on = TRUE;
        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        std::string all;
        for (const auto& piece : greeting) all += piece;
        if (joined) {
          send(c, all.data(), static_cast<int>(all.size()), 0);
        } else {
          for (const auto& piece : greeting)
            send(c, piece.data(), static_cast<int>(piece.size()), 0);
        }
        clients.push_back(c);
      } else if (c != INVALID_SOCKET) {
        closesocket(c);
      }
    }
    for (std::size_t i = 0; i < clients.size();) {
      SOCKET c = clients[i];
      if (!FD_ISSET(c, &read_set)) {
        ++i;
        continue;
      }
      char buffer[4096];
      const int n = recv(c, buffer, sizeof buffer, 0);
      if (n <= 0) {
        closesocket(c);
        clients.erase(clients.begin() + static_cast<long>(i));
        continue;
      }
      for (int k = 0; k < n; ++k) {
        if (buffer[k] != '\n') continue;
        for (const auto& piece : pieces) send(c, piece.data(), static_cast<int>(piece.size()), 0);
      }
      ++i;
    }
  }
}
