// The command runner over the simulated manager and a manual executor: a
// client's lines keep their order across a wait and read exactly as when
// run inline, other clients are served meanwhile, operations on one service
// (any case) are serialised while different services wait side by side, a
// client that goes mid-wait loses only its reply, and a wait keeps the
// settings of its command's start.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "halv_error.h"
#include "service_control.h"
#include "waits_fixture.h"

namespace halv::testing {
namespace {

const std::string kStime = "7 December 2026 11:05:09 pm\n\r";

// "Slow" takes 6 s to stop and 2 s to start; "Fast" neither.
void SlowAndFast(SimulatedManager& scm) {
  SimulatedService& slow = scm.AddService("Slow", "Slow Service", kStateRunning);
  slow.stop_delay_ms = 6000;
  slow.stop_wait_hint = 1000;
  slow.start_delay_ms = 2000;
  slow.start_wait_hint = 3000;
  slow.check_point_every_ms = 500;
  scm.AddService("Fast", "Fast Service", kStateRunning);
}

struct OrderCase {
  const char* label;
  std::vector<std::string> receipts;  // all received before the wait ends
  std::string heading;                // the one send before the wait ends
  std::size_t waits = 1;              // commands among them that wait
};

const OrderCase kOrderCases[] = {
    {"StopThenTwoLines", {"stop Slow\nstime\nstatus Slow\n"}, "Stopping Service...Slow\n\r"},
    {"LinesInLaterReceipts",
     {"stop Slow\n", "stime\n", "who\nstatus slow\n"},
     "Stopping Service...Slow\n\r"},
    {"RestartThenStatus", {"rstrt Slow\nstatus Slow\n"}, "Restarting Service...Slow\n\r"},
    // A held line that waits again holds the ones after it.
    {"HeldLineWaitsAgain",
     {"stop Slow\nstart Slow\nstime\nstop Fast\nstatus Fast\n"},
     "Stopping Service...Slow\n\r",
     3},
    {"EmptyReceiptWhileWaiting",
     {"stop Slow\nstime\n", "   \r\n", "stime\n"},
     "Stopping Service...Slow\n\r"},
    // QUIT held behind the wait ends the connection after the reply; the
    // line after it never runs.
    {"QuitHeldBehindTheWait", {"stop Slow\nquit\nstime\n"}, "Stopping Service...Slow\n\r"},
};

class LineOrderTest : public WaitsTest, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(LineOrderTest, LinesRunInOrderAfterTheWaitAndReadAsInline) {
  const OrderCase& c = GetParam();
  SlowAndFast(scm_);
  const ConnectionId a = Connect();
  for (const std::string& receipt : c.receipts) Receive(a, receipt);

  // The wait has begun: only the heading has gone out, and the service
  // thread is free for another client.
  EXPECT_EQ(SendsOf(a), Sends{c.heading});
  EXPECT_TRUE(runner_.IsWaiting(a));
  EXPECT_EQ(executor_.Pending(), 1u);
  const ConnectionId b = Connect();
  Receive(b, "stime\n");
  EXPECT_EQ(SendsOf(b), (Sends{kStime, ":: "}));
  EXPECT_EQ(SendsOf(a), Sends{c.heading});

