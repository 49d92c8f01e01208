// StartServiceAndWait against the simulated manager: the pause derived from
// the wait hint, progress by check point, giving up, and the codes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "scm_fixture.h"

namespace halv {
namespace {

class StartTest : public ScmTest {
 protected:
  // Manager calls take no time here, so the clock moves by pauses alone.
  void SetUp() override { scm.SetCallCost(0); }
};

struct PauseCase {
  std::uint32_t wait_hint;
  std::uint32_t expected_pause;
};

const PauseCase kPauseCases[] = {
    {0, 1000},     {3000, 1000},  {9999, 1000},    {10000, 1000},   {10010, 1001},
    {50000, 5000}, {99999, 9999}, {100000, 10000}, {200000, 10000}, {0xFFFFFFFFu, 10000},
};

class StartPauseTest : public StartTest, public ::testing::WithParamInterface<PauseCase> {};

TEST_P(StartPauseTest, PollsEveryTenthOfTheWaitHintWithinLimits) {
  const PauseCase& c = GetParam();
  SimulatedService& svc = scm.AddService("Svc", "Some Service");
  svc.start_wait_hint = c.wait_hint;
  svc.start_delay_ms = 3 * c.expected_pause + 1;  // runs at the fourth poll
  svc.check_point_every_ms = c.expected_pause;    // progress at every poll

  EXPECT_EQ(StartServiceAndWait(scm, "Svc"), 0u);
  EXPECT_EQ(scm.StateOf("Svc"), kStateRunning);
  EXPECT_EQ(scm.Pauses(), std::vector<std::uint32_t>(4, c.expected_pause));
}

INSTANTIATE_TEST_SUITE_P(Start, StartPauseTest, ::testing::ValuesIn(kPauseCases),
                         [](const auto& info) {
                           return "WaitHint" + std::to_string(info.param.wait_hint);
                         });

struct WaitCase {
  const char* label;
  std::uint32_t start_delay_ms;
  std::uint32_t start_wait_hint;
  std::uint32_t check_point_every_ms;
  std::uint32_t start_exit_code;
  std::uint32_t expected_code;
  std::size_t expected_pauses;
  std::uint32_t expected_state;
};

const WaitCase kWaitCases[] = {
    {"RunsAtOnce", 0, 0, 0, 0, 0, 0, kStateRunning},
    // No progress: polls at 1000, 2000, 3000 are within the 3000 ms hint; the
    // one at 4000 is past it.
    {"NoProgressGivesUpAfterWaitHint", kForever, 3000, 0, 0, kErrorServiceRequestTimeout, 4,
     kStateStartPending},
    {"NoProgressButRunsInTime", 2500, 3000, 0, 0, 0, 3, kStateRunning},
    // Progress keeps the wait going far beyond the wait hint.
    {"ProgressKeepsWaiting", 20000, 3000, 2000, 0, 0, 20, kStateRunning},
    {"StartFailsWithExitCode", 2000, 3000, 1000, 1067, 1067, 2, kStateStopped},
};

class StartWaitTest : public StartTest, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(StartWaitTest, WaitsWhileStartPending) {
  const WaitCase& c = GetParam();
  SimulatedService& svc = scm.AddService("Svc", "Some Service");
  svc.start_delay_ms = c.start_delay_ms;
  svc.start_wait_hint = c.start_wait_hint;
  svc.check_point_every_ms = c.check_point_every_ms;
  svc.start_exit_code = c.start_exit_code;

