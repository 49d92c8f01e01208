// Binding the listener and naming peers.
#include "listen_socket.h"

#include <cstring>

#include "halv_error.h"
#include "server_socket.h"

namespace halv {

SOCKET OpenListeningSocket(const std::optional<access::IpAddress>& address, int port, int backlog) {
  if (port < 1 || port > 65535) throw Error(SocketErrorText(WSAEADDRNOTAVAIL, "bind"));
  const bool v6 = address && address->v6;
  sockaddr_storage where = {};
  int where_size = 0;
  if (v6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&where);
    in6->sin6_family = AF_INET6;
    std::memcpy(&in6->sin6_addr, address->bytes.data(), 16);
    in6->sin6_port = htons(static_cast<u_short>(port));
    where_size = sizeof(sockaddr_in6);
  } else {
    auto* in4 = reinterpret_cast<sockaddr_in*>(&where);
    in4->sin_family = AF_INET;
    if (address) {
      std::memcpy(&in4->sin_addr, address->bytes.data(), 4);
    } else {
      in4->sin_addr.s_addr = htonl(INADDR_ANY);
    }
    in4->sin_port = htons(static_cast<u_short>(port));
    where_size = sizeof(sockaddr_in);
  }
  SOCKET s = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) throw Error(SocketErrorText(WSAGetLastError(), "socket"));
  const char* call = nullptr;
  BOOL exclusive = TRUE;
  if (setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                 sizeof exclusive) == SOCKET_ERROR)
    call = "setsockopt";
  else if (bind(s, reinterpret_cast<const sockaddr*>(&where), where_size) == SOCKET_ERROR)
    call = "bind";
  else if (listen(s, backlog) == SOCKET_ERROR)
    call = "listen";
  if (call != nullptr) {
    const int error = WSAGetLastError();
    closesocket(s);
    throw Error(SocketErrorText(error, call));
  }
  return s;
}

std::string PeerAddressText(const sockaddr_storage& peer) {
  char text[INET6_ADDRSTRLEN] = {};
  if (peer.ss_family == AF_INET) {
    const auto* in4 = reinterpret_cast<const sockaddr_in*>(&peer);
    if (inet_ntop(AF_INET, &in4->sin_addr, text, sizeof text) == nullptr) return {};
  } else if (peer.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&peer);
    if (inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text) == nullptr) return {};
  } else {
    return {};
  }
  return text;
}

}  // namespace halv
