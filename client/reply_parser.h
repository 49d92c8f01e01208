// The halvexa client's reading of the server's texts: the greeting, when a
// reply is complete, and the fields of each command's reply (LIST rows,
// STATUS state, START/STOP/RSTRT outcome with the system error number, DEPS
// rows, DISPLAY pairs, STIME, WHO rows, AUDIT records, UPDATE's change or
// error; other replies as text).
//
// Portable and free of I/O: it works on the bytes as received, so tests and
// the fuzz target feed it recorded or arbitrary replies. Nothing here throws
// on bad input; a reply that is not of the expected form gives a problem text.
#ifndef HALV_CLIENT_REPLY_PARSER_H_
#define HALV_CLIENT_REPLY_PARSER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace halv::client {

enum class Command {
  kList,
  kStatus,
  kStart,
  kStop,
  kRestart,
  kDisplay,
  kStime,
  kWho,
  kHelp,
  kView,
  kCycle,
  kInit,
  kUpdate,
  kQuit,
  kDeps,
  kAudit,
  kWatch,  // a stream of changes, not one reply: see watch.h
  kOther,  // OPEN, AUTH and every word the server does not know
};

// The command a word selects, matched as the server does (ASCII case folded,
// the whole word).
Command CommandFromWord(std::string_view word);
// The command's name in capitals ("STATUS"); "" for kOther.
std::string_view CommandName(Command command);
// Whether the command takes a service name as its first argument.
bool NeedsServiceName(Command command);

struct Greeting {
  std::string version;      // "3.5.1.1"
  std::string server_name;  // the computer name
  std::string account;      // the account the service runs under
  std::string date;         // the server's local time when it greeted
};

// The outcome of one service-control step (START, STOP, each half of RSTRT).
struct ControlResult {
  bool done = false;
  std::uint32_t code = 0;  // the system error number; 0 when the text was not one we know
  std::string message;     // the server's error text, without its line end
};

// RSTRT with the server's RestartDependents: one dependant started again.
struct DependantStart {
  std::string service;
  ControlResult result;  // its message is the server's text without the name
};

struct ServiceRow {
  std::string name, state, start_type, account;
};

// One row of DEPS: a running dependant.
struct DependantRow {
  std::string name, display_name, state;
};

struct ClientRow {
  std::string login, name, remote_host, date, what;
};

// One AUDIT record: a line of the server's audit.log, a JSON object.
struct AuditEntry {
  std::string time;  // UTC, RFC 3339 with milliseconds
  std::string event, user, peer, command, service;
  std::uint32_t result = 0;  // 0 or the system error code
  std::string text;
};

struct Parameter {
  std::string name, value;
};

// What a reply says. Which fields are filled depends on the command.
struct Reply {
  Command command = Command::kOther;
  bool ok = true;     // the command succeeded
  std::string error;  // why not, when !ok (a numbered error line or an error text)

  std::string service;    // STATUS, START, STOP, RSTRT: the name the server echoed or was asked
  std::string state;      // STATUS: the state word ("Running", ..., "Unknown")
  ControlResult control;  // START, STOP; RSTRT: the start
  ControlResult stop;     // RSTRT: the stop
  std::vector<DependantStart> dependants;  // RSTRT: the dependants started again, in order
  // UPDATE: the server made the change (its line "Service updated: ..." is
  // the text); false for "Updating Service", the answer of a server that
  // changes nothing. A refusal sets ok false and control's code and message.
  bool updated = false;

  std::string server_name, account, date, version;  // LIST and WHO headers
  std::vector<ServiceRow> services;                 // LIST
  std::vector<DependantRow> running_dependants;     // DEPS, in stop order
  std::vector<Parameter> parameters;                // DISPLAY
  std::vector<ClientRow> clients;                   // WHO
  std::vector<AuditEntry> audit;                    // AUDIT, oldest first
  std::string time;                                 // STIME
  std::string text;  // every command: the reply without its prompt, line ends as "\n"
};

// Whether `bytes` end the greeting (its prompt has arrived).
bool GreetingComplete(std::string_view bytes);
// Whether `bytes` hold the whole reply to `command`. QUIT's reply is only
// complete when the server closes the connection, so this is false for it.
bool ReplyComplete(Command command, std::string_view bytes);

// Parses a complete greeting. Returns "" on success, else what is wrong.
std::string ParseGreeting(std::string_view bytes, Greeting* greeting);
// Parses the complete reply to `command`, asked about `service` (may be "").
// Returns "" on success (a failed command is a success here, with
// reply->ok false), else what is wrong with the reply.
std::string ParseReply(Command command, std::string_view service, std::string_view bytes,
                       Reply* reply);

// Reads one line of AUDIT's reply: a JSON object with the record's members
// (time, event, user, peer, command and service strings, result a whole
// number, text); members it does not know are passed over, missing ones
// stay empty. \u00XX is the byte XX, as the server escapes bytes. Returns ""
// or what is wrong.
std::string ParseAuditLine(std::string_view line, AuditEntry* entry);

// How the server took the AUTH line.
enum class LoginOutcome {
  kLoggedIn,   // a numbered 2xx line ("230-Logged in as Admin")
  kLoginsOff,  // no numbered line: a server without logins answers AUTH with its prompt alone
  kRefused,    // any other numbered line ("530-Login incorrect", "450-Too soon ...")
};
// Reads the complete reply to AUTH (up to its prompt). For kRefused,
// `refusal` gets the first numbered line that is not 2xx.
LoginOutcome ParseAuthReply(std::string_view bytes, std::string* refusal);

// The error text of a service-control failure and the system error number
// it stands for; false when `line` is not one of the server's error texts.
bool ControlErrorCode(std::string_view line, std::uint32_t* code);

}  // namespace halv::client

#endif  // HALV_CLIENT_REPLY_PARSER_H_
