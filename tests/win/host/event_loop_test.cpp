// EventLoop under Wine: timers tick on the loop's thread and never after
// they were stopped; callbacks posted from other threads run on it, in
// order, also those posted before the loop existed; registered messages
// reach their handlers; errors go to the error handler; a closed loop
// refuses posts, also through a Poster that outlives it.
#include "event_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace halv {
namespace {

using namespace std::chrono_literals;

constexpr auto kLimit = 10s;

// Runs `loop` until a callback quits it, or a watchdog does after `limit`.
// Returns whether a callback quit it in time.
bool RunFor(EventLoop& loop, std::chrono::milliseconds limit = kLimit) {
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
  bool fired = false;
  const EventLoop::Poster poster = loop.GetPoster();
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (!changed.wait_for(lock, limit, [&] { return done; })) {
      fired = true;
      poster.Post([&loop] { loop.Quit(); });
    }
  });
  loop.Run();
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  changed.notify_all();
  watchdog.join();
  return !fired;
}

// Dispatches every message waiting for this thread, as the loop would.
void DrainMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

// Waits until a timer of this thread is due (its tick waits in the queue).
bool WaitTimerDue() {
  const auto deadline = std::chrono::steady_clock::now() + kLimit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (HIWORD(GetQueueStatus(QS_TIMER)) & QS_TIMER) return true;
    std::this_thread::yield();
  }
  return false;
}

TEST(EventLoopTest, TimersTickOnTheLoopThread) {
  EventLoop loop;
  ASSERT_EQ(loop.Open(), 0u);
  ASSERT_NE(loop.Window(), nullptr);
  std::vector<DWORD> threads;
  ASSERT_EQ(loop.StartTimer(7, 10,
                            [&] {
                              threads.push_back(GetCurrentThreadId());
                              if (threads.size() == 3) loop.Quit();
                            }),
            0u);
  ASSERT_TRUE(RunFor(loop));
  ASSERT_EQ(threads.size(), 3u);
  for (DWORD id : threads) EXPECT_EQ(id, GetCurrentThreadId());
}

TEST(EventLoopTest, StoppedOrRestartedTimerDoesNotTickAgain) {
  EventLoop loop;
  ASSERT_EQ(loop.Open(), 0u);
  int stopped_ticks = 0;
  int restarted_ticks = 0;
  bool due_seen = true;
  loop.Post([&] {
    // A tick that is already due when the timer stops must not run.
    loop.StartTimer(1, 1, [&] { ++stopped_ticks; });
    due_seen = due_seen && WaitTimerDue();
    loop.StopTimer(1);
    DrainMessages();
    // Nor one due when it restarts with a long interval.
    loop.StartTimer(2, 1, [&] { ++restarted_ticks; });
    due_seen = due_seen && WaitTimerDue();
    loop.StartTimer(2, 600000, [&] { ++restarted_ticks; });
    DrainMessages();
    loop.Quit();
  });
  ASSERT_TRUE(RunFor(loop));
  EXPECT_TRUE(due_seen);
  EXPECT_EQ(stopped_ticks, 0);
  EXPECT_EQ(restarted_ticks, 0);
}

TEST(EventLoopTest, TimerStoppedByAnotherTickDoesNotTickAfterwards) {
  EventLoop loop;
  ASSERT_EQ(loop.Open(), 0u);
  bool b_stopped = false;
  int b_ticks_after_stop = 0;
  int a_ticks = 0;
  ASSERT_EQ(loop.StartTimer(2, 1, [&] { b_ticks_after_stop += b_stopped ? 1 : 0; }), 0u);
  ASSERT_EQ(loop.StartTimer(1, 1,
                            [&] {
                              if (++a_ticks == 1) {
                                loop.StopTimer(2);
                                b_stopped = true;
                              }
                              if (a_ticks == 6) loop.Quit();
                            }),
            0u);
  ASSERT_TRUE(RunFor(loop));
  EXPECT_EQ(b_ticks_after_stop, 0);
}

TEST(EventLoopTest, TimerMayRestartItselfFromItsTick) {
  EventLoop loop;
  ASSERT_EQ(loop.Open(), 0u);
  int ticks = 0;
  std::function<void()> tick = [&] {
    // Replaces the running callback: the loop must keep its own copy.
    if (++ticks < 3) {
      loop.StartTimer(1, 1, tick);
    } else {
      loop.StopTimer(1);
      loop.Quit();
    }
  };
  ASSERT_EQ(loop.StartTimer(1, 1, tick), 0u);
  ASSERT_TRUE(RunFor(loop));
  EXPECT_EQ(ticks, 3);
}

