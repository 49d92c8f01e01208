// A console model over an installed configuration in an in-memory registry
// and a running service in the simulated manager, for the main-window and
// service-panel tests.
#ifndef HALV_TESTS_UNIT_CONSOLE_CONSOLE_FIXTURE_H_
#define HALV_TESTS_UNIT_CONSOLE_CONSOLE_FIXTURE_H_

#include <gtest/gtest.h>

#include <string>

#include "console_fakes.h"
#include "main_form.h"
#include "simulated_manager.h"

namespace halv::console::testing {

inline const std::string kVersionKey = std::string(kProductKey) + "\\3.5.1";
inline const std::string kSystemKey = kVersionKey + "\\System";
inline const std::string kDefaultsKey = kVersionKey + "\\Security\\Default";
inline const std::string kUsersKey = kVersionKey + "\\Security\\Users";

class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleTest() {
    Install(registry, "3.5.1");
    SimulatedService& service =
        scm.AddService("Halvexa351", "Tenmark Halvexa Service 3.5.1", kStateRunning);
    service.start_type = 2;  // automatic; the account is LocalSystem
  }

  // The configuration that an installation writes for `version`.
  static void Install(MemoryStore& store, const std::string& version) {
    const std::string key = std::string(kProductKey) + "\\" + version;
    const std::string sys = key + "\\System";
    store.Set(sys, "StopDependencies", "1");
    store.Set(sys, "VerboseLogging", "0");
    store.Set(sys, "ServiceStopTimeOut", "30000");
    store.Set(sys, "BaseDir", "C:\\Halvexa");
    store.Set(sys, "LogDir", "C:\\Halvexa\\logs");
    store.Set(sys, "DumpDir", "C:\\Halvexa\\dump");
    store.Set(sys, "ExecName", "halvexa351.exe");
    store.Set(sys, "Port", "9007");
    const std::string defaults = key + "\\Security\\Default";
    store.Set(defaults, "AllowList", "1");
    store.Set(defaults, "AllowStatus", "1");
    store.Set(defaults, "AllowStart", "0");
    store.Set(defaults, "AllowStop", "0");
    store.Set(defaults, "AllowRestart", "0");
    store.Set(defaults, "AllowUpdate", "0");
    const std::string users = key + "\\Security\\Users";
    store.Set(users + "\\Admin", "Auth", "c5fe20");
    store.Set(users + "\\Admin", "AllowList", "1");
    store.Set(users + "\\Admin", "AllowStop", "1");
    store.Set(users + "\\Anonymous", "Auth", "0badf0");
  }

  // Creates and shows the window as the program does at start.
  void Start() {
    form.FormCreate();
    form.FormShow();
  }

  // Every handler leaves the cursor as it found it.
  void TearDown() override { EXPECT_EQ(ui.cursor, FakeUi::kArrow); }

  MemoryStore registry;
  SimulatedManager scm;
  FakeUi ui;
  TForm1 form{registry, scm, ui};
};

}  // namespace halv::console::testing

#endif  // HALV_TESTS_UNIT_CONSOLE_CONSOLE_FIXTURE_H_
