// Reading the access and hardening values, in the order and with the bounds
// of the configuration table.
#include "access_settings.h"

#include <exception>
#include <string_view>
#include <utility>

#include "config_checks.h"
#include "halv_error.h"

namespace halv::access {
namespace {

// The limits: whole numbers from their lower bound up, none when absent.
struct LimitField {
  const char* name;
  std::optional<std::int32_t> AccessSettings::*field;
};
constexpr LimitField kLimits[] = {
    {config::kMaxClients, &AccessSettings::max_clients},
    {config::kIdleTimeout, &AccessSettings::idle_timeout},
    {config::kLogMaxBytes, &AccessSettings::log_max_bytes},
    {config::kLoginTimeout, &AccessSettings::login_timeout},
    {config::kMaxClientsPerAddress, &AccessSettings::max_clients_per_address},
};

// A Login value: as configured, else the table's default while logins are
// required.
std::optional<std::int32_t> WithLogins(const AccessSettings& settings,
                                       const std::optional<std::int32_t>& configured,
                                       const config::ValueDef& value) {
  if (configured) return configured;
  if (!settings.require_auth || value.default_text == nullptr) return std::nullopt;
  return config::WholeNumber(value.default_text);
}

// Reads one value into `settings`; raises halv::Error for a wrong one.
void ReadOne(const config::ValueDef& value, const std::string& text, AccessSettings& settings) {
  const std::string_view name = value.name;
  if (name == config::kRequireAuth) {
    if (!text.empty() && text != "0" && text != "1") throw Error(RequireAuthError(text));
    settings.require_auth = text == "1";
  } else if (name == config::kListenAddress) {
    std::optional<IpAddress> address;
    if (!text.empty()) address = ParseListenAddress(text);
    settings.listen_address = address;
    settings.listen_address_text = text;
  } else if (name == config::kAllowedClients) {
    std::optional<AllowList> allowed;
    if (!text.empty()) allowed = ParseAllowedClients(text);
    settings.allowed_clients = std::move(allowed);
    settings.allowed_clients_text = text;
  } else {
    for (const LimitField& limit : kLimits) {
      if (name == limit.name)
        settings.*limit.field = ParseLimit(value.name, text, value.min.value_or(1));
    }
  }
}

}  // namespace

std::optional<std::int32_t> LoginDeadline(const AccessSettings& settings) {
  if (!settings.require_auth) return std::nullopt;  // nobody can log in: no deadline
  return WithLogins(settings, settings.login_timeout, config::SystemValue(config::kLoginTimeout));
}

std::optional<std::int32_t> PerAddressLimit(const AccessSettings& settings) {
  return WithLogins(settings, settings.max_clients_per_address,
                    config::SystemValue(config::kMaxClientsPerAddress));
}

std::string RequireAuthError(const std::string& text) {
  return "Invalid RequireAuth '" + text +
         "': must be 0 or 1; logins are required until it is corrected";
}

AccessSettings ReadAccessSettings(const std::function<std::string(const char*)>& read) {
  AccessSettings settings;
  for (const config::ValueDef& value : config::kOptionalSystemValues)
    ReadOne(value, read(value.name), settings);
  return settings;
}

AccessSettings ReadAccessSettings(const std::function<std::string(const char*)>& read,
                                  const AccessSettings& in_force,
                                  std::vector<std::string>& errors) {
  AccessSettings settings = in_force;
  for (const config::ValueDef& value : config::kOptionalSystemValues) {
    try {
      ReadOne(value, read(value.name), settings);
    } catch (const std::exception& e) {
      errors.emplace_back(e.what());
      if (std::string_view(value.name) == config::kRequireAuth) settings.require_auth = true;
    }
  }
  return settings;
}

std::vector<std::string> DescribeAccessSettings(const AccessSettings& settings) {
  std::vector<std::string> lines;
  if (settings.require_auth) lines.push_back("Service requires clients to log in");
  if (settings.listen_address)
    lines.push_back("Service is listening on address " + settings.listen_address_text);
  if (settings.allowed_clients)
    lines.push_back("Service accepts clients from " + settings.allowed_clients_text);
  if (settings.max_clients)
    lines.push_back("Service serves at most " + std::to_string(*settings.max_clients) +
                    " clients at once");
  if (settings.idle_timeout)
    lines.push_back("Service closes connections idle for " +
                    std::to_string(*settings.idle_timeout) + " seconds");
  // The login limits are reported when configured (their defaults go
  // with "requires clients to log in").
  if (settings.login_timeout)
    lines.push_back("Service closes connections not logged in within " +
                    std::to_string(*settings.login_timeout) + " seconds" +
                    (settings.require_auth ? "" : " while logins are required"));
  if (settings.max_clients_per_address)
    lines.push_back("Service serves at most " + std::to_string(*settings.max_clients_per_address) +
                    " clients from one address");
  if (settings.log_max_bytes)
    lines.push_back("Service keeps the server log under " +
                    std::to_string(*settings.log_max_bytes) + " bytes");
  return lines;
}

}  // namespace halv::access
