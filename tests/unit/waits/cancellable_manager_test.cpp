// The cancellable manager: once its signal is raised an operation ends at
// its next step with 995 and gives back every handle, a pause on the signal
// ends early, and calls before the signal pass through unchanged.
#include "cancellable_manager.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "service_control.h"
#include "simulated_manager.h"

namespace halv {
namespace {

class CancellableTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(scm_.OpenHandleCount(), 0u) << scm_.Transcript();
    EXPECT_EQ(scm_.BadCloseCount(), 0u);
  }

  SimulatedManager scm_;
  std::shared_ptr<CancelSignal> cancel_ = std::make_shared<CancelSignal>();
  CancellableManager manager_{std::shared_ptr<ServiceManager>(&scm_, [](ServiceManager*) {}),
                              cancel_};
};

struct CancelCase {
  const char* label;
  bool start;               // START, else STOP
  std::size_t raise_after;  // status queries before the signal; 0: raised first
};

// The pauses before the signal pass in real time on it (a tenth of a second
// for the stop, a second for the start), so the mid-wait cases raise it
// after few of them.

const CancelCase kCancelCases[] = {
    {"StopRaisedBefore", false, 0},
    {"StopRaisedMidWait", false, 3},
    {"StartRaisedBefore", true, 0},
    {"StartRaisedMidWait", true, 2},
};

class CancelTableTest : public CancellableTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelTableTest, EndsAtTheNextStepWithItsHandlesClosed) {
  const CancelCase& c = GetParam();
  SimulatedService& svc =
      scm_.AddService("Svc", "Some Service", c.start ? kStateStopped : kStateRunning);
  svc.stop_delay_ms = kForever;
  svc.stop_wait_hint = 0;
  svc.start_delay_ms = kForever;
  svc.start_wait_hint = 10000;
  svc.check_point_every_ms = 100;
  if (c.raise_after == 0) cancel_->Raise();
  std::size_t queries = 0;
  scm_.SetHook([&](const SimulatedCall& call) {
    if (call.op == "QueryStatus" && ++queries == c.raise_after) cancel_->Raise();
  });

  const std::uint32_t code = c.start ? StartServiceAndWait(manager_, "Svc")
                                     : StopServiceAndDependents(manager_, "Svc", true, 600000);
  scm_.SetHook(nullptr);
  EXPECT_EQ(code, kErrorOperationAborted);
  EXPECT_EQ(scm_.CountCalls("QueryStatus"), c.raise_after);
  // Every pause was on the signal, none on the manager's clock.
  EXPECT_TRUE(scm_.Pauses().empty());
}

INSTANTIATE_TEST_SUITE_P(Cancel, CancelTableTest, ::testing::ValuesIn(kCancelCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(CancellableTest, PassesCallsThroughUntilRaised) {
  SimulatedService& svc = scm_.AddService("Svc", "Some Service", kStateRunning);
  svc.stop_delay_ms = 0;
  svc.stop_wait_hint = 0;
  EXPECT_EQ(StopServiceAndDependents(manager_, "Svc", true, 30000), 0u);
  EXPECT_EQ(scm_.CountCalls("Control"), 1u);
  EXPECT_TRUE(scm_.Pauses().empty());  // pauses wait on the signal, not the manager
  EXPECT_EQ(QueryServiceState(manager_, "Svc"), kStateStopped);
}

// A pause on the signal (real time) ends when another thread raises it. A
// failure shows as a test that takes a minute, not as a hang.
TEST(CancelSignalTest, PauseOnTheSignalEndsWhenRaised) {
  auto cancel = std::make_shared<CancelSignal>();
  SimulatedManager scm;
  CancellableManager manager(std::shared_ptr<ServiceManager>(&scm, [](ServiceManager*) {}), cancel);
  std::thread raiser([&] { cancel->Raise(); });
  manager.Pause(60000);
  raiser.join();
  EXPECT_TRUE(cancel->Raised());
  EXPECT_TRUE(cancel->WaitFor(60000));  // raised: returns at once
  EXPECT_TRUE(scm.Pauses().empty());    // the simulated clock is not used
}

TEST(CancelSignalTest, UnraisedWaitRunsItsCourse) {
  CancelSignal cancel;
  EXPECT_FALSE(cancel.WaitFor(1));
  EXPECT_FALSE(cancel.Raised());
}

}  // namespace
}  // namespace halv
