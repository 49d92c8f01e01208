// Whole command lines out of a client's byte stream.
//
// TCP delivers a line in any number of pieces, and one piece may hold many
// lines. Each connection keeps the text of its unfinished line; a line runs
// when its line end arrives (CR, LF or CR LF, also CR LF split between
// receipts), whatever came before the line end. Within a line the words are
// split at spaces, control characters being word characters.
//
// ClientInput puts the telnet filter, the verbose receipt log lines and the
// line assembly together for one connection; the caller runs the lines one
// by one while its output is below the high-water mark, so lines that are
// not yet run wait here (and further input waits unread in the socket).
// All on the service thread.
#ifndef HALV_SERVICE_CORE_LINE_ASSEMBLER_H_
#define HALV_SERVICE_CORE_LINE_ASSEMBLER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "log_text.h"
#include "telnet_filter.h"
#include "words.h"

namespace halv {

// The longest line that runs, its line end not counted.
inline constexpr std::size_t kMaxLineLength = 512;

// The answer to a longer line, with its prompt.
inline constexpr std::string_view kLineTooLongReply =
    "\n\r500-Line too long: more than 512 characters\n\r:: ";

// What LineAssembler::Next found.
enum class LineKind : std::uint8_t {
  kNone,     // no complete line yet
  kCommand,  // a line with words, split into the command line
  kEmpty,    // a line of nothing but spaces and control characters
  kTooLong,  // a line longer than kMaxLineLength: not run, nothing of it kept
  kDropped,  // a line holding a zero byte: not run, no answer
};

// Splits one line (without its line end) into `words`: bytes below 33 are
// trimmed from both ends, spaces separate words (a run of them counts as
// one), every other byte is a word character. A word is cut at 255
// characters; words past the 256th are not stored. `words` must be empty.
void SplitWords(std::string_view line, CommandLine& words);

// Empties the slots the command line used and sets WordCount to 0.
void ClearWords(CommandLine& words);

class LineAssembler {
 public:
  // Adds received bytes (telnet commands already removed).
  void Append(std::string_view data);
  // Takes the next complete line, in order of arrival. For kCommand its
  // words are in `words` (which must be empty), for the caller to clear.
  LineKind Next(CommandLine& words);
  // Whether bytes wait that Next has not looked at yet.
  bool HasInput() const { return pos_ < pending_.size(); }
  // The words of each complete command line not yet taken, in order; takes
  // nothing (the audit trail records them when they will never run).
  std::vector<std::vector<std::string>> WaitingCommands() const;

 private:
  std::string pending_;  // appended bytes; those before pos_ are taken
  std::size_t pos_ = 0;
  std::string current_;  // the unfinished line, at most kMaxLineLength bytes
  bool too_long_ = false;
  bool after_cr_ = false;  // the last line end was a CR: an LF or NUL next belongs to it
};

// What running a client's lines asks of the connection.
class LineSink {
 public:
  virtual ~LineSink() = default;
  // Whether the next line may run now: false once the connection has
  // closed and while its output is above the high-water mark.
  virtual bool ReadyForLine() = 0;
  // Runs one command line.
  virtual void RunCommand(const CommandLine& words) = 0;
  // Sends a text of the input layer: the prompt after an empty line, the
  // error line after an over-long one, the answers to telnet requests.
  virtual void SendText(std::string_view text) = 0;
  // Writes one server-log line (verbose mode only).
  virtual void LogLine(const std::string& text) = 0;
};

class ClientInput {
 public:
  // Takes one receipt: removes telnet commands (answering requests through
  // sink.SendText), logs "Received buffer size is " + the length of the
  // trimmed input and, when that is not empty, "Receive buffer is >>" + it
  // (client bytes escaped, the password of an AUTH line replaced by "***")
  // + LF + "<<" in verbose mode, and adds the input to the line being
  // assembled. A receipt of telnet commands only logs nothing. Runs nothing.
  void Receive(std::string_view received, bool verbose, LineSink& sink);
  // Runs the complete lines in order while sink.ReadyForLine(): a command
  // line through RunCommand with its words in `words` (the shared buffer,
  // empty again afterwards, also when RunCommand raises), an empty line
  // answered with the prompt "\n\r:: ", an over-long line with
  // kLineTooLongReply, a line with a zero byte with nothing.
  void RunLines(CommandLine& words, LineSink& sink);
  // Whether received input waits to be looked at (lines not yet run).
  bool HasInput() const { return lines_.HasInput(); }
  // The complete command lines received and not yet run (see LineAssembler).
  std::vector<std::vector<std::string>> WaitingCommands() const {
    return lines_.WaitingCommands();
  }

 private:
  TelnetFilter telnet_;
  access::ReceiptRedactor redactor_;
  LineAssembler lines_;
};

}  // namespace halv

#endif  // HALV_SERVICE_CORE_LINE_ASSEMBLER_H_
