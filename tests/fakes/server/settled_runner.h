// The road a command line takes in the service, for tests that look at one
// reply at a time: the real CommandRunner and OperationScheduler over a
// service object (a fake one, over the simulated manager) with a manual
// executor. Run hands a line to the runner; START, STOP and RSTRT go to the
// scheduler as in the service, and Run then lets every wait end (jobs run
// on the test thread, their reports delivered in order) before it returns.
// A test that wants to look inside a wait uses Submit and Settle apart.
//
// Connections are known by the pointer a test passes; each gets an id of
// its own on first use. Everything runs on the test thread.
#ifndef HALV_TESTS_FAKES_SERVER_SETTLED_RUNNER_H_
#define HALV_TESTS_FAKES_SERVER_SETTLED_RUNNER_H_

#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "command_runner.h"
#include "connection.h"
#include "manual_executor.h"
#include "operation_scheduler.h"
#include "server_context.h"
#include "service_manager.h"
#include "words.h"

namespace halv::testing {

class SettledRunner {
 public:
  // `server` (and its manager) must outlive the runner.
  explicit SettledRunner(ServerContext& server)
      : scheduler_(executor_, std::shared_ptr<ServiceManager>(&server.Manager(), [](auto*) {}),
                   [this](OperationReport report) { posted_.push_back(std::move(report)); }),
        runner_(server, scheduler_, [this](ConnectionId id) -> Connection* {
          auto it = clients_.find(id);
          return it == clients_.end() ? nullptr : it->second;
        }) {}
  SettledRunner(const SettledRunner&) = delete;
  SettledRunner& operator=(const SettledRunner&) = delete;

  // Runs `line` from `client` and every wait it starts to its end. Errors of
  // the command propagate as the runner raises them.
  void Run(Connection& client, const CommandLine& line) {
    Submit(client, line);
    Settle();
  }

  // Hands `line` to the runner only: a command that waits has sent its
  // heading and its job is pending.
  void Submit(Connection& client, const CommandLine& line) {
    runner_.RunLine(IdOf(client), client, line);
  }

  // Runs the pending jobs and delivers their reports until none is left.
  void Settle() {
    while (executor_.Pending() != 0 || !posted_.empty()) {
      while (executor_.RunNext()) {
      }
      DeliverPosted();
    }
  }

  // Delivers the oldest report posted and not yet delivered; false when
  // there is none.
  bool DeliverNext() {
    if (posted_.empty()) return false;
    const OperationReport report = std::move(posted_.front());
    posted_.erase(posted_.begin());
    runner_.Deliver(report);
    return true;
  }

  // Delivers the reports posted so far, in order.
  void DeliverPosted() {
    std::vector<OperationReport> reports;
    reports.swap(posted_);
    for (const OperationReport& report : reports) runner_.Deliver(report);
  }

  ManualExecutor& executor() { return executor_; }
  const std::vector<OperationReport>& posted() const { return posted_; }
  CommandRunner& runner() { return runner_; }

 private:
  ConnectionId IdOf(Connection& client) {
    auto it = ids_.find(&client);
    if (it == ids_.end()) {
      it = ids_.emplace(&client, next_id_++).first;
      clients_[it->second] = &client;
    }
    return it->second;
  }

  ManualExecutor executor_;
  std::vector<OperationReport> posted_;
  OperationScheduler scheduler_;
  CommandRunner runner_;
  ConnectionId next_id_ = 1;
  std::map<Connection*, ConnectionId> ids_;
  std::map<ConnectionId, Connection*> clients_;
};

}  // namespace halv::testing

#endif  // HALV_TESTS_FAKES_SERVER_SETTLED_RUNNER_H_
