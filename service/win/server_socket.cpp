// The Winsock listener and client sockets with window-message notification.
#include "server_socket.h"

#include <climits>
#include <memory>
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

// One accepted client socket, owned by the driver; closing it (when the
// driver drops the connection) forgets its number.
class ServerSocket::Client final : public ClientSocket {
 public:
  Client(ServerSocket& owner, SOCKET socket, std::string peer)
      : owner_(owner), socket_(socket), peer_(std::move(peer)) {}
  ~Client() override {
    owner_.clients_.erase(socket_);
    closesocket(socket_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // One non-blocking send; WSAEWOULDBLOCK takes nothing, any other failure
  // raises "Windows socket error: ... on API 'send'".
  std::size_t Send(const char* data, std::size_t size) override {
    const int length = size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    const int rc = send(socket_, data, length, 0);
    if (rc != SOCKET_ERROR) return static_cast<std::size_t>(rc);
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return 0;  // the rest waits for FD_WRITE
    throw Error(SocketErrorText(error, "send"));
  }

  int Receive(std::string& out) override {
    // One recv, straight into `out`: each call into the socket layer costs
    // far more than the bytes it copies.
    const std::size_t start = out.size();
    out.resize(start + kMaxReceipt);
    const int n = recv(socket_, out.data() + start, static_cast<int>(kMaxReceipt), 0);
    const int error = n < 0 ? WSAGetLastError() : 0;  // before anything else may set it
    out.resize(start + (n > 0 ? static_cast<std::size_t>(n) : 0));
    // Should more be waiting, the socket layer posts another read event.
    if (n > 0) return kOpen;
    if (n == 0) return kEnded;  // the peer has finished sending
    return error == WSAEWOULDBLOCK ? kOpen : error;
  }

  std::string PeerAddress() const override { return peer_; }

 private:
  ServerSocket& owner_;
  SOCKET socket_;
  std::string peer_;
};

ServerSocket::ServerSocket(SocketEvents& events) : events_(events) {}

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
  if (listener_ == INVALID_SOCKET) return;
  closesocket(listener_);
  listener_ = INVALID_SOCKET;
}

void ServerSocket::AcceptWaiting() {
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
    // A reply leaves in one send when the command ends; it should not wait
    // for the client's delayed acknowledgement of the previous one.
    BOOL no_delay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay),
               sizeof no_delay);
    if (WSAAsyncSelect(s, window_, kClientMessage, FD_READ | FD_WRITE | FD_CLOSE) == SOCKET_ERROR) {
      closesocket(s);
      continue;
    }
    const ConnectionId id =
        events_.Accepted(std::make_unique<Client>(*this, s, PeerAddressText(peer)));
    clients_[s] = id;
  }
}

void ServerSocket::OnListenerEvent(WPARAM wparam, LPARAM lparam) {
  if (static_cast<SOCKET>(wparam) != listener_ || listener_ == INVALID_SOCKET) return;
  events_.ListenerReady(WSAGETSELECTERROR(lparam));
}

void ServerSocket::OnClientEvent(WPARAM wparam, LPARAM lparam) {
  const SOCKET socket = static_cast<SOCKET>(wparam);
  auto it = clients_.find(socket);
  if (it == clients_.end()) return;  // a message for a socket already closed
  const ConnectionId id = it->second;
  const int event = WSAGETSELECTEVENT(lparam);
  const int error = WSAGETSELECTERROR(lparam);
  if (error != 0) {
    events_.Failed(id, error);
  } else if (event == FD_READ) {
    events_.Readable(id);
  } else if (event == FD_WRITE) {
    events_.Writable(id);
  } else if (event == FD_CLOSE) {
    // A socket value can be reused: a stale close is recognised by a socket
    // that still has nothing to say. Data still waiting is read first.
    char probe;
    const int n = recv(socket, &probe, 1, MSG_PEEK);
    if (n == 0) {
      events_.InputEnded(id);
    } else if (n > 0) {
      events_.Readable(id);
    } else if (WSAGetLastError() != WSAEWOULDBLOCK) {
      events_.Failed(id, 0);
    }
  }
}

}  // namespace halv
