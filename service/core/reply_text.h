// Pieces shared by the replies of the command language: the protocol texts
// (prompts, rule, state words, error texts: protocol_text.h, shared with the
// client) and printf-style formatting into a string.
#ifndef HALV_SERVICE_CORE_REPLY_TEXT_H_
#define HALV_SERVICE_CORE_REPLY_TEXT_H_

#include <string>

#include "protocol_text.h"

namespace halv {

// printf into a string of whatever length the result needs: a field such as
// " %-34s" pads a shorter value and writes a longer one whole. Returns an
// empty string if the format itself is refused by the C library.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string
StringPrintf(const char* format, ...);

}  // namespace halv

#endif  // HALV_SERVICE_CORE_REPLY_TEXT_H_
