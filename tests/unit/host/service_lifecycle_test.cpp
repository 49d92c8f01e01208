// ServiceLifecycle: the status sequence the manager sees for a start, a
// stop, a shutdown, failed starts and controls that come early, late or
// twice; and a stop from another thread while the service runs.
#include "service_lifecycle.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace halv {
namespace {

using State = HostedState;

class RecordingSink final : public StatusSink {
 public:
  void Report(const StatusReport& status) override {
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.push_back(status);
  }
  std::vector<StatusReport> reports() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<StatusReport> reports_;
};

// A service whose steps succeed unless told otherwise. Each step may run a
// hook (to send a control at that moment). Run carries out the control it
// was asked for, as the real service's loop does, and records it.
class FakeService final : public HostedService {
 public:
  std::uint32_t Open() override { return Step("open", open_result); }
  std::uint32_t Start() override { return Step("start", start_result); }
  std::uint32_t Run() override {
    Step("run", 0);
    if (requested) calls.push_back(*requested == ServiceControl::kStop ? "stop" : "shutdown");
    return run_result;
  }
  void RequestControl(ServiceControl control) override {
    calls.push_back("request");
    requested = control;
  }

  std::uint32_t open_result = 0;
  std::uint32_t start_result = 0;
  std::uint32_t run_result = 0;
  bool start_throws = false;
  std::function<void()> on_open, on_start, on_run;
  std::optional<ServiceControl> requested;
  std::vector<std::string> calls;

