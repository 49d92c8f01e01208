// The command interpreter: a line's command chosen in the command table,
// the access check and audit trail in front of it, and AUTH. The handlers
// live in interpreter_commands.cpp and listings.cpp.
//
// Every reply piece is one SendText/SendBytes call, in order; the
// connection writes a command's pieces together when it ends.
//
// While logins are required (`require_auth`), AUTH logs the connection in
// and every other command first passes its permission check, read from the
// registry as it runs; the commands that change something are written to
// the server log as an audit trail.
#include "interpreter.h"

#include <optional>
#include <string>

#include "command_table.h"
#include "log_text.h"
#include "login.h"
#include "permissions.h"
#include "reply_text.h"
#include "service_operation.h"

namespace halv {

namespace {

// The words from `first` on, joined by single blanks: a password with
// blanks in it as the word splitting left it.
std::string WordsFrom(const CommandLine& line, int first) {
  std::string out;
  for (int i = first; i < line.WordCount; ++i) {
    if (i > first) out.push_back(' ');
    out.append(line.Word(i));
  }
  return out;
}

// The command line as the audit trail records it: its words joined by blanks.
std::string AuditedRequest(const CommandLine& line) {
  return access::UpperCase(line.Word(0)) + (line.WordCount > 1 ? " " + WordsFrom(line, 1) : "");
}

// AUTH <user> <password> while logins are required.
void Authenticate(ServerContext& server, Connection& client, const CommandLine& line) {
  if (line.WordCount < 2) {
    client.SendText(access::kAuthUsageText);
    client.SendText(kPrompt);
    return;
  }
  const std::string user(line.Word(1));
  const std::string address = client.PeerAddress();
  const std::string before = client.Login().user();
  const access::AuthOutcome outcome = client.Login().Authenticate(
      user, WordsFrom(line, 2), address, server.TickMs(), server.Accounts(), server.LoginThrottle(),
      access::Credentials::Standard());
  std::string result;
  if (outcome == access::AuthOutcome::kSuccess) {
    result = "succeeded";
  } else if (outcome == access::AuthOutcome::kTooSoon) {
    result = "not checked (too soon after a failed login from this address)";
  } else {
    result = "failed";
    if (outcome == access::AuthOutcome::kFailureAndClose)
      result +=
          "; connection closed after " + std::to_string(client.Login().failures()) + " failures";
  }
  server.WriteAuditLine(access::AuditLine(before, address, "AUTH " + user + " " + result));
  switch (outcome) {
    case access::AuthOutcome::kSuccess:
      client.SendText(access::LoginSucceededText(user));
      client.SendText(kPrompt);
      break;
    case access::AuthOutcome::kFailure:
      client.SendText(access::kLoginFailedText);
      client.SendText(kPrompt);
      break;
    case access::AuthOutcome::kTooSoon:
      client.SendText(
          access::TooSoonText(server.LoginThrottle().WaitMs(address, user, server.TickMs())));
      client.SendText(kPrompt);
      break;
    case access::AuthOutcome::kFailureAndClose:
      client.SendText(access::kLoginFailedText);
      client.SendText(access::kTooManyFailuresText);
      client.Close();
      break;
  }
}

}  // namespace

bool HandledByAccessControl(ServerContext& server, Connection& client, const CommandLine& line) {
  if (!server.Fields().require_auth) return false;
  const std::string_view command = line.Word(0);
  if (SameWordIgnoringCase(command, "auth")) {
    Authenticate(server, client, line);
    return true;
  }
  const access::Permission needed = RequiredPermission(command, server.Fields());
  const std::string& user = client.Login().user();
  const auto refuse = [&](access::Permission missing) {
    server.WriteAuditLine(
        access::AuditLine(user, client.PeerAddress(),
                          AuditedRequest(line) + " refused, needs " + access::NeededText(missing)));
    client.SendText(access::RefusalText(command, missing));
    client.SendText(kPrompt);
    return true;
  };
  if (!access::HoldsPermission(server.Accounts(), user, needed)) return refuse(needed);
  // A RSTRT that would leave running dependants stopped is also a STOP of them.
  if (needed == access::Permission::kAllowRestart &&
      !access::HoldsPermission(server.Accounts(), user, access::Permission::kAllowStop)) {
    const std::optional<ServiceOperation> operation = ServiceOperationOf(line, server.Fields());
    if (operation && LeavesDependantsStopped(server.Manager(), *operation))
      return refuse(access::Permission::kAllowStop);
  }
  if (IsAudited(command, server.Fields()))
    server.WriteAuditLine(access::AuditLine(user, client.PeerAddress(), AuditedRequest(line)));
  return false;
}

void ProcessCommand(ServerContext& server, Connection& client, const CommandLine& line) {
  if (HandledByAccessControl(server, client, line)) return;
  RunCommandUnchecked(server, client, line);
}

void RunCommandUnchecked(ServerContext& server, Connection& client, const CommandLine& line) {
  const std::string_view command = line.Word(0);
  if (const CommandRow* row = FindCommand(command, server.Fields())) {
    row->handler(server, client, line);
    return;
  }
  client.SendText("\n\r500-Unknown command '" + std::string(command) + "'\n\r");
  client.SendText(kPrompt);
}

}  // namespace halv
