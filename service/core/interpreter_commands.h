// The commands that act on the server itself (CYCLE, WHO, INIT, STIME,
// VIEW, QUIT), HELP, OPEN's and AUTH's no-op, and the answer of a command
// that waits when no scheduler runs it: the handlers of the command table
// apart from the listings (listings.h).
//
// Each sends its reply pieces on `client`, one send per piece, then its
// prompt (QUIT closes instead). Service thread; a failed send raises
// halv::Error as the connection does.
#ifndef HALV_SERVICE_CORE_INTERPRETER_COMMANDS_H_
#define HALV_SERVICE_CORE_INTERPRETER_COMMANDS_H_

#include <string_view>

#include "connection.h"
#include "server_context.h"
#include "words.h"

namespace halv {

// The feedback address named in the general help.
inline constexpr std::string_view kFeedbackAddress = "http://www.tenmark.example/halvexa/feedback";

// OPEN, and AUTH while logins are not required: the prompt alone.
void PromptOnly(ServerContext& server, Connection& client, const CommandLine& line);

// Warns every client and arms the restart of the listener. A client whose
// send fails does not keep the others from their warning nor the restart
// from being armed: the first such error is raised once the requester has
// its prompt.
void Cycle(ServerContext& server, Connection& client, const CommandLine& line);

// The server, its account and time, and one row per connection.
void Who(ServerContext& server, Connection& client, const CommandLine& line);

// Re-reads the configuration. Should the re-read raise instead of reporting
// failure, the client still gets the error line and the prompt before the
// error goes on to the caller, which records it.
void Init(ServerContext& server, Connection& client, const CommandLine& line);

// The server's local time.
void ServerTime(ServerContext& server, Connection& client, const CommandLine& line);

// Sends the log file up to the end it finds (a read error ends it like the
// end), then the prompt. The connection reads the file as its output drains,
// so a log of any size is sent without holding it in memory.
void View(ServerContext& server, Connection& client, const CommandLine& line);

// Closes the connection; nothing is sent.
void Quit(ServerContext& server, Connection& client, const CommandLine& line);

// The general help, or the texts of the command table's topic named by
// word 1 (any case), or the 504 reply for a topic the table does not have.
void Help(ServerContext& server, Connection& client, const CommandLine& line);

// AUDIT [n] (while AuditLog is on): the last n records of audit.log (20 when
// not given; 1 to 1000), one JSON object a line, oldest first, then the
// prompt; "312-No audit records" when there are none; a wrong count gets
// the 501 usage line.
void AuditRecords(ServerContext& server, Connection& client, const CommandLine& line);

// START, STOP and RSTRT given to the interpreter itself, with no scheduler
// behind it to wait on: answered as an operation no worker could take (the
// heading, each step failed with code 8, the prompt); the manager is not
// touched. In the service every line goes through the command runner, which
// sends these commands to the scheduler instead.
void OperationWithoutScheduler(ServerContext& server, Connection& client, const CommandLine& line);

// The answer to WATCH where no watcher runs.
inline constexpr std::string_view kWatchUnavailableText =
    "502-WATCH is not available here\n\r";

// WATCH given to the interpreter itself, with no watcher behind it (see
// service_watch.h): kWatchUnavailableText and the prompt. In the service the
// command runner hands WATCH lines to the watcher instead.
void WatchWithoutWatcher(ServerContext& server, Connection& client, const CommandLine& line);

}  // namespace halv

#endif  // HALV_SERVICE_CORE_INTERPRETER_COMMANDS_H_
