// The General tab's service panel: state texts and button tables after a
// load and after each button, the start types, the stop settings read from
// the registry at the click, the log file and the missing service.
#include <gtest/gtest.h>

#include <algorithm>
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

// Puts the service in `state` (any number, even one the manager never
// reports) and keeps it there: a pending state does not end.
void Hold(SimulatedManager& scm, std::uint32_t state) {
  SimulatedService& service = *scm.Find("Halvexa351");
  service.start_delay_ms = kForever;
  service.stop_delay_ms = kForever;
  scm.SetState("Halvexa351", state);
}

// The manager calls that change a service, in order.
std::vector<std::string> Steps(const SimulatedManager& scm) {
  std::vector<std::string> steps;
  for (const SimulatedCall& call : scm.Calls())
    if (call.op == "Control" || call.op == "Start") steps.push_back(call.op);
  return steps;
}

TEST_F(ConsoleTest, StateAndButtonsAfterLoading) {
  for (const auto& c : kStates) {
    SCOPED_TRACE(c.state);
    Hold(scm, c.state);
    form.FormCreate();
    EXPECT_EQ(form.txtServiceStatus, c.text);
    EXPECT_EQ(Buttons(form), c.after_load);
  }
}

TEST_F(ConsoleTest, StateAndButtonsAfterEachButton) {
  void (TForm1::*const buttons[])() = {&TForm1::btnStartClick, &TForm1::btnStopClick,
                                       &TForm1::btnRestartClick};
  // A short stop time-out: Stop waits for a state that never comes.
  registry.Set(kSystemKey, "ServiceStopTimeOut", "100");
  for (auto button : buttons) {
    for (const auto& c : kStates) {
      SCOPED_TRACE(c.state);
      SimulatedService& service = *scm.Find("Halvexa351");
      service.start_delay_ms = 0;
      service.stop_delay_ms = 0;
      scm.SetState("Halvexa351", kStateRunning);
      form.FormCreate();
      // The button's own step (the stop for Stop, else the start, refused or
      // not) leaves the service in the state of the case; Restart's stop works.
      const char* const landing = button == &TForm1::btnStopClick ? "Control" : "Start";
      scm.SetHook([&](const SimulatedCall& call) {
        if (call.op == landing) Hold(scm, c.state);
      });
      (form.*button)();
      scm.SetHook(nullptr);
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
  EXPECT_EQ(scm.StateOf("Halvexa351"), kStateStopped);
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
    scm.Find("Halvexa351")->start_type = c.start_type;
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
    TForm1 f(store, scm, box);
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
  // The stop never ends, so it gives up at its time-out, polling each second.
  SimulatedService& service = *scm.Find("Halvexa351");
  service.stop_delay_ms = kForever;
  service.stop_wait_hint = 1000;
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
    scm.ClearCalls();
    form.btnStopClick();
    ASSERT_EQ(Steps(scm), std::vector<std::string>{"Control"});
    EXPECT_EQ(scm.CountCalls("OpenService", "halvexa351"), 2u);  // the stop, then the state
    // Dependants are looked for only with the flag.
    EXPECT_EQ(scm.CountCalls("EnumDependents") != 0, c.flag);
    // The stop's clock: its first reading starts the time-out, its last one
    // found it past; that is a few manager calls (1 ms each) after it.
    std::vector<std::uint32_t> ticks;
    for (const SimulatedCall& call : scm.Calls())
      if (call.op == "TickCount") ticks.push_back(call.result);
    ASSERT_GE(ticks.size(), 2u);
    const std::uint32_t waited = ticks.back() - ticks.front();
    EXPECT_GT(waited, c.timeout_ms);
    EXPECT_LE(waited, c.timeout_ms + 6);
    EXPECT_EQ(form.txtServiceStatus, "Stopping");
    scm.SetState("Halvexa351", kStateRunning);
  }
}

TEST_F(ConsoleTest, RestartStopsThenStartsWhateverTheStopAchieved) {
  const struct {
    const char* name;
    std::uint32_t refuse_control, stop_delay_ms;
    const char* text;
  } cases[] = {
      // The service refuses the stop and keeps running; the start finds it running.
      {"refused", kErrorInvalidServiceControl, 0, "Running"},
      // The stop times out; the start is tried on the stopping service.
      {"timed out", 0, kForever, "Stopping"},
  };
  registry.Set(kSystemKey, "ServiceStopTimeOut", "2000");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedService& service = *scm.Find("Halvexa351");
    service.refuse_control = c.refuse_control;
    service.stop_delay_ms = c.stop_delay_ms;
    scm.SetState("Halvexa351", kStateRunning);
    Start();
    scm.ClearCalls();
    form.btnRestartClick();
    EXPECT_EQ(Steps(scm), (std::vector<std::string>{"Control", "Start"}));
    // The start is refused (the service is not stopped); then the state is read once.
    const auto& calls = scm.Calls();
    const auto start = std::find_if(calls.begin(), calls.end(),
                                    [](const SimulatedCall& call) { return call.op == "Start"; });
    ASSERT_NE(start, calls.end());
    EXPECT_EQ(start->result, kErrorServiceAlreadyRunning);
    EXPECT_EQ(std::count_if(start, calls.end(),
                            [](const SimulatedCall& call) { return call.op == "QueryStatus"; }),
              1);
    EXPECT_EQ(form.txtServiceStatus, c.text);
  }
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
      TForm1 f(store, scm, box);
      f.FormCreate();
      store.Set(kSystemKey, c.value, c.stored);
      scm.SetState("Halvexa351", kStateStopped);  // changed elsewhere
      scm.ClearCalls();
      (f.*button)();
      EXPECT_EQ(box.errors, std::vector<std::string>{c.error});
      EXPECT_EQ(box.cursor_at_error, std::vector<std::uintptr_t>{FakeUi::kArrow});
      EXPECT_TRUE(scm.Calls().empty());
      EXPECT_EQ(f.txtServiceStatus, "Running");  // not refreshed
      scm.SetState("Halvexa351", kStateRunning);
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
  registry.SetNonString(kSystemKey, "LogDir");
  form.btnViewClick();
  EXPECT_EQ(ui.errors, std::vector<std::string>{"Invalid data type for 'LogDir'"});
  EXPECT_TRUE(ui.shell_paths.empty());
}

}  // namespace
}  // namespace halv::console::testing
