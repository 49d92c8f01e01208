// Whole-number conversion with the console's error text.
#include "whole_number.h"

#include "halv_error.h"

namespace halv::console {

std::int32_t StrToInt(const std::string& text) {
  const auto fail = [&text]() -> std::int32_t {
    throw Error(FormatMessageText("'%s' is not a valid integer value", text));
  };
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  unsigned base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) return fail();
  // Magnitude limit: 2^31 for a negative number, 2^31 - 1 otherwise.
  const std::uint64_t limit = negative ? 2147483648ull : 2147483647ull;
  std::uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return fail();
    }
    if (digit >= base) return fail();
    value = value * base + digit;
    if (value > limit) return fail();
  }
  return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(value))
                  : static_cast<std::int32_t>(value);
}

}  // namespace halv::console
