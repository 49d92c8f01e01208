// Winsock listener and connections with window-message notification.
#include "server_socket.h"

#include <climits>
#include <exception>
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
    : QueuedConnection(static_cast<StreamSocket&>(*this), std::move(peer)),
      socket_(socket),
      id_(id) {}

ClientConnection::~ClientConnection() { Destroy(); }

std::size_t ClientConnection::Send(const char* data, std::size_t size) {
  if (socket_ == INVALID_SOCKET) throw Error(SocketErrorText(WSAENOTSOCK, "send"));
  const int length = size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
  const int rc = send(socket_, data, length, 0);
  if (rc != SOCKET_ERROR) return static_cast<std::size_t>(rc);
  const int error = WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return 0;  // the rest waits for FD_WRITE
  throw Error(SocketErrorText(error, "send"));
}

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
    if (n == 0) return -1;  // the peer has finished sending
    const int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK ? 0 : error;
  }
  return 0;
}

void ClientConnection::Destroy() {
  if (socket_ == INVALID_SOCKET) return;
  closesocket(socket_);
  socket_ = INVALID_SOCKET;
  Gone();
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
  clients_.clear();  // closes each socket and drops its queue; no disconnection handler runs
}

std::vector<Connection*> ServerSocket::Clients() {
  std::vector<Connection*> out;
  for (auto& c : clients_)
    if (!c->IsClosed()) out.push_back(c.get());
  return out;
}

void ServerSocket::FlushAll() {
  for (auto& c : clients_) {
    if (c->Output().Empty() || c->Output().Blocked()) continue;
    try {
      c->Flush();
    } catch (const std::exception& e) {
      core_.LogEventError(e.what());
    }
  }
}

ClientConnection* ServerSocket::Find(SOCKET socket) {
  for (auto& c : clients_)
    if (c->Socket() == socket) return c.get();
  return nullptr;
}

void ServerSocket::Reap() {
  for (auto it = clients_.begin(); it != clients_.end();) {
    ClientConnection& c = **it;
    if (!c.IsClosed()) {
      ++it;
      continue;
    }
    if (!c.disconnected) {
      c.disconnected = true;
      c.drain_since = GetTickCount();
      try {
        core_.ServerSocket1ClientDisconnect(c.Peer());
      } catch (const std::exception& e) {
        core_.LogEventError(e.what());
      }
    }
    if (c.Draining()) {
      ++it;  // the socket stays until its last output has gone out
      continue;
    }
    it = clients_.erase(it);
  }
}

Connection* ServerSocket::FindById(std::uint64_t id) {
  for (auto& c : clients_)
    if (c->Id() == id) return c->IsClosed() ? nullptr : c.get();
  return nullptr;
}

void ServerSocket::PauseInput(std::uint64_t id) {
  for (auto& c : clients_)
    if (c->Id() == id) c->wait_paused = true;
}

void ServerSocket::ResumeInput(std::uint64_t id) {
  for (auto& c : clients_) {
    if (c->Id() != id) continue;
    c->wait_paused = false;
    c->read_pending = true;
    PostMessageA(window_, kClientMessage, static_cast<WPARAM>(c->Socket()),
                 WSAMAKESELECTREPLY(FD_READ, 0));
  }
}

void ServerSocket::AcceptPending() {
  // Bounded, so a flood cannot hold the thread; the rest is taken next time.
  for (int i = 0; i < 1000 && listener_ != INVALID_SOCKET; ++i) {
    sockaddr_storage peer = {};
    int length = sizeof peer;
    SOCKET s = accept(listener_, reinterpret_cast<sockaddr*>(&peer), &length);
    if (s == INVALID_SOCKET) {
      // A connection reset while it waited is passed over; anything else
      // (would block, no resources) ends this round.
      if (WSAGetLastError() == WSAECONNRESET) continue;
      break;
    }
    std::string address = PeerAddressText(peer);
    // A reply leaves in one send when the command ends; it should not wait
    // for the client's delayed acknowledgement of the previous one.
    BOOL no_delay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay),
               sizeof no_delay);
    if (WSAAsyncSelect(s, window_, kClientMessage, FD_READ | FD_WRITE | FD_CLOSE) == SOCKET_ERROR) {
      closesocket(s);
      continue;
    }
    clients_.push_back(std::make_unique<ClientConnection>(s, std::move(address), next_id_++));
    try {
      core_.ServerSocket1ClientConnect(*clients_.back(), clients_.back()->Peer());
    } catch (const std::exception& e) {
      core_.LogEventError(e.what());
    }
  }
}

