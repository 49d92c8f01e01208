// Which connections the listener serves: the allow-list, the connection
// limit and the idle time-out, as decisions apart from the sockets.
//
// Pure functions; the service thread calls them for each new connection and
// on its idle check.
#ifndef HALV_SERVICE_ACCESS_ADMISSION_H_
#define HALV_SERVICE_ACCESS_ADMISSION_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "address_list.h"

namespace halv::access {

// The reply to a connection beyond MaxClients, before it is closed.
inline constexpr std::string_view kTooManyConnectionsText =
    "421-Too many connections, try again later\n\r";
// The reply to a connection closed by IdleTimeout.
inline constexpr std::string_view kIdleTimeoutText =
    "\n\r421-Idle time-out, closing the connection\n\r";

enum class Admission {
  kAccept,
  kNotAllowed,  // not in AllowedClients: closed at once, without a word
  kTooMany,     // MaxClients reached: one error line, then closed
};

// The decision for a new connection from `peer` while `others` connections
// are open besides it. No allow-list (null) allows everyone; no limit allows
// any number. The allow-list is checked first.
Admission Admit(const AllowList* allowed, std::optional<std::int32_t> max_clients,
                std::string_view peer, std::size_t others);

// Whether a connection whose last receipt was at `last_ms` has been silent
// for `timeout_s` seconds at `now_ms`.
inline bool IdleExpired(std::uint64_t last_ms, std::uint64_t now_ms, std::int32_t timeout_s) {
  return timeout_s > 0 && now_ms >= last_ms &&
         now_ms - last_ms >= static_cast<std::uint64_t>(timeout_s) * 1000u;
}

}  // namespace halv::access

#endif  // HALV_SERVICE_ACCESS_ADMISSION_H_
