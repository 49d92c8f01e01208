// Reading the access and hardening values.
#include "access_settings.h"

#include "config_checks.h"

namespace halv::access {

AccessSettings ReadAccessSettings(const std::function<std::string(const char*)>& read) {
  AccessSettings settings;
  settings.require_auth = read(config::kRequireAuth) == "1";
  settings.listen_address_text = read(config::kListenAddress);
  if (!settings.listen_address_text.empty())
    settings.listen_address = ParseListenAddress(settings.listen_address_text);
  settings.allowed_clients_text = read(config::kAllowedClients);
  if (!settings.allowed_clients_text.empty())
    settings.allowed_clients = ParseAllowedClients(settings.allowed_clients_text);
  settings.max_clients = ParseLimit(config::kMaxClients, read(config::kMaxClients));
  settings.idle_timeout = ParseLimit(config::kIdleTimeout, read(config::kIdleTimeout));
  settings.log_max_bytes = ParseLimit(config::kLogMaxBytes, read(config::kLogMaxBytes));
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
