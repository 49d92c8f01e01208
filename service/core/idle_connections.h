// IdleTimeout: closing the connections that have been silent too long.
#ifndef HALV_SERVICE_CORE_IDLE_CONNECTIONS_H_
#define HALV_SERVICE_CORE_IDLE_CONNECTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "connection.h"

namespace halv {

// Every open connection among `clients` whose last receipt is `timeout_s`
// seconds or more before `now_ms` is told "421-Idle time-out, closing the
// connection" and closed. Returns their peer addresses, in list order. A
// failed send still closes the connection. Service thread.
std::vector<std::string> CloseIdleConnections(const std::vector<Connection*>& clients,
                                              std::uint64_t now_ms, std::int32_t timeout_s);

}  // namespace halv

#endif  // HALV_SERVICE_CORE_IDLE_CONNECTIONS_H_
