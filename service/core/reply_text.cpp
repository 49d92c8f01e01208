// printf-style formatting into a string sized to fit the result.
#include "reply_text.h"

#include <cstdarg>
#include <cstdio>

namespace halv {

std::string StringPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::string out;
  if (length > 0) {
    // The extra byte holds vsnprintf's terminating zero; it is cut off after.
    out.resize(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<std::size_t>(length));
  }
  va_end(args);
  return out;
}

}  // namespace halv
