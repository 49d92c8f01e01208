// The socket primitives on POSIX: BSD sockets, non-blocking, with poll() for
// the deadlines and errno for the errors.
#include "socket_ops.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>

namespace halv::client::socket_ops {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 3600000 ? 3600000 : static_cast<int>(left);
}

}  // namespace

bool StartSockets(std::string*) { return true; }

int Resolve(const std::string& host, std::uint16_t port, std::vector<Address>* out) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) return rc;
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(found, freeaddrinfo);
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next)
    out->emplace_back(a->ai_family, a->ai_socktype, a->ai_protocol, a->ai_addr, a->ai_addrlen);
  return 0;
}

std::string ResolveErrorDetail(int code) { return ": " + std::string(gai_strerror(code)); }

SocketHandle OpenSocket(const Address& address, int* error) {
  const int fd = socket(address.family, address.type | SOCK_CLOEXEC, address.protocol);
  if (fd < 0) {
    *error = errno;
    return kNoSocket;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

ConnectResult StartConnect(SocketHandle s, const Address& address, int* error) {
  sockaddr_storage target{};
  std::memcpy(&target, address.bytes.data(), address.length);
  if (connect(static_cast<int>(s), reinterpret_cast<const sockaddr*>(&target),
              static_cast<socklen_t>(address.length)) == 0)
    return ConnectResult::kConnected;
  if (errno == EINPROGRESS) return ConnectResult::kInProgress;
  *error = errno;
  return ConnectResult::kFailed;
}

int PendingError(SocketHandle s) {
  int error = 0;
  socklen_t size = sizeof error;
  if (getsockopt(static_cast<int>(s), SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
  return error;
}

IoResult Send(SocketHandle s, std::string_view bytes, std::size_t* sent, int* error) {
  for (;;) {
    const ssize_t count = send(static_cast<int>(s), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (count > 0) {
      *sent = static_cast<std::size_t>(count);
      return IoResult::kDone;
    }
    if (count == 0) return IoResult::kWouldBlock;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return IoResult::kWouldBlock;
    if (errno == EPIPE) return IoResult::kClosed;
    *error = errno;
    return IoResult::kFailed;
  }
}

IoResult Receive(SocketHandle s, char* buffer, std::size_t size, std::size_t* got, int* error) {
  for (;;) {
    const ssize_t count = recv(static_cast<int>(s), buffer, size, 0);
    if (count > 0) {
      *got = static_cast<std::size_t>(count);
      return IoResult::kDone;
    }
    if (count == 0) return IoResult::kClosed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return IoResult::kWouldBlock;
    *error = errno;
    return IoResult::kFailed;
  }
}

WaitResult Wait(SocketHandle s, Direction direction, Clock::time_point deadline, int* error) {
  const short events = direction == Direction::kWritable ? POLLOUT : POLLIN;
  for (;;) {
    pollfd entry{static_cast<int>(s), events, 0};
    const int ready = poll(&entry, 1, MillisecondsUntil(deadline));
    if (ready > 0) return WaitResult::kReady;
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) {
      *error = errno;
      return WaitResult::kFailed;
    }
    if (Clock::now() >= deadline) return WaitResult::kTimedOut;
  }
}

std::span<const KnownError> KnownErrors() {
  static constexpr KnownError kKnown[] = {
      {ECONNREFUSED, ErrorKind::kRefused},
      {ECONNRESET, ErrorKind::kReset},
      {ETIMEDOUT, ErrorKind::kTimedOut},
      {EHOSTUNREACH, ErrorKind::kHostUnreachable},
      {ENETUNREACH, ErrorKind::kNetworkUnreachable},
  };
  return kKnown;
}

std::string ErrorText(int error) { return std::system_category().message(error); }

void CloseSocket(SocketHandle s) { close(static_cast<int>(s)); }

}  // namespace halv::client::socket_ops
