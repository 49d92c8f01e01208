// Conversion of stored registry texts to whole numbers, as the console does
// for No/Yes choices, the stop flag and the stop time-out.
#ifndef HALV_ADMIN_MODEL_WHOLE_NUMBER_H_
#define HALV_ADMIN_MODEL_WHOLE_NUMBER_H_

#include <cstdint>
#include <string>

namespace halv::console {

// The whole number that `text` spells: optional leading blanks, an optional
// sign, then decimal digits, or hexadecimal digits after "$", "0x" or "0X";
// nothing may follow; the value must fit a signed 32-bit integer. Anything
// else (the empty text included) raises halv::Error
// "'<text>' is not a valid integer value".
std::int32_t StrToInt(const std::string& text);

}  // namespace halv::console

#endif  // HALV_ADMIN_MODEL_WHOLE_NUMBER_H_
