// WorkerPool: a queue under a mutex, threads that take jobs from it.
#include "worker_pool.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace halv {

struct WorkerPool::State {
  std::mutex mutex;
  std::condition_variable work_cv;  // a job queued, or stopping
  std::condition_variable idle_cv;  // a job ended
  std::deque<std::function<void()>> jobs;
  std::size_t idle = 0;     // threads waiting for a job
  std::size_t running = 0;  // jobs being run
  bool stopping = false;
  std::vector<std::thread> threads;
};

void WorkerPool::WorkerLoop(const std::shared_ptr<State>& state) {
  std::unique_lock<std::mutex> lock(state->mutex);
  for (;;) {
    ++state->idle;
    state->work_cv.wait(lock, [&] { return state->stopping || !state->jobs.empty(); });
    --state->idle;
    if (state->stopping) return;
    std::function<void()> job = std::move(state->jobs.front());
    state->jobs.pop_front();
    ++state->running;
    lock.unlock();
    try {
      job();
    } catch (...) {
      // A job reports its own failures; nothing may end the thread early.
    }
    job = nullptr;  // its captures are released outside the lock
    lock.lock();
    --state->running;
    state->idle_cv.notify_all();
  }
}

WorkerPool::WorkerPool(std::size_t max_threads)
    : state_(std::make_shared<State>()), max_threads_(max_threads == 0 ? 1 : max_threads) {}

WorkerPool::~WorkerPool() {
  if (!shut_down_) Shutdown(std::chrono::milliseconds(0));
}

void WorkerPool::Execute(std::function<void()> job) {
  if (shut_down_) return;
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->jobs.push_back(std::move(job));
  const bool need_thread =
      state_->idle < state_->jobs.size() && state_->threads.size() < max_threads_;
  if (need_thread) {
    try {
      state_->threads.emplace_back([state = state_] { WorkerLoop(state); });
    } catch (...) {
      // With a thread already there the job waits for it; without, it is
      // taken back and the failure goes to the caller.
      if (state_->threads.empty()) {
        state_->jobs.pop_back();
        throw;
      }
    }
  }
  lock.unlock();
  state_->work_cv.notify_one();
}

void WorkerPool::Shutdown(std::chrono::milliseconds grace) {
  if (shut_down_) return;
  shut_down_ = true;
  std::vector<std::thread> threads;
  bool finished = false;
  {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->jobs.clear();
    finished = state_->idle_cv.wait_for(lock, grace, [&] { return state_->running == 0; });
    state_->stopping = true;
    threads.swap(state_->threads);
  }
  state_->work_cv.notify_all();
  for (std::thread& thread : threads) {
    if (finished) {
      thread.join();
    } else {
      thread.detach();
    }
  }
}

std::size_t WorkerPool::ThreadCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->threads.size();
}

std::size_t WorkerPool::Busy() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->jobs.size() + state_->running;
}

}  // namespace halv
