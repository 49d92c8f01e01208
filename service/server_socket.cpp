// Winsock listener and connections with window-message notification.
#include "server_socket.h"

#include <utility>

#include "halv_error.h"
#include "listen_socket.h"
#include "system_error_text.h"

namespace halv {
namespace {

// Bound on what one read event takes in; the rest arrives as the next event.
constexpr std::size_t kMaxReceipt = 64 * 1024;

std::string SystemText(int code) {
  const std::string out = SystemErrorText(static_cast<unsigned long>(code));
  if (!out.empty()) return out;
  // Some systems (Wine among them) carry no texts for the Winsock codes.
  switch (code) {
    case WSAEACCES:
      return "An attempt was made to access a socket in a way forbidden by its access "
             "permissions.";
    case WSAEADDRINUSE:
      return "Only one usage of each socket address (protocol/network address/port) is normally "
             "permitted.";
    case WSAEADDRNOTAVAIL:
      return "The requested address is not valid in its context.";
    case WSAECONNABORTED:
      return "An established connection was aborted by the software in your host machine.";
    case WSAECONNRESET:
      return "An existing connection was forcibly closed by the remote host.";
    case WSAENOBUFS:
      return "An operation on a socket could not be performed because the system lacked "
             "sufficient buffer space or because a queue was full.";
    default:
      return "Unknown error";
  }
}

}  // namespace

std::string SocketErrorText(int code, const char* call) {
  return "Windows socket error: " + SystemText(code) + " (" + std::to_string(code) + "), on API '" +
         call + "'";
}

ClientConnection::ClientConnection(SOCKET socket, std::string peer, std::uint64_t id)
    : socket_(socket), peer_(std::move(peer)), id_(id) {}

ClientConnection::~ClientConnection() { Destroy(); }

void ClientConnection::SendText(std::string_view text) { SendBytes(text.data(), text.size()); }

void ClientConnection::SendBytes(const void* data, std::size_t size) {
  if (closed_ || size == 0) return;
  const int rc = send(socket_, static_cast<const char*>(data), static_cast<int>(size), 0);
  if (rc != SOCKET_ERROR) return;
  const int error = WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return;  // nothing is queued: the text is dropped
  Close();
  throw Error(SocketErrorText(error, "send"));
}

void ClientConnection::Close() { closed_ = true; }

int ClientConnection::ReadAvailable(std::string& out) {
  char buffer[4096];
  while (out.size() < kMaxReceipt) {
    const int n = recv(socket_, buffer, sizeof buffer, 0);
    if (n > 0) {
      out.append(buffer, static_cast<std::size_t>(n));
      // A short read took everything there was; should more arrive, the
      // socket layer posts another read event.
      if (static_cast<std::size_t>(n) < sizeof buffer) return 0;
      continue;
    }
    if (n == 0) return -1;  // the peer has closed
    const int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK ? 0 : error;
  }
  return 0;
}

void ClientConnection::Destroy() {
  if (socket_ == INVALID_SOCKET) return;
  closesocket(socket_);
  socket_ = INVALID_SOCKET;
  closed_ = true;
}

ServerSocket::ServerSocket(ServiceCore& core) : core_(core) {}

ServerSocket::~ServerSocket() { Close(); }

void ServerSocket::SetPort(int port) {
  if (port == port_) return;
  if (Active()) throw Error("Can't change value while socket is active");
  port_ = port;
}

void ServerSocket::SetAddress(const std::optional<access::IpAddress>& address) {
  if (address == address_) return;
  if (Active()) throw Error("Can't change value while socket is active");
  address_ = address;
}

void ServerSocket::Open() {
  if (Active()) return;
  SOCKET s = OpenListeningSocket(address_, port_, kBacklog);
  if (WSAAsyncSelect(s, window_, kListenMessage, FD_ACCEPT) == SOCKET_ERROR) {
    const int error = WSAGetLastError();
    closesocket(s);
    throw Error(SocketErrorText(error, "WSAAsyncSelect"));
  }
  listener_ = s;
}

void ServerSocket::Close() {
  if (listener_ != INVALID_SOCKET) {
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
  }
  clients_.clear();  // closes each socket; no disconnection handler runs
}

std::vector<Connection*> ServerSocket::Clients() {
  std::vector<Connection*> out;
  for (auto& c : clients_)
    if (!c->IsClosed()) out.push_back(c.get());
  return out;
}

ClientConnection* ServerSocket::Find(SOCKET socket) {
  for (auto& c : clients_)
    if (c->Socket() == socket) return c.get();
  return nullptr;
}

void ServerSocket::Reap() {
  for (auto it = clients_.begin(); it != clients_.end();) {
    if (!(*it)->IsClosed()) {
      ++it;
      continue;
    }
    std::unique_ptr<ClientConnection> gone = std::move(*it);
    it = clients_.erase(it);
    try {
      core_.ServerSocket1ClientDisconnect(gone->Peer());
    } catch (const std::exception& e) {
      core_.LogEventError(e.what());
    }
  }
}

Connection* ServerSocket::FindById(std::uint64_t id) {
  for (auto& c : clients_)
    if (c->Id() == id) return c->IsClosed() ? nullptr : c.get();
  return nullptr;
}

void ServerSocket::PauseInput(std::uint64_t id) {
  for (auto& c : clients_)
    if (c->Id() == id) c->input_paused_ = true;
}

void ServerSocket::ResumeInput(std::uint64_t id) {
  for (auto& c : clients_) {
    if (c->Id() != id) continue;
    c->input_paused_ = false;
    const WPARAM socket = static_cast<WPARAM>(c->Socket());
    if (c->read_deferred_ || c->close_deferred_) {
      c->read_deferred_ = false;
      PostMessageA(window_, kClientMessage, socket, WSAMAKESELECTREPLY(FD_READ, 0));
    }
    if (c->close_deferred_) {
      c->close_deferred_ = false;
      PostMessageA(window_, kClientMessage, socket, WSAMAKESELECTREPLY(FD_CLOSE, 0));
    }
  }
}

void ServerSocket::OnListenerEvent(WPARAM wparam, LPARAM lparam) {
  if (static_cast<SOCKET>(wparam) != listener_ || listener_ == INVALID_SOCKET) return;
  // An error notification is recorded, and the queue is drained all the
  // same: no further accept notification comes until accept() is called.
  if (WSAGETSELECTERROR(lparam) != 0)
    core_.LogEventError("Asynchronous socket error " + std::to_string(WSAGETSELECTERROR(lparam)));
  for (;;) {
    sockaddr_storage peer = {};
    int length = sizeof peer;
    SOCKET s = accept(listener_, reinterpret_cast<sockaddr*>(&peer), &length);
    if (s == INVALID_SOCKET) break;
    std::string address = PeerAddressText(peer);
    // Every reply piece is its own send: without this each small send after
    // the first would wait for the client's delayed acknowledgement.
    BOOL no_delay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay),
               sizeof no_delay);
    if (WSAAsyncSelect(s, window_, kClientMessage, FD_READ | FD_CLOSE) == SOCKET_ERROR) {
      closesocket(s);
      continue;
    }
    clients_.push_back(std::make_unique<ClientConnection>(s, std::move(address), next_id_++));
    try {
      core_.ServerSocket1ClientConnect(*clients_.back(), clients_.back()->Peer());
    } catch (const std::exception& e) {
      core_.LogEventError(e.what());
    }
    Reap();
    if (listener_ == INVALID_SOCKET) break;
  }
}

