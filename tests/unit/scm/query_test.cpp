// QueryServiceState, EnumerateServices and QueryServiceConfiguration against
// the simulated manager.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "scm_fixture.h"

namespace halv {
namespace {

// --- QueryServiceState ---

struct StateCase {
  const char* label;
  const char* name;
  std::uint32_t state;
  std::uint32_t manager_refusal;
  std::uint32_t open_refusal;
  std::uint32_t query_refusal;
  std::uint32_t expected;
};

const StateCase kStateCases[] = {
    {"Stopped", "Svc", kStateStopped, 0, 0, 0, kStateStopped},
    {"Running", "Svc", kStateRunning, 0, 0, 0, kStateRunning},
    {"StopPending", "Svc", kStateStopPending, 0, 0, 0, kStateStopPending},
    {"Paused", "Svc", kStatePaused, 0, 0, 0, kStatePaused},
    {"CaseInsensitiveName", "sVC", kStateRunning, 0, 0, 0, kStateRunning},
    {"MissingName", "NoSuchService", kStateRunning, 0, 0, 0, 0},
    {"EmptyName", "", kStateRunning, 0, 0, 0, 0},
    {"ManagerRefused", "Svc", kStateRunning, kErrorAccessDenied, 0, 0, 0},
    {"OpenRefused", "Svc", kStateRunning, 0, kErrorAccessDenied, 0, 0},
    {"QueryRefused", "Svc", kStateRunning, 0, 0, kErrorAccessDenied, 0},
};

class QueryStateTest : public ScmTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(QueryStateTest, StateOrZero) {
  const StateCase& c = GetParam();
  SimulatedService& svc = scm.AddService("Svc", "Some Service", c.state);
  svc.stop_delay_ms = kForever;
  scm.RefuseOpenManager(c.manager_refusal);
  svc.refuse_open = c.open_refusal;
  svc.refuse_query = c.query_refusal;
  EXPECT_EQ(QueryServiceState(scm, c.name), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Query, QueryStateTest, ::testing::ValuesIn(kStateCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(ScmTest, QueryStateAsksOnlyForStatus) {
  scm.AddService("Svc", "Some Service", kStateRunning);
  EXPECT_EQ(QueryServiceState(scm, "Svc"), kStateRunning);
  EXPECT_EQ(scm.Transcript(),
            "OpenManager SCM 1 -> 0\n"
            "OpenService Svc 4 -> 0\n"
            "QueryStatus Svc 0 -> 0\n"
            "Close Svc 0 -> 0\n"
            "Close SCM 0 -> 0\n");
}

// --- EnumerateServices ---

class EnumerateTest : public ScmTest {
 protected:
  void SetUp() override {
    scm.AddService("Alpha", "Alpha Service", kStateRunning);
    scm.AddService("beep", "Beep driver", kStateRunning).service_type = 0x1;      // kernel driver
    scm.AddService("Gamma", "Gamma Service", kStateStopped).service_type = 0x20;  // shared
    scm.AddService("Delta", "Delta Service", kStatePaused);
  }
  std::uint32_t ListedSize() {
    return SimulatedManager::EntrySize(*scm.Find("Alpha")) +
           SimulatedManager::EntrySize(*scm.Find("Gamma")) +
           SimulatedManager::EntrySize(*scm.Find("Delta"));
  }
};

TEST_F(EnumerateTest, TwoStepsListWin32ServicesInEveryStateInOrder) {
  std::uint32_t bytes = 0;
  EXPECT_EQ(EnumerateServices(scm, nullptr, &bytes), 0u);
  EXPECT_EQ(bytes, ListedSize());

  std::vector<ServiceEntry> entries;
  EXPECT_EQ(EnumerateServices(scm, &entries, &bytes), 0u);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].service_name, "Alpha");
  EXPECT_EQ(entries[0].display_name, "Alpha Service");
  EXPECT_EQ(entries[0].status.current_state, kStateRunning);
  EXPECT_EQ(entries[1].service_name, "Gamma");
  EXPECT_EQ(entries[1].status.current_state, kStateStopped);
  EXPECT_EQ(entries[2].service_name, "Delta");
  EXPECT_EQ(entries[2].status.current_state, kStatePaused);

  // Each step opens the manager with enumerate rights and makes one call.
  EXPECT_EQ(scm.CountCalls("EnumServices"), 2u);
  for (const SimulatedCall& call : scm.Calls()) {
    if (call.op == "OpenManager") {
      EXPECT_EQ(call.arg, kScManagerEnumerateService);
    }
  }
  EXPECT_EQ(scm.CountCalls("OpenService"), 0u);
}

TEST_F(EnumerateTest, ListThatGrewBetweenTheStepsFailsWithMoreData) {
  std::uint32_t bytes = 0;
  ASSERT_EQ(EnumerateServices(scm, nullptr, &bytes), 0u);
  scm.AddService("Epsilon", "Epsilon Service", kStateRunning);
  std::vector<ServiceEntry> entries;
  EXPECT_EQ(EnumerateServices(scm, &entries, &bytes), kErrorMoreData);
  EXPECT_TRUE(entries.empty());
  EXPECT_EQ(scm.CountCalls("EnumServices"), 2u);  // no second call with the resume handle
}

TEST_F(EnumerateTest, SizeStepReturnsZeroWhateverTheManagerAnswers) {
  scm.RefuseEnumServices(kErrorAccessDenied);
  std::uint32_t bytes = 77;
  EXPECT_EQ(EnumerateServices(scm, nullptr, &bytes), 0u);
  std::vector<ServiceEntry> entries;
  bytes = 4096;
  EXPECT_EQ(EnumerateServices(scm, &entries, &bytes), kErrorAccessDenied);
}

TEST_F(EnumerateTest, ManagerRefusedReturnsItsCode) {
  scm.RefuseOpenManager(kErrorAccessDenied);
  std::uint32_t bytes = 0;
  EXPECT_EQ(EnumerateServices(scm, nullptr, &bytes), kErrorAccessDenied);
  std::vector<ServiceEntry> entries;
  EXPECT_EQ(EnumerateServices(scm, &entries, &bytes), kErrorAccessDenied);
}

// --- QueryServiceConfiguration ---

class ConfigTest : public ScmTest {
 protected:
  void SetUp() override {
    SimulatedService& svc = scm.AddService("Svc", "Some Service", kStateRunning);
    svc.start_type = 2;
    svc.start_name = ".\\operator";
  }
};

TEST_F(ConfigTest, TwoStepsGiveStartTypeLogonAndDisplayName) {
  std::uint32_t bytes = 0;
  EXPECT_EQ(QueryServiceConfiguration(scm, "Svc", nullptr, &bytes), 0u);
  EXPECT_EQ(bytes, SimulatedManager::ConfigSize(*scm.Find("Svc")));

  ServiceConfigInfo config;
  EXPECT_EQ(QueryServiceConfiguration(scm, "Svc", &config, &bytes), 0u);
  EXPECT_EQ(config.start_type, 2u);
  EXPECT_EQ(config.service_start_name, ".\\operator");
  EXPECT_EQ(config.display_name, "Some Service");
  for (const SimulatedCall& call : scm.Calls()) {
    if (call.op == "OpenManager") {
      EXPECT_EQ(call.arg, kScManagerConnect);
    }
    if (call.op == "OpenService") {
      EXPECT_EQ(call.arg, kServiceQueryConfig);
    }
  }
}

struct ConfigFailureCase {
  const char* label;
  const char* name;
  bool with_buffer;
  std::uint32_t buffer_bytes;
  std::uint32_t manager_refusal;
  std::uint32_t config_refusal;
  std::uint32_t expected_code;
  bool bytes_unchanged;
};

const ConfigFailureCase kConfigFailures[] = {
    {"MissingNameSizeStep", "NoSuchService", false, 55, 0, 0, kErrorServiceDoesNotExist, true},
    {"MissingNameFillStep", "NoSuchService", true, 500, 0, 0, kErrorServiceDoesNotExist, true},
    {"ManagerRefused", "Svc", false, 55, kErrorAccessDenied, 0, kErrorAccessDenied, true},
    {"BufferTooSmall", "Svc", true, 10, 0, 0, kErrorInsufficientBuffer, false},
    {"RefusedWithBuffer", "Svc", true, 500, 0, kErrorAccessDenied, kErrorAccessDenied, true},
    // The size step reports success whatever the manager answered.
    {"RefusedSizeStep", "Svc", false, 55, 0, kErrorAccessDenied, 0, false},
};

class ConfigFailureTest : public ConfigTest,
                          public ::testing::WithParamInterface<ConfigFailureCase> {};

TEST_P(ConfigFailureTest, Code) {
  const ConfigFailureCase& c = GetParam();
  scm.RefuseOpenManager(c.manager_refusal);
  scm.Find("Svc")->refuse_config = c.config_refusal;
  std::uint32_t bytes = c.buffer_bytes;
  ServiceConfigInfo config;
  EXPECT_EQ(QueryServiceConfiguration(scm, c.name, c.with_buffer ? &config : nullptr, &bytes),
            c.expected_code);
  if (c.bytes_unchanged) {
    EXPECT_EQ(bytes, c.buffer_bytes);
  }
  if (c.with_buffer && c.expected_code != 0) {
    EXPECT_TRUE(config.display_name.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Config, ConfigFailureTest, ::testing::ValuesIn(kConfigFailures),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace halv
