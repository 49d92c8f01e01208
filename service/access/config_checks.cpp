// Absolute paths and optional limits.
#include "config_checks.h"

#include "halv_error.h"
#include "str_to_int.h"

namespace halv::access {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

bool IsAbsoluteWindowsPath(std::string_view path) {
  if (path.size() >= 3 &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
      path[1] == ':' && IsSeparator(path[2]))
    return true;
  // "\\server\share": two separators, a server name, a separator, a share.
  if (path.size() < 5 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return false;
  std::size_t i = 2;
  const std::size_t server_start = i;
  while (i < path.size() && !IsSeparator(path[i])) ++i;
  if (i == server_start || i >= path.size()) return false;
  ++i;
  return i < path.size() && !IsSeparator(path[i]);
}

std::optional<std::int32_t> ParseLimit(const std::string& name, const std::string& text,
                                       std::int32_t min) {
  if (text.empty()) return std::nullopt;
  const std::int32_t value = StrToInt(text);
  if (value < min)
    throw Error(name + " must be " + std::to_string(min) + " or more, not '" + text + "'");
  return value;
}

}  // namespace halv::access
