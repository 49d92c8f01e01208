// The client's thin socket layer: one TCP connection with deadlines on
// connect, send and receive. The implementation (net.cpp) is portable; it
// reaches the platform through the socket primitives of socket_ops.h, which
// have one file per platform (posix/socket_ops.cpp, win/socket_ops.cpp).
//
// Each TcpConnection is used by one thread at a time; different connections
// may be used on different threads at once.
#ifndef HALV_CLIENT_NET_H_
#define HALV_CLIENT_NET_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace halv::client {

using Clock = std::chrono::steady_clock;

// Why a network step failed: the kind decides the exit status, the message
// is what the user reads ("connection refused", "timed out").
enum class NetFailure { kNone, kResolve, kConnect, kTimeout, kClosed, kOther };

struct NetStatus {
  NetFailure failure = NetFailure::kNone;
  std::string message;
  bool ok() const { return failure == NetFailure::kNone; }
};

// Sets up the platform's sockets once per process (Winsock start-up);
// false with `error` set when that fails.
bool NetStartup(std::string* error);

class TcpConnection {
 public:
  // Resolves `host` and connects to `port`, trying each address in turn,
  // until `deadline`. Returns null with `status` set on failure.
  static std::unique_ptr<TcpConnection> Open(const std::string& host, std::uint16_t port,
                                             Clock::time_point deadline, NetStatus* status);
  ~TcpConnection();
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  // Sends all of `bytes` before `deadline`.
  NetStatus SendAll(std::string_view bytes, Clock::time_point deadline);
  // Waits until `deadline` for bytes and appends what one read gives to
  // `out`. A closed connection gives kClosed with nothing appended.
  NetStatus Receive(std::string* out, Clock::time_point deadline);

 private:
  explicit TcpConnection(std::intptr_t socket) : socket_(socket) {}
  std::intptr_t socket_;
};

}  // namespace halv::client

#endif  // HALV_CLIENT_NET_H_
