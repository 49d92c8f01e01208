// A service thread in miniature for the wait tests: the fake service object
// over the simulated manager, a manual executor, the operation scheduler and
// the command runner, and recording connections known by id. Receipts go
// through the real receipt splitting; a waiting connection's input is
// paused as in the service; jobs run and their reports are delivered only
// when the test says so.
#ifndef HALV_TESTS_UNIT_WAITS_WAITS_FIXTURE_H_
#define HALV_TESTS_UNIT_WAITS_WAITS_FIXTURE_H_

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "command_runner.h"
#include "fake_server_context.h"
#include "interpreter.h"
#include "manual_executor.h"
#include "operation_scheduler.h"
#include "recording_connection.h"
#include "settled_runner.h"
#include "simulated_manager.h"
#include "words.h"

namespace halv::testing {

using Sends = std::vector<std::string>;

// Hands each complete line of a receipt to `run`; the receipt ends when the
// connection has closed.
class LineEvents final : public ReceiptEvents {
 public:
  LineEvents(Connection& client, std::function<void(const CommandLine&)> run)
      : client_(client), run_(std::move(run)) {}
  void LogLine(const std::string&) override {}
  void SendPrompt() override { client_.SendText("\n\r:: "); }
  bool RunCommand(const CommandLine& line) override {
    run_(line);
    return !client_.IsClosed();
  }

 private:
  Connection& client_;
  std::function<void(const CommandLine&)> run_;
};

// The transcript one client gets when every wait ends at once (each line
// through a command runner of its own, its jobs run before the next line):
// a fresh manager prepared by `setup`, then `receipts`, all but the first
// sent while the first one's wait is under way, so that they are read
// afterwards in one go.
inline Sends InlineTranscript(const std::function<void(SimulatedManager&)>& setup,
                              const std::vector<std::string>& receipts) {
  SimulatedManager scm;
  setup(scm);
  FakeServerContext server(scm);
  RecordingConnection client;
  server.AddClient(&client);
  SettledRunner commands(server);
  auto line = std::make_unique<CommandLine>();
  LineEvents events(client, [&](const CommandLine& each) { commands.Run(client, each); });
  std::string later;
  for (std::size_t i = 1; i < receipts.size(); ++i) later += receipts[i];
  HandleReceipt(receipts.at(0), false, *line, events);
  if (!later.empty() && !client.IsClosed()) HandleReceipt(later, false, *line, events);
  return client.sends();
}

class WaitsTest : public ::testing::Test {
 protected:
  WaitsTest() {
    runner_.set_on_wait_begin([this](ConnectionId id) { paused_.push_back(id); });
    runner_.set_on_wait_end([this](ConnectionId id) { resumed_.push_back(id); });
  }

  // A new client; its id is never used again.
  ConnectionId Connect() {
    const ConnectionId id = next_id_++;
    auto client = std::make_unique<RecordingConnection>();
    server_.AddClient(client.get());
    open_[id] = client.get();
    all_[id] = std::move(client);
    return id;
  }

  // The client goes away (peer closed): it is closed and no longer found.
  void Disconnect(ConnectionId id) {
    all_.at(id)->Close();
    server_.RemoveClient(all_.at(id).get());
    open_.erase(id);
  }

  RecordingConnection& Client(ConnectionId id) { return *all_.at(id); }
  const Sends& SendsOf(ConnectionId id) { return all_.at(id)->sends(); }

  // Bytes from client `id`. While it waits its input is paused, as in the
  // service: the bytes stay unread (they gather, as in a socket buffer) and
  // are read in one receipt once the wait is over.
  void Receive(ConnectionId id, const std::string& text) {
    if (runner_.IsWaiting(id)) {
      unread_[id] += text;
      return;
    }
    RecordingConnection& client = *all_.at(id);
    if (client.IsClosed()) return;
    LineEvents events(client, [&](const CommandLine& line) { runner_.RunLine(id, client, line); });
    HandleReceipt(text, false, *line_, events);
  }

  // Reads what resumed connections had gathered, as the read event that the
  // service posts on resuming a connection does.
  void ReadResumed() {
    std::vector<ConnectionId> resumed;
    resumed.swap(resumed_);
    for (ConnectionId id : resumed) {
      auto it = unread_.find(id);
      if (it == unread_.end()) continue;
      const std::string text = std::move(it->second);
      unread_.erase(it);
      if (open_.count(id) != 0) Receive(id, text);
    }
  }

  // Runs every job handed out so far (not those that their reports free).
  void RunJobs() {
    for (std::size_t n = executor_.Pending(); n > 0; --n) executor_.RunNext();
  }

  // Delivers every posted report, in order, as the service thread would.
  void DeliverPosted() {
    std::vector<OperationReport> reports;
    reports.swap(posted_);
    for (const OperationReport& report : reports) {
      runner_.Deliver(report);
      ReadResumed();
    }
  }

  // Runs jobs and delivers reports until nothing is left.
  void Settle() {
    ReadResumed();
    while (executor_.Pending() != 0 || !posted_.empty()) {
      RunJobs();
      DeliverPosted();
    }
  }

  SimulatedManager scm_;
  FakeServerContext server_{scm_};
  ManualExecutor executor_;
  std::vector<OperationReport> posted_;
  std::vector<OperationReport> history_;  // every report ever posted
  OperationScheduler scheduler_{executor_,
                                std::shared_ptr<ServiceManager>(&scm_, [](ServiceManager*) {}),
                                [this](OperationReport report) {
                                  history_.push_back(report);
                                  posted_.push_back(std::move(report));
                                }};
  CommandRunner runner_{server_, scheduler_, [this](ConnectionId id) -> Connection* {
                          auto it = open_.find(id);
                          return it == open_.end() ? nullptr : it->second;
                        }};
  // Connections whose input was paused (each time) and resumed.
  std::vector<ConnectionId> paused_;
  std::vector<ConnectionId> resumed_;

 private:
  ConnectionId next_id_ = 1;
  std::map<ConnectionId, std::unique_ptr<RecordingConnection>> all_;
  std::map<ConnectionId, RecordingConnection*> open_;
  std::map<ConnectionId, std::string> unread_;
  std::unique_ptr<CommandLine> line_ = std::make_unique<CommandLine>();
};

}  // namespace halv::testing

#endif  // HALV_TESTS_UNIT_WAITS_WAITS_FIXTURE_H_
