// The command interpreter: the command table, the commands that act on
// services and on the server itself, and the help texts. The reporting
// commands live in listings.cpp.
//
// Every reply piece is one SendText/SendBytes call, in order; the
// connection writes a command's pieces together when it ends, and before a
// wait (Flush) so the client sees what is under way.
//
// While logins are required (`require_auth`), AUTH logs the connection in
// and every other command first passes its permission check, read from the
// registry as it runs; the commands that change something are written to
// the server log as an audit trail.
#include "interpreter.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "date_format.h"
#include "listings.h"
#include "log_text.h"
#include "login.h"
#include "permissions.h"
#include "reply_text.h"
#include "service_operation.h"

namespace halv {

namespace {

using Handler = void (*)(ServerContext&, Connection&, const CommandLine&);

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

void Nothing(ServerContext&, Connection& client, const CommandLine&) { client.SendText(kPrompt); }

// START, STOP and RSTRT run here, on the caller's thread, when no scheduler
// takes them (see command_runner.h); the settings are those of this moment.
void ServiceCommand(ServerContext& server, Connection& client, const CommandLine& line) {
  const std::optional<ServiceOperation> operation = ServiceOperationOf(line, server.Fields());
  if (operation) RunOperationInline(server.Manager(), client, *operation);
}

// Warns every client and arms the restart of the listener. A client whose
// send fails does not keep the others from their warning nor the restart
// from being armed: the first such error is raised once the requester has
// its prompt.
void Cycle(ServerContext& server, Connection& client, const CommandLine&) {
  const std::int32_t grace_period = server.Fields().grace_period;
  client.SendText("Restarting the Halvexa Service");
  const std::string warning = "\n\rPLEASE DISCONNECT NOW, THE SERVER IS GOING DOWN IN " +
                              std::to_string(grace_period / 1000) + " SECONDS!\n\r";
  std::exception_ptr first_failure;
  for (Connection* each : server.Clients()) {
    try {
      each->SendText(warning);
    } catch (...) {
      if (!first_failure) first_failure = std::current_exception();
    }
  }
  server.ArmRestart(grace_period);
  client.SendText(kNewLinePrompt);
  if (first_failure) std::rethrow_exception(first_failure);
}

void Who(ServerContext& server, Connection& client, const CommandLine&) {
  const ServiceFields& fields = server.Fields();
  const LocalTime now = server.Now();
  client.SendText("Server: " + fields.server_name + "\n\rService running as: " + fields.log_on_as +
                  "\n\rLocal Server Date: " + FormatDateTime(kReplyDateForm, now, server.Months()) +
                  "\n\r\n\r");
  client.SendText(" Login Name      Name            Remote Host   Date              What\n\r");
  client.SendText(kRule);
  const std::string date = FormatDateTime(kWhoRowDateForm, now, server.Months());
  const bool logins = fields.require_auth;
  for (Connection* each : server.Clients()) {
    // While logins are required, the user each connection acts as.
    const std::string login = logins ? each->Login().user() : "anonymous";
    const char* name = logins && each->Login().logged_in() ? "Logged In User" : "Anonymous User";
    client.SendText(StringPrintf(" %-15s %-15s %-13s %-15s %-13s\n\r", login.c_str(), name,
                                 each->PeerAddress().c_str(), date.c_str(), "exec()"));
  }
  client.SendText(kPrompt);
}

// Re-reads the configuration. Should the re-read raise instead of reporting
// failure, the client still gets the error line and the prompt before the
// error goes on to the caller, which records it.
void Init(ServerContext& server, Connection& client, const CommandLine&) {
  constexpr std::string_view kFailed =
      "Error reinitializing server, please check logfile and system logs.\n\r";
  client.SendText("Reinitializing server.\n\r");
  bool reloaded = false;
  try {
    reloaded = server.Reinitialize();
  } catch (...) {
    client.SendText(kFailed);
    client.SendText(kPrompt);
    throw;
  }
  if (!reloaded) client.SendText(kFailed);
  client.SendText(kPrompt);
}

void ServerTime(ServerContext& server, Connection& client, const CommandLine&) {
  client.SendText(FormatDateTime(kReplyDateForm, server.Now(), server.Months()) + "\n\r");
  client.SendText(kPrompt);
}

// Sends the log file up to the end it finds (a read error ends it like the
// end), then the prompt. The connection reads the file as its output drains,
// so a log of any size is sent without holding it in memory.
void View(ServerContext& server, Connection& client, const CommandLine&) {
  std::unique_ptr<ByteSource> file = server.OpenShared(server.Fields().log_pathfile);
  if (!file) {
    client.SendText("Unable to open logfile.\n\r");
  } else {
    client.SendStream(std::move(file));
  }
  client.SendText(kNewLinePrompt);
}

void Quit(ServerContext&, Connection& client, const CommandLine&) { client.Close(); }

struct HelpTopic {
  std::string_view topic;
  std::string_view texts[4];  // in order; unused slots are empty
};

// The topics in their order of matching, each with its texts in order.
constexpr HelpTopic kHelpTopics[] = {
    {"start",
     {"311-START", "\n\r311-Use the START command to start a service by name",
      "\n\r311- usage:  START <service_name>\n\r311-End of HELP info"}},
    {"stop",
     {"311-STOP", "\n\r311-Use the STOP command to stop a service by name",
      "\n\r311- usage:  STOP <service_name>\n\r311-End of HELP info"}},
    {"rstrt",
     {"311-RSTRT", "\n\r311-Use the RSTRT command to restart a service by name.",
      "\n\r311-This command stops and start a service with one command.",
      "\n\r311- usage:  RSTRT <service_name>\n\r311-End of HELP info"}},
    {"status",
     {"311-STATUS", "\n\r311-Use the STATUS command to retrieve service status information.",
      "\n\r311- usage:  STATUS <service_name>\n\r311-End of HELP info"}},
    {"list",
     {"311-LIST", "\n\r311-Use the LIST command to retrieve the list of server services.",
      "\n\r311- usage:  LIST [ <service_name> ]\n\r311-End of HELP info"}},
    {"stime",
     {"311-STIME", "\n\r311-Use the STIME command to retrieve the server's local time.",
      "\n\r311- usage:  stime\n\r311-End of HELP info"}},
    {"who",
     {"311-WHO", "\n\r311-Use the WHO command to list the users connected to the server.",
      "\n\r311- usage:  who\n\r311-End of HELP info"}},
    {"view",
     {"311-VIEW", "\n\r311-Use the VIEW command to list the content of the log file.",
      "\n\r311- usage:  view\n\r311-End of HELP info"}},
    {"update",
     {"311-UPDATE",
      "\n\r311-Use the UPDATE command to set service properties.  Please refer to the",
      "\n\r311-LIST command to see the available service properties.",
      "\n\r311- usage:  UPDATE <service_name> <property> <value>\n\r311-End of HELP info"}},
    {"quit",
     {"311-QUIT", "\n\r311-Use the QUIT command to exit HalvexaService",
      "\n\r311- usage:  QUIT\n\r311-End of HELP info"}},
    {"help",
     {"311-HELP",
      "\n\r311-Use the HELP command to list valid commands and command topic information",
      "\n\r311- usage:  HELP [ <topic> ]\n\r311-End of HELP info"}},
};

void Help(ServerContext& server, Connection& client, const CommandLine& line) {
  if (line.WordCount < 2) {
    client.SendText("311-This is Halvexa Version " + server.Fields().version);
    client.SendText("\n\r311-Topics:\n\r311-    START     STOP     RSTRT     STATUS");
    client.SendText("\n\r311-    LIST      UPDATE   QUIT      HELP");
    client.SendText("\n\r311-    STIME     WHO      VIEW      INIT");
    client.SendText(
        "\n\r311-For more info use \"HELP <topic>\".\n\r311-    To report bugs in this "
        "implementation or suggestions for");
    client.SendText("\n\r311-    future enhancements, contact " + std::string(kFeedbackAddress) +
                    ".\n\r311-End of HELP info");
    client.SendText(kNewLinePrompt);
    return;
  }
  const std::string_view topic = line.Word(1);
  for (const HelpTopic& each : kHelpTopics) {
    if (SameWordIgnoringCase(topic, each.topic)) {
      for (std::string_view text : each.texts) {
        if (!text.empty()) client.SendText(text);
      }
      client.SendText(kNewLinePrompt);
      return;
    }
  }
  client.SendText("504-Unknown help topic for '" + std::string(topic) + "'\n\r");
  client.SendText(kNewLinePrompt);
}

struct Command {
  std::string_view word;
  Handler handler;
};

// The commands in their order of matching.
constexpr Command kCommands[] = {
    {"open", Nothing},
    {"auth", Nothing},
    {"start", ServiceCommand},
    {"cycle", Cycle},
    {"stop", ServiceCommand},
    {"rstrt", ServiceCommand},
    {"who", Who},
    {"init", Init},
    {"stime", ServerTime},
    {"display", DisplayParameters},
    {"view", View},
    {"list", ListServices},
    {"update", UpdateService},
    {"quit", Quit},
    {"status", ShowServiceStatus},
    {"help", Help},
};

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
  } else {
    result = client.Login().last_attempt_throttled()
                 ? "failed (too soon after a failed login from this address)"
                 : "failed";
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
    case access::AuthOutcome::kFailureAndClose:
      client.SendText(access::kLoginFailedText);
      client.SendText(access::kTooManyFailuresText);
      client.Close();
      break;
  }
}

