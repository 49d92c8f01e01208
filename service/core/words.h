// Turning received bytes into command lines and words.
//
// One CommandLine buffer belongs to the service object and is shared by all
// connections: events run one at a time on the service thread, and the
// buffer is valid only during one interpreter call.
#ifndef HALV_SERVICE_CORE_WORDS_H_
#define HALV_SERVICE_CORE_WORDS_H_

#include <cstdint>
#include <string>
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

// What the receipt handling asks of its caller.
class ReceiptEvents {
 public:
  virtual ~ReceiptEvents() = default;
  // A server-log line (verbose mode only).
  virtual void LogLine(const std::string& text) = 0;
  // Sends the prompt after an empty receipt.
  virtual void SendPrompt() = 0;
  // Runs one complete command line. Returns false when the connection has
  // closed, which ends the handling of this receipt.
  virtual bool RunCommand(const CommandLine& line) = 0;
};

// Characters of a receipt that are examined, the appended line feed included.
inline constexpr std::size_t kReceiptWindow = 512;

// Handles one receipt: trims it, logs it in verbose mode, answers an empty
// one with the prompt, and otherwise splits the first 512 characters (with a
// line feed appended) into command lines, running each. Words of a line left
// without its line end are dropped. `line` is empty again on return.
void HandleReceipt(std::string_view received, bool verbose, CommandLine& line,
                   ReceiptEvents& events);

// Removes every byte below 33 from both ends.
std::string_view TrimControls(std::string_view text);

}  // namespace halv

#endif  // HALV_SERVICE_CORE_WORDS_H_
