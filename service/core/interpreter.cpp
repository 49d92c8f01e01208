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
#include <vector>

#include "command_table.h"
#include "log_text.h"
#include "login.h"
#include "permissions.h"
#include "reply_text.h"
#include "service_manager.h"
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

}  // namespace

std::vector<std::string> LineWords(const CommandLine& line) {
  std::vector<std::string> words;
  for (int i = 0; i < line.WordCount && i < CommandLine::kMaxWords; ++i)
    words.emplace_back(line.Word(i));
  return words;
}

AuditRecord CommandRecord(AuditEvent event, const Connection& client,
                          const std::vector<std::string>& words) {
  AuditRecord record;
  record.event = event;
  record.user = client.Login().user();
  record.peer = client.PeerAddress();
  record.command = AuditCommandText(words);
  if (words.size() > 1) {
    for (const CommandRow& row : CommandTable()) {
      if (SameWordIgnoringCase(words[0], row.word) &&
          (row.operation != OperationKind::kNone || row.word == std::string_view("update")))
        record.service = words[1];
    }
  }
  return record;
}

namespace {

// AUTH <user> <password> while logins are required, checked at once.
void Authenticate(ServerContext& server, Connection& client, const CommandLine& line) {
  std::optional<PendingLogin> pending = BeginLogin(server, client, line);
  if (!pending) return;
  bool matched = false;
  try {
    matched = access::MatchesStoredForm(pending->form, pending->user, pending->password,
                                        access::Credentials::Standard());
  } catch (...) {
    // No result: the check still ends, as a failure would, uncounted.
    server.LoginThrottle().CheckEnded(true, server.TickMs());
    throw;
  }
  FinishLogin(server, &client, *pending, matched);
}

}  // namespace

bool IsLoginLine(const ServerContext& server, const CommandLine& line) {
  return server.Fields().require_auth && line.WordCount >= 1 &&
         SameWordIgnoringCase(line.Word(0), "auth");
}

std::optional<PendingLogin> BeginLogin(ServerContext& server, Connection& client,
                                       const CommandLine& line) {
  if (line.WordCount < 2) {
    client.SendText(access::kAuthUsageText);
    client.SendText(kPrompt);
    return std::nullopt;
  }
  PendingLogin pending;
  pending.user = line.Word(1);
  pending.password = WordsFrom(line, 2);
  pending.address = client.PeerAddress();
  pending.before = client.Login().user();
  access::FailureThrottle& throttle = server.LoginThrottle();
  const std::uint64_t now = server.TickMs();
  if (!client.Login().BeginAttempt(pending.user, pending.address, now, throttle)) {
    // A record of the address, its block or the user says more than the
    // ceiling, so its text wins when both hold the AUTH back.
    const std::uint64_t record_wait = throttle.RecordWaitMs(pending.address, pending.user, now);
    AuditRecord record;
    record.event = AuditEvent::kLoginFailed;
    record.user = pending.user;
    record.peer = pending.address;
    record.command = "AUTH " + pending.user;
    record.result = kErrorLogonFailure;
    record.text = record_wait > 0
                      ? "not checked (too soon after a failed login from this address)"
                      : "not checked (too many failed logins on this server in the last second)";
    server.Audit(record, access::AuditLine(pending.before, pending.address,
                                           "AUTH " + pending.user + " " + record.text));
    client.SendText(record_wait > 0 ? access::TooSoonText(record_wait)
                                    : access::CeilingText(throttle.CeilingWaitMs(now)));
    client.SendText(kPrompt);
    return std::nullopt;
  }
  pending.form = access::ReadStoredForm(server.Accounts(), pending.user);
  return pending;
}

void FinishLogin(ServerContext& server, Connection* client, const PendingLogin& pending,
                 bool matched) {
  const std::string& user = pending.user;
  const std::string& address = pending.address;
  access::AuthOutcome outcome;
  if (client != nullptr) {
    outcome = client->Login().FinishAttempt(user, matched, address, server.TickMs(),
                                            server.LoginThrottle());
  } else {
    // Gone before the answer: the throttle still learns of the check.
    access::RecordCheck(server.LoginThrottle(), user, matched, address, server.TickMs());
    outcome = matched ? access::AuthOutcome::kSuccess : access::AuthOutcome::kFailure;
  }
  std::string result;
  if (outcome == access::AuthOutcome::kSuccess) {
    result = "succeeded";
  } else {
    result = "failed";
    if (outcome == access::AuthOutcome::kFailureAndClose)
      result +=
          "; connection closed after " + std::to_string(client->Login().failures()) + " failures";
  }
  AuditRecord record;
  record.event = outcome == access::AuthOutcome::kSuccess ? AuditEvent::kLogin
                                                          : AuditEvent::kLoginFailed;
  record.user = user;
  record.peer = address;
  record.command = "AUTH " + user;
  record.result = outcome == access::AuthOutcome::kSuccess ? 0 : kErrorLogonFailure;
  record.text = result;
  server.Audit(record, access::AuditLine(pending.before, address, "AUTH " + user + " " + result));
  if (client == nullptr) return;
  switch (outcome) {
    case access::AuthOutcome::kSuccess:
      client->SendText(access::LoginSucceededText(user));
      client->SendText(kPrompt);
      break;
    case access::AuthOutcome::kFailure:
    case access::AuthOutcome::kTooSoon:
      client->SendText(access::kLoginFailedText);
      client->SendText(kPrompt);
      break;
    case access::AuthOutcome::kFailureAndClose:
      client->SendText(access::kLoginFailedText);
      client->SendText(access::kTooManyFailuresText);
      client->Close();
      break;
  }
}

bool HandledByAccessControl(ServerContext& server, Connection& client, const CommandLine& line) {
  if (!server.Fields().require_auth) return false;
  const std::string_view command = line.Word(0);
  if (IsLoginLine(server, line)) {
    Authenticate(server, client, line);
    return true;
  }
  const CommandRow* row = FindCommand(command, server.Fields());
  const access::Permission needed = row != nullptr ? row->permission : access::Permission::kNone;
  const std::string& user = client.Login().user();
  const auto refuse = [&](access::Permission missing) {
    AuditRecord record = CommandRecord(AuditEvent::kCommandRefused, client, LineWords(line));
    record.result = kErrorAccessDenied;
    record.text = "refused, needs " + access::NeededText(missing);
    server.Audit(record, access::AuditLine(user, client.PeerAddress(),
                                           AuditedRequest(line) + " " + record.text));
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
    if (!row->audited || row->operation != OperationKind::kNone) {
      row->handler(server, client, line);
      return;
    }
    // A command that changes something at once: its record follows it,
    // also when a send failed after its work was done.
    AuditRecord record = CommandRecord(AuditEvent::kCommandDone, client, LineWords(line));
    server.Outcome() = {};
    const auto write_record = [&] {
      record.result = server.Outcome().result;
      record.text = server.Outcome().text;
      if (record.result != 0 || !record.text.empty()) {
        record.event = AuditEvent::kCommandFailed;
      } else {
        record.text = "carried out";
      }
      server.Audit(record, "");
    };
    try {
      row->handler(server, client, line);
    } catch (...) {
      write_record();
      throw;
    }
    write_record();
    return;
  }
  client.SendText("\n\r500-Unknown command '" + std::string(command) + "'\n\r");
  client.SendText(kPrompt);
}

}  // namespace halv
