// StopServiceAndDependents against the simulated manager: pauses, time-outs,
// pending stops, dependants and failures part-way.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "scm_fixture.h"

namespace halv {
namespace {

std::vector<std::uint32_t> Repeat(std::size_t n, std::uint32_t ms) {
  return std::vector<std::uint32_t>(n, ms);
}

// `n` pauses of `ms`, then the last one, cut short at the time-out.
std::vector<std::uint32_t> RepeatThen(std::size_t n, std::uint32_t ms, std::uint32_t last) {
  std::vector<std::uint32_t> pauses(n, ms);
  pauses.push_back(last);
  return pauses;
}

struct StopCase {
  const char* label;
  std::uint32_t state;  // state before the call
  std::uint32_t stop_delay_ms;
  std::uint32_t stop_wait_hint;
  bool accepts_stop;
  std::uint32_t timeout_ms;
  std::uint32_t expected_code;
  std::size_t expected_controls;
  std::vector<std::uint32_t> expected_pauses;
  std::uint32_t expected_state;  // after the call
};

const StopCase kStopCases[] = {
    {"AlreadyStopped", kStateStopped, 0, 0, true, 30000, 0, 0, {}, kStateStopped},
    {"StopsAtOnce", kStateRunning, 0, 0, true, 30000, 0, 1, {}, kStateStopped},
    {"PausesByWaitHint", kStateRunning, 7000, 3000, true, 30000, 0, 1, Repeat(3, 3000),
     kStateStopped},
    // The last pause ends just past the time-out (each manager call costs
    // 1 virtual ms), not a whole wait hint later.
    {"NeverStopsTimesOut", kStateRunning, kForever, 1000, true, 10000, kErrorTimeout, 1,
     RepeatThen(9, 1000, 987), kStateStopPending},
    // A wait hint of 0 (or below the minimum) still pauses between polls.
    {"WaitHintZeroPausesTheMinimum", kStateRunning, 500, 0, true, 30000, 0, 1, Repeat(5, 100),
     kStateStopped},
    {"SmallWaitHintPausesTheMinimum", kStateRunning, 500, 7, true, 30000, 0, 1, Repeat(5, 100),
     kStateStopped},
    {"WaitHintZeroTimesOut", kStateRunning, kForever, 0, true, 2000, kErrorTimeout, 1,
     RepeatThen(19, 100, 77), kStateStopPending},
    // A time-out of 0 gives up at the first poll after the stop control.
    {"ZeroTimeOutGivesUpAtFirstPoll",
     kStateRunning,
     5000,
     1000,
     true,
     0,
     kErrorTimeout,
     1,
     {},
     kStateStopPending},
    {"PendingStopIsWaitedFor", kStateStopPending, 5000, 2000, true, 30000, 0, 0, Repeat(3, 2000),
     kStateStopped},
    {"PendingStopTimesOut", kStateStopPending, kForever, 2000, true, 9000, kErrorTimeout, 0,
     RepeatThen(4, 2000, 994), kStateStopPending},
    {"RefusesStopControl",
     kStateRunning,
     0,
     0,
     false,
     30000,
     kErrorInvalidServiceControl,
     1,
     {},
     kStateRunning},
    {"StartPendingCannotAccept",
     kStateStartPending,
     0,
     0,
     true,
     30000,
     kErrorServiceCannotAcceptCtrl,
     1,
     {},
     kStateStartPending},
};

class StopTableTest : public ScmTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopTableTest, ResultPausesAndState) {
  const StopCase& c = GetParam();
  SimulatedService& svc = scm.AddService("Svc", "Some Service", c.state);
  svc.stop_delay_ms = c.stop_delay_ms;
  svc.stop_wait_hint = c.stop_wait_hint;
  svc.accepts_stop = c.accepts_stop;
  svc.start_delay_ms = kForever;

