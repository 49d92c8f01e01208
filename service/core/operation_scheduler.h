// The operation scheduler: runs START, STOP and RSTRT away from the service
// thread, one at a time per service and a bounded number at once.
//
// The service thread (the owner) submits operations and learns of their end;
// an executor runs each operation's manager work as a job, on worker threads
// in the service and on the test thread when a test says so. A job touches
// only the manager; it hands each step's result to `post`, which must carry
// it over to the owner thread (in the service, a posted window message). The
// owner then gives the report to whoever sent the command and, for the last
// step, calls Finished. So the scheduler's state is only ever used on the
// owner thread and needs no lock.
//
// A report names its connection by a ConnectionId, never by a pointer: the
// owner looks the id up when the report arrives, and a connection that has
// gone meanwhile simply is not found.
#ifndef HALV_SERVICE_CORE_OPERATION_SCHEDULER_H_
#define HALV_SERVICE_CORE_OPERATION_SCHEDULER_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "executor.h"
#include "service_operation.h"

namespace halv {

class ServiceManager;

// A connection's number, unique over the life of the service (never reused).
using ConnectionId = std::uint64_t;
// An operation's number, unique over the life of its scheduler; 0 is none.
using OperationId = std::uint64_t;

// How many operations run at once; more wait, in the order submitted. Each
// running operation holds one worker thread, mostly asleep between polls.
inline constexpr std::size_t kMaxRunningOperations = 8;

// What a job posts back: one report per step, the last one marked.
struct OperationReport {
  OperationId id = 0;
  ConnectionId client = 0;
  ServiceOperation operation;
  OperationStep step = OperationStep::kStop;
  std::string dependant;  // the dependant a kStartDependant started
  std::uint32_t code = 0;
  bool last = false;
};

// What runs the operations' jobs (common/executor.h).
using OperationExecutor = Executor;

// The key under which operations on one service are serialised: the name
// with ASCII letters in upper case, as the manager compares names without
// regard to case.
std::string ServiceKey(std::string_view name);

class OperationScheduler {
 public:
  using Post = std::function<void(OperationReport)>;

  // `manager` is what the jobs use, from the executor's threads; jobs keep
  // it alive. `post` is called on the job's thread with each report, in step
  // order, and must not call back into the scheduler.
  OperationScheduler(OperationExecutor& executor, std::shared_ptr<ServiceManager> manager,
                     Post post, std::size_t max_running = kMaxRunningOperations);
  OperationScheduler(const OperationScheduler&) = delete;
  OperationScheduler& operator=(const OperationScheduler&) = delete;

  // Queues `operation` for `client` and hands it to the executor at once
  // unless its service is busy or the bound is reached. Owner thread.
  OperationId Submit(ConnectionId client, ServiceOperation operation);

  // The last report of operation `id` has reached the owner: its service is
  // free, and the operations waiting for it (or for the bound) go to the
  // executor. Unknown ids are ignored. Owner thread.
  void Finished(OperationId id);

  std::size_t Running() const { return running_.size(); }
  std::size_t Waiting() const { return waiting_.size(); }

 private:
  struct Entry {
    OperationId id = 0;
    ConnectionId client = 0;
    ServiceOperation operation;
    std::string key;
  };

  // Hands waiting operations to the executor, oldest first, while the bound
  // allows, passing over those whose service is busy.
  void Dispatch();
  void Launch(Entry entry);

  OperationExecutor& executor_;
  std::shared_ptr<ServiceManager> manager_;
  Post post_;
  std::size_t max_running_;
  OperationId next_id_ = 1;
  std::deque<Entry> waiting_;
  std::map<OperationId, std::string> running_;  // id -> service key
  std::set<std::string> busy_keys_;
};

}  // namespace halv

#endif  // HALV_SERVICE_CORE_OPERATION_SCHEDULER_H_
