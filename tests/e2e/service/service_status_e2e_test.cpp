// What Wine's Service Control Manager sees of the real service's status:
// running with stop and shutdown accepted, stop pending as soon as a stop
// has been taken (the manager reads the status right after the control
// handler returns), stopped with exit code 0; and a failed start stopped with
// ERROR_SERVICE_SPECIFIC_ERROR.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "config_schema.h"
#include "service_harness.h"
#include "win/handles.h"

namespace {

class ServiceStatusTest : public halv::e2e::InstalledServiceTest {
 protected:
  void SetUp() override {
    InstalledServiceTest::SetUp();
    if (HasFatalFailure()) return;
    halv::win::ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(manager);
    service_.reset(OpenServiceA(manager.get(), halv::config::kServiceName,
                                 SERVICE_STOP | SERVICE_QUERY_STATUS));
    ASSERT_TRUE(service_);
  }
  void TearDown() override {
    service_.reset();
    InstalledServiceTest::TearDown();
  }

  // Waits for the stopped state; returns its status.
  SERVICE_STATUS WaitStopped() {
    SERVICE_STATUS status = {};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      if (!QueryServiceStatus(service_.get(), &status)) break;
      if (status.dwCurrentState == SERVICE_STOPPED) break;
      Sleep(20);
    }
    return status;
  }

  halv::win::ServiceHandle service_;
};

TEST_F(ServiceStatusTest, RunningThenStopPendingThenStopped) {
  StartRunning();
  SERVICE_STATUS status = {};
  ASSERT_TRUE(QueryServiceStatus(service_.get(), &status));
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(status.dwControlsAccepted,
            static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN));
  EXPECT_EQ(status.dwCheckPoint, 0u);
  EXPECT_EQ(status.dwWaitHint, 0u);

  ASSERT_TRUE(ControlService(service_.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
  // Reported by the control handler itself, before it returned.
  ASSERT_NE(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  if (status.dwCurrentState == SERVICE_STOP_PENDING) {
    EXPECT_EQ(status.dwControlsAccepted, 0u);
    EXPECT_EQ(status.dwWaitHint, 5000u);
    EXPECT_GE(status.dwCheckPoint, 1u);
  }

  status = WaitStopped();
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(status.dwWin32ExitCode, 0u);
  EXPECT_EQ(status.dwCheckPoint, 0u);
}

TEST_F(ServiceStatusTest, FailedStartStopsWithTheServicesOwnCode) {
  // An empty VerboseLogging is not a whole number: the start fails (the
  // write raises when it cannot be made).
  ASSERT_TRUE(halv::e2e::SetSystemValue("VerboseLogging", ""));
  EXPECT_EQ(halv::e2e::StartAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  const SERVICE_STATUS status = WaitStopped();
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
  EXPECT_EQ(status.dwServiceSpecificExitCode, 1u);
}

}  // namespace
