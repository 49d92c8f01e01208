// ServerSocket1: the service's TCP listener and its client connections.
//
// Non-blocking Winsock sockets whose events (accept, read, close) arrive as
// window messages on a message-only window owned by the service thread, so
// every connection event runs on that thread, one at a time. Connections are
// kept in order of acceptance. A connection closed by a command is closed
// and dropped after the event that closed it, so its object outlives every
// call that still uses it.
#ifndef HALV_SERVICE_SERVER_SOCKET_H_
#define HALV_SERVICE_SERVER_SOCKET_H_

// Winsock's header must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <list>
#include <memory>
#include <string>
#include <vector>

#include "connection.h"
#include "service_core.h"
#include "service_ports.h"

namespace halv {

class ClientConnection final : public Connection {
 public:
  ClientConnection(SOCKET socket, std::string peer);
  ~ClientConnection() override;
  ClientConnection(const ClientConnection&) = delete;
  ClientConnection& operator=(const ClientConnection&) = delete;

  void SendText(std::string_view text) override;
  void SendBytes(const void* data, std::size_t size) override;
  void Close() override;
  bool IsClosed() const override { return closed_; }
  std::string PeerAddress() const override { return closed_ ? std::string() : peer_; }

  SOCKET Socket() const { return socket_; }
  // The peer address as it was when connected (for the disconnection line).
  const std::string& Peer() const { return peer_; }
  // Reads everything that has arrived so far (up to a bound per event).
  // Returns 0 while the connection is open, -1 when the peer has closed, or
  // the socket error code of a failed read.
  int ReadAvailable(std::string& out);
  // Closes the socket without running any handler.
  void Destroy();

 private:
  SOCKET socket_;
  std::string peer_;
  bool closed_ = false;
};

// The listener reports connections, receipts and disconnections straight to
// the service core; an error escaping one of them is recorded in the event
// log through the core.
class ServerSocket final : public Listener {
 public:
  static constexpr UINT kListenMessage = WM_APP + 1;
  static constexpr UINT kClientMessage = WM_APP + 2;
  static constexpr int kBacklog = 5;

  // `core` is only used once events arrive, so it may be constructed later.
  explicit ServerSocket(ServiceCore& core);
  ~ServerSocket() override;
  ServerSocket(const ServerSocket&) = delete;
  ServerSocket& operator=(const ServerSocket&) = delete;

  // The window whose messages carry the socket events; set before Open.
  void SetWindow(HWND window) { window_ = window; }

  int Port() const override { return port_; }
  // Changes the port; raises "Can't change value while socket is active"
  // when the listener is open and the port differs.
  void SetPort(int port) override;
  bool Active() const override { return listener_ != INVALID_SOCKET; }
  // Opens the listener on all local IPv4 addresses. Raises
  // "Windows socket error: <text> (<code>), on API '<call>'" on failure.
  void Open() override;
  // Closes the listener and every client connection, without running the
  // disconnection handler for them.
  void Close() override;

  std::vector<Connection*> Clients() override;

  // Window-message entry points.
  void OnListenerEvent(WPARAM wparam, LPARAM lparam);
  void OnClientEvent(WPARAM wparam, LPARAM lparam);

 private:
  ClientConnection* Find(SOCKET socket);
  // Runs the disconnection handler for, and drops, every connection that a
  // command or the peer closed.
  void Reap();

  HWND window_ = nullptr;
  ServiceCore& core_;
  int port_ = 9007;
  SOCKET listener_ = INVALID_SOCKET;
  std::list<std::unique_ptr<ClientConnection>> clients_;
};

// "Windows socket error: <system text> (<code>), on API '<call>'".
std::string SocketErrorText(int code, const char* call);

}  // namespace halv

#endif  // HALV_SERVICE_SERVER_SOCKET_H_
