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

constexpr int kPort = 19107;

class ServiceTest : public halv::e2e::InstalledServiceTest {
 protected:
  int Port() const override { return kPort; }

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
  ASSERT_TRUE(client.Connect(kPort));
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
  ASSERT_TRUE(a.Connect(kPort));
  ASSERT_TRUE(b.Connect(kPort));
  a.ReadUntil("\n\r:: ");
  b.ReadUntil("\n\r:: ");
  EXPECT_EQ(halv::e2e::StopAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_TRUE(a.WaitClosed(5s));
  EXPECT_TRUE(b.WaitClosed(5s));
  Client late;
  EXPECT_FALSE(late.Connect(kPort));
}

TEST_F(ServiceTest, MissingVerboseLoggingFailsTheStart) {
  halv::DeleteRegKeyTree(halv::config::kVersionKey, halv::config::kSystemSubkey);
  halv::WriteRegString(halv::e2e::kSystemKey, "BaseDir", halv::e2e::BinDir(), true);
  halv::WriteRegString(halv::e2e::kSystemKey, "ExecName", "halvexa351.exe", true);
  halv::WriteRegString(halv::e2e::kSystemKey, "LogDir", log_dir_, true);
  halv::WriteRegString(halv::e2e::kSystemKey, "Port", std::to_string(kPort), true);
  EXPECT_EQ(halv::e2e::StartAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_TRUE(
      halv::e2e::WaitForEventLog("Service failed on start: '' is not a valid integer value", 10s));
  Client client;
  EXPECT_FALSE(client.Connect(kPort));
}

TEST_F(ServiceTest, PortOfWrongTypeFailsTheStart) {
  HKEY key = nullptr;
  ASSERT_EQ(
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, halv::e2e::kSystemKey.c_str(), 0, KEY_ALL_ACCESS, &key),
      ERROR_SUCCESS);
  const DWORD port = kPort;
  RegSetValueExA(key, "Port", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port), sizeof port);
  RegCloseKey(key);
  EXPECT_EQ(halv::e2e::StartAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_TRUE(
      halv::e2e::WaitForEventLog("Service failed on start: Invalid data type for 'Port'", 10s));
}

TEST_F(ServiceTest, MissingBaseDirIsRecordedAndTheServiceStarts) {
  halv::WriteRegString(halv::e2e::kSystemKey, "BaseDir", "", true);
  StartRunning();
  EXPECT_TRUE(
      halv::e2e::WaitForEventLog("Unable to find base directory.  Check path and filename.", 10s));
  Client client;
  ASSERT_TRUE(client.Connect(kPort));
  // Without a program path there is no version resource to read.
  const std::string greeting = client.ReadUntil("\n\r:: ");
  EXPECT_EQ(greeting.rfind("\n\rHalvexa: Version 3.5.1\n\r", 0), 0u) << greeting;
}

TEST_F(ServiceTest, PortTakenFailsTheStart) {
  // Hold the configured port with a listener of our own.
  SOCKET holder = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(kPort);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(holder, 1), 0);
  EXPECT_EQ(halv::e2e::StartAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_TRUE(halv::e2e::WaitForEventLog("Service failed on start: Windows socket error: ", 10s));
  EXPECT_NE(halv::e2e::WineLogText().find(
                "Windows socket error: Only one usage of each socket address (protocol/network "
                "address/port) is normally permitted. (10048), on API 'bind'"),
            std::string::npos);
  closesocket(holder);
}

TEST_F(ServiceTest, BadInputNeverCrashesTheService) {
  StartRunning();
  std::mt19937 random(12345);
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 8; ++i) {
    clients.push_back(std::make_unique<Client>());
    ASSERT_TRUE(clients.back()->Connect(kPort));
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
      ASSERT_TRUE(c.Connect(kPort));
      c.ReadUntil("\n\r:: ");
    }
  }
  // A line now spans receipts: end whatever telnet command and line the
  // garbage left unfinished, and let its answer pass.
  for (auto& c : clients) c->Send("\xff\xf0\xff\xf0\r\n");
  for (auto& c : clients) c->ReadFor(300ms);
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
    ASSERT_TRUE(clients.back()->Connect(kPort)) << i;
    const std::string greeting = clients.back()->ReadUntil("\n\r:: ");
    ASSERT_EQ(greeting.rfind("\n\rHalvexa: Version ", 0), 0u) << i;
  }
  for (auto& c : clients) {
    c->Send("\r\n");
    EXPECT_EQ(c->ReadUntil("\n\r:: "), "\n\r:: ");
  }
}

}  // namespace
