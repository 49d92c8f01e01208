// The service-control operations against the real Service Control Manager
// (Wine's under test) with halv_test_service registered under a name of its
// own. The service is registered before the tests and stopped and deleted
// after them, whatever their outcome. Exact codes and dependants are proven
// against the simulated manager; here the real calls are shown to work.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "service_control.h"
#include "win/handles.h"
#include "win/system_service_manager.h"

namespace halv {
namespace {

constexpr char kServiceName[] = "HalvTestSvc1";
constexpr char kDisplayName[] = "Halvexa Test Service 1";
constexpr char kTimingsKey[] = "SOFTWARE\\HalvexaTests\\Services\\HalvTestSvc1";

std::string TestServicePath() {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path, n);
  dir.erase(dir.find_last_of("\\/") + 1);
  return dir + "halv_test_service.exe";
}

using Sc = win::ServiceHandle;

void SetTiming(HKEY key, const char* name, DWORD value) {
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

// Stops (briefly waiting) and deletes the test service if it is there.
void RemoveTestService() {
  Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (manager.get() == nullptr) return;
  Sc service(OpenServiceA(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
  if (service.get() != nullptr) {
    SERVICE_STATUS status{};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    for (int i = 0; i < 50 && QueryServiceStatus(service.get(), &status) &&
                    status.dwCurrentState != SERVICE_STOPPED;
         ++i) {
      Sleep(100);
    }
    DeleteService(service.get());
  }
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kTimingsKey);
  // The parents go too when nothing else is left in them.
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\HalvexaTests\\Services");
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\HalvexaTests");
}

class ScmWineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    RemoveTestService();  // left over from an interrupted run
    win::RegKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTimingsKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, key.Out(), nullptr),
              ERROR_SUCCESS);
    // Start-pending for 1.5 s with a 3 s hint (polled each second, check
    // point advancing); stop-pending for 1 s with a 2 s hint.
    SetTiming(key.get(), "StartDelay", 1500);
    SetTiming(key.get(), "StartWaitHint", 3000);
    SetTiming(key.get(), "StopDelay", 1000);
    SetTiming(key.get(), "StopWaitHint", 2000);
    SetTiming(key.get(), "CheckPointEvery", 250);
    key.reset();

    Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_NE(manager.get(), nullptr) << GetLastError();
    const std::string path = "\"" + TestServicePath() + "\"";
    Sc service(CreateServiceA(manager.get(), kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                              SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                              path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_NE(service.get(), nullptr) << GetLastError();
  }

  static void TearDownTestSuite() { RemoveTestService(); }

  ServiceManager& scm = SystemServiceManager();
};

TEST_F(ScmWineTest, StartRunsThenStopStops) {
  ASSERT_EQ(QueryServiceState(scm, kServiceName), kStateStopped);

  const DWORD before_start = GetTickCount();
  EXPECT_EQ(StartServiceAndWait(scm, kServiceName), 0u);
  EXPECT_GE(GetTickCount() - before_start, 1000u);  // it waited through start-pending
  EXPECT_EQ(QueryServiceState(scm, kServiceName), kStateRunning);

  // Listed with its state and display name while it runs.
  std::uint32_t bytes = 0;
  ASSERT_EQ(EnumerateServices(scm, nullptr, &bytes), 0u);
  EXPECT_GT(bytes, 0u);
  std::vector<ServiceEntry> entries;
  ASSERT_EQ(EnumerateServices(scm, &entries, &bytes), 0u);
  const ServiceEntry* found = nullptr;
  for (const ServiceEntry& entry : entries) {
    if (entry.service_name == kServiceName) found = &entry;
  }
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->display_name, kDisplayName);
  EXPECT_EQ(found->status.current_state, kStateRunning);

  const DWORD before_stop = GetTickCount();
  EXPECT_EQ(StopServiceAndDependents(scm, kServiceName, true, 30000), 0u);
  EXPECT_GE(GetTickCount() - before_stop, 900u);  // it waited through stop-pending
  EXPECT_EQ(QueryServiceState(scm, kServiceName), kStateStopped);

  // A stopped service is left alone.
  EXPECT_EQ(StopServiceAndDependents(scm, kServiceName, true, 30000), 0u);
}

TEST_F(ScmWineTest, ConfigurationGivesStartTypeLogonAndDisplayName) {
  std::uint32_t bytes = 0;
  ASSERT_EQ(QueryServiceConfiguration(scm, kServiceName, nullptr, &bytes), 0u);
  EXPECT_GT(bytes, sizeof(QUERY_SERVICE_CONFIGA));
  ServiceConfigInfo config;
  ASSERT_EQ(QueryServiceConfiguration(scm, kServiceName, &config, &bytes), 0u);
  EXPECT_EQ(config.start_type, static_cast<std::uint32_t>(SERVICE_DEMAND_START));
  EXPECT_EQ(config.service_start_name, "LocalSystem");
  EXPECT_EQ(config.display_name, kDisplayName);
  EXPECT_NE(config.binary_path_name.find("halv_test_service.exe"), std::string::npos);

  // Too small a buffer is refused.
  bytes = 8;
  EXPECT_NE(QueryServiceConfiguration(scm, kServiceName, &config, &bytes), 0u);
}

TEST_F(ScmWineTest, UnknownNameIsRefused) {
  const char kMissing[] = "HalvNoSuchService";
  EXPECT_EQ(QueryServiceState(scm, kMissing), 0u);
  EXPECT_EQ(StartServiceAndWait(scm, kMissing),
            static_cast<std::uint32_t>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(StopServiceAndDependents(scm, kMissing, true, 30000),
            static_cast<std::uint32_t>(ERROR_SERVICE_DOES_NOT_EXIST));
  std::uint32_t bytes = 1234;
  EXPECT_EQ(QueryServiceConfiguration(scm, kMissing, nullptr, &bytes),
            static_cast<std::uint32_t>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(bytes, 1234u);
}

TEST_F(ScmWineTest, StartOfRunningServiceIsRefused) {
  ASSERT_EQ(StartServiceAndWait(scm, kServiceName), 0u);
  EXPECT_NE(StartServiceAndWait(scm, kServiceName), 0u);  // 1056 on Windows
  EXPECT_EQ(StopServiceAndDependents(scm, kServiceName, false, 30000), 0u);
}

}  // namespace
}  // namespace halv
