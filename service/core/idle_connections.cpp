// Closing idle connections.
#include "idle_connections.h"

#include <exception>

#include "admission.h"

namespace halv {

std::vector<std::string> CloseIdleConnections(const std::vector<Connection*>& clients,
                                              std::uint64_t now_ms, std::int32_t timeout_s) {
  std::vector<std::string> closed;
  for (Connection* client : clients) {
    if (client->IsClosed() || !access::IdleExpired(client->last_receipt_ms(), now_ms, timeout_s))
      continue;
    closed.push_back(client->PeerAddress());
    try {
      client->SendText(access::kIdleTimeoutText);
    } catch (const std::exception&) {
      // A client that cannot take the line is closed all the same.
    }
    client->Close();
  }
  return closed;
}

}  // namespace halv
