// ServerSocket1: the service's Winsock listener and its client sockets.
//
// Non-blocking Winsock sockets whose events (accept, read, write, close)
// arrive as window messages (WSAAsyncSelect) on a message-only window owned
// by the service thread, so every socket event runs on that thread, one at
// a time. This file holds only the Winsock calls: opening and closing the
// listener, accept, recv, send and closesocket. What the sockets say is
// reported through SocketEvents (the connection driver, which owns the
// client sockets and the connections' state); a message for a socket that
// has been closed meanwhile is passed over.
#ifndef HALV_SERVICE_WIN_SERVER_SOCKET_H_
#define HALV_SERVICE_WIN_SERVER_SOCKET_H_

// Winsock's header must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <map>
#include <optional>
#include <string>

#include "address_list.h"
#include "config_schema.h"
#include "connection_driver.h"

namespace halv {

class ServerSocket final : public ListeningSocket {
 public:
  static constexpr UINT kListenMessage = WM_APP + 1;
  static constexpr UINT kClientMessage = WM_APP + 2;
  // The system's largest queue, so a burst of connects waits to be accepted.
  static constexpr int kBacklog = SOMAXCONN;

  // `events` is only used once socket events arrive, so it may be
  // constructed later; it must outlive the listener.
  explicit ServerSocket(SocketEvents& events);
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
  // Closes the listening socket (the client sockets are the driver's).
  void Close() override;
  // Accepts waiting connections until accept would block (at most 1000 a
  // call), each with TCP_NODELAY and its notifications selected, and hands
  // each to SocketEvents::Accepted.
  void AcceptWaiting() override;

  // Window-message entry points.
  void OnListenerEvent(WPARAM wparam, LPARAM lparam);
  void OnClientEvent(WPARAM wparam, LPARAM lparam);

 private:
  class Client;

  HWND window_ = nullptr;
  SocketEvents& events_;
  int port_ = config::kDefaultPort;
  std::optional<access::IpAddress> address_;
  SOCKET listener_ = INVALID_SOCKET;
  // The open client sockets and their connection numbers.
  std::map<SOCKET, ConnectionId> clients_;
};

// "Windows socket error: <system text> (<code>), on API '<call>'".
std::string SocketErrorText(int code, const char* call);

}  // namespace halv

#endif  // HALV_SERVICE_WIN_SERVER_SOCKET_H_
