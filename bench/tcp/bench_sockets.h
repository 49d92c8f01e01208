// The socket headers of the TCP benchmarks, for Winsock and for POSIX
// sockets, and the few names the two spell differently.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
using SOCKET = int;
inline int closesocket(SOCKET s) { return close(s); }
#endif

// Starts the socket layer (Winsock), or makes a write to a lost connection
// an error instead of a fatal signal (POSIX); and ends it again.
inline void StartSockets() {
#ifdef _WIN32
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
#else
  std::signal(SIGPIPE, SIG_IGN);
#endif
}

inline void StopSockets() {
#ifdef _WIN32
  WSACleanup();
#endif
}
