// The command interpreter: runs one complete command line of one client,
// choosing its command in the command table (command_table.h).
#ifndef HALV_SERVICE_CORE_INTERPRETER_H_
#define HALV_SERVICE_CORE_INTERPRETER_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "audit_record.h"

#include "connection.h"
#include "login.h"
#include "protocol_text.h"  // SameWordIgnoringCase, the matching of command words
#include "server_context.h"
#include "words.h"

namespace halv {

// Chooses the command by word 0 (case-insensitive over the whole word),
// carries it out and hands its reply pieces to `client` in order, then its
// prompt (none after UPDATE and QUIT). Unknown commands get the 500 reply.
// Needs WordCount >= 1. Keeps no state. Runs on the service thread and never
// waits: START, STOP and RSTRT wait on the operation scheduler, so their
// lines go to the CommandRunner; given one here, with no scheduler behind
// it, the interpreter answers it as an operation no worker could take
// (see OperationWithoutScheduler). A failed send raises halv::Error as the
// connection does; CYCLE finishes its work first. While logins are required
// the line first passes HandledByAccessControl.
void ProcessCommand(ServerContext& server, Connection& client, const CommandLine& line);

// While logins are required (`require_auth`): answers AUTH, and a command the
// connection's user may not use (one 550 line and the prompt), itself and
// returns true; records the commands that change something in the audit
// trail and returns false when the line may run. Without logins it does
// nothing and returns false. Every road to a command passes here first.
bool HandledByAccessControl(ServerContext& server, Connection& client, const CommandLine& line);

// AUTH in two steps, so that the password's transform can run on a worker.
// The login is the connection's `before` user's; `form` was read from the
// registry when the line ran.
struct PendingLogin {
  std::string user;
  std::string password;
  std::string address;
  std::string before;
  access::StoredForm form;
};
// Whether `line` is an AUTH that access control answers (logins required).
bool IsLoginLine(const ServerContext& server, const CommandLine& line);
// Answers an AUTH that needs no check at once (usage; too soon after a
// failure, recorded and not counted) and gives nothing; else gives what the
// check needs, the check counted for the throttle's ceiling.
std::optional<PendingLogin> BeginLogin(ServerContext& server, Connection& client,
                                       const CommandLine& line);
// Applies a check's result: the login state and throttle, the audit record
// and line, the reply (and the close after the third failure). `client` is
// null when the connection has gone: the throttle and audit trail still
// learn of the check.
void FinishLogin(ServerContext& server, Connection* client, const PendingLogin& pending,
                 bool matched);

// The words of `line`.
std::vector<std::string> LineWords(const CommandLine& line);
// The record of a command line `words` of `client`: its user, address,
// command text (no password) and service (word 1 of START, STOP, RSTRT and
// UPDATE); result and text are the caller's.
AuditRecord CommandRecord(AuditEvent event, const Connection& client,
                          const std::vector<std::string>& words);

// ProcessCommand without the access check, for a caller that has made it.
// An audited command that runs at once (CYCLE, INIT, UPDATE) is recorded
// with its outcome (ServerContext::Outcome) once it has run.
void RunCommandUnchecked(ServerContext& server, Connection& client, const CommandLine& line);

}  // namespace halv

#endif  // HALV_SERVICE_CORE_INTERPRETER_H_
