// Receipt handling: trimming, the 512-character window and word splitting.
#include "words.h"

#include <cstring>

#include "log_text.h"

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

namespace {

// Empties the slots the current line used and resets the count.
void ClearLine(CommandLine& line, int used) {
  for (int i = 0; i < used && i < CommandLine::kMaxWords; ++i) line.CommandWords[i][0] = '\0';
  line.WordCount = 0;
}

}  // namespace

void HandleReceipt(std::string_view received, bool verbose, CommandLine& line,
                   ReceiptEvents& events) {
  const std::string_view trimmed = TrimControls(received);
  if (verbose) events.LogLine("Received buffer size is " + std::to_string(trimmed.size()));
  if (trimmed.empty()) {
    events.SendPrompt();
    return;
  }
  // The client's bytes are logged escaped; the line feed is the service's own.
  if (verbose) events.LogLine(access::ReceiptLogLine(trimmed));
  std::string text(trimmed);
  text.push_back('\n');

  const std::size_t examined = text.size() < kReceiptWindow ? text.size() : kReceiptWindow;
  bool in_word = false;
  bool separator = false;
  bool zero_seen = false;
  int position = 0;
  line.WordCount = 0;
  // Slots touched by the current line (a word may have started without ending).
  int touched = 0;

  // Ends the current word in slot WordCount. Words past the last slot are not
  // stored; they cannot occur inside the 512-character window anyway.
  auto end_word = [&] {
    if (line.WordCount < CommandLine::kMaxWords) {
      const int at = position < CommandLine::kWordSize - 1 ? position : CommandLine::kWordSize - 1;
      line.CommandWords[line.WordCount][at] = '\0';
      line.WordCount += 1;
      if (touched < line.WordCount) touched = line.WordCount;
    }
    position = 0;
  };

  for (std::size_t i = 0; i < examined; ++i) {
    // Everything after the first zero byte counts as a zero byte.
    char c = zero_seen ? '\0' : text[i];
    if (c == '\0') zero_seen = true;
    if (c == ' ') {
      in_word = false;
      if (separator) continue;
      separator = true;
      end_word();
    } else if (c == '\r' || c == '\n') {
      in_word = false;
      if (separator) continue;
      separator = true;
      end_word();
      bool go_on = false;
      try {
        go_on = events.RunCommand(line);
      } catch (...) {
        ClearLine(line, touched);  // the shared buffer is empty again for the next receipt
        throw;
      }
      ClearLine(line, touched);
      touched = 0;
      if (!go_on) return;
    } else {
      separator = false;
      if (!in_word) {
        in_word = true;
        position = 0;
      }
      if (line.WordCount < CommandLine::kMaxWords) {
        // A word longer than its slot is cut at 255 characters.
        if (position < CommandLine::kWordSize - 1) line.CommandWords[line.WordCount][position] = c;
        if (touched <= line.WordCount) touched = line.WordCount + 1;
      }
      ++position;
    }
  }
  // A line without its line end inside the window is dropped.
  ClearLine(line, touched);
}

}  // namespace halv
