// The command interpreter: runs one complete command line of one client.
#ifndef HALV_SERVICE_CORE_INTERPRETER_H_
#define HALV_SERVICE_CORE_INTERPRETER_H_

#include <string_view>

#include "connection.h"
#include "server_context.h"
#include "words.h"

namespace halv {

// The feedback address named in the general help.
inline constexpr std::string_view kFeedbackAddress = "http://www.tenmark.example/halvexa/feedback";

// Chooses the command by word 0 (case-insensitive over the whole word),
// carries it out and hands its reply pieces to `client` in order, then its
// prompt (none after UPDATE and QUIT), flushing the connection before each
// wait of START, STOP and RSTRT. Unknown commands get the 500
// reply. Needs WordCount >= 1. Keeps no state. Runs on the service thread;
// START, STOP and RSTRT run inline here and block it while they wait (the
// CommandRunner sends them to worker threads instead). A failed send raises
// halv::Error as the connection does; CYCLE finishes its work first (see
// interpreter.cpp). While logins are required the line first passes
// HandledByAccessControl.
void ProcessCommand(ServerContext& server, Connection& client, const CommandLine& line);

// While logins are required (`require_auth`): answers AUTH, and a command the
// connection's user may not use (one 550 line and the prompt), itself and
// returns true; records the commands that change something in the audit
// trail and returns false when the line may run. Without logins it does
// nothing and returns false. Every road to a command passes here first.
bool HandledByAccessControl(ServerContext& server, Connection& client, const CommandLine& line);

// ProcessCommand without the access check, for a caller that has made it.
void RunCommandUnchecked(ServerContext& server, Connection& client, const CommandLine& line);

// Whether `word` equals `keyword` when both are mapped to upper case
// character by character (ASCII mapping).
bool SameWordIgnoringCase(std::string_view word, std::string_view keyword);

}  // namespace halv

#endif  // HALV_SERVICE_CORE_INTERPRETER_H_
