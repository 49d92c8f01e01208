// One audit record: what a command path knows when an outcome is known, and
// the two forms it is written in (a JSON line of audit.log and the inserts
// of an Application event-log entry). The paths report facts only; the
// formatting lives here. Pure functions; any thread.
#ifndef HALV_SERVICE_CORE_AUDIT_RECORD_H_
#define HALV_SERVICE_CORE_AUDIT_RECORD_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cancellable_manager.h"  // kErrorOperationAborted, a command cancelled at a stop

namespace halv {

// The kinds of record; each value is the event identifier of its entry in
// the event log (the message table, service/win/messages.mc, has the text).
enum class AuditEvent : std::uint32_t {
  kCommandDone = 1000,       // a command that changes something, carried out
  kCommandFailed = 1001,     // ... that failed (result: the system error code)
  kCommandRefused = 1002,    // ... refused (a permission, this service itself)
  kCommandCancelled = 1003,  // ... in flight or held when the service stopped
  kLogin = 1010,
  kLoginFailed = 1011,        // a wrong password, an unknown user, too soon
  kConnectionRefused = 1020,  // AllowedClients or MaxClients
  kSuppressed = 1030,         // the count of records the rate limit held back
};

// System error codes the records give beyond the service-control ones.
inline constexpr std::uint32_t kErrorInvalidData = 13;         // a configuration read failed
inline constexpr std::uint32_t kErrorConnectionRefused = 1225;
inline constexpr std::uint32_t kErrorLogonFailure = 1326;

struct AuditRecord {
  AuditEvent event = AuditEvent::kCommandDone;
  std::string user;     // the user the connection acted as
  std::string peer;     // the client's address
  std::string command;  // the command line, words joined by blanks, no password
  std::string service;  // the service named, "" when none
  std::uint32_t result = 0;  // 0 or the system error code
  std::string text;          // the outcome in words
};

// A moment in UTC with milliseconds.
struct UtcTime {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0, millisecond = 0;
};

// The "event" field's word: "command", "command-failed", "command-refused",
// "command-cancelled", "login", "login-failed", "connection-refused",
// "suppressed".
std::string_view AuditEventName(AuditEvent event);

// Whether the event-log entry is a warning (refusals, failures,
// cancellations, suppressed counts); the others are information.
bool IsWarning(AuditEvent event);

// "2026-12-10T03:12:05.123Z".
std::string Rfc3339(const UtcTime& time);

// `text` as the inside of a JSON string: quote, backslash and every byte
// outside 32..126 escaped (\" \\ \n \r \t or \u00XX), so any byte a client
// sent yields valid JSON.
std::string JsonEscape(std::string_view text);

// One line of audit.log, without the line end: {"time":..,"event":..,
// "user":..,"peer":..,"command":..,"service":..,"result":<n>,"text":..}.
std::string AuditJsonLine(const AuditRecord& record, const UtcTime& time);

// The inserts of the event-log entry, in the message table's order: %1 user,
// %2 peer, %3 command, %4 service, %5 result, %6 text; client bytes escaped
// as the server log escapes them.
std::vector<std::string> AuditInserts(const AuditRecord& record);

// The command line of `words` as records show it: word 0 in upper case, the
// rest as typed, joined by blanks; for AUTH only the user name is kept.
std::string AuditCommandText(const std::vector<std::string>& words);

}  // namespace halv

#endif  // HALV_SERVICE_CORE_AUDIT_RECORD_H_