void ServerSocket::PollAccept() {
  if (listener_ != INVALID_SOCKET) OnListenerEvent(static_cast<WPARAM>(listener_), 0);
}

void ServerSocket::OnClientEvent(WPARAM wparam, LPARAM lparam) {
  ClientConnection* client = Find(static_cast<SOCKET>(wparam));
  if (client == nullptr) return;  // a message for a connection already dropped
  const int event = WSAGETSELECTEVENT(lparam);
  const int error = WSAGETSELECTERROR(lparam);
  try {
    if (error != 0) {
      client->Close();
      throw Error("Asynchronous socket error " + std::to_string(error));
    }
    if (event == FD_READ && !client->IsClosed()) {
      if (client->input_paused_) {
        // Left unread: no further read event comes until it is read.
        client->read_deferred_ = true;
      } else {
        std::string text;
        const int state = client->ReadAvailable(text);
        if (!text.empty()) core_.ServerSocket1ClientRead(*client, client->Id(), text);
        if (state != 0) client->Close();
        if (state > 0) throw Error("Asynchronous socket error " + std::to_string(state));
      }
    } else if (event == FD_CLOSE) {
      // A socket value can be reused: a stale close is recognised by a socket
      // that still has nothing to say.
      char probe;
      const int n = recv(client->Socket(), &probe, 1, MSG_PEEK);
      if (n == 0 || (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK)) {
        client->Close();
      } else if (n > 0 && client->input_paused_) {
        // Bytes still wait unread: the close is looked at again once they
        // have been read.
        client->close_deferred_ = true;
      }
    }
  } catch (const std::exception& e) {
    core_.LogEventError(e.what());
  }
  Reap();
}

}  // namespace halv
