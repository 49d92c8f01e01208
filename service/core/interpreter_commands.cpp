// The commands that act on the server itself, HELP, and the answer of a
// command that waits when no scheduler runs it.
#include "interpreter_commands.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config_schema.h"

#include "command_table.h"
#include "date_format.h"
#include "interpreter.h"
#include "reply_text.h"
#include "service_manager.h"
#include "service_operation.h"

namespace halv {

void PromptOnly(ServerContext&, Connection& client, const CommandLine&) {
  client.SendText(kPrompt);
}

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

void Init(ServerContext& server, Connection& client, const CommandLine&) {
  constexpr std::string_view kFailed =
      "Error reinitializing server, please check logfile and system logs.\n\r";
  client.SendText("Reinitializing server.\n\r");
  bool reloaded = false;
  try {
    reloaded = server.Reinitialize();
  } catch (...) {
    server.Outcome() = {kErrorInvalidData, "the configuration read failed"};
    client.SendText(kFailed);
    client.SendText(kPrompt);
    throw;
  }
  if (!reloaded) {
    server.Outcome() = {kErrorInvalidData, "the configuration read failed"};
    client.SendText(kFailed);
  }
  client.SendText(kPrompt);
}

void ServerTime(ServerContext& server, Connection& client, const CommandLine&) {
  client.SendText(FormatDateTime(kReplyDateForm, server.Now(), server.Months()) + "\n\r");
  client.SendText(kPrompt);
}

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

void Help(ServerContext& server, Connection& client, const CommandLine& line) {
  if (line.WordCount < 2) {
    client.SendText("311-This is Halvexa Version " + server.Fields().version);
    client.SendText("\n\r311-Topics:\n\r311-    START     STOP     RSTRT     STATUS");
    client.SendText("\n\r311-    LIST      UPDATE   QUIT      HELP");
    client.SendText("\n\r311-    STIME     WHO      VIEW      INIT");
    // The topics that only a switch brings (DEPS, WATCH), when it is on.
    std::string added;
    for (const CommandRow& row : CommandTable()) {
      if (row.help == nullptr || row.help->shown == nullptr || row.help->otherwise != nullptr ||
          FindCommand(row.word, server.Fields()) != &row ||
          HelpTopicOf(row, server.Fields()) == nullptr)
        continue;
      std::string word(row.help->texts[0].substr(4));
      word.resize(std::max<std::size_t>(word.size(), 9), ' ');
      added += word + " ";
    }
    while (!added.empty() && added.back() == ' ') added.pop_back();
    if (!added.empty()) client.SendText("\n\r311-    " + added);
    client.SendText(
        "\n\r311-For more info use \"HELP <topic>\".\n\r311-    To report bugs in this "
        "implementation or suggestions for");
    client.SendText("\n\r311-    future enhancements, contact " + std::string(kFeedbackAddress) +
                    ".\n\r311-End of HELP info");
    client.SendText(kNewLinePrompt);
    return;
  }
  const std::string_view topic = line.Word(1);
  const CommandRow* row = FindCommand(topic, server.Fields());
  const HelpTopic* help = row != nullptr ? HelpTopicOf(*row, server.Fields()) : nullptr;
  if (help != nullptr) {
    for (std::string_view text : help->texts) {
      if (!text.empty()) client.SendText(text);
    }
    client.SendText(kNewLinePrompt);
    return;
  }
  client.SendText("504-Unknown help topic for '" + std::string(topic) + "'\n\r");
  client.SendText(kNewLinePrompt);
}

void OperationWithoutScheduler(ServerContext& server, Connection& client, const CommandLine& line) {
  const std::optional<ServiceOperation> operation = ServiceOperationOf(line, server.Fields());
  if (!operation) return;
  if (StopsThisService(*operation)) {
    client.SendText(SelfControlRefusalText(line.Word(0), operation->service));
    client.SendText(kPrompt);
    return;
  }
  client.SendText(OperationHeading(*operation));
  for (OperationStep step : StepsOf(*operation))
    SendStepResult(client, *operation, step, kErrorNotEnoughMemory);
  client.SendText(kPrompt);
}

void AuditRecords(ServerContext& server, Connection& client, const CommandLine& line) {
  constexpr std::int32_t kDefaultCount = 20;
  constexpr std::int32_t kMaxCount = 1000;
  std::int32_t count = kDefaultCount;
  if (line.WordCount >= 2) {
    const std::optional<std::int32_t> asked = config::ParseWholeNumber(line.Word(1));
    if (!asked || *asked < 1 || *asked > kMaxCount || line.WordCount > 2) {
      client.SendText("501-Usage: AUDIT [ <count> ], a count from 1 to 1000\n\r");
      client.SendText(kPrompt);
      return;
    }
    count = *asked;
  }
  const std::vector<std::string> lines = server.AuditLines(static_cast<std::size_t>(count));
  if (lines.empty()) client.SendText(std::string(kNoAuditRecordsLine) + "\n\r");
  for (const std::string& record : lines) client.SendText(record + "\n\r");
  client.SendText(kPrompt);
}

}  // namespace halv

namespace halv {

void WatchWithoutWatcher(ServerContext&, Connection& client, const CommandLine&) {
  client.SendText(kWatchUnavailableText);
  client.SendText(kPrompt);
}

}  // namespace halv
