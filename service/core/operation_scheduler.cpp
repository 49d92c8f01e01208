// The operation scheduler: per-service serialisation, the bound, and the
// job that runs an operation's steps and posts their results.
#include "operation_scheduler.h"

#include <exception>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "service_manager.h"

namespace halv {
namespace {

constexpr std::uint32_t kErrorGenFailure = 31;

// Runs `step` through `manager`; a step that raises (out of memory) gives a
// code, so the owner always learns of the end and the service is freed.
std::uint32_t GuardedStep(ServiceManager& manager, const ServiceOperation& operation,
                          OperationStep step, std::vector<std::string>* stopped,
                          const std::string& dependant) {
  try {
    return RunOperationStep(manager, operation, step, stopped, dependant);
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  } catch (...) {
    return kErrorGenFailure;
  }
}

// Runs every step of `operation` through `manager` and posts a report for
// each; a RSTRT that restarts dependants then starts each dependant its stop
// stopped, last stopped first, and reports each start.
void RunOperation(ServiceManager& manager, const OperationScheduler::Post& post, OperationId id,
                  ConnectionId client, const ServiceOperation& operation) {
  const std::vector<OperationStep> steps = StepsOf(operation);
  std::vector<std::string> stopped;
  std::vector<std::string>* collect = RestartsDependants(operation) ? &stopped : nullptr;
  const auto report_step = [&](OperationStep step, std::string dependant, std::uint32_t code,
                               bool last) {
    OperationReport report;
    report.id = id;
    report.client = client;
    report.operation = operation;
    report.step = step;
    report.dependant = std::move(dependant);
    report.code = code;
    report.last = last;
    post(std::move(report));
  };
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const std::uint32_t code = GuardedStep(manager, operation, steps[i], collect, {});
    // The stop comes first, so what it stopped is known at the last step.
    report_step(steps[i], {}, code, i + 1 == steps.size() && stopped.empty());
  }
  for (std::size_t i = stopped.size(); i-- > 0;) {
    const std::string& dependant = stopped[i];
    const std::uint32_t code =
        GuardedStep(manager, operation, OperationStep::kStartDependant, nullptr, dependant);
    report_step(OperationStep::kStartDependant, dependant, code, i == 0);
  }
}

}  // namespace

std::string ServiceKey(std::string_view name) {
  std::string key(name);
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return key;
}

OperationScheduler::OperationScheduler(OperationExecutor& executor,
                                       std::shared_ptr<ServiceManager> manager, Post post,
                                       std::size_t max_running)
    : executor_(executor),
      manager_(std::move(manager)),
      post_(std::move(post)),
      max_running_(max_running == 0 ? 1 : max_running) {}

OperationId OperationScheduler::Submit(ConnectionId client, ServiceOperation operation) {
  Entry entry;
  entry.id = next_id_++;
  entry.client = client;
  entry.key = ServiceKey(operation.service);
  entry.operation = std::move(operation);
  const OperationId id = entry.id;
  waiting_.push_back(std::move(entry));
  Dispatch();
  return id;
}

void OperationScheduler::Finished(OperationId id) {
  auto it = running_.find(id);
  if (it == running_.end()) return;
  busy_keys_.erase(it->second);
  running_.erase(it);
  Dispatch();
}

void OperationScheduler::Dispatch() {
  for (auto it = waiting_.begin(); it != waiting_.end() && running_.size() < max_running_;) {
    if (busy_keys_.count(it->key) != 0) {
      ++it;
      continue;
    }
    Entry entry = std::move(*it);
    it = waiting_.erase(it);
    Launch(std::move(entry));
  }
}

void OperationScheduler::Launch(Entry entry) {
  busy_keys_.insert(entry.key);
  running_.emplace(entry.id, entry.key);
  // The job owns copies of all it uses, so it may outlive the scheduler.
  try {
    executor_.Execute(
        [manager = manager_, post = post_, id = entry.id, client = entry.client,
         operation = entry.operation] { RunOperation(*manager, post, id, client, operation); });
  } catch (...) {
    // No worker could take it (out of memory or threads): every step is
    // reported as failed, so the owner still hears of the end.
    const std::vector<OperationStep> steps = StepsOf(entry.operation);
    for (std::size_t i = 0; i < steps.size(); ++i) {
      OperationReport report;
      report.id = entry.id;
      report.client = entry.client;
      report.operation = entry.operation;
      report.step = steps[i];
      report.code = kErrorNotEnoughMemory;
      report.last = i + 1 == steps.size();
      post_(std::move(report));
    }
  }
}

}  // namespace halv
