// ServerSocket1: the service's TCP listener and its client connections.
//
// Non-blocking Winsock sockets whose events (accept, read, close) arrive as
// window messages on a message-only window owned by the service thread, so
// every connection event runs on that thread, one at a time. Connections are
// kept in order of acceptance. A connection closed by a command is closed
// and dropped after the event that closed it, so its object outlives every
// call that still uses it.
//
// Each connection has a number that is never used again, by which a result
// computed elsewhere finds it (or finds it gone). A connection's input can
// be paused: its read events are then left unread (the bytes wait in the
// socket) until it is resumed.
#ifndef HALV_SERVICE_SERVER_SOCKET_H_
#define HALV_SERVICE_SERVER_SOCKET_H_

// Winsock's header must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "address_list.h"
#include "connection.h"
#include "service_core.h"
#include "service_ports.h"

namespace halv {

class ClientConnection final : public Connection {
 public:
  ClientConnection(SOCKET socket, std::string peer, std::uint64_t id);
  ~ClientConnection() override;
  ClientConnection(const ClientConnection&) = delete;
  ClientConnection& operator=(const ClientConnection&) = delete;

  void SendText(std::string_view text) override;
  void SendBytes(const void* data, std::size_t size) override;
  void Close() override;
  bool IsClosed() const override { return closed_; }
  std::string PeerAddress() const override { return closed_ ? std::string() : peer_; }

  SOCKET Socket() const { return socket_; }
  std::uint64_t Id() const { return id_; }
  // The peer address as it was when connected (for the disconnection line).
  const std::string& Peer() const { return peer_; }
  // Reads everything that has arrived so far (up to a bound per event).
  // Returns 0 while the connection is open, -1 when the peer has closed, or
  // the socket error code of a failed read.
  int ReadAvailable(std::string& out);
  // Closes the socket without running any handler.
  void Destroy();

 private:
  friend class ServerSocket;

  SOCKET socket_;
  std::string peer_;
  std::uint64_t id_;
  bool closed_ = false;
  // Input paused; a read event or a close arrived meanwhile.
  bool input_paused_ = false;
  bool read_deferred_ = false;
  bool close_deferred_ = false;
};

// The listener reports connections, receipts and disconnections straight to
// the service core; an error escaping one of them is recorded in the event
// log through the core.
class ServerSocket final : public Listener {
 public:
  static constexpr UINT kListenMessage = WM_APP + 1;
  static constexpr UINT kClientMessage = WM_APP + 2;
  // The system's largest queue, so a burst of connects waits to be accepted.
  static constexpr int kBacklog = SOMAXCONN;

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
  // The address to bind (ListenAddress); empty for every IPv4 address.
  // Raises "Can't change value while socket is active" when the listener is
  // open and the address differs.
  void SetAddress(const std::optional<access::IpAddress>& address) override;
  const std::optional<access::IpAddress>& Address() const override { return address_; }
  // Opens the listener on its address (SO_EXCLUSIVEADDRUSE). Raises
  // "Windows socket error: <text> (<code>), on API '<call>'" on failure.
  void Open() override;
  // Closes the listener and every client connection, without running the
  // disconnection handler for them.
  void Close() override;

  std::vector<Connection*> Clients() override;

  // Window-message entry points.
  void OnListenerEvent(WPARAM wparam, LPARAM lparam);
  void OnClientEvent(WPARAM wparam, LPARAM lparam);
  // Accepts whatever waits in the listen queue. Called periodically by the
  // service thread, so a lost accept notification cannot stall the listener.
  void PollAccept();

  // The open connection numbered `id`, or null when it has gone or closed.
  Connection* FindById(std::uint64_t id);
  // Pauses the input of connection `id`: read events leave the bytes in the
  // socket. Nothing for a connection that has gone.
  void PauseInput(std::uint64_t id);
  // Resumes it: what arrived meanwhile is read as one receipt (a read event
  // is posted), and a close seen meanwhile is handled after it.
  void ResumeInput(std::uint64_t id);
  // Runs the disconnection handler for, and drops, every connection that a
  // command, the idle check or the peer closed.
  void Reap();

 private:
  ClientConnection* Find(SOCKET socket);

  HWND window_ = nullptr;
  ServiceCore& core_;
  int port_ = 9007;
  std::optional<access::IpAddress> address_;
  SOCKET listener_ = INVALID_SOCKET;
  std::list<std::unique_ptr<ClientConnection>> clients_;
  std::uint64_t next_id_ = 1;
};

// "Windows socket error: <system text> (<code>), on API '<call>'".
std::string SocketErrorText(int code, const char* call);

}  // namespace halv

#endif  // HALV_SERVICE_SERVER_SOCKET_H_
