// The socket layer on POSIX: non-blocking sockets and poll() for deadlines.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "net.h"

namespace halv::client {

namespace {

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 3600000 ? 3600000 : static_cast<int>(left);
}

NetStatus Failure(NetFailure failure, int error) {
  switch (error) {
    case ECONNREFUSED:
      return {failure, "connection refused"};
    case ECONNRESET:
      return {NetFailure::kClosed, "connection reset"};
    case ETIMEDOUT:
      return {NetFailure::kTimeout, "timed out"};
    case EHOSTUNREACH:
      return {failure, "host unreachable"};
    case ENETUNREACH:
      return {failure, "network unreachable"};
    default:
      return {failure, std::system_category().message(error)};
  }
}

// Waits for `events` on `fd` until the deadline: 1 ready, 0 timed out, -1 error.
int Wait(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, MillisecondsUntil(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0 && Clock::now() < deadline) continue;
    return ready;
  }
}

}  // namespace

bool NetStartup(std::string*) { return true; }

std::unique_ptr<TcpConnection> TcpConnection::Open(const std::string& host, std::uint16_t port,
                                                   Clock::time_point deadline, NetStatus* status) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    *status = {NetFailure::kResolve, "cannot resolve host: " + std::string(gai_strerror(rc))};
    return nullptr;
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
  *status = {NetFailure::kConnect, "no address"};
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      *status = Failure(NetFailure::kConnect, errno);
      continue;
    }
    std::unique_ptr<TcpConnection> connection(new TcpConnection(fd));
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) {
        *status = Failure(NetFailure::kConnect, errno);
        continue;
      }
      const int ready = Wait(fd, POLLOUT, deadline);
      if (ready == 0) {
        *status = {NetFailure::kTimeout, "timed out connecting"};
        return nullptr;
      }
      int error = 0;
      socklen_t size = sizeof error;
      if (ready < 0)
        error = errno;
      else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
      if (error != 0) {
        *status = Failure(NetFailure::kConnect, error);
        continue;
      }
    }
    *status = {};
    return connection;
  }
  return nullptr;
}

TcpConnection::~TcpConnection() { close(static_cast<int>(socket_)); }

NetStatus TcpConnection::SendAll(std::string_view bytes, Clock::time_point deadline) {
  const int fd = static_cast<int>(socket_);
  while (!bytes.empty()) {
    const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      if (errno == EPIPE) return {NetFailure::kClosed, "connection closed by the server"};
      return Failure(NetFailure::kOther, errno);
    }
    const int ready = Wait(fd, POLLOUT, deadline);
    if (ready == 0) return {NetFailure::kTimeout, "timed out sending"};
    if (ready < 0) return Failure(NetFailure::kOther, errno);
  }
  return {};
}

NetStatus TcpConnection::Receive(std::string* out, Clock::time_point deadline) {
  const int fd = static_cast<int>(socket_);
  char buffer[4096];
  for (;;) {
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got > 0) {
      out->append(buffer, static_cast<std::size_t>(got));
      return {};
    }
    if (got == 0) return {NetFailure::kClosed, "connection closed by the server"};
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return Failure(NetFailure::kOther, errno);
    const int ready = Wait(fd, POLLIN, deadline);
    if (ready == 0) return {NetFailure::kTimeout, "timed out"};
    if (ready < 0) return Failure(NetFailure::kOther, errno);
  }
}

}  // namespace halv::client
