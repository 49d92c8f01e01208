// The socket primitives under TcpConnection: what the client needs from the
// platform's sockets, one call a step, with the platform's error numbers
// passed through as plain ints. net.cpp holds the logic over them (address
// by address connect, the send and receive loops, the failure texts); each
// platform implements them once (posix/socket_ops.cpp, win/socket_ops.cpp).
// Internal to the client: nothing outside client/ includes this header.
//
// Every function may be called on any thread; one socket is used by one
// thread at a time.
#ifndef HALV_CLIENT_SOCKET_OPS_H_
#define HALV_CLIENT_SOCKET_OPS_H_

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace halv::client::socket_ops {

// A socket as an integer (a descriptor on POSIX, a SOCKET on Windows).
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// One resolved address: what socket() and connect() need, copied out of the
// resolver's list (a sockaddr longer than `bytes` is cut, which no stream
// address is).
struct Address {
  Address(int family, int type, int protocol, const void* sockaddr, std::size_t length)
      : family(family),
        type(type),
        protocol(protocol),
        length(length < bytes.size() ? length : bytes.size()) {
    std::memcpy(bytes.data(), sockaddr, this->length);
  }
  int family;
  int type;
  int protocol;
  std::array<unsigned char, 128> bytes{};  // the sockaddr, `length` bytes of it
  std::size_t length;
};

// What a platform error number means to the client; an error of no kind
// of its own reads as ErrorText().
enum class ErrorKind { kRefused, kReset, kTimedOut, kHostUnreachable, kNetworkUnreachable };
struct KnownError {
  int error;
  ErrorKind kind;
};

enum class ConnectResult { kConnected, kInProgress, kFailed };
enum class IoResult { kDone, kWouldBlock, kClosed, kFailed };
enum class WaitResult { kReady, kTimedOut, kFailed };
enum class Direction { kReadable, kWritable };

// Sets up the platform's sockets once per process; later calls give the first
// call's result. False with `error` set (the user's text) when that fails.
bool StartSockets(std::string* error);

// Resolves `host` and `port` to stream addresses in the resolver's order.
// Returns 0 with `out` filled, else the resolver's error code (see
// ResolveErrorDetail) with `out` untouched.
int Resolve(const std::string& host, std::uint16_t port, std::vector<Address>* out);
// The text that follows "cannot resolve host" for a Resolve() code,
// punctuation included.
std::string ResolveErrorDetail(int code);

// Creates a non-blocking stream socket for `address` with Nagle's delay off.
// The caller owns the socket (CloseSocket). kNoSocket with `error` set on
// failure.
SocketHandle OpenSocket(const Address& address, int* error);
// Starts connecting `s` to `address`. kInProgress means: wait until it is
// writable, then read PendingError(). kFailed sets `error`.
ConnectResult StartConnect(SocketHandle s, const Address& address, int* error);
// The socket's pending error (SO_ERROR): 0 once a connect has succeeded, or
// the error that reading it gave.
int PendingError(SocketHandle s);

// Sends a prefix of `bytes` (not empty). kDone sets `sent` (at least 1);
// kWouldBlock means wait until writable; kClosed means the peer has gone;
// kFailed sets `error`.
IoResult Send(SocketHandle s, std::string_view bytes, std::size_t* sent, int* error);
// Reads up to `size` bytes into `buffer`. kDone sets `got` (at least 1);
// kClosed is the peer's orderly close; kWouldBlock means wait until readable;
// kFailed sets `error`.
IoResult Receive(SocketHandle s, char* buffer, std::size_t size, std::size_t* got, int* error);

// Waits until `s` is ready in `direction` or `deadline` has passed (never
// earlier). kFailed sets `error`.
WaitResult Wait(SocketHandle s, Direction direction, std::chrono::steady_clock::time_point deadline,
                int* error);

// The platform's error numbers that have a kind; a static table.
std::span<const KnownError> KnownErrors();
// The platform's text for an error number that has no kind.
std::string ErrorText(int error);

// Closes a socket from OpenSocket.
void CloseSocket(SocketHandle s);

}  // namespace halv::client::socket_ops

#endif  // HALV_CLIENT_SOCKET_OPS_H_
