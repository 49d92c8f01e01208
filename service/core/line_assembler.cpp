// Line assembly, word splitting and the input side of a connection.
#include "line_assembler.h"

#include <memory>

#include <cstring>

#include "log_text.h"
#include "reply_text.h"

namespace halv {

void SplitWords(std::string_view line, CommandLine& words) {
  const std::string_view text = TrimControls(line);
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && text[end] != ' ') ++end;
    if (words.WordCount < CommandLine::kMaxWords) {
      const std::size_t size =
          end - i < CommandLine::kWordSize - 1 ? end - i : CommandLine::kWordSize - 1;
      char* slot = words.CommandWords[words.WordCount];
      std::memcpy(slot, text.data() + i, size);
      slot[size] = '\0';
      ++words.WordCount;
    }
    i = end;
  }
}

void ClearWords(CommandLine& words) {
  for (int i = 0; i < words.WordCount && i < CommandLine::kMaxWords; ++i)
    words.CommandWords[i][0] = '\0';
  words.WordCount = 0;
}

void LineAssembler::Append(std::string_view data) {
  if (pos_ == pending_.size()) {
    pending_.clear();
    pos_ = 0;
  } else if (pos_ > 64 * 1024 && pos_ * 2 > pending_.size()) {
    pending_.erase(0, pos_);  // keep the buffer from growing with taken bytes
    pos_ = 0;
  }
  pending_.append(data);
}

std::vector<std::vector<std::string>> LineAssembler::WaitingCommands() const {
  std::vector<std::vector<std::string>> commands;
  if (!HasInput()) return commands;
  LineAssembler copy = *this;
  const auto words = std::make_unique<CommandLine>();
  for (LineKind kind; (kind = copy.Next(*words)) != LineKind::kNone;) {
    if (kind == LineKind::kCommand) {
      std::vector<std::string>& command = commands.emplace_back();
      for (int i = 0; i < words->WordCount && i < CommandLine::kMaxWords; ++i)
        command.emplace_back(words->Word(i));
      ClearWords(*words);
    }
  }
  return commands;
}

LineKind LineAssembler::Next(CommandLine& words) {
  while (pos_ < pending_.size()) {
    const char c = pending_[pos_++];
    if (after_cr_) {
      after_cr_ = false;
      if (c == '\n' || c == '\0') continue;  // CR LF and telnet's CR NUL are one line end
    }
    if (c == '\r' || c == '\n') {
      after_cr_ = c == '\r';
      // The LF or NUL of CR LF (CR NUL) is taken with its CR when it is
      // there, so nothing seems left to run after the line's last byte.
      if (after_cr_ && pos_ < pending_.size() && (pending_[pos_] == '\n' || pending_[pos_] == '\0')) {
        ++pos_;
        after_cr_ = false;
      }
      const bool too_long = too_long_;
      too_long_ = false;
      std::string line;
      line.swap(current_);
      if (too_long) return LineKind::kTooLong;
      const std::string_view trimmed = TrimControls(line);
      if (trimmed.empty()) return LineKind::kEmpty;
      if (trimmed.find('\0') != std::string_view::npos) return LineKind::kDropped;
      SplitWords(trimmed, words);
      return LineKind::kCommand;
    }
    if (too_long_) continue;
    if (current_.size() == kMaxLineLength) {
      too_long_ = true;
      std::string().swap(current_);  // nothing of the line is kept
      continue;
    }
    current_.push_back(c);
  }
  pending_.clear();
  pos_ = 0;
  return LineKind::kNone;
}

void ClientInput::Receive(std::string_view received, bool verbose, LineSink& sink) {
  std::string data;
  std::string answers;
  telnet_.Filter(received, data, answers);
  if (!answers.empty()) sink.SendText(answers);
  if (data.empty()) return;
  // The redactor follows every receipt, so that a line begun while verbose
  // mode was off is still known for what it is.
  const std::string redacted = redactor_.Redact(data);
  if (verbose) {
    const std::string_view trimmed = TrimControls(data);
    sink.LogLine("Received buffer size is " + std::to_string(trimmed.size()));
    if (!trimmed.empty()) sink.LogLine(access::ReceiptLogLine(TrimControls(redacted)));
  }
  lines_.Append(data);
}

void ClientInput::RunLines(CommandLine& words, LineSink& sink) {
  while (sink.ReadyForLine()) {
    switch (lines_.Next(words)) {
      case LineKind::kNone:
        return;
      case LineKind::kEmpty:
        sink.SendText(kNewLinePrompt);
        break;
      case LineKind::kTooLong:
        sink.SendText(kLineTooLongReply);
        break;
      case LineKind::kDropped:
        break;
      case LineKind::kCommand:
        try {
          sink.RunCommand(words);
        } catch (...) {
          ClearWords(words);  // the shared buffer is empty for the next line
          throw;
        }
        ClearWords(words);
        break;
    }
  }
}

}  // namespace halv
