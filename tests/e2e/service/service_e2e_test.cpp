// The real service under Wine's Service Control Manager: installation,
// configuration, greeting, receipts, stop, and start failures.
#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>
#include <vector>

#include "service_harness.h"
#include "win/registry.h"

namespace {

using namespace std::chrono_literals;
using halv::e2e::Client;

class ServiceTest : public halv::e2e::InstalledServiceTest {
 protected:
  static std::string ComputerName() {
    char name[64] = {};
    DWORD size = sizeof name;
    GetComputerNameA(name, &size);
    return name;
  }
};

TEST_F(ServiceTest, GreetsWithBannerAndPrompt) {
  StartRunning();
  Client client;
  ASSERT_TRUE(client.Connect(Port()));
  const std::string greeting = client.ReadUntil("\n\r:: ");
  // Version from the program's own version resource, then the notice line.
  const std::regex form(
      "\n\rHalvexa: Version 3\\.5\\.1\\.1"
      "\n\r[^\n\r]+"
      "\n\r\n\rConnected to: ([^\n\r]*)"
      "\n\rService running as: ([^\n\r]*)"
      "\n\rLocal Server Date: [1-9][0-9]? [A-Z][a-z]+ 20[0-9][0-9] (0[1-9]|1[0-2]):[0-5][0-9]:"
      "[0-5][0-9] (AM|PM)"
      "\n\r:: ");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(greeting, m, form)) << greeting;
  EXPECT_EQ(m[1].str(), ComputerName());
  EXPECT_FALSE(m[2].str().empty());

  // An empty line, or only blanks, gets the prompt again.
  client.Send("\r\n");
  EXPECT_EQ(client.ReadUntil("\n\r:: "), "\n\r:: ");
  client.Send("   \t \r\n");
  EXPECT_EQ(client.ReadUntil("\n\r:: "), "\n\r:: ");
}

