// TcpConnection over the platform's socket primitives (socket_ops.h): each
// resolved address tried in turn with a non-blocking connect, the send and
// receive loops with their deadlines, and what each failure says and which
// kind it is.
#include "net.h"

#include <algorithm>
#include <span>
#include <vector>

#include "socket_ops.h"

namespace halv::client {

namespace {

namespace ops = socket_ops;

// The status of a failed step: errors with a meaning of their own keep it
// (a reset is kClosed, a time-out kTimeout), the rest are `failure`.
NetStatus Failure(NetFailure failure, int error) {
  const std::span<const ops::KnownError> known = ops::KnownErrors();
  const auto found = std::find_if(known.begin(), known.end(),
                                  [error](const ops::KnownError& e) { return e.error == error; });
  if (found == known.end()) return {failure, ops::ErrorText(error)};
  switch (found->kind) {
    case ops::ErrorKind::kRefused:
      return {failure, "connection refused"};
    case ops::ErrorKind::kReset:
      return {NetFailure::kClosed, "connection reset"};
    case ops::ErrorKind::kTimedOut:
      return {NetFailure::kTimeout, "timed out"};
    case ops::ErrorKind::kHostUnreachable:
      return {failure, "host unreachable"};
    case ops::ErrorKind::kNetworkUnreachable:
      return {failure, "network unreachable"};
  }
  return {failure, ops::ErrorText(error)};
}

// After a send or receive that moved no bytes (`result`, with its `error`):
// true once the socket is ready in `direction` again, else false with
// `status` saying why the step failed (`timeout_text` when the deadline
// passed).
bool AwaitReady(ops::SocketHandle s, ops::IoResult result, int error, ops::Direction direction,
                Clock::time_point deadline, const char* timeout_text, NetStatus* status) {
  switch (result) {
    case ops::IoResult::kClosed:
      *status = {NetFailure::kClosed, "connection closed by the server"};
      return false;
    case ops::IoResult::kFailed:
      *status = Failure(NetFailure::kOther, error);
      return false;
    case ops::IoResult::kDone:
    case ops::IoResult::kWouldBlock:
      break;
  }
  switch (ops::Wait(s, direction, deadline, &error)) {
    case ops::WaitResult::kReady:
      return true;
    case ops::WaitResult::kTimedOut:
      *status = {NetFailure::kTimeout, timeout_text};
      return false;
    case ops::WaitResult::kFailed:
      break;
  }
  *status = Failure(NetFailure::kOther, error);
  return false;
}

}  // namespace

bool NetStartup(std::string* error) { return ops::StartSockets(error); }

std::unique_ptr<TcpConnection> TcpConnection::Open(const std::string& host, std::uint16_t port,
                                                   Clock::time_point deadline, NetStatus* status) {
  std::vector<ops::Address> addresses;
  if (const int rc = ops::Resolve(host, port, &addresses); rc != 0) {
    *status = {NetFailure::kResolve, "cannot resolve host" + ops::ResolveErrorDetail(rc)};
    return nullptr;
  }
  *status = {NetFailure::kConnect, "no address"};
  for (const ops::Address& address : addresses) {
    int error = 0;
    const ops::SocketHandle s = ops::OpenSocket(address, &error);
    if (s == ops::kNoSocket) {
      *status = Failure(NetFailure::kConnect, error);
      continue;
    }
    std::unique_ptr<TcpConnection> connection(new TcpConnection(s));
    const ops::ConnectResult started = ops::StartConnect(s, address, &error);
    if (started == ops::ConnectResult::kFailed) {
      *status = Failure(NetFailure::kConnect, error);
      continue;
    }
    if (started == ops::ConnectResult::kInProgress) {
      const ops::WaitResult ready = ops::Wait(s, ops::Direction::kWritable, deadline, &error);
      if (ready == ops::WaitResult::kTimedOut) {
        *status = {NetFailure::kTimeout, "timed out connecting"};
        return nullptr;
      }
      if (ready == ops::WaitResult::kReady) error = ops::PendingError(s);
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

TcpConnection::~TcpConnection() { ops::CloseSocket(socket_); }

NetStatus TcpConnection::SendAll(std::string_view bytes, Clock::time_point deadline) {
  while (!bytes.empty()) {
    std::size_t sent = 0;
    int error = 0;
    const ops::IoResult result = ops::Send(socket_, bytes, &sent, &error);
    if (result == ops::IoResult::kDone) {
      bytes.remove_prefix(sent);
      continue;
    }
    if (NetStatus status; !AwaitReady(socket_, result, error, ops::Direction::kWritable, deadline,
                                      "timed out sending", &status))
      return status;
  }
  return {};
}

NetStatus TcpConnection::Receive(std::string* out, Clock::time_point deadline) {
  char buffer[4096];
  for (;;) {
    std::size_t got = 0;
    int error = 0;
    const ops::IoResult result = ops::Receive(socket_, buffer, sizeof buffer, &got, &error);
    if (result == ops::IoResult::kDone) {
      out->append(buffer, got);
      return {};
    }
    if (NetStatus status; !AwaitReady(socket_, result, error, ops::Direction::kReadable, deadline,
                                      "timed out", &status))
      return status;
  }
}

}  // namespace halv::client
