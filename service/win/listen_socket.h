// The listening socket of ServerSocket1 and the text of a peer's address.
//
// The listener binds one address (IPv4 or IPv6) or, by default, every local
// IPv4 address, always with SO_EXCLUSIVEADDRUSE, so that no other local
// program can bind the same port, not even while CYCLE closes and reopens
// the listener. Service thread.
#ifndef HALV_SERVICE_WIN_LISTEN_SOCKET_H_
#define HALV_SERVICE_WIN_LISTEN_SOCKET_H_

// Winsock's header must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <optional>
#include <string>

#include "address_list.h"

namespace halv {

// A non-blocking-ready listening socket on `address` (every IPv4 address
// when empty) and `port`, with the backlog given. Raises halv::Error
// "Windows socket error: <text> (<code>), on API '<call>'" on failure.
SOCKET OpenListeningSocket(const std::optional<access::IpAddress>& address, int port, int backlog);

// The address of `peer` as text: dotted IPv4, or IPv6 in its usual short
// form; "" for another family.
std::string PeerAddressText(const sockaddr_storage& peer);

}  // namespace halv

#endif  // HALV_SERVICE_WIN_LISTEN_SOCKET_H_
