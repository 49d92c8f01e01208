// The reading rules of the configuration's texts.
#include "config_schema.h"

#include "str_to_int.h"

namespace halv::config {

std::optional<std::int32_t> ParseWholeNumber(std::string_view text) { return TryStrToInt(text); }

std::int32_t WholeNumber(const std::string& text) { return StrToInt(text); }

int NoYesIndex(const std::string& text) {
  const std::int32_t n = WholeNumber(text);
  return n == 0 || n == 1 ? n : -1;
}

}  // namespace halv::config