  const std::uint32_t code = StartServiceAndWait(scm, "Svc");
  EXPECT_EQ(code, c.expected_code);
  EXPECT_EQ(scm.Pauses().size(), c.expected_pauses);
  EXPECT_EQ(scm.StateOf("Svc"), c.expected_state);
  if (c.expected_state != kStateRunning) {
    EXPECT_NE(code, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Start, StartWaitTest, ::testing::ValuesIn(kWaitCases),
                         [](const auto& info) { return std::string(info.param.label); });

// Progress that stops part-way: the give-up is measured from the last check
// point that advanced.
TEST_F(StartTest, GivesUpWaitHintAfterLastProgress) {
  SimulatedService& svc = scm.AddService("Svc", "Some Service");
  svc.start_delay_ms = kForever;
  svc.start_wait_hint = 3000;
  svc.check_point_every_ms = 1000;
  int polls = 0;
  scm.SetHook([&](const SimulatedCall& call) {
    // After the fifth poll the service stops advancing its check point.
    if (call.op == "QueryStatus" && ++polls == 6) scm.Find("Svc")->check_point_every_ms = 0;
  });
  EXPECT_EQ(StartServiceAndWait(scm, "Svc"), kErrorServiceRequestTimeout);
  scm.SetHook(nullptr);
  // Five polls with progress, then four without (the last past the hint).
  EXPECT_EQ(scm.Pauses().size(), 9u);
}

// The tick counter wraps while the start makes no progress: the give-up still
// comes after the wait hint, neither at once nor never.
TEST_F(StartTest, CounterWrapDoesNotChangeWhenTheWaitGivesUp) {
  scm.SetTickCount(0xFFFFFFFFu - 1500);
  SimulatedService& svc = scm.AddService("Svc", "Some Service");
  svc.start_delay_ms = kForever;
  svc.start_wait_hint = 3000;
  EXPECT_EQ(StartServiceAndWait(scm, "Svc"), kErrorServiceRequestTimeout);
  EXPECT_EQ(scm.Pauses(), std::vector<std::uint32_t>(4, 1000));
}

TEST_F(StartTest, ServiceThatStopsWithoutErrorIsNotReportedAsSuccess) {
  SimulatedService& svc = scm.AddService("Svc", "Some Service");
  svc.start_delay_ms = kForever;
  svc.start_wait_hint = 3000;
  int polls = 0;
  scm.SetHook([&](const SimulatedCall& call) {
    if (call.op == "QueryStatus" && ++polls == 2) scm.SetState("Svc", kStateStopped);
  });
  EXPECT_EQ(StartServiceAndWait(scm, "Svc"), kErrorServiceNotActive);
  scm.SetHook(nullptr);
}

TEST_F(StartTest, QueryFailureWhileWaitingReturnsItsCode) {
  SimulatedService& svc = scm.AddService("Svc", "Some Service");
  svc.start_delay_ms = 10000;
  svc.start_wait_hint = 30000;
  svc.check_point_every_ms = 500;
  svc.refuse_query = kErrorAccessDenied;
  svc.queries_before_refusal = 2;
  EXPECT_EQ(StartServiceAndWait(scm, "Svc"), kErrorAccessDenied);
  EXPECT_EQ(scm.CountCalls("QueryStatus"), 3u);
}

struct StartRefusalCase {
  const char* label;
  const char* name;
  std::uint32_t state;
  std::uint32_t start_type;
  std::uint32_t refuse_start;
  std::uint32_t expected_code;
};

const StartRefusalCase kStartRefusals[] = {
    {"AlreadyRunning", "Svc", kStateRunning, 3, 0, kErrorServiceAlreadyRunning},
    {"Disabled", "Svc", kStateStopped, 4, 0, kErrorServiceDisabled},
    {"UnknownName", "NoSuchService", kStateStopped, 3, 0, kErrorServiceDoesNotExist},
    {"EmptyName", "", kStateStopped, 3, 0, kErrorInvalidName},
    {"LogonFails", "Svc", kStateStopped, 3, 1069, 1069},
};

class StartRefusalTest : public StartTest,
                         public ::testing::WithParamInterface<StartRefusalCase> {};

TEST_P(StartRefusalTest, ReturnsTheManagersCode) {
  const StartRefusalCase& c = GetParam();
  SimulatedService& svc = scm.AddService("Svc", "Some Service", c.state);
  svc.start_type = c.start_type;
  svc.refuse_start = c.refuse_start;
  EXPECT_EQ(StartServiceAndWait(scm, c.name), c.expected_code);
  EXPECT_TRUE(scm.Pauses().empty());
  EXPECT_EQ(scm.StateOf("Svc"), c.state);
}

INSTANTIATE_TEST_SUITE_P(Start, StartRefusalTest, ::testing::ValuesIn(kStartRefusals),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(StartTest, AsksOnlyForStartAndStatus) {
  scm.AddService("Svc", "Some Service");
  EXPECT_EQ(StartServiceAndWait(scm, "Svc"), 0u);
  EXPECT_EQ(scm.Transcript(),
            "OpenManager SCM 1 -> 0\n"
            "OpenService Svc 20 -> 0\n"
            "Start Svc 0 -> 0\n"
            "QueryStatus Svc 0 -> 0\n"
            "Close Svc 0 -> 0\n"
            "Close SCM 0 -> 0\n");
}

// The overall deadline: a service that keeps advancing its check point is
// given up at the deadline, and no pause runs past it.
struct DeadlineCase {
  const char* label;
  std::uint32_t first_tick;
  std::uint32_t deadline_ms;  // 0: the default
  std::uint32_t start_delay_ms;
  std::uint32_t expected_code;
};

const DeadlineCase kDeadlineCases[] = {
    {"ProgressForeverEndsAtTheDefault", 1000000, 0, kForever, kErrorServiceRequestTimeout},
    {"RunsJustBeforeTheDefault", 1000000, 0, kStartDeadlineMs - 500, 0},
    {"ProgressForeverEndsAtAShortDeadline", 1000000, 4500, kForever, kErrorServiceRequestTimeout},
    {"CounterWrapsThenTheDeadline", 0xFFFFFFFFu - 2500, 4500, kForever,
     kErrorServiceRequestTimeout},
};

class StartDeadlineTest : public StartTest, public ::testing::WithParamInterface<DeadlineCase> {};

TEST_P(StartDeadlineTest, ProgressDoesNotOutlastTheDeadline) {
  const DeadlineCase& c = GetParam();
  scm.SetTickCount(c.first_tick);
  SimulatedService& svc = scm.AddService("Svc", "Some Service");
  svc.start_delay_ms = c.start_delay_ms;
  svc.start_wait_hint = 3000;
  svc.check_point_every_ms = 1000;  // progress at every poll
  const std::uint32_t deadline = c.deadline_ms != 0 ? c.deadline_ms : kStartDeadlineMs;

  const std::uint32_t code = c.deadline_ms != 0 ? StartServiceAndWait(scm, "Svc", c.deadline_ms)
                                                : StartServiceAndWait(scm, "Svc");
  EXPECT_EQ(code, c.expected_code);
  if (c.expected_code == 0) {
    EXPECT_EQ(scm.StateOf("Svc"), kStateRunning);
    EXPECT_LE(scm.Elapsed(), c.start_delay_ms + 1000);
  } else {
    EXPECT_EQ(scm.StateOf("Svc"), kStateStartPending);
    // Ends at the first tick past the deadline, not a pause later.
    EXPECT_EQ(scm.Elapsed(), std::uint64_t{deadline} + 1);
  }
  for (std::uint32_t pause : scm.Pauses()) EXPECT_LE(pause, 1000u);
}

INSTANTIATE_TEST_SUITE_P(Start, StartDeadlineTest, ::testing::ValuesIn(kDeadlineCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(StartTest, ManagerRefusedReturnsItsCode) {
  scm.AddService("Svc", "Some Service");
  scm.RefuseOpenManager(kErrorAccessDenied);
  EXPECT_EQ(StartServiceAndWait(scm, "Svc"), kErrorAccessDenied);
}

}  // namespace
}  // namespace halv