  Disconnect(b);  // so that WHO lists the same clients as inline
  Settle();
  EXPECT_EQ(SendsOf(a), InlineTranscript(SlowAndFast, c.receipts));
  // Paused once for each command that waited, and resumed after each.
  EXPECT_EQ(paused_, std::vector<ConnectionId>(c.waits, a));
  EXPECT_EQ(resumed_, std::vector<ConnectionId>(c.waits, a));
  EXPECT_FALSE(runner_.IsWaiting(a));
  EXPECT_EQ(runner_.WaitingCount(), 0u);
  EXPECT_EQ(scheduler_.Running() + scheduler_.Waiting(), 0u);
  EXPECT_EQ(scm_.OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Waits, LineOrderTest, ::testing::ValuesIn(kOrderCases),
                         [](const auto& info) { return std::string(info.param.label); });

// The exact reply of a STOP that waited, then the replies to the lines the
// client sent meanwhile.
TEST_F(WaitsTest, StopReplyThenTheLinesSentMeanwhile) {
  SlowAndFast(scm_);
  const ConnectionId a = Connect();
  Receive(a, "stop Slow\n");
  Receive(a, "stime\n");
  EXPECT_EQ(runner_.HeldLines(a), 0u);  // unread: the input is paused
  Settle();
  EXPECT_EQ(SendsOf(a),
            (Sends{"Stopping Service...Slow\n\r", "Service Stopped\n\r", ":: ", kStime, ":: "}));
  EXPECT_EQ(scm_.StateOf("Slow"), kStateStopped);
}

// A restart's stop result goes out when the stop ends, before the start's
// report arrives.
TEST_F(WaitsTest, RestartReportsEachStepAsItArrives) {
  SlowAndFast(scm_);
  const ConnectionId a = Connect();
  Receive(a, "rstrt Slow\nstime\n");
  // The rest of the receipt waits in the connection's line input.
  EXPECT_EQ(runner_.HeldLines(a), 0u);
  EXPECT_TRUE(driver_.HasWaitingInput(a));
  RunJobs();
  ASSERT_EQ(posted_.size(), 2u);
  Deliver(posted_[0]);
  EXPECT_EQ(SendsOf(a), (Sends{"Restarting Service...Slow\n\r", "Service Stopped...\n\r"}));
  EXPECT_TRUE(runner_.IsWaiting(a));
  Deliver(posted_[1]);
  posted_.clear();
  EXPECT_EQ(SendsOf(a), (Sends{"Restarting Service...Slow\n\r", "Service Stopped...\n\r",
                               "Service Started\n\r", ":: ", kStime, ":: "}));
}

// --- One service at a time, different services at once ---

struct PairCase {
  const char* label;
  const char* first;   // client A's line
  const char* second;  // client B's line, sent while A waits
  bool serialised;
};

const PairCase kPairCases[] = {
    {"SameNameSameCase", "stop Slow\n", "stop Slow\n", true},
    {"SameNameUpperCase", "stop Slow\n", "STOP SLOW\n", true},
    {"SameNameLowerCase", "rstrt Slow\n", "start slow\n", true},
    {"MixedCaseAcrossKinds", "start sLOW\n", "stop SlOw\n", true},
    {"DifferentServices", "stop Slow\n", "stop Fast\n", false},
    {"NameThatOnlyBeginsAlike", "stop Slow\n", "stop Slo\n", false},
};

// The heading a STOP, START or RSTRT line gets at once: the name as typed.
std::string HeadingOf(const std::string& line) {
  const std::size_t space = line.find(' ');
  std::string verb = line.substr(0, space);
  for (char& ch : verb) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  std::string name = line.substr(space + 1);
  while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
  const char* doing = verb == "stop" ? "Stopping" : verb == "start" ? "Starting" : "Restarting";
  return std::string(doing) + " Service..." + name + "\n\r";
}

class PerServiceTest : public WaitsTest, public ::testing::WithParamInterface<PairCase> {};

TEST_P(PerServiceTest, SerialisedByNameWithoutRegardToCase) {
  const PairCase& c = GetParam();
  SlowAndFast(scm_);
  scm_.SetState("Slow", kStateStopped);
  if (std::string(c.first).rfind("stop", 0) == 0) scm_.SetState("Slow", kStateRunning);
  const ConnectionId a = Connect();
  const ConnectionId b = Connect();
  Receive(a, c.first);
  Receive(b, c.second);

  // Both have their heading; B waits for A's service or runs beside it.
  EXPECT_EQ(SendsOf(a), Sends{HeadingOf(c.first)});
  EXPECT_EQ(SendsOf(b), Sends{HeadingOf(c.second)});
  EXPECT_EQ(executor_.Pending(), c.serialised ? 1u : 2u);
  EXPECT_EQ(scheduler_.Running(), c.serialised ? 1u : 2u);
  EXPECT_EQ(scheduler_.Waiting(), c.serialised ? 1u : 0u);

  // A's job runs; B's is handed out only once A's end reaches the service
  // thread, so no manager call of B's comes between A's first and last.
  RunJobs();
  const std::size_t a_calls_end = scm_.Calls().size();
  EXPECT_EQ(executor_.Pending(), 0u);
  DeliverPosted();
  EXPECT_TRUE(SendsOf(a).EndsWith(":: ")) << SendsOf(a).text;
  EXPECT_EQ(executor_.Pending(), c.serialised ? 1u : 0u);
  Settle();
  EXPECT_TRUE(SendsOf(b).EndsWith(":: ")) << SendsOf(b).text;
  if (c.serialised) {
    // B's operation began after A's had closed its last handle.
    EXPECT_EQ(scm_.Calls()[a_calls_end - 1].op, "Close");
    EXPECT_EQ(scm_.Calls()[a_calls_end - 1].target, "SCM");
    std::size_t b_opens = 0;
    for (std::size_t i = a_calls_end; i < scm_.Calls().size(); ++i) {
      b_opens += scm_.Calls()[i].op == "OpenManager";
    }
    EXPECT_GE(b_opens, 1u);
  }
  EXPECT_EQ(scheduler_.Running() + scheduler_.Waiting(), 0u);
  EXPECT_EQ(scm_.OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Waits, PerServiceTest, ::testing::ValuesIn(kPairCases),
                         [](const auto& info) { return std::string(info.param.label); });

// Three clients on one service: served in the order they asked.
TEST_F(WaitsTest, WaitersOnOneServiceGoInOrder) {
  SlowAndFast(scm_);
  const ConnectionId a = Connect();
  const ConnectionId b = Connect();
  const ConnectionId c = Connect();
  Receive(a, "stop Slow\n");
  Receive(b, "start SLOW\n");
  Receive(c, "stop slow\n");
  EXPECT_EQ(scheduler_.Waiting(), 2u);
  Settle();
  EXPECT_EQ(SendsOf(a), (Sends{"Stopping Service...Slow\n\r", "Service Stopped\n\r", ":: "}));
  EXPECT_EQ(SendsOf(b), (Sends{"Starting Service...SLOW\n\r", "Service started\n\r", ":: "}));
  EXPECT_EQ(SendsOf(c), (Sends{"Stopping Service...slow\n\r", "Service Stopped\n\r", ":: "}));
  EXPECT_EQ(scm_.StateOf("Slow"), kStateStopped);
}

// Ten clients stop ten services: eight wait at once (the bound), two queue;
// each reply reaches its own client whatever order the waits end in.
TEST_F(WaitsTest, DifferentServicesWaitSideBySideUpToTheBound) {
  std::vector<ConnectionId> clients;
  for (int i = 0; i < 10; ++i) {
    SimulatedService& svc = scm_.AddService("Svc" + std::to_string(i), "S", kStateRunning);
    svc.stop_delay_ms = 1000u * static_cast<std::uint32_t>(i + 1);
    svc.stop_wait_hint = 500;
    clients.push_back(Connect());
    Receive(clients.back(), "stop Svc" + std::to_string(i) + "\nstime\n");
  }
  EXPECT_EQ(executor_.Pending(), kMaxRunningOperations);
  EXPECT_EQ(scheduler_.Running(), kMaxRunningOperations);
  EXPECT_EQ(scheduler_.Waiting(), 10u - kMaxRunningOperations);
  EXPECT_EQ(runner_.WaitingCount(), 10u);

  // A bystander is served while all of them wait.
  const ConnectionId bystander = Connect();
  Receive(bystander, "stime\n");
  EXPECT_EQ(SendsOf(bystander), (Sends{kStime, ":: "}));

  // The newest wait ends first; its end lets a queued one go.
  executor_.RunAt(executor_.Pending() - 1);
  DeliverPosted();
  EXPECT_EQ(executor_.Pending(), kMaxRunningOperations);
  EXPECT_EQ(scheduler_.Waiting(), 10u - kMaxRunningOperations - 1);
  Settle();
  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(i);
    const std::string name = "Svc" + std::to_string(i);
    EXPECT_EQ(SendsOf(clients[static_cast<std::size_t>(i)]),
              (Sends{"Stopping Service..." + name + "\n\r", "Service Stopped\n\r", ":: ", kStime,
                     ":: "}));
    EXPECT_EQ(scm_.StateOf(name), kStateStopped);
  }
  EXPECT_EQ(runner_.WaitingCount(), 0u);
}

// --- A client gone mid-wait ---

enum class Gone { kBeforeTheWaitEnds, kBetweenRestartSteps, kSendFailsOnReply };

struct GoneCase {
  const char* label;
  std::string receipt;
  Gone gone;
  Sends expected;  // what the client got in all
  std::uint32_t final_state;
};

const GoneCase kGoneCases[] = {
    {"VanishesDuringStop",
     "stop Slow\nstime\nstop Fast\n",
     Gone::kBeforeTheWaitEnds,
     {"Stopping Service...Slow\n\r"},
     kStateStopped},
    {"VanishesBetweenRestartSteps",
     "rstrt Slow\nstime\n",
     Gone::kBetweenRestartSteps,
     {"Restarting Service...Slow\n\r", "Service Stopped...\n\r"},
     kStateRunning},
    {"BrokenSocketAtTheReply",
     "stop Slow\nstime\n",
     Gone::kSendFailsOnReply,
     {"Stopping Service...Slow\n\r"},
     kStateStopped},
};

class ClientGoneTest : public WaitsTest, public ::testing::WithParamInterface<GoneCase> {};

TEST_P(ClientGoneTest, OperationCompletesReplyIsDroppedNothingLeaks) {
  const GoneCase& c = GetParam();
  SlowAndFast(scm_);
  const ConnectionId a = Connect();
  Receive(a, c.receipt);
  RunJobs();
  switch (c.gone) {
    case Gone::kBeforeTheWaitEnds:
      Disconnect(a);
      DeliverPosted();
      break;
    case Gone::kBetweenRestartSteps: {
      ASSERT_EQ(posted_.size(), 2u);
      Deliver(posted_[0]);
      Disconnect(a);
      Deliver(posted_[1]);
      posted_.clear();
      break;
    }
    case Gone::kSendFailsOnReply:
      // The reply's write fails: recorded, and the connection is gone.
      Peer(a).out.fail = true;
      DeliverPosted();
      EXPECT_EQ(service_.errors,
                std::vector<std::string>{"Windows socket error: reset (10054), on API 'send'"});
      break;
  }
  Settle();
  EXPECT_EQ(SendsOf(a), c.expected);
  EXPECT_EQ(scm_.StateOf("Slow"), c.final_state);
  EXPECT_EQ(scm_.StateOf("Fast"), kStateRunning);  // held lines never ran
  EXPECT_FALSE(runner_.IsWaiting(a));
  EXPECT_EQ(runner_.WaitingCount(), 0u);
  EXPECT_EQ(scheduler_.Running() + scheduler_.Waiting(), 0u);
  EXPECT_EQ(scm_.OpenHandleCount(), 0u);

  // The service is free again, and a newcomer (a new id) gets only its own.
  const ConnectionId b = Connect();
  Receive(b, "stop slow\n");
  Settle();
  EXPECT_EQ(SendsOf(b), (Sends{"Stopping Service...slow\n\r", "Service Stopped\n\r", ":: "}));
}

INSTANTIATE_TEST_SUITE_P(Waits, ClientGoneTest, ::testing::ValuesIn(kGoneCases),
                         [](const auto& info) { return std::string(info.param.label); });

// --- Settings are those of the command's start ---

enum class Route { kDirect, kBehindAnotherClient, kHeldBehindOwnWait };

struct SettingsCase {
  const char* label;
  Route route;
  std::int32_t timeout_at_start;
  bool dependencies_at_start;
  std::int32_t timeout_later;  // set (as by INIT) after the command started
  bool dependencies_later;
  OperationSettings expected;
  std::string reply;  // the stop's result line
};

const std::string kDependants =
    "The service cannot be stopped because other running services are dependent on it.\n\r";
const std::string kTimedOut = ScmErrorText(kErrorTimeout);

const SettingsCase kSettingsCases[] = {
    {"DependantsOffStays", Route::kDirect, 30000, false, 30000, true, {false, 30000}, kDependants},
    {"DependantsOnStays",
     Route::kDirect,
     30000,
     true,
     30000,
     false,
     {true, 30000},
     "Service Stopped\n\r"},
    {"ShortTimeOutStays", Route::kDirect, 1000, true, 60000, true, {true, 1000}, kTimedOut},
    {"LongTimeOutStays",
     Route::kDirect,
     60000,
     true,
     1000,
     true,
     {true, 60000},
     "Service Stopped\n\r"},
    {"NegativeTimeOutIsZero", Route::kDirect, -1, true, 60000, true, {true, 0}, kTimedOut},
    {"QueuedBehindAnotherKeepsItsOwn",
     Route::kBehindAnotherClient,
     30000,
     false,
     30000,
     true,
     {false, 30000},
     kDependants},
    // A held line's command starts when it runs, after the change.
    {"HeldLineTakesTheLaterOnes",
     Route::kHeldBehindOwnWait,
     30000,
     false,
     30000,
     true,
     {true, 30000},
     "Service Stopped\n\r"},
};

class SettingsTest : public WaitsTest, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(SettingsTest, WaitUsesTheSettingsOfItsStart) {
  const SettingsCase& c = GetParam();
  for (const char* name : {"Base", "Child"}) {
    SimulatedService& svc = scm_.AddService(name, name, kStateRunning);
    svc.stop_delay_ms = 3000;
    svc.stop_wait_hint = 1000;
  }
  scm_.AddDependency("Base", "Child");
  server_.fields().stop_timeout = c.timeout_at_start;
  server_.fields().stop_dependencies = c.dependencies_at_start;

