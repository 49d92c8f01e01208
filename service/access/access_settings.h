// The optional System values of access control and hardening, read and
// checked together at each configuration read.
//
// Absent values leave everything as it was: no logins, the listener on every
// IPv4 address, every client accepted, no limits. Portable; the caller
// supplies the registry read.
#ifndef HALV_SERVICE_ACCESS_ACCESS_SETTINGS_H_
#define HALV_SERVICE_ACCESS_ACCESS_SETTINGS_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "address_list.h"
#include "config_schema.h"

namespace halv::access {

struct AccessSettings {
  bool require_auth = false;                  // RequireAuth "1", or a wrong RequireAuth
  std::optional<IpAddress> listen_address;    // none: every IPv4 address
  std::string listen_address_text;            // as configured
  std::optional<AllowList> allowed_clients;   // none: every client
  std::string allowed_clients_text;           // as configured
  std::optional<std::int32_t> max_clients;    // none: no limit
  std::optional<std::int32_t> idle_timeout;   // seconds; none: no limit
  std::optional<std::int32_t> log_max_bytes;  // none: no limit
  // As configured; LoginDeadline and PerAddressLimit give what applies.
  std::optional<std::int32_t> login_timeout;            // seconds
  std::optional<std::int32_t> max_clients_per_address;  // connections
};

// The login deadline in seconds (LoginTimeout, else its table default while
// logins are required); none while logins are off.
std::optional<std::int32_t> LoginDeadline(const AccessSettings& settings);
// The connections one address may hold (MaxClientsPerAddress, else its
// table default while logins are required); none: no cap.
std::optional<std::int32_t> PerAddressLimit(const AccessSettings& settings);

// The error of a RequireAuth that is none of "", "0" and "1".
std::string RequireAuthError(const std::string& text);

// Reads the values of config::kOptionalSystemValues through `read` (the
// value's text, "" when missing; it may raise) in that order; a limit below
// the table's lower bound is wrong, and so is a RequireAuth other than "",
// "0" or "1". A value that is present but wrong raises halv::Error with a
// message naming it, which ends the read.
AccessSettings ReadAccessSettings(const std::function<std::string(const char*)>& read);

// The same read, going on past wrong values: each wrong value's message is
// appended to `errors` (a read that raises too), and the value stays as it
// is in `in_force`, except a wrong RequireAuth, which requires logins (it
// fails closed). So every right value applies whatever the others hold.
AccessSettings ReadAccessSettings(const std::function<std::string(const char*)>& read,
                                  const AccessSettings& in_force, std::vector<std::string>& errors);

// The server-log lines that report the values that are set, in order; none
// when all are absent.
std::vector<std::string> DescribeAccessSettings(const AccessSettings& settings);

}  // namespace halv::access

#endif  // HALV_SERVICE_ACCESS_ACCESS_SETTINGS_H_
