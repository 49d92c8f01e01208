// Executor: the interface of something that runs jobs on threads of its own
// (WorkerPool is the implementation). Portable.
#ifndef HALV_COMMON_EXECUTOR_H_
#define HALV_COMMON_EXECUTOR_H_

#include <functional>

namespace halv {

// Runs jobs. Execute returns at once; the job runs later, exactly once, on a
// thread of the executor's choosing (never inside Execute).
class Executor {
 public:
  virtual ~Executor() = default;
  virtual void Execute(std::function<void()> job) = 0;
};

}  // namespace halv

#endif  // HALV_COMMON_EXECUTOR_H_
