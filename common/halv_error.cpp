// Formatting of the product's one-placeholder error texts.
#include "halv_error.h"

namespace halv {

std::string FormatMessageText(const std::string& pattern, const std::string& arg) {
  std::string out = pattern;
  const auto at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, arg);
  return out;
}

}  // namespace halv
