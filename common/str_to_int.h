// Whole-number conversion of registry texts.
//
// A whole number is an optional "+" or "-" followed by one or more decimal
// digits, nothing else (no blanks), within the signed 32-bit range.
#ifndef HALV_COMMON_STR_TO_INT_H_
#define HALV_COMMON_STR_TO_INT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace halv {

// The value of `text`, or nothing when it is not a whole number.
std::optional<std::int32_t> TryStrToInt(std::string_view text);

// The value of `text`; raises "'<text>' is not a valid integer value".
std::int32_t StrToInt(const std::string& text);

}  // namespace halv

#endif  // HALV_COMMON_STR_TO_INT_H_
