// Reading the access and hardening values, in the order and with the bounds
// of the configuration table.
#include "access_settings.h"

#include <string_view>

#include "config_checks.h"

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
};

}  // namespace

AccessSettings ReadAccessSettings(const std::function<std::string(const char*)>& read) {
  AccessSettings settings;
  for (const config::ValueDef& value : config::kOptionalSystemValues) {
    const std::string text = read(value.name);
    const std::string_view name = value.name;
    if (name == config::kRequireAuth) {
      settings.require_auth = text == "1";
    } else if (name == config::kListenAddress) {
      settings.listen_address_text = text;
      if (!text.empty()) settings.listen_address = ParseListenAddress(text);
    } else if (name == config::kAllowedClients) {
      settings.allowed_clients_text = text;
      if (!text.empty()) settings.allowed_clients = ParseAllowedClients(text);
    } else {
      for (const LimitField& limit : kLimits) {
        if (name == limit.name)
          settings.*limit.field = ParseLimit(value.name, text, value.min.value_or(1));
      }
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
  if (settings.log_max_bytes)
    lines.push_back("Service keeps the server log under " +
                    std::to_string(*settings.log_max_bytes) + " bytes");
  return lines;
}

}  // namespace halv::access