void ServerSocket::OnListenerEvent(WPARAM wparam, LPARAM lparam) {
  if (static_cast<SOCKET>(wparam) != listener_ || listener_ == INVALID_SOCKET) return;
  // An error is recorded, and the queue is still drained: no further accept
  // notification comes until accept() has been called.
  if (WSAGETSELECTERROR(lparam) != 0) {
    core_.LogEventError("Asynchronous socket error " + std::to_string(WSAGETSELECTERROR(lparam)));
  }
  AcceptPending();
  FlushAll();
  Reap();
}

void ServerSocket::Read(ClientConnection& client) {
  if (client.IsClosed()) return;
  // Lines that waited run before anything further is read.
  if (!client.InputPaused() && client.HasInput())
    core_.ServerSocket1ClientRead(client, client.Id(), std::string());
  if (client.IsClosed()) return;
  if (client.input_ended) {
    if (!client.InputPaused() && !client.HasInput()) client.Close();
    return;
  }
  if (client.InputPaused()) {
    client.read_pending = true;  // the recv happens when the queue drains
    return;
  }
  client.read_pending = false;
  std::string text;
  const int state = client.ReadAvailable(text);
  std::exception_ptr failure;  // from the commands; the read's own state is handled first
  try {
    if (!text.empty()) core_.ServerSocket1ClientRead(client, client.Id(), text);
  } catch (...) {
    failure = std::current_exception();
  }
  if (state > 0) {
    client.Gone();
    const std::string read_error = "Asynchronous socket error " + std::to_string(state);
    if (!failure) throw Error(read_error);
    core_.LogEventError(read_error);
  } else if (state < 0) {
    EndInput(client);
  }
  if (failure) std::rethrow_exception(failure);
}

void ServerSocket::Resume(ClientConnection& client) {
  if (client.IsClosed() || client.InputPaused()) return;
  if (client.HasInput()) core_.ServerSocket1ClientRead(client, client.Id(), std::string());
  if (client.IsClosed() || client.InputPaused()) return;
  if (client.input_ended) {
    if (!client.HasInput()) client.Close();
  } else if (client.read_pending) {
    Read(client);
  }
}

void ServerSocket::EndInput(ClientConnection& client) {
  client.input_ended = true;
  client.read_pending = false;
  // Lines already received still run (they may wait for the queue).
  if (!client.HasInput()) client.Close();
}

void ServerSocket::OnClientEvent(WPARAM wparam, LPARAM lparam) {
  ClientConnection* client = Find(static_cast<SOCKET>(wparam));
  if (client == nullptr) return;  // a message for a connection already dropped
  const int event = WSAGETSELECTEVENT(lparam);
  const int error = WSAGETSELECTERROR(lparam);
  try {
    if (error != 0) {
      client->Gone();
      throw Error("Asynchronous socket error " + std::to_string(error));
    }
    if (event == FD_READ) {
      Read(*client);
    } else if (event == FD_WRITE) {
      client->Writable();
      Resume(*client);
    } else if (event == FD_CLOSE) {
      // A socket value can be reused: a stale close is recognised by a socket
      // that still has nothing to say. Data still waiting is read first.
      char probe;
      const int n = recv(client->Socket(), &probe, 1, MSG_PEEK);
      if (n == 0) {
        if (!client->IsClosed()) EndInput(*client);
      } else if (n > 0) {
        Read(*client);
      } else if (WSAGetLastError() != WSAEWOULDBLOCK) {
        client->Gone();
      }
    }
  } catch (const std::exception& e) {
    core_.LogEventError(e.what());
  }
  FlushAll();
  Reap();
}

void ServerSocket::PollAccept() {
  if (listener_ != INVALID_SOCKET) AcceptPending();
  const DWORD now = GetTickCount();
  for (auto& c : clients_) {
    try {
      if (c->disconnected) {
        // Closed by a command, draining: retry the write; give up when overdue.
        if (now - c->drain_since > kDrainLimitMs) {
          c->Gone();
        } else if (c->Output().Blocked()) {
          c->Writable();
        }
        continue;
      }
      // A lost write or read notification must not stall the connection.
      if (c->Output().Blocked()) c->Writable();
      Resume(*c);
      if (!c->IsClosed() && !c->InputPaused() && !c->input_ended) Read(*c);
    } catch (const std::exception& e) {
      core_.LogEventError(e.what());
    }
  }
  FlushAll();
  Reap();
}

}  // namespace halv
