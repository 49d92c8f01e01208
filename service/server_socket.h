// ServerSocket1: the service's TCP listener and its client connections.
//
// Non-blocking Winsock sockets whose events (accept, read, write, close)
// arrive as window messages on a message-only window owned by the service
// thread, so every connection event runs on that thread, one at a time.
// Connections are kept in order of acceptance. Each connection queues what
// the interpreter sends and writes it when a command ends and whenever the
// socket becomes writable; while its queue is above the high-water mark it
// reads no further input. A connection closed by a command is dropped after
// the event that closed it (once its queued output has gone out), so its
// object outlives every call that still uses it. A poll timer on the same
// timer of the service thread retries accepts, reads and writes, so a lost
// notification cannot stall the listener or a connection for good.
//
// Each connection has a number that is never used again, by which a result
// computed elsewhere finds it (or finds it gone). A connection's input can
// also be paused while one of its commands waits: its lines then wait, and
// its read events are left unread (the bytes wait in the socket).
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
#include "config_schema.h"
#include "queued_connection.h"
#include "service_core.h"
#include "service_ports.h"

namespace halv {

class ClientConnection final : public QueuedConnection, private StreamSocket {
 public:
  ClientConnection(SOCKET socket, std::string peer, std::uint64_t id);
  ~ClientConnection() override;
  ClientConnection(const ClientConnection&) = delete;
  ClientConnection& operator=(const ClientConnection&) = delete;

  SOCKET Socket() const { return socket_; }
  std::uint64_t Id() const { return id_; }
  // Paused also while one of its commands waits.
  bool InputPaused() const override { return wait_paused || QueuedConnection::InputPaused(); }
  // Reads what has arrived so far (up to a bound per call). Returns 0 while
  // the connection is open, -1 when the peer has finished sending, or the
  // socket error code of a failed read.
  int ReadAvailable(std::string& out);
  // Closes the socket without running any handler.
  void Destroy();

  // A read notification is waiting for its recv (input was paused).
  bool read_pending = false;
  // One of its commands waits (START, STOP, RSTRT on a worker).
  bool wait_paused = false;
  // The peer has finished sending: the connection closes once the lines
  // already received have run.
  bool input_ended = false;
  // The disconnection handler has run (the socket may still be draining).
  bool disconnected = false;
  // When the connection was closed with output still queued (tick count).
  DWORD drain_since = 0;

 private:
  // StreamSocket: one non-blocking send; WSAEWOULDBLOCK takes nothing, any
  // other failure raises "Windows socket error: ... on API 'send'".
  std::size_t Send(const char* data, std::size_t size) override;

  SOCKET socket_;
  std::uint64_t id_;
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
  // How long a connection closed by QUIT may take to write its last output.
  static constexpr DWORD kDrainLimitMs = 30000;

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
  // Opens the listener on its address (SO_EXCLUSIVEADDRUSE) with the
  // system's largest backlog. Raises
  // "Windows socket error: <text> (<code>), on API '<call>'" on failure.
  void Open() override;
  // Closes the listener and every client connection at once, whatever they
  // have queued, without running the disconnection handler for them.
  void Close() override;

  // The open connections, in order of acceptance.
  std::vector<Connection*> Clients() override;
  // Writes every connection's queued output as far as its socket takes it
  // (after each command, so replies to other clients leave at once too).
  void FlushAll() override;

  // Window-message entry points.
  void OnListenerEvent(WPARAM wparam, LPARAM lparam);
  void OnClientEvent(WPARAM wparam, LPARAM lparam);
  // Called periodically by the service thread: accepts what waits, retries
  // blocked writes and reads that may have lost their notification, ends
  // overdue drains. So a lost notification cannot stall the listener or a
  // connection for good.
  void PollAccept();

  // The open connection numbered `id`, or null when it has gone or closed.
  Connection* FindById(std::uint64_t id);
  // Pauses the input of connection `id` while its command waits. Nothing
  // for a connection that has gone.
  void PauseInput(std::uint64_t id);
  // Resumes it: its waiting lines run and what arrived meanwhile is read
  // (through a posted read event, so not inside the caller).
  void ResumeInput(std::uint64_t id);
  // Runs the disconnection handler for every connection that a command or
  // the peer closed, and drops those with nothing left to write.
  void Reap();

 private:
  ClientConnection* Find(SOCKET socket);
  // Accepts every waiting connection until accept would block.
  void AcceptPending();
  // Reads one receipt (unless input is paused) and runs its lines.
  void Read(ClientConnection& client);
  // Runs lines that waited for the queue to drain, then reads on.
  void Resume(ClientConnection& client);
  // The peer has finished sending.
  void EndInput(ClientConnection& client);

  HWND window_ = nullptr;
  ServiceCore& core_;
  int port_ = config::kDefaultPort;
  std::optional<access::IpAddress> address_;
  SOCKET listener_ = INVALID_SOCKET;
  std::list<std::unique_ptr<ClientConnection>> clients_;
  std::uint64_t next_id_ = 1;
};

// "Windows socket error: <system text> (<code>), on API '<call>'".
std::string SocketErrorText(int code, const char* call);

}  // namespace halv

#endif  // HALV_SERVICE_SERVER_SOCKET_H_
