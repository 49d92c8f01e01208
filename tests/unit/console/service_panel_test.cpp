// The General tab's service panel: state texts and button tables after a
// load and after each button, the start types, the stop settings read from
// the registry at the click, the log file and the missing service.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console_fixture.h"

namespace halv::console::testing {
namespace {

struct StateCase {
  std::uint32_t state;
  const char* text;
  ServiceButtons after_load;
  ServiceButtons after_button;
};

// state, text, {start, stop, restart} after a load, the same after a button.
const StateCase kStates[] = {
    {0, "Unknown", {false, false, false}, {false, false, false}},
    {1, "Stopped", {true, false, false}, {true, false, false}},
    {2, "Starting", {false, true, false}, {false, true, true}},
    {3, "Stopping", {true, false, false}, {true, false, false}},
    {4, "Running", {false, true, true}, {false, true, true}},
    {5, "Pending Continue", {false, true, true}, {false, true, true}},
    {6, "Pending Pause", {false, true, true}, {true, false, false}},
    {7, "Paused", {true, false, true}, {true, false, false}},
    {8, "Unknown", {false, false, false}, {false, false, false}},
};

ServiceButtons Buttons(const TForm1& f) {
  return {f.btnStart.enabled, f.btnStop.enabled, f.btnRestart.enabled};
}

TEST_F(ConsoleTest, StateAndButtonsAfterLoading) {
  for (const auto& c : kStates) {
    SCOPED_TRACE(c.state);
    services.services["halvexa351"].state = c.state;
    form.FormCreate();
    EXPECT_EQ(form.txtServiceStatus, c.text);
    EXPECT_EQ(Buttons(form), c.after_load);
  }
}

TEST_F(ConsoleTest, StateAndButtonsAfterEachButton) {
  void (TForm1::*const buttons[])() = {&TForm1::btnStartClick, &TForm1::btnStopClick,
                                       &TForm1::btnRestartClick};
  for (auto button : buttons) {
    for (const auto& c : kStates) {
      SCOPED_TRACE(c.state);
      auto& service = services.services["halvexa351"];
      service.state = kStateRunning;
      service.state_after_start = c.state;
      service.state_after_stop = button == &TForm1::btnStopClick ? c.state : kStateStopped;
      form.FormCreate();
      (form.*button)();
      EXPECT_EQ(form.txtServiceStatus, c.text);
      EXPECT_EQ(Buttons(form), c.after_button);
      EXPECT_EQ(ui.cursor, FakeUi::kArrow);
    }
  }
  EXPECT_TRUE(ui.errors.empty());
}

TEST_F(ConsoleTest, RunningServiceShownThenStopped) {
  Start();
  EXPECT_EQ(form.txtServiceName.text, "halvexa351");
  EXPECT_EQ(form.txtName.text, "Tenmark Halvexa Service 3.5.1");
  EXPECT_EQ(form.txtRunAs.text, "LocalSystem");
  EXPECT_EQ(form.cboStartupType.Text(), "Automatic");
  EXPECT_EQ(form.txtServiceStatus, "Running");
  form.btnStopClick();
  EXPECT_EQ(form.txtServiceStatus, "Stopped");
  EXPECT_EQ(Buttons(form), (ServiceButtons{true, false, false}));
  EXPECT_EQ(services.services["halvexa351"].state, kStateStopped);
  form.btnStartClick();
  EXPECT_EQ(form.txtServiceStatus, "Running");
  EXPECT_EQ(Buttons(form), (ServiceButtons{false, true, true}));
}

TEST_F(ConsoleTest, StartTypeEntries) {
  const struct {
    std::uint32_t start_type;
    const char* text;
    int index;
  } cases[] = {{0, "Boot", 0},     {1, "System", 1},  {2, "Automatic", 2}, {3, "Demand", 3},
               {4, "Disabled", 4}, {5, "Unknown", 5}, {99, "Unknown", 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.start_type);
    services.services["halvexa351"].config.start_type = c.start_type;
    form.FormCreate();
    EXPECT_EQ(
        form.cboStartupType.items,
        (std::vector<std::string>{"Boot", "System", "Automatic", "Demand", "Disabled", "Unknown"}));
    EXPECT_EQ(form.cboStartupType.index, c.index);
    EXPECT_EQ(form.cboStartupType.Text(), c.text);
    EXPECT_FALSE(form.cboStartupType.enabled);
  }
}

TEST_F(ConsoleTest, MissingServiceShowsTheMessageAndDisablesTheButtons) {
  const char* const exec_names[] = {"other.exe", "abcd"};
  for (const char* exec : exec_names) {
    SCOPED_TRACE(exec);
    MemoryStore store;
    Install(store, "3.5.1");
    store.Set(kSystemKey, "ExecName", exec);
    FakeUi box;
    TForm1 f(store, services, box);
    f.FormCreate();
    EXPECT_EQ(box.notices, std::vector<std::string>{
                               "Unable to find service.  This tool must be used\non the server "
                               "that is running the Halvexa Service."});
    EXPECT_TRUE(box.errors.empty());
    EXPECT_EQ(f.txtServiceStatus, "Unknown");
    EXPECT_EQ(Buttons(f), (ServiceButtons{false, false, false}));
    // The service fields keep what they showed before.
    EXPECT_EQ(f.txtServiceName.text, "");
    EXPECT_EQ(f.txtRunAs.text, "LocalSystem");
    EXPECT_EQ(f.cboStartupType.items,
              (std::vector<std::string>{"Automatic", "Disabled", "Manual"}));
    EXPECT_EQ(box.cursor, FakeUi::kArrow);
  }
}

TEST_F(ConsoleTest, StopUsesTheSavedSettingsNotTheTypedOnes) {
  const struct {
    std::string stop_dependencies, timeout;
    bool flag;
    std::uint32_t timeout_ms;
  } cases[] = {
      {"0", "30000", false, 30000}, {"1", "30000", true, 30000}, {"2", "5000", true, 5000},
      {"-1", "0", true, 0},         {"0", "+10", false, 10},     {"0", "-5", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stop_dependencies + " " + c.timeout);
    Start();
    // Typed on the System tab but not saved.
    form.txtTimeOut.text = "5";
    form.txtTimeOutChange();
    form.cboStopDepend.index = c.flag ? 0 : 1;
    form.cboStopDependChange();
    registry.Set(kSystemKey, "StopDependencies", c.stop_dependencies);
    registry.Set(kSystemKey, "ServiceStopTimeOut", c.timeout);
    services.stops.clear();
    form.btnStopClick();
    ASSERT_EQ(services.stops.size(), 1u);
    EXPECT_EQ(services.stops[0], (FakeServices::StopCall{"halvexa351", c.flag, c.timeout_ms}));
    services.services["halvexa351"].state = kStateRunning;
  }
}

TEST_F(ConsoleTest, RestartStopsThenStartsWhateverTheStopAchieved) {
  Start();
  services.services["halvexa351"].state_after_stop = kStateStopPending;  // stop timed out
  services.calls.clear();
  form.btnRestartClick();
  EXPECT_EQ(services.calls,
            (std::vector<std::string>{"stop halvexa351", "start halvexa351", "state halvexa351"}));
  EXPECT_EQ(form.txtServiceStatus, "Running");
}

TEST_F(ConsoleTest, UnreadableStopSettingsLeaveTheServiceAlone) {
  const struct {
    const char* value;
    std::string stored;
    std::string error;
  } cases[] = {
      {"StopDependencies", "", "'' is not a valid integer value"},
      {"ServiceStopTimeOut", "30 s", "'30 s' is not a valid integer value"},
      {"ServiceStopTimeOut", "2147483648", "'2147483648' is not a valid integer value"},
  };
  void (TForm1::*const buttons[])() = {&TForm1::btnStopClick, &TForm1::btnRestartClick};
  for (auto button : buttons) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.stored);
      MemoryStore store;
      Install(store, "3.5.1");
      FakeUi box;
      TForm1 f(store, services, box);
      f.FormCreate();
      store.Set(kSystemKey, c.value, c.stored);
      services.services["halvexa351"].state = kStateStopped;  // changed elsewhere
      services.calls.clear();
      (f.*button)();
      EXPECT_EQ(box.errors, std::vector<std::string>{c.error});
      EXPECT_EQ(box.cursor_at_error, std::vector<std::uintptr_t>{FakeUi::kArrow});
      EXPECT_TRUE(services.calls.empty());
      EXPECT_EQ(f.txtServiceStatus, "Running");  // not refreshed
      services.services["halvexa351"].state = kStateRunning;
    }
  }
}

