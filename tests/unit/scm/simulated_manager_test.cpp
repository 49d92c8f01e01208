// The simulated manager itself: the answers other tests rely on (access
// checks, the manager's refusals, timed state changes, handle tracking).
#include "simulated_manager.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace halv {
namespace {

class SimulatedManagerTest : public ::testing::Test {
 protected:
  ScHandle OpenSvc(const std::string& name, std::uint32_t access) {
    ScHandle service = 0;
    EXPECT_EQ(scm.OpenServiceByName(manager_, name, access, &service), 0u);
    return service;
  }
  void SetUp() override { ASSERT_EQ(scm.OpenManager(kScManagerConnect, &manager_), 0u); }
  void TearDown() override { EXPECT_EQ(scm.Close(manager_), 0u); }

  SimulatedManager scm;
  ScHandle manager_ = 0;
};

struct AccessCase {
  const char* label;
  std::uint32_t granted;
  std::uint32_t expected_query;
  std::uint32_t expected_stop;
  std::uint32_t expected_start;
  std::uint32_t expected_config;
};

const AccessCase kAccessCases[] = {
    {"All", kServiceAllAccess, 0, 0, kErrorServiceAlreadyRunning, kErrorInsufficientBuffer},
    {"QueryOnly", kServiceQueryStatus, 0, kErrorAccessDenied, kErrorAccessDenied,
     kErrorAccessDenied},
    {"StopOnly", kServiceStop, kErrorAccessDenied, 0, kErrorAccessDenied, kErrorAccessDenied},
};

class SimulatedAccessTest : public SimulatedManagerTest,
                            public ::testing::WithParamInterface<AccessCase> {};

TEST_P(SimulatedAccessTest, CallsNeedTheirRights) {
  const AccessCase& c = GetParam();
  scm.AddService("Svc", "Some Service", kStateRunning).stop_delay_ms = 100;
  ScHandle service = OpenSvc("Svc", c.granted);
  ServiceStatusInfo status;
  std::uint32_t needed = 0;
  EXPECT_EQ(scm.QueryStatus(service, &status), c.expected_query);
  EXPECT_EQ(scm.Start(service), c.expected_start);
  EXPECT_EQ(scm.QueryConfig(service, nullptr, 0, &needed), c.expected_config);
  EXPECT_EQ(scm.Control(service, kServiceControlStop, &status), c.expected_stop);
  EXPECT_EQ(scm.Close(service), 0u);
}

INSTANTIATE_TEST_SUITE_P(Sim, SimulatedAccessTest, ::testing::ValuesIn(kAccessCases),
                         [](const auto& info) { return std::string(info.param.label); });

struct ControlCase {
  const char* label;
  std::uint32_t state;
  bool dependant_running;
  std::uint32_t expected;
};

const ControlCase kControlCases[] = {
    {"Running", kStateRunning, false, 0},
    {"Stopped", kStateStopped, false, kErrorServiceNotActive},
    {"StopPending", kStateStopPending, false, kErrorServiceCannotAcceptCtrl},
    {"StartPending", kStateStartPending, false, kErrorServiceCannotAcceptCtrl},
    {"DependantRunning", kStateRunning, true, kErrorDependentServicesRunning},
};

class SimulatedControlTest : public SimulatedManagerTest,
                             public ::testing::WithParamInterface<ControlCase> {};

TEST_P(SimulatedControlTest, StopControlAnswers) {
  const ControlCase& c = GetParam();
  SimulatedService& svc = scm.AddService("Svc", "Some Service", c.state);
  svc.stop_delay_ms = kForever;
  svc.start_delay_ms = kForever;
  scm.AddService("Dep", "Dependant", c.dependant_running ? kStateRunning : kStateStopped);
  scm.AddDependency("Svc", "Dep");
  ScHandle service = OpenSvc("Svc", kServiceStop);
  ServiceStatusInfo status;
  EXPECT_EQ(scm.Control(service, kServiceControlStop, &status), c.expected);
  if (c.expected == 0) {
    EXPECT_EQ(status.current_state, kStateStopPending);
  }
  EXPECT_EQ(scm.Close(service), 0u);
}

INSTANTIATE_TEST_SUITE_P(Sim, SimulatedControlTest, ::testing::ValuesIn(kControlCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(SimulatedManagerTest, StateChangesFollowTheVirtualClock) {
  SimulatedService& svc = scm.AddService("Svc", "Some Service");
  svc.start_delay_ms = 2000;
  svc.start_wait_hint = 5000;
  svc.check_point_every_ms = 500;
  svc.stop_delay_ms = 1000;
  scm.SetCallCost(0);
  ScHandle service = OpenSvc("Svc", kServiceAllAccess);
  ServiceStatusInfo status;

  ASSERT_EQ(scm.Start(service), 0u);
  ASSERT_EQ(scm.QueryStatus(service, &status), 0u);
  EXPECT_EQ(status.current_state, kStateStartPending);
  EXPECT_EQ(status.check_point, 1u);
  EXPECT_EQ(status.wait_hint, 5000u);
  scm.Pause(1200);
  ASSERT_EQ(scm.QueryStatus(service, &status), 0u);
  EXPECT_EQ(status.check_point, 3u);
  scm.Pause(800);
  EXPECT_EQ(scm.StateOf("Svc"), kStateRunning);

  ASSERT_EQ(scm.Control(service, kServiceControlStop, &status), 0u);
  scm.Advance(999);
  EXPECT_EQ(scm.StateOf("Svc"), kStateStopPending);
  scm.Advance(1);
  EXPECT_EQ(scm.StateOf("Svc"), kStateStopped);
  EXPECT_EQ(scm.Close(service), 0u);
}

TEST_F(SimulatedManagerTest, DependantsTwoSteps) {
  scm.AddService("Svc", "Some Service", kStateRunning);
  scm.AddService("B", "Bee", kStateRunning);
  scm.AddService("A", "Ay", kStateRunning);
  scm.AddService("C", "Cee", kStateStopped);
  for (const char* d : {"B", "C", "A"}) scm.AddDependency("Svc", d);
  ScHandle service = OpenSvc("Svc", kServiceEnumerateDependents);
  std::uint32_t needed = 0;
  EXPECT_EQ(scm.EnumDependents(service, kServiceActive, nullptr, 0, &needed), kErrorMoreData);
  EXPECT_EQ(needed, SimulatedManager::EntrySize(*scm.Find("A")) +
                        SimulatedManager::EntrySize(*scm.Find("B")));
  std::vector<ServiceEntry> entries;
  EXPECT_EQ(scm.EnumDependents(service, kServiceActive, &entries, needed - 1, &needed),
            kErrorMoreData);
  EXPECT_EQ(scm.EnumDependents(service, kServiceActive, &entries, needed, &needed), 0u);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].service_name, "B");
  EXPECT_EQ(entries[1].service_name, "A");
  EXPECT_EQ(scm.Close(service), 0u);
}

TEST_F(SimulatedManagerTest, TracksHandles) {
  scm.AddService("Svc", "Some Service");
  ScHandle service = OpenSvc("Svc", kServiceQueryStatus);
  EXPECT_EQ(scm.OpenHandleCount(), 2u);
  EXPECT_EQ(scm.Close(service), 0u);
  EXPECT_EQ(scm.Close(service), kErrorInvalidHandle);
  EXPECT_EQ(scm.BadCloseCount(), 1u);
  ServiceStatusInfo status;
  EXPECT_EQ(scm.QueryStatus(service, &status), kErrorInvalidHandle);
  EXPECT_EQ(scm.OpenHandleCount(), 1u);
}

TEST_F(SimulatedManagerTest, TickCounterWraps) {
  scm.SetTickCount(0xFFFFFFF0u);
  EXPECT_EQ(scm.TickCount(), 0xFFFFFFF0u);
  scm.Pause(0x20);
  EXPECT_EQ(scm.TickCount(), 0x10u);
}

}  // namespace
}  // namespace halv