  const ConnectionId a = Connect();
  const ConnectionId other = Connect();
  switch (c.route) {
    case Route::kDirect:
      Receive(a, "stop Base\n");
      break;
    case Route::kBehindAnotherClient:
      Receive(other, "start BASE\n");  // refused at once, but holds the name until then
      Receive(a, "stop Base\n");
      EXPECT_EQ(scheduler_.Waiting(), 1u);
      break;
    case Route::kHeldBehindOwnWait:
      Receive(a, "start base\nstop Base\n");
      EXPECT_TRUE(driver_.HasWaitingInput(a));  // the stop waits in the line input
      break;
  }
  server_.fields().stop_timeout = c.timeout_later;
  server_.fields().stop_dependencies = c.dependencies_later;
  Settle();

  const OperationReport* stop = nullptr;
  for (const OperationReport& report : history_) {
    if (report.operation.kind == OperationKind::kStop) stop = &report;
  }
  ASSERT_NE(stop, nullptr);
  EXPECT_EQ(stop->operation.settings, c.expected);
  EXPECT_TRUE(SendsOf(a).EndsWith(c.reply + ":: ")) << SendsOf(a).text;
}

INSTANTIATE_TEST_SUITE_P(Waits, SettingsTest, ::testing::ValuesIn(kSettingsCases),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace halv::testing