TEST_F(ServiceTest, StoppingTheServiceClosesConnections) {
  StartRunning();
  Client a, b;
  ASSERT_TRUE(a.Connect(Port()));
  ASSERT_TRUE(b.Connect(Port()));
  a.ReadUntil("\n\r:: ");
  b.ReadUntil("\n\r:: ");
  EXPECT_EQ(halv::e2e::StopAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_TRUE(a.WaitClosed(5s));
  EXPECT_TRUE(b.WaitClosed(5s));
  Client late;
  EXPECT_FALSE(late.Connect(Port()));
}

TEST_F(ServiceTest, MissingVerboseLoggingFailsTheStart) {
  halv::DeleteRegKeyTree(halv::config::kVersionKey, halv::config::kSystemSubkey);
  ASSERT_TRUE(halv::e2e::SetSystemValue("BaseDir", halv::e2e::BinDir()));
  ASSERT_TRUE(halv::e2e::SetSystemValue("ExecName", "halvexa351.exe"));
  ASSERT_TRUE(halv::e2e::SetSystemValue("LogDir", log_dir_));
  ASSERT_TRUE(halv::e2e::SetSystemValue("Port", std::to_string(Port())));
  EXPECT_EQ(halv::e2e::StartAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_TRUE(EventLogged("Service failed on start: '' is not a valid integer value", 10s));
  Client client;
  EXPECT_FALSE(client.Connect(Port()));
}

TEST_F(ServiceTest, PortOfWrongTypeFailsTheStart) {
  HKEY key = nullptr;
  ASSERT_EQ(
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, halv::e2e::kSystemKey.c_str(), 0, KEY_ALL_ACCESS, &key),
      ERROR_SUCCESS);
  const DWORD port = Port();
  const LONG written =
      RegSetValueExA(key, "Port", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port), sizeof port);
  RegCloseKey(key);
  ASSERT_EQ(written, ERROR_SUCCESS);
  EXPECT_EQ(halv::e2e::StartAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_TRUE(EventLogged("Service failed on start: Invalid data type for 'Port'", 10s));
}

TEST_F(ServiceTest, MissingBaseDirIsRecordedAndTheServiceStarts) {
  ASSERT_TRUE(halv::e2e::SetSystemValue("BaseDir", ""));
  StartRunning();
  EXPECT_TRUE(EventLogged("Unable to find base directory.  Check path and filename.", 10s));
  Client client;
  ASSERT_TRUE(client.Connect(Port()));
  // Without a program path there is no version resource to read.
  const std::string greeting = client.ReadUntil("\n\r:: ");
  EXPECT_EQ(greeting.rfind("\n\rHalvexa: Version 3.5.1\n\r", 0), 0u) << greeting;
}

TEST_F(ServiceTest, PortTakenFailsTheStart) {
  // A listener of our own holds a port; the service is configured for it.
  halv::e2e::HeldPort holder;
  ASSERT_TRUE(holder.Open("0.0.0.0", true));
  ASSERT_TRUE(halv::e2e::SetSystemValue("Port", std::to_string(holder.port())));
  EXPECT_EQ(halv::e2e::StartAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_TRUE(EventLogged("Service failed on start: Windows socket error: ", 10s));
  EXPECT_NE(EventLogText().find(
                "Windows socket error: Only one usage of each socket address (protocol/network "
                "address/port) is normally permitted. (10048), on API 'bind'"),
            std::string::npos);
}

// The harness itself: a port taken after the fixture chose it (as another
// run on the machine might) moves the service to another port.
TEST_F(ServiceTest, APortTakenAfterTheSetUpMovesTheServiceToAnother) {
  const int chosen = Port();
  halv::e2e::HeldPort taker;
  ASSERT_TRUE(taker.Open("0.0.0.0", true, chosen));
  StartRunning();
  EXPECT_NE(Port(), chosen);
  EXPECT_TRUE(EventLogged("Service failed on start: Windows socket error: ", 10s));
  Client client;
  ASSERT_TRUE(client.Connect(Port()));
  EXPECT_EQ(client.ReadUntil("\n\r:: ").rfind("\n\rHalvexa: Version ", 0), 0u);
}

TEST_F(ServiceTest, BadInputNeverCrashesTheService) {
  StartRunning();
  std::mt19937 random(12345);
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 8; ++i) {
    clients.push_back(std::make_unique<Client>());
    ASSERT_TRUE(clients.back()->Connect(Port()));
    clients.back()->ReadUntil("\n\r:: ");
  }
  const std::string alphabet = std::string("ab \r\n\t\0\x01\xff", 9);
  for (int round = 0; round < 300; ++round) {
    Client& c = *clients[random() % clients.size()];
    std::string receipt;
    const std::size_t length = random() % 3 == 0 ? 200 + random() % 900 : random() % 40;
    for (std::size_t i = 0; i < length; ++i) {
      receipt.push_back(random() % 2 ? alphabet[random() % alphabet.size()]
                                     : static_cast<char>(random() % 256));
    }
    c.Send(receipt);
    if (round % 50 == 0) {
      // A client that vanishes in the middle of a line, replaced by a new one.
      c.Send("hal");
      c.Close();
      ASSERT_TRUE(c.Connect(Port()));
      c.ReadUntil("\n\r:: ");
    }
  }
  // A line now spans receipts: end whatever telnet command and line the
  // garbage left unfinished, and read past its answer up to that of a known
  // line after it.
  const std::string help_end = "311-End of HELP info\n\r:: ";
  for (auto& c : clients) c->Send("\xff\xf0\xff\xf0\r\nhelp stop\r\n");
  for (auto& c : clients) EXPECT_NE(c->ReadUntil(help_end).find("311-STOP"), std::string::npos);
  // Every connection is still served.
  for (auto& c : clients) {
    c->Send("\r\n");
    EXPECT_EQ(c->ReadUntil("\n\r:: "), "\n\r:: ");
  }
  EXPECT_EQ(halv::e2e::ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(ServiceTest, ManyConnectionsAtOnceAreAllGreeted) {
  StartRunning();
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 40; ++i) {
    clients.push_back(std::make_unique<Client>());
    ASSERT_TRUE(clients.back()->Connect(Port())) << i;
    const std::string greeting = clients.back()->ReadUntil("\n\r:: ");
    ASSERT_EQ(greeting.rfind("\n\rHalvexa: Version ", 0), 0u) << i;
  }
  for (auto& c : clients) {
    c->Send("\r\n");
    EXPECT_EQ(c->ReadUntil("\n\r:: "), "\n\r:: ");
  }
}

}  // namespace
