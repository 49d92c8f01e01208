// The worker pool with real threads: jobs run side by side up to the limit
// and no further, threads are reused, and a shutdown waits for running jobs
// within its grace and drops queued ones. No test depends on timing: a job
// that never gets company fails after a generous bound instead of hanging.
#include "worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace halv {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Jobs check in and wait for the test to open the gate.
class Gate {
 public:
  // Called by a job: counts it as running, waits until opened.
  void Enter() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++inside_;
    if (inside_ > most_) most_ = inside_;
    changed_.notify_all();
    changed_.wait_for(lock, seconds(30), [&] { return open_; });
    --inside_;
    ++done_;
    changed_.notify_all();
  }
  // Waits until `n` jobs are inside at once; false after the bound.
  bool AwaitInside(int n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, seconds(30), [&] { return inside_ >= n; });
  }
  bool AwaitDone(int n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, seconds(30), [&] { return done_ >= n; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  int Most() {
    std::lock_guard<std::mutex> lock(mutex_);
    return most_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int inside_ = 0;
  int most_ = 0;
  int done_ = 0;
  bool open_ = false;
};

TEST(WorkerPoolTest, JobsRunSideBySideUpToTheLimit) {
  Gate gate;
  WorkerPool pool(3);
  for (int i = 0; i < 5; ++i) pool.Execute([&] { gate.Enter(); });
  ASSERT_TRUE(gate.AwaitInside(3)) << "three jobs never ran at once";
  EXPECT_EQ(pool.ThreadCount(), 3u);
  EXPECT_EQ(pool.Busy(), 5u);
  gate.Open();
  ASSERT_TRUE(gate.AwaitDone(5));
  EXPECT_EQ(gate.Most(), 3);
  pool.Shutdown(seconds(30));
  EXPECT_EQ(pool.ThreadCount(), 0u);
}

TEST(WorkerPoolTest, IdleThreadIsReused) {
  WorkerPool pool(4);
  std::atomic<int> runs{0};
  for (int i = 0; i < 20; ++i) {
    pool.Execute([&] { ++runs; });
    // Wait for the job to end, so a thread is idle for the next one.
    for (int spin = 0; spin < 30000 && pool.Busy() != 0; ++spin) {
      std::this_thread::sleep_for(milliseconds(1));
    }
  }
  pool.Shutdown(seconds(30));
  EXPECT_EQ(runs.load(), 20);
}

TEST(WorkerPoolTest, ShutdownWaitsForRunningJobsAndDropsQueuedOnes) {
  Gate gate;
  std::atomic<int> queued_runs{0};
  WorkerPool pool(1);
  pool.Execute([&] { gate.Enter(); });
  ASSERT_TRUE(gate.AwaitInside(1));
  pool.Execute([&] { ++queued_runs; });
  std::thread opener([&] {
    std::this_thread::sleep_for(milliseconds(50));
    gate.Open();
  });
  pool.Shutdown(seconds(30));
  opener.join();
  EXPECT_TRUE(gate.AwaitDone(1));
  EXPECT_EQ(queued_runs.load(), 0);
  pool.Execute([&] { ++queued_runs; });  // after shutdown: dropped
  EXPECT_EQ(queued_runs.load(), 0);
  EXPECT_EQ(pool.Busy(), 0u);
}

// A job still running when the grace ends is let go; it finishes on its
// own and its captures stay valid.
TEST(WorkerPoolTest, ShutdownLetsGoOfAJobPastTheGrace) {
  auto gate = std::make_shared<Gate>();
  {
    WorkerPool pool(1);
    pool.Execute([gate] { gate->Enter(); });
    ASSERT_TRUE(gate->AwaitInside(1));
    pool.Shutdown(milliseconds(0));
  }
  gate->Open();
  EXPECT_TRUE(gate->AwaitDone(1));
}

}  // namespace
}  // namespace halv
