// Pieces shared by the replies of the command language: the prompts, the
// rule under a column header, and printf-style formatting into a string.
#ifndef HALV_SERVICE_CORE_REPLY_TEXT_H_
#define HALV_SERVICE_CORE_REPLY_TEXT_H_

#include <string>
#include <string_view>

namespace halv {

// The prompt after most replies, and the one after HELP, CYCLE and VIEW.
inline constexpr std::string_view kPrompt = ":: ";
inline constexpr std::string_view kNewLinePrompt = "\n\r:: ";

// 80 hyphens and a line end.
inline constexpr std::string_view kRule =
    "--------------------------------------------------------------------------------\n\r";

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
