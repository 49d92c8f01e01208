// An executor for tests: it keeps the jobs it is given and runs them on the
// test thread only when told, so a test decides when a wait "ends" and can
// look at everything in between.
#ifndef HALV_TESTS_FAKES_SERVER_MANUAL_EXECUTOR_H_
#define HALV_TESTS_FAKES_SERVER_MANUAL_EXECUTOR_H_

#include <cstddef>
#include <deque>
#include <functional>
#include <utility>

#include "operation_scheduler.h"

namespace halv::testing {

class ManualExecutor final : public OperationExecutor {
 public:
  void Execute(std::function<void()> job) override { jobs_.push_back(std::move(job)); }

  // Jobs given and not yet run.
  std::size_t Pending() const { return jobs_.size(); }
  // Runs the oldest job; false when there is none.
  bool RunNext() {
    if (jobs_.empty()) return false;
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    job();
    return true;
  }
  // Runs the job at `index` (0 is the oldest) out of turn.
  void RunAt(std::size_t index) {
    std::function<void()> job = std::move(jobs_.at(index));
    jobs_.erase(jobs_.begin() + static_cast<std::ptrdiff_t>(index));
    job();
  }

 private:
  std::deque<std::function<void()>> jobs_;
};

}  // namespace halv::testing

#endif  // HALV_TESTS_FAKES_SERVER_MANUAL_EXECUTOR_H_
