// The service's server log under Wine: the start lines and their order, the
// verbose connection lines, re-binding by INIT, the stop line, VIEW, and a
// service without the log library.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "service_harness.h"
#include "win/registry.h"

namespace {

using namespace std::chrono_literals;
using halv::e2e::Client;

constexpr char kPrompt[] = "\n\r:: ";
const char kLongDate[] =
    "[0-3][0-9] [A-Z][a-z]+ 20[0-9][0-9] (0[1-9]|1[0-2]):[0-5][0-9]:[0-5][0-9] (AM|PM)";
const char kShortDate[] =
    "[1-9][0-9]? [A-Z][a-z]+ 20[0-9][0-9] (0[1-9]|1[0-2]):[0-5][0-9]:[0-5][0-9] (AM|PM)";

// Escapes a literal for use inside a regular expression.
std::string Literal(const std::string& text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(text, special, R"(\$&)");
}

std::string Line(const std::string& pattern) { return "date Status: " + pattern + "\r\n"; }

class ServerLogTest : public halv::e2e::InstalledServiceTest {
 protected:
  void Stop() { ASSERT_EQ(halv::e2e::StopAndWait(), static_cast<DWORD>(SERVICE_STOPPED)); }
  std::string LogPath() const { return log_dir_ + "\\serverlog.txt"; }
  // A client connects, asks for HELP and leaves; then the service stops.
  void HelpSessionThenStop() {
    Client c;
    ASSERT_TRUE(c.Connect(Port()));
    c.ReadUntil(kPrompt);
    c.Send("help\r\n");
    c.ReadUntil("End of HELP info\n\r:: ");
    // Once the service has closed its side it has handled the disconnection.
    ASSERT_TRUE(c.Leave());
    Stop();
  }
  // The whole log file matches `pattern`.
  void ExpectLog(const std::string& pattern) const {
    const std::string text = LogText();
    EXPECT_TRUE(std::regex_match(text, std::regex(pattern))) << text;
  }
  std::string LogText() const { return halv::e2e::ReadFileBytes(LogPath()); }

  // The lines one configuration read writes, as a pattern.
  std::string StartLines(bool verbose, bool stop_dependencies) const {
    char computer[64] = {};
    DWORD size = sizeof computer;
    GetComputerNameA(computer, &size);
    std::string p = Line(Literal("Server logging started.")) +
                    Line("Service started on " + std::string(kLongDate));
    if (verbose) p += Line(Literal("Service is in verbose logging mode."));
    p += Line(Literal("Service is using " + halv::e2e::BinDir() + "\\halvexa351.exe")) +
         Line(Literal("Service version 3.5.1.1")) +
         Line(Literal("Service running on server " + std::string(computer))) +
         Line("Service running as [^\r\n]+") +
         Line(Literal("Service is listening on port " + std::to_string(Port()))) +
         Line(Literal("Service timeout for stopping dependencies is 30000")) +
         Line(stop_dependencies ? "Service will stop dependent services"
                                : "Service will not stop dependent services");
    return p;
  }
};

TEST_F(ServerLogTest, StartAndStopWriteTheirLinesInOrder) {
  StartRunning();
  HelpSessionThenStop();
  const std::string expected = StartLines(false, true) + Line(Literal("Service is running.")) +
                               Line(Literal("Service is stopped."));
  // Normal mode logs nothing about clients.
  ExpectLog(expected);
}

// Only 1 is verbose; any whole number but 0 stops dependants.
TEST_F(ServerLogTest, OtherNumbersForTheFlags) {
  ASSERT_TRUE(halv::e2e::SetSystemValue("VerboseLogging", "2"));
  ASSERT_TRUE(halv::e2e::SetSystemValue("StopDependencies", "5"));
  StartRunning();
  Stop();
  const std::string expected = StartLines(false, true) + Line(Literal("Service is running.")) +
                               Line(Literal("Service is stopped."));
  ExpectLog(expected);
}

TEST_F(ServerLogTest, VerboseModeLogsConnectionsAndReceipts) {
  ASSERT_TRUE(halv::e2e::SetSystemValue("VerboseLogging", "1"));
  ASSERT_TRUE(halv::e2e::SetSystemValue("StopDependencies", "0"));
  StartRunning();
  HelpSessionThenStop();
  const std::string expected =
      StartLines(true, false) + Line(Literal("Service is running.")) +
      Line("Client \\(127\\.0\\.0\\.1\\) connected at " + std::string(kShortDate)) +
      Line(Literal("Received buffer size is 4")) +
      // The received text keeps its line feed, which the log writes as CR LF.
      Line(Literal("Receive buffer is >>help\r\n<<")) +
      Line("Client \\(127\\.0\\.0\\.1\\) disconnected at " + std::string(kShortDate)) +
      Line(Literal("Service is stopped."));
  ExpectLog(expected);
}

TEST_F(ServerLogTest, InitWritesTheStartLinesAgainToTheSameFile) {
  StartRunning();
  Client c;
  ASSERT_TRUE(c.Connect(Port()));
  c.ReadUntil(kPrompt);
  c.Send("init\r\n");
  EXPECT_EQ(c.ReadUntil(":: "), "Reinitializing server.\n\r:: ");
  Stop();
  const std::string expected = StartLines(false, true) + Line(Literal("Service is running.")) +
                               StartLines(false, true) + Line(Literal("Service is stopped."));
  ExpectLog(expected);
}

TEST_F(ServerLogTest, ViewShowsWhatHasBeenWrittenOut) {
  ASSERT_TRUE(halv::e2e::SetSystemValue("VerboseLogging", "1"));
  StartRunning();
  Client c;
  ASSERT_TRUE(c.Connect(Port()));
  c.ReadUntil(kPrompt);
  // Enough verbose lines to fill the library's buffer more than once.
  for (int i = 0; i < 8; ++i) {
    c.Send("status nothing" + std::to_string(i) + "\r\n");
    c.ReadUntil("status.\n\r:: ");
  }
  c.Send("view\r\n");
  const std::string view = c.ReadUntil(kPrompt);
  Stop();
  ASSERT_GE(view.size(), 5u);
  const std::string shown = view.substr(0, view.size() - 5);
  const std::string file = LogText();
  EXPECT_GE(shown.size(), 512u);
  EXPECT_LT(shown.size(), file.size());
  EXPECT_EQ(file.compare(0, shown.size(), shown), 0) << "VIEW is not a prefix of the file";
}

TEST_F(ServerLogTest, WithoutTheLibraryTheServiceRunsWithoutALog) {
  const std::string base = halv::e2e::MakeTempDir("nolib");
  ASSERT_FALSE(base.empty());
  ASSERT_TRUE(halv::e2e::SetSystemValue("BaseDir", base));
  StartRunning();
  Client c;
  ASSERT_TRUE(c.Connect(Port()));
  c.ReadUntil(kPrompt);
  c.Send("who\r\n");
  EXPECT_NE(c.ReadUntil(":: ").find("anonymous"), std::string::npos);
  Stop();
  EXPECT_EQ(GetFileAttributesA(LogPath().c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
