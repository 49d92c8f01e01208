// Client bytes as the server log shows them, and the audit lines.
//
// What a client sends reaches the log in a visible form: every byte outside
// printable ASCII (32 to 126) becomes "\x" and two lowercase hex digits, and
// a backslash becomes "\\", so a client can neither start a line of its own
// in the log nor hide terminal escapes in it for VIEW to replay. Plain text
// is logged as it is. Pure functions; any thread.
//
// The password of an AUTH line never reaches the log: ReceiptRedactor
// follows the lines of one connection's input across receipts and replaces
// what follows AUTH's user name with "***". One per connection, on the
// thread that feeds it.
#ifndef HALV_SERVICE_ACCESS_LOG_TEXT_H_
#define HALV_SERVICE_ACCESS_LOG_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace halv::access {

// `bytes` with every byte outside 32..126 written as \xNN and every
// backslash doubled.
std::string EscapeClientBytes(std::string_view bytes);

// The verbose line of a receipt: "Receive buffer is >>" + the escaped text +
// the one LF that the service appends + "<<".
std::string ReceiptLogLine(std::string_view received);

// Takes a connection's receipts in order and returns each with the password
// of every AUTH line (everything after the user name, up to the line end,
// the command word matched in any letter case as the interpreter matches it)
// replaced by "***", once per line and receipt; every other byte is kept, so
// line ends and other commands are as they arrived. A line split between
// receipts is followed from one to the next.
class ReceiptRedactor {
 public:
  std::string Redact(std::string_view received);

 private:
  enum class State : std::uint8_t {
    kLeading,       // before the command word: bytes below 33
    kCommand,       // in the command word
    kBeforeUser,    // blanks after AUTH
    kUser,          // in the user name
    kBeforeSecret,  // blanks after the user name
    kSecret,        // the password: not kept
    kPlain,         // the rest of a line that is no AUTH
  };
  State state_ = State::kLeading;
  std::string command_;  // the command word so far, at most 5 bytes
};

// An audit line, written whatever VerboseLogging says while logins are
// required: "Audit: <user> at <address>: <action>", the user and the action
// escaped as client bytes.
std::string AuditLine(std::string_view user, std::string_view address, std::string_view action);

}  // namespace halv::access

#endif  // HALV_SERVICE_ACCESS_LOG_TEXT_H_
