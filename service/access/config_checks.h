// Checks of the configuration values that harden the service: directories
// that must be absolute, and the optional limits.
//
// Pure functions; any thread. Failures raise halv::Error with a text that
// names the value, for the event log.
#ifndef HALV_SERVICE_ACCESS_CONFIG_CHECKS_H_
#define HALV_SERVICE_ACCESS_CONFIG_CHECKS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace halv::access {

// Whether `path` is an absolute Windows path: a drive letter, a colon and a
// backslash (or slash), or a UNC path "\\server\share". "C:x", "\x" and
// "x\y" are not: they depend on the current drive or folder.
bool IsAbsoluteWindowsPath(std::string_view path);

// An optional limit: nothing for "" (no limit); otherwise a whole number of
// at least `min`. Raises "'<text>' is not a valid integer value" for text
// that is no whole number, and "<name> must be <min> or more, not '<text>'"
// below `min`.
std::optional<std::int32_t> ParseLimit(const std::string& name, const std::string& text,
                                       std::int32_t min = 1);

}  // namespace halv::access

#endif  // HALV_SERVICE_ACCESS_CONFIG_CHECKS_H_
