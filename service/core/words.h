// The command line the interpreter reads: its words, as fixed slots.
//
// One CommandLine buffer belongs to the connection driver and is shared by
// all connections: events run one at a time on the service thread, and the
// buffer is valid only during one interpreter call. The line assembly
// (line_assembler.h) fills it.
#ifndef HALV_SERVICE_CORE_WORDS_H_
#define HALV_SERVICE_CORE_WORDS_H_

#include <cstdint>
#include <string_view>

namespace halv {

struct CommandLine {
  static constexpr int kMaxWords = 256;
  static constexpr int kWordSize = 256;  // 255 characters and a terminating zero

  char CommandWords[kMaxWords][kWordSize] = {};
  std::int32_t WordCount = 0;

  // Word i as C text; empty for i outside 0..WordCount-1.
  std::string_view Word(int i) const;
};

// Removes every byte below 33 from both ends.
std::string_view TrimControls(std::string_view text);

}  // namespace halv

#endif  // HALV_SERVICE_CORE_WORDS_H_
