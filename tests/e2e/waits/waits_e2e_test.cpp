// STOP waiting beside the service thread, under Wine: while one client's
// STOP waits on a test service that takes 6 s to stop, another client is
// greeted and answered, the waiting client then gets its reply followed by
// the replies to what it sent meanwhile, and stopping the Halvexa service
// during the wait does not wait for the stop.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "service_harness.h"
#include "win/registry.h"

namespace {

using namespace std::chrono_literals;
using halv::e2e::Client;

constexpr char kSlow[] = "HalvWaitSlowSvc";
constexpr char kPrompt[] = "\n\r:: ";
const std::string kSlowKey = std::string("SOFTWARE\\HalvexaTests\\Services\\") + kSlow;

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

class WaitsTest : public halv::e2e::InstalledServiceTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(halv::e2e::InstallTestService(kSlow, "Halvexa slow test service"));
    // Raises halv::Error, which fails the set-up, when a value cannot be written.
    halv::WriteRegString(kSlowKey, "StopDelay", "6000", true);
    halv::WriteRegString(kSlowKey, "StopWaitHint", "1000", true);
    ASSERT_EQ(halv::e2e::StartAndWait(kSlow), static_cast<DWORD>(SERVICE_RUNNING));
    InstalledServiceTest::SetUp();
    if (HasFatalFailure()) return;
    StartRunning();
  }
  void TearDown() override {
    InstalledServiceTest::TearDown();
    EXPECT_TRUE(halv::e2e::RemoveTestService(kSlow));
    halv::DeleteRegKeyTree("SOFTWARE\\HalvexaTests\\Services", kSlow);
  }
  void Connect(Client& client) {
    ASSERT_TRUE(client.Connect(Port()));
    ASSERT_NE(client.ReadUntil(kPrompt).find("Connected to: "), std::string::npos);
  }
  // Sends "stop <slow>" from `client`, reads the line sent before the wait and
  // waits until the manager reports the slow service stop-pending.
  void BeginSlowStop(Client& client) {
    client.Send(std::string("stop ") + kSlow + "\r\n");
    EXPECT_EQ(client.ReadUntil(std::string("Stopping Service...") + kSlow + "\n\r"),
              std::string("Stopping Service...") + kSlow + "\n\r");
    // The wait is under way once the stop has reached the slow service.
    EXPECT_TRUE(halv::e2e::WaitUntil(
        [] { return halv::e2e::ServiceState(kSlow) == SERVICE_STOP_PENDING; }, 10s))
        << "state " << halv::e2e::ServiceState(kSlow);
  }
};

TEST_F(WaitsTest, BystanderIsServedWhileAStopWaits) {
  Client a;
  Connect(a);
  BeginSlowStop(a);
  // Lines sent during the wait: they wait unread and are answered after it.
  a.Send(std::string("stime\r\nstatus ") + kSlow + "\r\n");

  Client b;
  Connect(b);
  b.Send("stime\r\n");
  const std::string stime = b.ReadUntil(":: ", 30s);
  EXPECT_TRUE(std::regex_match(
      stime, std::regex("[1-9][0-9]? [A-Z][a-z]+ 20[0-9][0-9] [0-9:]+ (am|pm)\n\r:: ")))
      << stime;
  // All of that happened while the stop was still going on.
  EXPECT_EQ(halv::e2e::ServiceState(kSlow), static_cast<DWORD>(SERVICE_STOP_PENDING));
  b.Send("quit\r\n");
  EXPECT_TRUE(b.WaitClosed(10s));

  const std::string rest = a.ReadUntil("The service is stopped.\n\r:: ", 30s);
  EXPECT_TRUE(std::regex_match(
      rest, std::regex("Service Stopped\n\r:: [1-9][0-9]? [A-Z][a-z]+ 20[0-9][0-9] [0-9:]+ "
                       "(am|pm)\n\r:: Retrieving Status\n\rThe service is stopped.\n\r:: ")))
      << rest;
  EXPECT_EQ(halv::e2e::ServiceState(kSlow), static_cast<DWORD>(SERVICE_STOPPED));
  // The connection reads again once its lines have run.
  a.Send("stime\r\n");
  EXPECT_NE(a.ReadUntil(":: ", 10s).find("\n\r:: "), std::string::npos);
}

TEST_F(WaitsTest, TwoClientsOnOneServiceAreServedInTurn) {
  Client a, b;
  Connect(a);
  Connect(b);
  BeginSlowStop(a);
  b.Send(std::string("START ") + Upper(kSlow) + "\r\n");
  EXPECT_EQ(b.ReadUntil("\n\r"), "Starting Service..." + Upper(kSlow) + "\n\r");
  EXPECT_EQ(a.ReadUntil(":: ", 30s), "Service Stopped\n\r:: ");
  // The start began only after the stop had ended, so it succeeds.
  EXPECT_EQ(b.ReadUntil(":: ", 30s), "Service started\n\r:: ");
  EXPECT_EQ(halv::e2e::ServiceState(kSlow), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(WaitsTest, StoppingHalvexaDuringAWaitDoesNotWaitForIt) {
  Client a;
  Connect(a);
  BeginSlowStop(a);
  ASSERT_EQ(halv::e2e::StopAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  // Halvexa has stopped while the slow service is still stopping.
  EXPECT_EQ(halv::e2e::ServiceState(kSlow), static_cast<DWORD>(SERVICE_STOP_PENDING));
  EXPECT_TRUE(a.WaitClosed(10s));
  const std::string log = halv::e2e::ReadFileBytes(log_dir_ + "\\serverlog.txt");
  const std::string last = "Status: Service is stopped.\r\n";
  ASSERT_GE(log.size(), last.size());
  EXPECT_EQ(log.substr(log.size() - last.size()), last) << log;
}

}  // namespace
