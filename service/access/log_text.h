// Client bytes as the server log shows them, and the audit lines.
//
// What a client sends reaches the log in a visible form: every byte outside
// printable ASCII (32 to 126) becomes "\x" and two lowercase hex digits, and
// a backslash becomes "\\", so a client can neither start a line of its own
// in the log nor hide terminal escapes in it for VIEW to replay. Plain text
// is logged as it is. Pure functions; any thread.
#ifndef HALV_SERVICE_ACCESS_LOG_TEXT_H_
#define HALV_SERVICE_ACCESS_LOG_TEXT_H_

#include <string>
#include <string_view>

namespace halv::access {

// `bytes` with every byte outside 32..126 written as \xNN and every
// backslash doubled.
std::string EscapeClientBytes(std::string_view bytes);

// The verbose line of a receipt: "Receive buffer is >>" + the escaped text +
// the one LF that the service appends + "<<".
std::string ReceiptLogLine(std::string_view received);

// An audit line, written whatever VerboseLogging says while logins are
// required: "Audit: <user> at <address>: <action>", the user and the action
// escaped as client bytes.
std::string AuditLine(std::string_view user, std::string_view address, std::string_view action);

}  // namespace halv::access

#endif  // HALV_SERVICE_ACCESS_LOG_TEXT_H_