TEST_F(ConsoleTest, ViewOpensTheLogFileRetryingOnce) {
  const struct {
    std::string log_dir;
    std::vector<std::intptr_t> shell;
    std::string path;
    std::size_t requests;
    bool message;
  } cases[] = {
      {"C:\\logs", {42}, "C:\\logs\\serverlog.txt", 1, false},
      {"C:\\logs\\", {33}, "C:\\logs\\\\serverlog.txt", 1, false},
      {"C:\\\\logs", {42}, "C:\\\\logs\\serverlog.txt", 1, false},
      {"", {42}, "\\serverlog.txt", 1, false},
      {"C:\\logs", {31, 42}, "C:\\logs\\serverlog.txt", 2, false},
      {"C:\\logs", {2, 32}, "C:\\logs\\serverlog.txt", 2, true},
  };
  Start();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.log_dir);
    registry.Set(kSystemKey, "LogDir", c.log_dir);
    form.txtLogDir.text = "X:\\typed";  // the saved value counts
    ui.shell_paths.clear();
    ui.plain_messages.clear();
    ui.shell_results.assign(c.shell.begin(), c.shell.end());
    form.btnViewClick();
    EXPECT_EQ(ui.shell_paths, std::vector<std::string>(c.requests, c.path));
    EXPECT_EQ(ui.plain_messages,
              c.message ? std::vector<std::string>{"Unable to start associated application."}
                        : std::vector<std::string>{});
  }
  EXPECT_TRUE(ui.errors.empty());
}

TEST_F(ConsoleTest, ViewReportsALogDirOfAnotherType) {
  Start();
  registry.SetBinary(kSystemKey, "LogDir");
  form.btnViewClick();
  EXPECT_EQ(ui.errors, std::vector<std::string>{"Invalid data type for 'LogDir'"});
  EXPECT_TRUE(ui.shell_paths.empty());
}

}  // namespace
}  // namespace halv::console::testing