// The commands whose use the audit trail records.
bool IsAudited(std::string_view command) {
  for (std::string_view word : {"start", "stop", "rstrt", "update", "init", "cycle"})
    if (SameWordIgnoringCase(command, word)) return true;
  return false;
}

}  // namespace

bool HandledByAccessControl(ServerContext& server, Connection& client, const CommandLine& line) {
  if (!server.Fields().require_auth) return false;
  const std::string_view command = line.Word(0);
  if (SameWordIgnoringCase(command, "auth")) {
    Authenticate(server, client, line);
    return true;
  }
  const access::Permission needed = access::RequiredPermission(command);
  const std::string& user = client.Login().user();
  if (!access::HoldsPermission(server.Accounts(), user, needed)) {
    server.WriteAuditLine(
        access::AuditLine(user, client.PeerAddress(),
                          AuditedRequest(line) + " refused, needs " + access::NeededText(needed)));
    client.SendText(access::RefusalText(command, needed));
    client.SendText(kPrompt);
    return true;
  }
  if (IsAudited(command))
    server.WriteAuditLine(access::AuditLine(user, client.PeerAddress(), AuditedRequest(line)));
  return false;
}

bool SameWordIgnoringCase(std::string_view word, std::string_view keyword) {
  if (word.size() != keyword.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (AsciiUpper(word[i]) != AsciiUpper(keyword[i])) return false;
  }
  return true;
}

void ProcessCommand(ServerContext& server, Connection& client, const CommandLine& line) {
  if (HandledByAccessControl(server, client, line)) return;
  RunCommandUnchecked(server, client, line);
}

void RunCommandUnchecked(ServerContext& server, Connection& client, const CommandLine& line) {
  const std::string_view command = line.Word(0);
  for (const Command& each : kCommands) {
    if (SameWordIgnoringCase(command, each.word)) {
      each.handler(server, client, line);
      return;
    }
  }
  client.SendText("\n\r500-Unknown command '" + std::string(command) + "'\n\r");
  client.SendText(kPrompt);
}

}  // namespace halv