 private:
  std::uint32_t Step(const char* name, std::uint32_t result) {
    calls.push_back(name);
    const std::string step = name;
    if (step == "open" && on_open) on_open();
    if (step == "start" && on_start) on_start();
    if (step == "run" && on_run) on_run();
    if (step == "start" && start_throws) throw std::runtime_error("no start");
    return result;
  }
};

StatusReport Pending(State state, std::uint32_t check_point) {
  StatusReport r;
  r.state = state;
  r.check_point = check_point;
  r.wait_hint_ms = kPendingWaitHintMs;
  return r;
}
StatusReport Running() {
  StatusReport r;
  r.state = State::kRunning;
  r.accepts_stop = true;
  return r;
}
StatusReport Stopped(std::uint32_t exit_code) {
  StatusReport r;
  r.state = State::kStopped;
  r.exit_code = exit_code;
  return r;
}

std::string Describe(const std::vector<StatusReport>& reports) {
  std::string out;
  for (const StatusReport& r : reports) {
    out += "{state " + std::to_string(static_cast<int>(r.state)) + " accepts " +
           std::to_string(r.accepts_stop) + " exit " + std::to_string(r.exit_code) + " cp " +
           std::to_string(r.check_point) + " hint " + std::to_string(r.wait_hint_ms) + "} ";
  }
  return out;
}

struct Case {
  const char* name;
  // Sets the fake up; `lifecycle` is the one under test.
  std::function<void(FakeService&, ServiceLifecycle&)> arrange;
  std::vector<StatusReport> reports;
  std::vector<std::string> calls;
  std::uint32_t exit_code;
};

TEST(ServiceLifecycleTest, StatusSequences) {
  const StatusReport start1 = Pending(State::kStartPending, 1);
  const StatusReport start2 = Pending(State::kStartPending, 2);
  const StatusReport stop1 = Pending(State::kStopPending, 1);
  const Case cases[] = {
      {"stop while running",
       [](FakeService& s, ServiceLifecycle& l) {
         s.on_run = [&l] { l.Control(ServiceControl::kStop); };
       },
       {start1, start2, Running(), stop1, Stopped(0)},
       {"open", "start", "run", "request", "stop"},
       0},
      {"shutdown while running: stop pending too",
       [](FakeService& s, ServiceLifecycle& l) {
         s.on_run = [&l] { l.Control(ServiceControl::kShutdown); };
       },
       {start1, start2, Running(), stop1, Stopped(0)},
       {"open", "start", "run", "request", "shutdown"},
       0},
      {"a second control and a shutdown after a stop change nothing",
       [](FakeService& s, ServiceLifecycle& l) {
         s.on_run = [&l] {
           l.Control(ServiceControl::kStop);
           l.Control(ServiceControl::kStop);
           l.Control(ServiceControl::kShutdown);
         };
       },
       {start1, start2, Running(), stop1, Stopped(0)},
       {"open", "start", "run", "request", "stop"},
       0},
      {"failed start stops with its code",
       [](FakeService& s, ServiceLifecycle&) { s.start_result = kServiceSpecificExitCode; },
       {start1, start2, Stopped(kServiceSpecificExitCode)},
       {"open", "start"},
       kServiceSpecificExitCode},
      {"a start that raises stops as a failure of the service's own",
       [](FakeService& s, ServiceLifecycle&) { s.start_throws = true; },
       {start1, start2, Stopped(kServiceSpecificExitCode)},
       {"open", "start"},
       kServiceSpecificExitCode},
      {"failed open stops with the system's code, nothing started",
       [](FakeService& s, ServiceLifecycle&) { s.open_result = 1400; },
       {start1, Stopped(1400)},
       {"open"},
       1400},
      {"stop during the start: never reported running, carried out by the loop",
       [](FakeService& s, ServiceLifecycle& l) {
         s.on_start = [&l] { l.Control(ServiceControl::kStop); };
       },
       {start1, start2, stop1, Stopped(0)},
       {"open", "start", "request", "run", "stop"},
       0},
      {"shutdown before the loop exists is kept",
       [](FakeService& s, ServiceLifecycle& l) {
         s.on_open = [&l] { l.Control(ServiceControl::kShutdown); };
       },
       {start1, start2, stop1, Stopped(0)},
       {"open", "request", "start", "run", "shutdown"},
       0},
      {"the run's exit code is reported",
       [](FakeService& s, ServiceLifecycle& l) {
         s.run_result = 42;
         s.on_run = [&l] { l.Control(ServiceControl::kStop); };
       },
       {start1, start2, Running(), stop1, Stopped(42)},
       {"open", "start", "run", "request", "stop"},
       42},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSink sink;
    FakeService service;
    ServiceLifecycle lifecycle(sink, service);
    c.arrange(service, lifecycle);
    EXPECT_EQ(lifecycle.Run(), c.exit_code);
    EXPECT_EQ(sink.reports(), c.reports) << Describe(sink.reports());
    EXPECT_EQ(service.calls, c.calls);
    EXPECT_EQ(lifecycle.State(), State::kStopped);
  }
}

TEST(ServiceLifecycleTest, ControlAfterStoppedIsIgnored) {
  RecordingSink sink;
  FakeService service;
  service.start_result = 5;
  ServiceLifecycle lifecycle(sink, service);
  ASSERT_EQ(lifecycle.Run(), 5u);
  const std::size_t reports = sink.reports().size();
  lifecycle.Control(ServiceControl::kStop);
  EXPECT_EQ(sink.reports().size(), reports);
  EXPECT_FALSE(service.requested.has_value());
}

// The real arrangement: the service thread runs until the control thread's
// stop has been carried out on it.
class BlockingService final : public HostedService {
 public:
  std::uint32_t Open() override { return 0; }
  std::uint32_t Start() override { return 0; }
  std::uint32_t Run() override {
    std::unique_lock<std::mutex> lock(mutex_);
    running_ = true;
    changed_.notify_all();
    if (!changed_.wait_for(lock, std::chrono::seconds(10), [this] { return requested_; }))
      return 99;  // never asked: the test fails on the exit code
    return 0;
  }
  void RequestControl(ServiceControl) override {
    std::lock_guard<std::mutex> lock(mutex_);
    requested_ = true;
    changed_.notify_all();
  }
  bool WaitRunning() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return running_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool running_ = false;
  bool requested_ = false;
};

TEST(ServiceLifecycleTest, StopFromTheControlThreadEndsTheRun) {
  RecordingSink sink;
  BlockingService service;
  ServiceLifecycle lifecycle(sink, service);
  std::uint32_t exit_code = 1;
  std::thread service_thread([&] { exit_code = lifecycle.Run(); });
  ASSERT_TRUE(service.WaitRunning());
  EXPECT_EQ(lifecycle.State(), State::kRunning);
  lifecycle.Control(ServiceControl::kStop);
  service_thread.join();
  EXPECT_EQ(exit_code, 0u);
  const std::vector<StatusReport> expected = {Pending(State::kStartPending, 1),
                                              Pending(State::kStartPending, 2), Running(),
                                              Pending(State::kStopPending, 1), Stopped(0)};
  EXPECT_EQ(sink.reports(), expected) << Describe(sink.reports());
}

}  // namespace
}  // namespace halv
