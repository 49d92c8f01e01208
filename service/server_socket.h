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

// What the listener reports to its owner; all on the service thread.
class ServerSocketEvents {
 public:
  virtual ~ServerSocketEvents() = default;
  virtual void ServerSocket1ClientConnect(ClientConnection& client) = 0;
  virtual void ServerSocket1ClientRead(ClientConnection& client, const std::string& text) = 0;
  virtual void ServerSocket1ClientDisconnect(ClientConnection& client) = 0;
  // An error escaped a handler: recorded in the event log by the owner.
  virtual void ServerSocket1Error(const std::string& text) = 0;
};

class ServerSocket {
 public:
  static constexpr UINT kListenMessage = WM_APP + 1;
  static constexpr UINT kClientMessage = WM_APP + 2;
  static constexpr int kBacklog = 5;

  ServerSocket(HWND window, ServerSocketEvents& events);
  ~ServerSocket();
  ServerSocket(const ServerSocket&) = delete;
  ServerSocket& operator=(const ServerSocket&) = delete;

  int Port() const { return port_; }
  // Changes the port; raises "Can't change value while socket is active"
  // when the listener is open and the port differs.
  void SetPort(int port);
  bool Active() const { return listener_ != INVALID_SOCKET; }
  // Opens the listener on all local IPv4 addresses. Raises
  // "Windows socket error: <text> (<code>), on API '<call>'" on failure.
  void Open();
  // Closes the listener and every client connection, without running the
  // disconnection handler for them.
  void Close();

  std::vector<Connection*> Clients();

  // Window-message entry points.
  void OnListenerEvent(WPARAM wparam, LPARAM lparam);
  void OnClientEvent(WPARAM wparam, LPARAM lparam);

 private:
  ClientConnection* Find(SOCKET socket);
  // Runs the disconnection handler for, and drops, every connection that a
  // command or the peer closed.
  void Reap();

  HWND window_;
  ServerSocketEvents& events_;
  int port_ = 9007;
  SOCKET listener_ = INVALID_SOCKET;
  std::list<std::unique_ptr<ClientConnection>> clients_;
};

// "Windows socket error: <system text> (<code>), on API '<call>'".
std::string SocketErrorText(int code, const char* call);

}  // namespace halv

#endif  // HALV_SERVICE_SERVER_SOCKET_H_
