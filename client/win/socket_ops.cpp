// The socket primitives on Windows: Winsock, non-blocking sockets with
// select() for the deadlines (one socket per select, so FD_SETSIZE is no
// limit) and WSAGetLastError() for the errors.
#include "socket_ops.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <memory>
#include <mutex>

namespace halv::client::socket_ops {

namespace {

using Clock = std::chrono::steady_clock;

// The most one send() is given: its length is an int.
constexpr std::size_t kMaxSend = 65536;

SOCKET ToSocket(SocketHandle s) { return static_cast<SOCKET>(s); }

timeval Until(Clock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
  if (left < 0) left = 0;
  timeval tv;
  tv.tv_sec = static_cast<long>(left / 1000000);
  tv.tv_usec = static_cast<long>(left % 1000000);
  return tv;
}

}  // namespace

bool StartSockets(std::string* error) {
  static std::once_flag once;
  static int result = 0;
  std::call_once(once, [] {
    WSADATA data;
    result = WSAStartup(MAKEWORD(2, 2), &data);
  });
  if (result != 0) *error = "Winsock start-up failed with error " + std::to_string(result);
  return result == 0;
}

int Resolve(const std::string& host, std::uint16_t port, std::vector<Address>* out) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) return rc;
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(found, freeaddrinfo);
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next)
    out->emplace_back(a->ai_family, a->ai_socktype, a->ai_protocol, a->ai_addr, a->ai_addrlen);
  return 0;
}

std::string ResolveErrorDetail(int code) { return " (error " + std::to_string(code) + ")"; }

SocketHandle OpenSocket(const Address& address, int* error) {
  const SOCKET s = socket(address.family, address.type, address.protocol);
  if (s == INVALID_SOCKET) {
    *error = WSAGetLastError();
    return kNoSocket;
  }
  u_long non_blocking = 1;
  ioctlsocket(s, FIONBIO, &non_blocking);
  const BOOL no_delay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay),
             sizeof no_delay);
  return static_cast<SocketHandle>(s);
}

ConnectResult StartConnect(SocketHandle s, const Address& address, int* error) {
  sockaddr_storage target{};
  std::memcpy(&target, address.bytes.data(), address.length);
  if (connect(ToSocket(s), reinterpret_cast<const sockaddr*>(&target),
              static_cast<int>(address.length)) != SOCKET_ERROR)
    return ConnectResult::kConnected;
  const int code = WSAGetLastError();
  if (code == WSAEWOULDBLOCK) return ConnectResult::kInProgress;
  *error = code;
  return ConnectResult::kFailed;
}

int PendingError(SocketHandle s) {
  int error = 0;
  int size = sizeof error;
  if (getsockopt(ToSocket(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
    return WSAGetLastError();
  return error;
}

IoResult Send(SocketHandle s, std::string_view bytes, std::size_t* sent, int* error) {
  const int chunk = static_cast<int>(bytes.size() > kMaxSend ? kMaxSend : bytes.size());
  const int count = send(ToSocket(s), bytes.data(), chunk, 0);
  if (count > 0) {
    *sent = static_cast<std::size_t>(count);
    return IoResult::kDone;
  }
  const int code = WSAGetLastError();
  if (code == WSAEWOULDBLOCK) return IoResult::kWouldBlock;
  *error = code;
  return IoResult::kFailed;
}

IoResult Receive(SocketHandle s, char* buffer, std::size_t size, std::size_t* got, int* error) {
  const int count = recv(ToSocket(s), buffer, static_cast<int>(size), 0);
  if (count > 0) {
    *got = static_cast<std::size_t>(count);
    return IoResult::kDone;
  }
  if (count == 0) return IoResult::kClosed;
  const int code = WSAGetLastError();
  if (code == WSAEWOULDBLOCK) return IoResult::kWouldBlock;
  *error = code;
  return IoResult::kFailed;
}

// A failed connect shows in the exception set, so that set is watched too.
WaitResult Wait(SocketHandle s, Direction direction, Clock::time_point deadline, int* error) {
  const bool write = direction == Direction::kWritable;
  for (;;) {
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(ToSocket(s), &ready);
    FD_SET(ToSocket(s), &failed);
    timeval tv = Until(deadline);
    const int count = select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &tv);
    if (count == SOCKET_ERROR) {
      *error = WSAGetLastError();
      return WaitResult::kFailed;
    }
    if (count > 0) return WaitResult::kReady;
    if (Clock::now() >= deadline) return WaitResult::kTimedOut;
  }
}

std::span<const KnownError> KnownErrors() {
  static constexpr KnownError kKnown[] = {
      {WSAECONNREFUSED, ErrorKind::kRefused},
      {WSAECONNRESET, ErrorKind::kReset},
      {WSAECONNABORTED, ErrorKind::kReset},
      {WSAETIMEDOUT, ErrorKind::kTimedOut},
      {WSAEHOSTUNREACH, ErrorKind::kHostUnreachable},
      {WSAENETUNREACH, ErrorKind::kNetworkUnreachable},
  };
  return kKnown;
}

std::string ErrorText(int error) { return "socket error " + std::to_string(error); }

void CloseSocket(SocketHandle s) { closesocket(ToSocket(s)); }

}  // namespace halv::client::socket_ops
