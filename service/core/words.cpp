// The command line's words and the trimming of control bytes.
#include "words.h"

namespace halv {

std::string_view CommandLine::Word(int i) const {
  if (i < 0 || i >= WordCount || i >= kMaxWords) return {};
  return std::string_view(CommandWords[i]);  // up to the terminating zero
}

std::string_view TrimControls(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) < 33) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) < 33) --end;
  return text.substr(begin, end - begin);
}

}  // namespace halv
