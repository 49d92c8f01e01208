// The service panel with a dependant in the simulated manager: dependants
// stopped only with the stored flag, paused services and handles closed.
#include <gtest/gtest.h>

#include <string>

#include "console_fixture.h"

namespace halv::console::testing {
namespace {

class SimulatedPanelTest : public ConsoleTest {
 protected:
  SimulatedPanelTest() {
    scm.AddService("HalvexaHelper", "Helper", kStateRunning);
    scm.AddDependency("Halvexa351", "HalvexaHelper");
  }
  TForm1& panel = form;
};

TEST_F(SimulatedPanelTest, StopTouchesDependantsOnlyWhenTheStoredFlagIsNotZero) {
  const struct {
    std::string flag;
    std::uint32_t service_after, helper_after;
    const char* text;
  } cases[] = {
      // Without the flag the manager refuses to stop a service with running dependants.
      {"0", kStateRunning, kStateRunning, "Running"},
      {"1", kStateStopped, kStateStopped, "Stopped"},
      {"2", kStateStopped, kStateStopped, "Stopped"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flag);
    scm.SetState("Halvexa351", kStateRunning);
    scm.SetState("HalvexaHelper", kStateRunning);
    registry.Set(kSystemKey, "StopDependencies", c.flag);
    panel.FormCreate();
    panel.btnStopClick();
    EXPECT_EQ(scm.StateOf("Halvexa351"), c.service_after);
    EXPECT_EQ(scm.StateOf("HalvexaHelper"), c.helper_after);
    EXPECT_EQ(panel.txtServiceStatus, c.text);
    EXPECT_EQ(scm.OpenHandleCount(), 0u);
  }
}

TEST_F(SimulatedPanelTest, LoadShowsTheConfigurationAndAPausedService) {
  scm.SetState("Halvexa351", kStatePaused);
  panel.FormCreate();
  EXPECT_EQ(panel.txtServiceName.text, "halvexa351");
  EXPECT_EQ(panel.txtName.text, "Tenmark Halvexa Service 3.5.1");
  EXPECT_EQ(panel.txtRunAs.text, "LocalSystem");
  EXPECT_EQ(panel.cboStartupType.Text(), "Automatic");
  EXPECT_EQ(panel.txtServiceStatus, "Paused");
  EXPECT_TRUE(panel.btnStart.enabled);
  EXPECT_FALSE(panel.btnStop.enabled);
  EXPECT_TRUE(panel.btnRestart.enabled);
  EXPECT_TRUE(ui.notices.empty());
  EXPECT_EQ(scm.OpenHandleCount(), 0u);
}

TEST_F(SimulatedPanelTest, AStopThatOutlastsTheStoredTimeOutShowsStopping) {
  scm.Find("Halvexa351")->stop_delay_ms = kForever;
  scm.Find("Halvexa351")->check_point_every_ms = 100;
  registry.Set(kSystemKey, "StopDependencies", "1");
  registry.Set(kSystemKey, "ServiceStopTimeOut", "2000");
  panel.FormCreate();
  panel.txtTimeOut.text = "600000";  // typed, not saved
  const auto before = scm.Elapsed();
  panel.btnStopClick();
  EXPECT_LT(scm.Elapsed() - before, 10000u);
  EXPECT_EQ(panel.txtServiceStatus, "Stopping");
  EXPECT_TRUE(panel.btnStart.enabled);
  EXPECT_FALSE(panel.btnStop.enabled);
}

}  // namespace
}  // namespace halv::console::testing
