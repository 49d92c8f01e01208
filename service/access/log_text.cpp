// Escaping of client bytes for the server log, and the redaction of AUTH's
// password in receipts.
#include "log_text.h"

#include <cctype>

namespace halv::access {

std::string EscapeClientBytes(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\\') {
      out += "\\\\";
    } else if (byte >= 32 && byte <= 126) {
      out.push_back(c);
    } else {
      out += "\\x";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xf]);
    }
  }
  return out;
}

std::string ReceiptLogLine(std::string_view received) {
  return "Receive buffer is >>" + EscapeClientBytes(received) + "\n<<";
}

std::string ReceiptRedactor::Redact(std::string_view received) {
  std::string out;
  out.reserve(received.size());
  bool masked = false;  // "***" already stands for this line's password in `out`
  for (const char c : received) {
    if (c == '\r' || c == '\n') {
      state_ = State::kLeading;
      command_.clear();
      masked = false;
      out.push_back(c);
      continue;
    }
    switch (state_) {
      case State::kLeading:
        if (static_cast<unsigned char>(c) >= 33) {
          state_ = State::kCommand;
          command_.assign(1, c);
        }
        break;
      case State::kCommand:
        if (c == ' ') {
          const bool auth = command_.size() == 4 &&
                            std::tolower(static_cast<unsigned char>(command_[0])) == 'a' &&
                            std::tolower(static_cast<unsigned char>(command_[1])) == 'u' &&
                            std::tolower(static_cast<unsigned char>(command_[2])) == 't' &&
                            std::tolower(static_cast<unsigned char>(command_[3])) == 'h';
          state_ = auth ? State::kBeforeUser : State::kPlain;
        } else if (command_.size() < 5) {
          command_.push_back(c);
        }
        break;
      case State::kBeforeUser:
        if (c != ' ') state_ = State::kUser;
        break;
      case State::kUser:
        if (c == ' ') state_ = State::kBeforeSecret;
        break;
      case State::kBeforeSecret:
        if (c != ' ') state_ = State::kSecret;
        break;
      case State::kSecret:
      case State::kPlain:
        break;
    }
    if (state_ != State::kSecret) {
      out.push_back(c);
    } else if (!masked) {
      out += "***";
      masked = true;
    }
  }
  return out;
}

std::string AuditLine(std::string_view user, std::string_view address, std::string_view action) {
  return "Audit: " + EscapeClientBytes(user) + " at " + EscapeClientBytes(address) + ": " +
         EscapeClientBytes(action);
}

}  // namespace halv::access