TEST(EventLoopTest, PostsFromOtherThreadsRunOnTheLoopInOrder) {
  constexpr int kThreads = 4;
  constexpr int kPosts = 250;
  EventLoop loop;
  ASSERT_EQ(loop.Open(), 0u);
  const DWORD loop_thread = GetCurrentThreadId();
  std::vector<std::vector<int>> seen(kThreads);
  int total = 0;
  bool all_on_loop = true;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kPosts; ++i) {
        loop.Post([&, t, i] {
          all_on_loop = all_on_loop && GetCurrentThreadId() == loop_thread;
          seen[t].push_back(i);
          if (++total == kThreads * kPosts) loop.Quit();
        });
      }
    });
  }
  const bool quit = RunFor(loop);
  for (std::thread& p : posters) p.join();
  ASSERT_TRUE(quit);
  EXPECT_TRUE(all_on_loop);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kPosts));
    for (int i = 0; i < kPosts; ++i) EXPECT_EQ(seen[t][i], i) << "thread " << t;
  }
}

TEST(EventLoopTest, PostsBeforeOpenRunOnceTheLoopRuns) {
  EventLoop loop;
  std::vector<std::string> ran;
  std::thread early([&] { EXPECT_TRUE(loop.Post([&] { ran.push_back("other thread"); })); });
  early.join();
  EXPECT_TRUE(loop.Post([&] { ran.push_back("this thread"); }));
  EXPECT_TRUE(ran.empty());
  ASSERT_EQ(loop.Open(), 0u);
  loop.Post([&] { loop.Quit(); });
  ASSERT_TRUE(RunFor(loop));
  EXPECT_EQ(ran, (std::vector<std::string>{"other thread", "this thread"}));
}

TEST(EventLoopTest, QuitLeavesTheRestUnrun) {
  EventLoop loop;
  ASSERT_EQ(loop.Open(), 0u);
  bool later_ran = false;
  loop.Post([&] { loop.Quit(); });
  loop.Post([&] { later_ran = true; });
  ASSERT_TRUE(RunFor(loop));
  EXPECT_FALSE(later_ran);
}

TEST(EventLoopTest, ErrorsGoToTheHandlerAndTheLoopGoesOn) {
  EventLoop loop;
  ASSERT_EQ(loop.Open(), 0u);
  std::vector<std::string> errors;
  loop.SetErrorHandler([&](const std::string& text) { errors.push_back(text); });
  ASSERT_TRUE(loop.RegisterMessage(
      WM_APP + 3, [](WPARAM, LPARAM) { throw std::runtime_error("from a message"); }));
  loop.Post([] { throw std::runtime_error("from a post"); });
  ASSERT_EQ(loop.StartTimer(1, 1,
                            [&] {
                              loop.StopTimer(1);
                              PostMessageA(loop.Window(), WM_APP + 3, 0, 0);
                              throw std::runtime_error("from a tick");
                            }),
            0u);
  // Ends the test once all three have been recorded.
  loop.StartTimer(2, 1, [&] {
    if (errors.size() == 3) loop.Quit();
  });
  ASSERT_TRUE(RunFor(loop));
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0], "from a post");
  EXPECT_EQ(errors[1], "from a tick");
  EXPECT_EQ(errors[2], "from a message");
}

TEST(EventLoopTest, RegisteredMessagesReachTheirHandlers) {
  EventLoop loop;
  ASSERT_EQ(loop.Open(), 0u);
  EXPECT_FALSE(loop.RegisterMessage(WM_USER, [](WPARAM, LPARAM) {}));
  EXPECT_FALSE(loop.RegisterMessage(EventLoop::kWakeMessage, [](WPARAM, LPARAM) {}));
  std::vector<std::pair<WPARAM, LPARAM>> got;
  DWORD handler_thread = 0;
  ASSERT_TRUE(loop.RegisterMessage(WM_APP + 1, [&](WPARAM w, LPARAM l) {
    got.emplace_back(w, l);
    handler_thread = GetCurrentThreadId();
    if (got.size() == 2) loop.Quit();
  }));
  const HWND window = loop.Window();
  std::thread sender([window] {
    PostMessageA(window, WM_APP + 1, 7, 9);
    PostMessageA(window, WM_APP + 1, 8, 10);
  });
  sender.join();
  ASSERT_TRUE(RunFor(loop));
  EXPECT_EQ(got, (std::vector<std::pair<WPARAM, LPARAM>>{{7, 9}, {8, 10}}));
  EXPECT_EQ(handler_thread, GetCurrentThreadId());
}

TEST(EventLoopTest, ClosedLoopRefusesPostsAlsoThroughAPosterThatOutlivesIt) {
  std::optional<EventLoop::Poster> poster;
  auto token = std::make_shared<int>(0);
  bool ran = false;
  {
    EventLoop loop;
    ASSERT_EQ(loop.Open(), 0u);
    poster = loop.GetPoster();
    EXPECT_TRUE(poster->Post([&ran, token] { ran = true; }));
    EXPECT_EQ(loop.StartTimer(1, 1, [] {}), 0u);
    loop.Close();
    EXPECT_EQ(loop.Window(), nullptr);
    // What was queued is gone, never run.
    EXPECT_EQ(token.use_count(), 1);
    EXPECT_FALSE(loop.Post([&ran] { ran = true; }));
    EXPECT_NE(loop.StartTimer(1, 1, [] {}), 0u);
    loop.Run();  // returns at once
  }
  EXPECT_FALSE(poster->Post([&ran] { ran = true; }));
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace halv
