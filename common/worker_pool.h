// WorkerPool: a small pool of worker threads, the one executor of the product:
// the service runs its waiting operations on it, the halvexa client asks the
// hosts of a fleet on it. Portable.
//
// Threads are started as jobs arrive, up to a limit, and then reused. The
// pool's state is shared with its threads, so a thread still inside a job
// when the pool is shut down can finish it safely after the pool is gone.
#ifndef HALV_COMMON_WORKER_POOL_H_
#define HALV_COMMON_WORKER_POOL_H_

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

#include "executor.h"

namespace halv {

class WorkerPool final : public Executor {
 public:
  // Up to `max_threads` threads (at least one).
  explicit WorkerPool(std::size_t max_threads);
  // Shuts down with no grace (see Shutdown).
  ~WorkerPool() override;
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Queues `job` for the next free thread, starting one if none is free and
  // the limit allows. Raises what std::thread raises when none can start and
  // none is running. Owner thread. After Shutdown, jobs are dropped.
  void Execute(std::function<void()> job) override;

  // Drops the queued jobs and waits up to `grace` for the running ones to
  // end; then joins the threads, or, when a job is still running, lets them
  // go (they end on their own). Owner thread; once.
  void Shutdown(std::chrono::milliseconds grace);

  // Threads started so far, and jobs queued or running (owner thread; for
  // tests and figures).
  std::size_t ThreadCount() const;
  std::size_t Busy() const;

 private:
  struct State;
  static void WorkerLoop(const std::shared_ptr<State>& state);

  std::shared_ptr<State> state_;
  std::size_t max_threads_;
  bool shut_down_ = false;
};

}  // namespace halv

#endif  // HALV_COMMON_WORKER_POOL_H_
