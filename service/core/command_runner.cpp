// CommandRunner: sessions of waiting connections and their held lines.
#include "command_runner.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "command_table.h"
#include "interpreter.h"
#include "protocol_text.h"
#include "reply_text.h"
#include "service_manager.h"
#include "service_operation.h"

namespace halv {
namespace {

std::vector<std::string> WordsOf(const CommandLine& line) {
  std::vector<std::string> words;
  for (int i = 0; i < line.WordCount && i < CommandLine::kMaxWords; ++i) {
    words.emplace_back(line.Word(i));
  }
  return words;
}

// Fills `line` with `words`, emptying the slots the previous line used.
void FillLine(CommandLine& line, const std::vector<std::string>& words) {
  for (int i = 0; i < line.WordCount && i < CommandLine::kMaxWords; ++i) {
    line.CommandWords[i][0] = '\0';
  }
  line.WordCount = 0;
  for (const std::string& word : words) {
    if (line.WordCount >= CommandLine::kMaxWords) break;
    const std::size_t size =
        std::min(word.size(), static_cast<std::size_t>(CommandLine::kWordSize - 1));
    std::memcpy(line.CommandWords[line.WordCount], word.data(), size);
    line.CommandWords[line.WordCount][size] = '\0';
    ++line.WordCount;
  }
}

}  // namespace

CommandRunner::CommandRunner(ServerContext& server, OperationScheduler& scheduler,
                             FindClient find_client)
    : server_(server), scheduler_(scheduler), find_client_(std::move(find_client)) {}

std::size_t CommandRunner::HeldLines(ConnectionId id) const {
  auto it = sessions_.find(id);
  return it == sessions_.end() ? 0 : it->second.held.size();
}

void CommandRunner::RunLine(ConnectionId id, Connection& client, const CommandLine& line) {
  auto it = sessions_.find(id);
  if (it != sessions_.end()) {
    it->second.held.push_back(WordsOf(line));
    return;
  }
  Execute(id, client, line);
}

void CommandRunner::Execute(ConnectionId id, Connection& client, const CommandLine& line) {
  // Any line ends a watch; it is not a command.
  if (watch_ != nullptr && watch_->Watching(id)) {
    watch_->End(id, client);
    return;
  }
  // A password check waits on a worker like an operation.
  if (checks_ != nullptr && IsLoginLine(server_, line)) {
    std::optional<PendingLogin> pending = BeginLogin(server_, client, line);
    if (!pending) return;
    LoginCheckId check = 0;
    try {
      check = checks_->Submit(id, pending->form, pending->user, pending->password);
    } catch (...) {
      // Never handed out: the check ends here, as a failure would, uncounted.
      server_.LoginThrottle().CheckEnded(true, server_.TickMs());
      throw;
    }
    auto [it, created] = sessions_.try_emplace(id);
    it->second.login = check;
    it->second.pending = std::move(*pending);
    if (created && on_wait_begin_) on_wait_begin_(id);
    return;
  }
  // Logins and permissions first, also for the commands that wait.
  if (HandledByAccessControl(server_, client, line)) return;
  if (watch_ != nullptr && IsWatchLine(line, server_.Fields())) {
    watch_->Begin(id, client, line);
    return;
  }
  std::optional<ServiceOperation> operation = ServiceOperationOf(line, server_.Fields());
  if (!operation) {
    RunCommandUnchecked(server_, client, line);
    return;
  }
  if (StopsThisService(*operation)) {
    AuditRecord record = CommandRecord(AuditEvent::kCommandRefused, client, LineWords(line));
    record.result = kErrorAccessDenied;
    record.text = "refused: the service itself (use CYCLE)";
    server_.Audit(record, "");
    client.SendText(SelfControlRefusalText(line.Word(0), operation->service));
    client.SendText(kPrompt);
    return;
  }
  client.SendText(OperationHeading(*operation));
  const OperationId operation_id = scheduler_.Submit(id, std::move(*operation));
  auto [it, created] = sessions_.try_emplace(id);
  it->second.operation = operation_id;
  it->second.record = CommandRecord(AuditEvent::kCommandDone, client, LineWords(line));
  if (created && on_wait_begin_) on_wait_begin_(id);
}

void CommandRunner::Deliver(const OperationReport& report) {
  // The service is free whatever becomes of the reply.
  if (report.last) scheduler_.Finished(report.id);
  auto it = sessions_.find(report.client);
  if (it == sessions_.end() || it->second.operation != report.id) return;
  AuditRecord& record = it->second.record;
  if (report.code != 0 && record.result == 0) {
    record.result = report.code;
    std::string text = ScmErrorText(report.code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    record.text = report.step == OperationStep::kStartDependant
                      ? "dependant " + report.dependant + ": " + text
                      : text;
  }
  if (report.last) {
    // The outcome is known: recorded whether or not the client is still there.
    if (record.result != 0) {
      record.event = AuditEvent::kCommandFailed;
    } else {
      record.text = "carried out";
    }
    server_.Audit(record, "");
  }

  Connection* client = find_client_(report.client);
  if (client == nullptr || client->IsClosed()) {
    if (report.last) EndSession(report.client);
    return;
  }
  try {
    SendStepResult(*client, report.operation, report.step, report.code, report.dependant);
    if (!report.last) return;
    client->SendText(kPrompt);
  } catch (...) {
    if (report.last || client->IsClosed()) EndSession(report.client);
    throw;
  }
  it->second.operation = 0;
  RunHeld(report.client, *client);
}

void CommandRunner::DeliverLogin(const LoginCheckReport& report) {
  auto it = sessions_.find(report.client);
  if (it == sessions_.end() || it->second.login != report.id) return;
  const PendingLogin pending = std::move(it->second.pending);
  it->second.login = 0;
  it->second.pending = {};
  Connection* client = find_client_(report.client);
  if (client == nullptr || client->IsClosed()) {
    FinishLogin(server_, nullptr, pending, report.matched);
    EndSession(report.client);
    return;
  }
  try {
    FinishLogin(server_, client, pending, report.matched);
  } catch (...) {
    EndSession(report.client);
    throw;
  }
  RunHeld(report.client, *client);
}

void CommandRunner::RunHeld(ConnectionId id, Connection& client) {
  for (;;) {
    auto it = sessions_.find(id);
    if (it == sessions_.end() || it->second.Busy()) return;
    if (it->second.held.empty() || client.IsClosed()) {
      EndSession(id);
      return;
    }
    const std::vector<std::string> words = std::move(it->second.held.front());
    it->second.held.pop_front();
    FillLine(*replay_, words);
    try {
      Execute(id, client, *replay_);
    } catch (...) {
      // As within one receipt, the lines after a failing one are dropped;
      // an operation the failing line may have started still reports back.
      auto failed = sessions_.find(id);
      if (failed != sessions_.end()) {
        failed->second.held.clear();
        if (!failed->second.Busy()) EndSession(id);
      }
      throw;
    }
  }
}

void CommandRunner::CancelAll() {
  for (auto& [id, session] : sessions_) {
    Connection* client = find_client_(id);
    // A check whose result will not be delivered ends now, as a failure
    // would for the ceiling; its AUTH was neither answered nor counted.
    if (session.login != 0) server_.LoginThrottle().CheckEnded(true, server_.TickMs());
    if (session.operation != 0) {
      AuditRecord record = session.record;
      record.event = AuditEvent::kCommandCancelled;
      record.result = kErrorOperationAborted;
      record.text = "cancelled: the service stopped before the outcome was known";
      server_.Audit(record, "");
    }
    std::vector<std::vector<std::string>> held(session.held.begin(), session.held.end());
    if (waiting_commands_) {
      std::vector<std::vector<std::string>> waiting = waiting_commands_(id);
      held.insert(held.end(), std::make_move_iterator(waiting.begin()),
                  std::make_move_iterator(waiting.end()));
    }
    for (const std::vector<std::string>& words : held) {
      if (words.empty() || !IsAudited(words[0], server_.Fields()) || client == nullptr) continue;
      AuditRecord record = CommandRecord(AuditEvent::kCommandCancelled, *client, words);
      record.result = kErrorOperationAborted;
      record.text = "cancelled: held until the service stopped";
      server_.Audit(record, "");
    }
  }
  // The connections stay paused: the service is stopping, and a line
  // recorded as cancelled must not run after all.
  sessions_.clear();
}

void CommandRunner::EndSession(ConnectionId id) {
  if (sessions_.erase(id) != 0 && on_wait_end_) on_wait_end_(id);
}

}  // namespace halv
