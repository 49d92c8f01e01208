// Transcript tests of LIST against the simulated manager, and of the word
// tables of the listings.
#include "listings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_server_context.h"
#include "interpreter.h"
#include "recording_connection.h"
#include "simulated_manager.h"
#include "transcript.h"

namespace halv::testing {
namespace {

using Sends = std::vector<std::string>;

const Sends kListHeader = {
    "\n\rHalvexa Version 3.5.1.0\n\r\n\rServer: TESTHOST\n\rService running as: SYSTEM\n\r"
    "Local Server Date: 7 December 2026 11:05:09 pm\n\r\n\r",
    " Service Name                       Status      Startup Type  Log On As\n\r",
    std::string(80, '-') + "\n\r"};

Sends WithHeader(const Sends& rest) {
  Sends all = kListHeader;
  all.insert(all.end(), rest.begin(), rest.end());
  return all;
}

class ListTest : public ManagerCommandTest {};

TEST_F(ListTest, RowsInTheManagersOrderWithWideningColumns) {
  SimulatedService& spooler = scm_.AddService("Spooler", "Print Spooler", kStateRunning);
  spooler.start_type = 2;
  const std::string long_name = "AVeryLongServiceNameOfMoreThan34Chars";  // 37 characters
  SimulatedService& wide = scm_.AddService(long_name, "Long", kStateStopped);
  wide.start_type = 4;
  wide.start_name = "NT AUTHORITY\\LocalService";  // 25 characters
  SimulatedService& boot = scm_.AddService("Disk", "Disk", kStateStopped);
  boot.start_type = 0;
  boot.start_name = "";
  scm_.AddService("Odd", "Odd", kStateStopped).start_type = 9;

  const Sends expected = WithHeader({
      " Spooler                            Running     Automatic     LocalSystem     \n\r",
      " " + long_name + " Stopped     Disabled      NT AUTHORITY\\LocalService\n\r",
      Field("Disk", 34) + Field("Stopped", 11) + Field("Boot", 13) + Field("", 16) + "\n\r",
      Field("Odd", 34) + Field("Stopped", 11) + Field("Unknown", 13) + Field("LocalSystem", 16) +
          "\n\r",
      ":: ",
  });
  EXPECT_EQ(Run({"list"}), expected);
  // Any argument is ignored: the whole list again.
  EXPECT_EQ(Run({"LIST", "Spooler"}), expected);
}

TEST_F(ListTest, EveryStateAndStartTypeWord) {
  const char* const states[] = {"Unknown",    "Stopped", "Starting", "Stopping", "Running",
                                "Continuing", "Pausing", "Paused",   "Unknown"};
  for (std::uint32_t state = 0; state <= 8; ++state) {
    EXPECT_EQ(StateWord(state), states[state]) << state;
  }
  EXPECT_EQ(StateWord(0xFFFFFFFF), "Unknown");
  const char* const types[] = {"Boot", "System", "Automatic", "Demand", "Disabled", "Unknown"};
  for (std::uint32_t type = 0; type <= 5; ++type) {
    EXPECT_EQ(StartTypeWord(type), types[type]) << type;
  }
  EXPECT_EQ(StatusText(8), "Unable to determine status.\n\r");
}

// A service whose configuration cannot be read keeps its row, with
// "Unknown" as start type and an empty account.
TEST_F(ListTest, UnreadableConfiguration) {
  scm_.AddService("Locked", "Locked", kStateRunning).refuse_config = 5;
  scm_.AddService("Gone", "Gone", kStateStopped).refuse_open = 1060;
  EXPECT_EQ(Run({"list"}), WithHeader({Field("Locked", 34) + Field("Running", 11) +
                                           Field("Unknown", 13) + Field("", 16) + "\n\r",
                                       Field("Gone", 34) + Field("Stopped", 11) +
                                           Field("Unknown", 13) + Field("", 16) + "\n\r",
                                       ":: "}));
}

TEST_F(ListTest, ManagerThatCannotBeOpenedIsReportedAfterTheHeader) {
  scm_.AddService("Spooler", "Print Spooler", kStateRunning);
  scm_.RefuseOpenManager(5);
  EXPECT_EQ(Run({"list"}), WithHeader({"The requested access was denied.\n\r", ":: "}));
}

TEST_F(ListTest, FailedEnumerationShowsAnEmptyList) {
  scm_.AddService("Spooler", "Print Spooler", kStateRunning);
  scm_.RefuseEnumServices(5);
  EXPECT_EQ(Run({"list"}), WithHeader({":: "}));
}

TEST_F(ListTest, NoServices) { EXPECT_EQ(Run({"list"}), WithHeader({":: "})); }

TEST_F(ListTest, HeaderShowsTheServiceObjectsTexts) {
  server_.fields().version = "1.2.3.4";
  server_.fields().server_name = "DB7";
  server_.fields().log_on_as = "svc_halvexa";
  server_.set_now({2026, 2, 3, 12, 0, 7});
  const Sends sends = Run({"list"});
  ASSERT_FALSE(sends.empty());
  EXPECT_EQ(sends[0],
            "\n\rHalvexa Version 1.2.3.4\n\r\n\rServer: DB7\n\rService running as: svc_halvexa"
            "\n\rLocal Server Date: 3 February 2026 12:00:07 pm\n\r\n\r");
}

}  // namespace
}  // namespace halv::testing