  EXPECT_EQ(StopServiceAndDependents(scm, "Svc", true, c.timeout_ms), c.expected_code);
  EXPECT_EQ(scm.CountCalls("Control", "Svc"), c.expected_controls);
  EXPECT_EQ(scm.Pauses(), c.expected_pauses);
  EXPECT_EQ(scm.StateOf("Svc"), c.expected_state);
  // The clock is read before anything else.
  ASSERT_FALSE(scm.Calls().empty());
  EXPECT_EQ(scm.Calls().front().op, "TickCount");
}

INSTANTIATE_TEST_SUITE_P(Stop, StopTableTest, ::testing::ValuesIn(kStopCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(ScmTest, WaitHintZeroStillPausesBetweenPolls) {
  SimulatedService& svc = scm.AddService("Svc", "Some Service", kStateRunning);
  svc.stop_delay_ms = 500;  // each manager call takes 1 virtual ms
  EXPECT_EQ(StopServiceAndDependents(scm, "Svc", false, 30000), 0u);
  ASSERT_FALSE(scm.Pauses().empty());
  for (std::uint32_t pause : scm.Pauses()) EXPECT_EQ(pause, kMinimumStopPauseMs);
  // A handful of polls, not one per virtual millisecond.
  EXPECT_LE(scm.CountCalls("QueryStatus", "Svc"), 500 / kMinimumStopPauseMs + 2);
}

// A service that reports an enormous wait hint cannot hold the caller past
// the time-out: the pause is cut at the time-out.
TEST_F(ScmTest, HugeWaitHintCannotOutlastTheTimeOut) {
  SimulatedService& svc = scm.AddService("Svc", "Some Service", kStateRunning);
  svc.stop_delay_ms = kForever;
  svc.stop_wait_hint = 0xFFFFFFFFu;
  EXPECT_EQ(StopServiceAndDependents(scm, "Svc", false, 5000), kErrorTimeout);
  ASSERT_EQ(scm.Pauses().size(), 1u);
  EXPECT_LE(scm.Pauses()[0], 5001u);
}

// The time is up at the first poll that finds more than the time-out passed
// since the clock was read, not before.
TEST_F(ScmTest, TimeOutEndsAtFirstPollPastTheLimit) {
  SimulatedService& svc = scm.AddService("Svc", "Some Service", kStateRunning);
  svc.stop_delay_ms = kForever;
  svc.stop_wait_hint = 700;
  const std::uint32_t timeout = 10000;
  EXPECT_EQ(StopServiceAndDependents(scm, "Svc", false, timeout), kErrorTimeout);

  const std::uint32_t start = scm.Calls().front().result;
  std::vector<std::uint32_t> query_ticks;
  for (const SimulatedCall& call : scm.Calls()) {
    if (call.op == "QueryStatus") query_ticks.push_back(call.tick);
  }
  ASSERT_GE(query_ticks.size(), 2u);
  EXPECT_GT(query_ticks.back() - start, timeout);
  EXPECT_LE(query_ticks[query_ticks.size() - 2] - start, timeout);
}

struct WrapCase {
  const char* label;
  std::uint32_t first_tick;
  std::uint32_t stop_delay_ms;
  std::uint32_t timeout_ms;
  std::uint32_t expected_code;
};

const WrapCase kWrapCases[] = {
    // The counter passes 2^32 during the stop; the stop still completes.
    {"WrapsThenStops", 0xFFFFFFFFu - 500, 3000, 30000, 0},
    {"WrapsAtOnce", 0xFFFFFFFFu, 5000, 30000, 0},
    {"WrapsNearTimeOutLimit", 0xFFFFFFFFu - 20000, 25000, 30000, 0},
    // A genuine time-out across the wrap comes after the full time-out.
    {"WrapsThenTimesOut", 0xFFFFFFFFu - 1000, kForever, 5000, kErrorTimeout},
};

class StopWrapTest : public ScmTest, public ::testing::WithParamInterface<WrapCase> {};

TEST_P(StopWrapTest, CounterWrapDoesNotEndTheWaitEarly) {
  const WrapCase& c = GetParam();
  scm.SetTickCount(c.first_tick);
  SimulatedService& svc = scm.AddService("Svc", "Some Service", kStateRunning);
  svc.stop_delay_ms = c.stop_delay_ms;
  svc.stop_wait_hint = 1000;

  EXPECT_EQ(StopServiceAndDependents(scm, "Svc", false, c.timeout_ms), c.expected_code);
  EXPECT_LT(scm.Now(), c.first_tick) << "the counter did not wrap";
  if (c.expected_code == 0) {
    EXPECT_EQ(scm.StateOf("Svc"), kStateStopped);
    EXPECT_LT(scm.Elapsed(), c.stop_delay_ms + 1000 + 10);
  } else {
    EXPECT_GT(scm.Elapsed(), c.timeout_ms);
  }
}

INSTANTIATE_TEST_SUITE_P(Stop, StopWrapTest, ::testing::ValuesIn(kWrapCases),
                         [](const auto& info) { return std::string(info.param.label); });

// --- Dependants ---

class StopDependantsTest : public ScmTest {
 protected:
  void SetUp() override {
    for (const char* name : {"Svc", "DepA", "DepB", "DepC"}) {
      SimulatedService& s = scm.AddService(name, std::string(name) + " display", kStateRunning);
      s.stop_delay_ms = 1500;
      s.stop_wait_hint = 1000;
    }
    scm.SetState("DepC", kStateStopped);
    scm.AddDependency("Svc", "DepA");
    scm.AddDependency("Svc", "DepC");
    scm.AddDependency("Svc", "DepB");
  }
};

TEST_F(StopDependantsTest, FlagOffWithRunningDependantsIsRefused) {
  EXPECT_EQ(StopServiceAndDependents(scm, "Svc", false, 30000), kErrorDependentServicesRunning);
  EXPECT_EQ(scm.CountCalls("EnumDependents"), 0u);
  EXPECT_EQ(scm.StateOf("Svc"), kStateRunning);
  EXPECT_EQ(scm.StateOf("DepA"), kStateRunning);
  EXPECT_EQ(scm.StateOf("DepB"), kStateRunning);
}

TEST_F(StopDependantsTest, FlagOnStopsDependantsOneByOneThenTheService) {
  EXPECT_EQ(StopServiceAndDependents(scm, "Svc", true, 30000), 0u);
  for (const char* name : {"Svc", "DepA", "DepB"}) EXPECT_EQ(scm.StateOf(name), kStateStopped);

  // DepA is stopped and closed before DepB is opened; both before the service
  // gets its stop control. The stopped DepC is not touched.
  const int a_stopped = LastIndexOf("QueryStatus", "DepA");
  const int a_closed = IndexOf("Close", "DepA");
  const int b_opened = IndexOf("OpenService", "DepB");
  const int b_closed = IndexOf("Close", "DepB");
  const int svc_control = IndexOf("Control", "Svc");
  EXPECT_LT(IndexOf("Control", "DepA"), a_stopped);
  EXPECT_LT(a_stopped, a_closed);
  EXPECT_LT(a_closed, b_opened);
  EXPECT_LT(LastIndexOf("QueryStatus", "DepB"), b_closed);
  EXPECT_LT(b_closed, svc_control);
  EXPECT_EQ(IndexOf("OpenService", "DepC"), -1);
  EXPECT_EQ(scm.CountCalls("Control"), 3u);
}

TEST_F(StopDependantsTest, AccessRightsAskedForEachHandle) {
  EXPECT_EQ(StopServiceAndDependents(scm, "Svc", true, 30000), 0u);
  for (const SimulatedCall& call : scm.Calls()) {
    if (call.op == "OpenManager") {
      EXPECT_EQ(call.arg, kScManagerConnect);
    }
    if (call.op == "OpenService" && call.target == "Svc") {
      EXPECT_EQ(call.arg, 0x2Cu);
    }
    if (call.op == "OpenService" && call.target != "Svc") {
      EXPECT_EQ(call.arg, 0x24u);
    }
  }
  // The first dependants query has no buffer, the second the size named.
  std::vector<std::uint32_t> enum_sizes;
  for (const SimulatedCall& call : scm.Calls()) {
    if (call.op == "EnumDependents") enum_sizes.push_back(call.arg);
  }
  const std::uint32_t size = SimulatedManager::EntrySize(*scm.Find("DepA")) +
                             SimulatedManager::EntrySize(*scm.Find("DepB"));
  EXPECT_EQ(enum_sizes, (std::vector<std::uint32_t>{0, size}));
}

// The dependants a stop stopped are recorded in stop order, also when a
// later one fails; ListActiveDependants names the same ones beforehand.
TEST_F(StopDependantsTest, RecordsTheDependantsItStoppedAndListsThemBefore) {
  std::vector<ServiceEntry> listed;
  EXPECT_EQ(ListActiveDependants(scm, "Svc", &listed), 0u);
  std::vector<std::string> names;
  for (const ServiceEntry& entry : listed) names.push_back(entry.service_name);
  EXPECT_EQ(names, (std::vector<std::string>{"DepA", "DepB"}));
  EXPECT_EQ(listed[0].display_name, "DepA display");
  EXPECT_EQ(scm.CountCalls("Control"), 0u);
  EXPECT_EQ(scm.OpenHandleCount(), 0u);

  std::vector<std::string> stopped = {"kept"};
  EXPECT_EQ(StopServiceAndDependents(scm, "Svc", true, 30000, &stopped), 0u);
  EXPECT_EQ(stopped, (std::vector<std::string>{"kept", "DepA", "DepB"}));
  EXPECT_EQ(ListActiveDependants(scm, "Svc", &listed), 0u);
  EXPECT_TRUE(listed.empty());

  scm.SetState("Svc", kStateRunning);
  scm.SetState("DepA", kStateRunning);
  scm.SetState("DepB", kStateRunning);
  scm.Find("DepB")->refuse_control = kErrorInvalidServiceControl;
  stopped.clear();
  EXPECT_EQ(StopServiceAndDependents(scm, "Svc", true, 30000, &stopped),
            kErrorInvalidServiceControl);
  EXPECT_EQ(stopped, (std::vector<std::string>{"DepA"}));
}

TEST_F(StopDependantsTest, ListingFailuresGiveTheirCode) {
  std::vector<ServiceEntry> listed = {ServiceEntry{}};
  EXPECT_EQ(ListActiveDependants(scm, "NoSuch", &listed), kErrorServiceDoesNotExist);
  EXPECT_TRUE(listed.empty());
  scm.Find("Svc")->refuse_enum_dependents = kErrorAccessDenied;
  EXPECT_EQ(ListActiveDependants(scm, "Svc", &listed), kErrorAccessDenied);
  EXPECT_EQ(scm.OpenHandleCount(), 0u);
}

struct DependantFailureCase {
  const char* label;
  std::uint32_t SimulatedService::*field;  // the refusal set on DepB
  std::uint32_t code;
};

const DependantFailureCase kDependantFailures[] = {
    {"RefusesControl", &SimulatedService::refuse_control, kErrorInvalidServiceControl},
    {"RefusesOpen", &SimulatedService::refuse_open, kErrorAccessDenied},
    {"RefusesQuery", &SimulatedService::refuse_query, 1115},
};

class DependantFailureTest : public StopDependantsTest,
                             public ::testing::WithParamInterface<DependantFailureCase> {};

TEST_P(DependantFailureTest, EndsWithItsCodeAndLeavesTheServiceRunning) {
  const DependantFailureCase& c = GetParam();
  scm.Find("DepB")->*c.field = c.code;
  EXPECT_EQ(StopServiceAndDependents(scm, "Svc", true, 30000), c.code);
  EXPECT_EQ(scm.StateOf("DepA"), kStateStopped);  // left as it is
  EXPECT_EQ(scm.StateOf("Svc"), kStateRunning);
  EXPECT_EQ(scm.CountCalls("Control", "Svc"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Stop, DependantFailureTest, ::testing::ValuesIn(kDependantFailures),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(StopDependantsTest, DependantThatNeverStopsTimesOut) {
  scm.Find("DepB")->stop_delay_ms = kForever;
  EXPECT_EQ(StopServiceAndDependents(scm, "Svc", true, 8000), kErrorTimeout);
  EXPECT_EQ(scm.StateOf("DepA"), kStateStopped);
  EXPECT_EQ(scm.StateOf("DepB"), kStateStopPending);
  EXPECT_EQ(scm.StateOf("Svc"), kStateRunning);
}

// The time-out covers the whole operation, dependants included.
TEST_F(StopDependantsTest, TimeOutCoversDependantsAndService) {
  for (const char* name : {"Svc", "DepA", "DepB"}) scm.Find(name)->stop_delay_ms = 3500;
  EXPECT_EQ(StopServiceAndDependents(scm, "Svc", true, 9000), kErrorTimeout);
  EXPECT_EQ(scm.StateOf("DepA"), kStateStopped);
  EXPECT_EQ(scm.StateOf("DepB"), kStateStopped);
  EXPECT_EQ(scm.StateOf("Svc"), kStateStopPending);
}

TEST_F(StopDependantsTest, RefusedDependantsQueryEndsTheStop) {
  scm.Find("Svc")->refuse_enum_dependents = kErrorAccessDenied;
  EXPECT_EQ(StopServiceAndDependents(scm, "Svc", true, 30000), kErrorAccessDenied);
  EXPECT_EQ(scm.CountCalls("Control"), 0u);
}

TEST_F(StopDependantsTest, PendingStopTouchesNoDependant) {
  scm.SetState("Svc", kStateStopPending);
  EXPECT_EQ(StopServiceAndDependents(scm, "Svc", true, 30000), 0u);
  EXPECT_EQ(scm.CountCalls("EnumDependents"), 0u);
  EXPECT_EQ(scm.CountCalls("Control"), 0u);
  EXPECT_EQ(scm.StateOf("DepA"), kStateRunning);
}

TEST_F(StopDependantsTest, NoActiveDependantsStopsTheServiceAlone) {
  scm.SetState("DepA", kStateStopped);
  scm.SetState("DepB", kStateStopped);
  EXPECT_EQ(StopServiceAndDependents(scm, "Svc", true, 30000), 0u);
  EXPECT_EQ(scm.CountCalls("EnumDependents"), 1u);
  EXPECT_EQ(scm.CountCalls("Control"), 1u);
  EXPECT_EQ(scm.StateOf("Svc"), kStateStopped);
}

// --- Failures of the first steps: code returned, every handle closed ---

struct EarlyFailureCase {
  const char* label;
  const char* name;
  std::uint32_t manager_refusal;
  std::uint32_t open_refusal;
  std::uint32_t query_refusal;
  std::uint32_t expected_code;
};

const EarlyFailureCase kEarlyFailures[] = {
    {"ManagerRefused", "Svc", kErrorAccessDenied, 0, 0, kErrorAccessDenied},
    {"UnknownName", "NoSuchService", 0, 0, 0, kErrorServiceDoesNotExist},
    {"EmptyName", "", 0, 0, 0, kErrorInvalidName},
    {"OpenRefused", "Svc", 0, kErrorAccessDenied, 0, kErrorAccessDenied},
    {"QueryRefused", "Svc", 0, 0, kErrorInvalidHandle, kErrorInvalidHandle},
};

class StopEarlyFailureTest : public ScmTest,
                             public ::testing::WithParamInterface<EarlyFailureCase> {};

TEST_P(StopEarlyFailureTest, ReturnsTheCode) {
  const EarlyFailureCase& c = GetParam();
  SimulatedService& svc = scm.AddService("Svc", "Some Service", kStateRunning);
  scm.RefuseOpenManager(c.manager_refusal);
  svc.refuse_open = c.open_refusal;
  svc.refuse_query = c.query_refusal;
  EXPECT_EQ(StopServiceAndDependents(scm, c.name, true, 30000), c.expected_code);
  EXPECT_EQ(scm.CountCalls("Control"), 0u);
  EXPECT_EQ(scm.StateOf("Svc"), kStateRunning);
}

INSTANTIATE_TEST_SUITE_P(Stop, StopEarlyFailureTest, ::testing::ValuesIn(kEarlyFailures),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(ScmTest, QueryFailureWhileWaitingReturnsItsCode) {
  SimulatedService& svc = scm.AddService("Svc", "Some Service", kStateRunning);
  svc.stop_delay_ms = 5000;
  svc.stop_wait_hint = 1000;
  svc.refuse_query = kErrorInvalidHandle;
  svc.queries_before_refusal = 2;
  EXPECT_EQ(StopServiceAndDependents(scm, "Svc", false, 30000), kErrorInvalidHandle);
}

}  // namespace
}  // namespace halv
