// The socket layer on Windows: Winsock, non-blocking sockets and select()
// for deadlines (one socket per select, so FD_SETSIZE is no limit).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "net.h"

namespace halv::client {

namespace {

timeval Until(Clock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
  if (left < 0) left = 0;
  timeval tv;
  tv.tv_sec = static_cast<long>(left / 1000000);
  tv.tv_usec = static_cast<long>(left % 1000000);
  return tv;
}

NetStatus Failure(NetFailure failure, int error) {
  switch (error) {
    case WSAECONNREFUSED:
      return {failure, "connection refused"};
    case WSAECONNRESET:
    case WSAECONNABORTED:
      return {NetFailure::kClosed, "connection reset"};
    case WSAETIMEDOUT:
      return {NetFailure::kTimeout, "timed out"};
    case WSAEHOSTUNREACH:
      return {failure, "host unreachable"};
    case WSAENETUNREACH:
      return {failure, "network unreachable"};
    default:
      return {failure, "socket error " + std::to_string(error)};
  }
}

// Waits until `s` is writable (connect, send) or readable: 1 ready, 0 timed
// out, -1 error. A failed connect shows in the exception set.
int Wait(SOCKET s, bool write, Clock::time_point deadline) {
  for (;;) {
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval tv = Until(deadline);
    const int count = select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &tv);
    if (count == 0 && Clock::now() < deadline) continue;
    return count == SOCKET_ERROR ? -1 : count;
  }
}

}  // namespace

bool NetStartup(std::string* error) {
  static std::once_flag once;
  static int result = 0;
  std::call_once(once, [] {
    WSADATA data;
    result = WSAStartup(MAKEWORD(2, 2), &data);
  });
  if (result != 0) *error = "Winsock start-up failed with error " + std::to_string(result);
  return result == 0;
}

std::unique_ptr<TcpConnection> TcpConnection::Open(const std::string& host, std::uint16_t port,
                                                   Clock::time_point deadline, NetStatus* status) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    *status = {NetFailure::kResolve, "cannot resolve host (error " + std::to_string(rc) + ")"};
    return nullptr;
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
  *status = {NetFailure::kConnect, "no address"};
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) {
      *status = Failure(NetFailure::kConnect, WSAGetLastError());
      continue;
    }
    std::unique_ptr<TcpConnection> connection(new TcpConnection(static_cast<std::intptr_t>(s)));
    u_long non_blocking = 1;
    ioctlsocket(s, FIONBIO, &non_blocking);
    const BOOL no_delay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay),
               sizeof no_delay);
    if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == SOCKET_ERROR) {
      const int error = WSAGetLastError();
      if (error != WSAEWOULDBLOCK) {
        *status = Failure(NetFailure::kConnect, error);
        continue;
      }
      const int ready = Wait(s, true, deadline);
      if (ready == 0) {
        *status = {NetFailure::kTimeout, "timed out connecting"};
        return nullptr;
      }
      int so_error = 0;
      int size = sizeof so_error;
      if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error), &size) != 0)
        so_error = WSAGetLastError();
      if (ready < 0 && so_error == 0) so_error = WSAGetLastError();
      if (so_error != 0) {
        *status = Failure(NetFailure::kConnect, so_error);
        continue;
      }
    }
    *status = {};
    return connection;
  }
  return nullptr;
}

TcpConnection::~TcpConnection() { closesocket(static_cast<SOCKET>(socket_)); }

NetStatus TcpConnection::SendAll(std::string_view bytes, Clock::time_point deadline) {
  const SOCKET s = static_cast<SOCKET>(socket_);
  while (!bytes.empty()) {
    const int chunk = bytes.size() > 65536 ? 65536 : static_cast<int>(bytes.size());
    const int sent = send(s, bytes.data(), chunk, 0);
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return Failure(NetFailure::kOther, error);
    const int ready = Wait(s, true, deadline);
    if (ready == 0) return {NetFailure::kTimeout, "timed out sending"};
    if (ready < 0) return Failure(NetFailure::kOther, WSAGetLastError());
  }
  return {};
}

NetStatus TcpConnection::Receive(std::string* out, Clock::time_point deadline) {
  const SOCKET s = static_cast<SOCKET>(socket_);
  char buffer[4096];
  for (;;) {
    const int got = recv(s, buffer, sizeof buffer, 0);
    if (got > 0) {
      out->append(buffer, static_cast<std::size_t>(got));
      return {};
    }
    if (got == 0) return {NetFailure::kClosed, "connection closed by the server"};
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return Failure(NetFailure::kOther, error);
    const int ready = Wait(s, false, deadline);
    if (ready == 0) return {NetFailure::kTimeout, "timed out"};
    if (ready < 0) return Failure(NetFailure::kOther, WSAGetLastError());
  }
}

}  // namespace halv::client
