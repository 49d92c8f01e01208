// The operation scheduler on its own: the service key, the bound, the order
// of waiters, unknown ids, and an executor that cannot take a job.
#include "operation_scheduler.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "manual_executor.h"
#include "simulated_manager.h"

namespace halv::testing {
namespace {

TEST(ServiceKeyTest, AsciiLettersIgnoreCaseOtherBytesStay) {
  struct {
    std::string a;
    std::string b;
    bool same;
  } cases[] = {
      {"Spooler", "SPOOLER", true},
      {"spooler", "sPoOlEr", true},
      {"W3SVC", "w3svc", true},
      {"a_b-c.1", "A_B-C.1", true},
      {"Spooler", "Spooler ", false},
      {"Spool", "Spooler", false},
      {"", "", true},
      {"\xe9t\xe9", "\xe9T\xe9", true},
      {"[", "{", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.a + " / " + c.b);
    EXPECT_EQ(ServiceKey(c.a) == ServiceKey(c.b), c.same);
  }
}

class SchedulerTest : public ::testing::Test {
 protected:
  ServiceOperation Stop(const std::string& name) {
    ServiceOperation operation;
    operation.kind = OperationKind::kStop;
    operation.service = name;
    return operation;
  }

  SimulatedManager scm_;
  ManualExecutor executor_;
  std::vector<OperationReport> posted_;
  std::shared_ptr<ServiceManager> manager_{&scm_, [](ServiceManager*) {}};
};

TEST_F(SchedulerTest, BoundIsKeptAndWaitersGoInOrder) {
  OperationScheduler scheduler(
      executor_, manager_, [&](OperationReport r) { posted_.push_back(std::move(r)); }, 2);
  for (const char* name : {"A", "B", "C", "D"}) scm_.AddService(name, name, kStateRunning);
  const OperationId a = scheduler.Submit(1, Stop("A"));
  scheduler.Submit(2, Stop("B"));
  scheduler.Submit(3, Stop("C"));
  scheduler.Submit(4, Stop("D"));
  EXPECT_EQ(executor_.Pending(), 2u);
  EXPECT_EQ(scheduler.Waiting(), 2u);

  scheduler.Finished(999);  // unknown: nothing changes
  EXPECT_EQ(executor_.Pending(), 2u);

  executor_.RunNext();
  ASSERT_EQ(posted_.size(), 1u);
  EXPECT_EQ(posted_[0].id, a);
  EXPECT_EQ(posted_[0].client, 1u);
  EXPECT_TRUE(posted_[0].last);
  scheduler.Finished(a);
  scheduler.Finished(a);               // twice changes nothing more
  EXPECT_EQ(executor_.Pending(), 2u);  // B and now C
  EXPECT_EQ(scheduler.Waiting(), 1u);
  while (executor_.RunNext()) {
  }
  std::vector<std::string> order;
  for (const OperationReport& r : posted_) order.push_back(r.operation.service);
  EXPECT_EQ(order, (std::vector<std::string>{"A", "B", "C"}));
}

// A waiter on a busy service does not hold back a later one on a free
// service.
TEST_F(SchedulerTest, BusyServiceDoesNotBlockOthers) {
  OperationScheduler scheduler(executor_, manager_,
                               [&](OperationReport r) { posted_.push_back(std::move(r)); });
  scheduler.Submit(1, Stop("A"));
  scheduler.Submit(2, Stop("a"));
  scheduler.Submit(3, Stop("B"));
  EXPECT_EQ(executor_.Pending(), 2u);
  EXPECT_EQ(scheduler.Waiting(), 1u);
}

class RefusingExecutor final : public OperationExecutor {
 public:
  void Execute(std::function<void()>) override { throw std::bad_alloc(); }
};

TEST_F(SchedulerTest, JobNobodyCanTakeIsReportedAsFailedForEveryStep) {
  RefusingExecutor refusing;
  OperationScheduler scheduler(refusing, manager_,
                               [&](OperationReport r) { posted_.push_back(std::move(r)); });
  ServiceOperation restart = Stop("A");
  restart.kind = OperationKind::kRestart;
  const OperationId id = scheduler.Submit(7, restart);
  ASSERT_EQ(posted_.size(), 2u);
  EXPECT_EQ(posted_[0].step, OperationStep::kStop);
  EXPECT_FALSE(posted_[0].last);
  EXPECT_EQ(posted_[1].step, OperationStep::kStart);
  EXPECT_TRUE(posted_[1].last);
  for (const OperationReport& r : posted_) {
    EXPECT_EQ(r.id, id);
    EXPECT_EQ(r.client, 7u);
    EXPECT_EQ(r.code, kErrorNotEnoughMemory);
  }
  EXPECT_EQ(scheduler.Running(), 1u);  // until the owner has seen the end
  scheduler.Finished(id);
  EXPECT_EQ(scheduler.Running(), 0u);
  EXPECT_EQ(scm_.Calls().size(), 0u);
}

}  // namespace
}  // namespace halv::testing
