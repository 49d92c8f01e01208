// Access control and hardening end to end: the real service under Wine with
// logins required (users written as the console writes them), the
// allow-list, the listen address, the connection limit and idle time-out,
// the escaped verbose log, the log size limit and the refused relative
// BaseDir.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "auth/auth.h"
#include "service_harness.h"
#include "win/registry.h"

namespace {

using namespace std::chrono_literals;

constexpr char kPrompt[] = "\n\r:: ";
constexpr char kTestService[] = "HalvAccessTestSvc";
constexpr char kVersionKey[] = "SOFTWARE\\Tenmark\\Halvexa Server\\3.5.1";

using halv::e2e::Client;

class AccessTest : public halv::e2e::InstalledServiceTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(halv::e2e::InstallTestService(kTestService, "Halvexa access test service"));
    InstalledServiceTest::SetUp();
  }
  void TearDown() override {
    InstalledServiceTest::TearDown();
    EXPECT_TRUE(halv::e2e::RemoveTestService(kTestService));
  }

  // Connects `client` from the loopback address `from` to the service on
  // the address `to`.
  ::testing::AssertionResult Connect(Client& client, const char* from, const char* to) const {
    halv::e2e::ConnectOptions options;
    options.from = from;
    options.to = to;
    return client.Connect(Port(), options);
  }

  // Connects `client` from `from` to 127.0.0.1, then reads the greeting up to its
  // prompt.
  ::testing::AssertionResult Greeted(Client& client, const char* from = "127.0.0.1") const {
    ::testing::AssertionResult connected = Connect(client, from, "127.0.0.1");
    if (connected) client.ReadUntil(kPrompt);
    return connected;
  }

  // Sends `line` (an AUTH) until it is checked, that is answered other than
  // "450-Too soon...", within 30 seconds; returns the checked answer.
  static std::string AskChecked(Client& c, const std::string& line) {
    std::string reply;
    const bool checked = halv::e2e::WaitUntil(
        [&] {
          reply = c.Ask(line);
          return reply.substr(0, 4) != "450-";
        },
        30s);
    return checked ? reply : "still too soon: " + reply;
  }

  // Raises halv::Error, which ends the test, when the value cannot be written.
  static void SetSystem(const char* name, const std::string& value) {
    halv::WriteRegString(halv::e2e::kSystemKey, name, value, true);
  }

  // A user as the console writes one: every default copied, then Auth, then
  // the ticks of the permission list ("1" or "0").
  static void AddUser(const std::string& name, const std::string& password,
                      const std::vector<std::string>& granted) {
    const std::string defaults = std::string(kVersionKey) + "\\Security\\Default";
    const std::string user = std::string(kVersionKey) + "\\Security\\Users\\" + name;
    const char* const permissions[] = {"AllowList", "AllowStatus",  "AllowStart",
                                       "AllowStop", "AllowRestart", "AllowUpdate"};
    for (const char* p : permissions)
      halv::WriteRegString(defaults, p, p == std::string("AllowList") ? "1" : "0", true);
    for (const char* p : permissions)
      halv::WriteRegString(user, p, halv::ReadRegString(defaults, p), true);
    halv::WriteRegString(user, "Auth",
                         halv::auth::AuthFromPassword(password.empty() ? name : password), true);
    for (const char* p : permissions) {
      bool on = false;
      for (const auto& g : granted) on = on || g == p;
      halv::WriteRegString(user, p, on ? "1" : "0", true);
    }
  }

  std::string ServerLog() const { return halv::e2e::ReadFileBytes(log_dir_ + "\\serverlog.txt"); }
};

TEST_F(AccessTest, LoginsGateEachCommandAndAreAudited) {
  AddUser("Anonymous", "", {"AllowList", "AllowStatus"});
  AddUser("bob", "secret pw", {"AllowStatus", "AllowStop", "AllowStart"});
  SetSystem("RequireAuth", "1");
  StartRunning();
  ASSERT_EQ(halv::e2e::StartAndWait(kTestService), static_cast<DWORD>(SERVICE_RUNNING));

  Client c;
  ASSERT_TRUE(Connect(c, "127.0.0.1", "127.0.0.1"));
  const std::string greeting = c.ReadUntil(kPrompt);
  EXPECT_NE(greeting.find("\n\r\n\rThis server requires a login: AUTH <user> <password>\n\r:: "),
            std::string::npos)
      << greeting;
  // Anonymous: refused STOP, allowed STATUS.
  EXPECT_EQ(c.Ask("stop " + std::string(kTestService)),
            "550-Permission denied: STOP needs AllowStop\n\r:: ");
  EXPECT_EQ(halv::e2e::ServiceState(kTestService), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_NE(c.Ask("status " + std::string(kTestService)).find("running"), std::string::npos);
  // bob may stop.
  EXPECT_EQ(c.Ask("auth bob secret pw"), "230-Logged in as bob\n\r:: ");
  EXPECT_EQ(c.Ask("stop " + std::string(kTestService)),
            "Stopping Service..." + std::string(kTestService) + "\n\rService Stopped\n\r:: ");
  EXPECT_EQ(halv::e2e::ServiceState(kTestService), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(c.Ask("list"), "550-Permission denied: LIST needs AllowList\n\r:: ");
  EXPECT_EQ(c.Ask("view"), "550-Permission denied: VIEW needs the user Admin\n\r:: ");
  const std::string who = c.Ask("who");
  EXPECT_NE(who.find("\n\r bob             Logged In User  127.0.0.1     "), std::string::npos)
      << who;
  // A permission taken away in the registry counts at the next command.
  halv::WriteRegString(std::string(kVersionKey) + "\\Security\\Users\\bob", "AllowStart", "0",
                       true);
  EXPECT_EQ(c.Ask("start " + std::string(kTestService)),
            "550-Permission denied: START needs AllowStart\n\r:: ");

  c.Close();
  EXPECT_EQ(halv::e2e::StopAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  const std::string log = ServerLog();
  for (const std::string& line :
       {"date Status: Audit: Anonymous at 127.0.0.1: STOP " + std::string(kTestService) +
            " refused, needs AllowStop\r\n",
        std::string("date Status: Audit: Anonymous at 127.0.0.1: AUTH bob succeeded\r\n"),
        "date Status: Audit: bob at 127.0.0.1: STOP " + std::string(kTestService) + "\r\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line << log;
}

TEST_F(AccessTest, ThreeWrongPasswordsCloseTheConnection) {
  AddUser("bob", "secret pw", {"AllowStop"});
  SetSystem("RequireAuth", "1");
  StartRunning();
  Client c;
  ASSERT_TRUE(Greeted(c));
  EXPECT_EQ(c.Ask("auth bob wrong"), "530-Login incorrect\n\r:: ");
  // Too soon after a failure: not checked, not counted.
  EXPECT_EQ(c.Ask("auth bob secret pw").substr(0, 4), "450-");
  EXPECT_EQ(AskChecked(c, "auth nobody secret pw"), "530-Login incorrect\n\r:: ");
  EXPECT_EQ(c.Ask("auth bob secret pw").substr(0, 4), "450-");
  std::string reply;
  ASSERT_TRUE(halv::e2e::WaitUntil(
      [&] {
        c.Send("auth bob three\r\n");
        reply = c.ReadUntil("\n\r");
        return reply.substr(0, 4) != "450-";
      },
      30s));
  std::string rest;
  EXPECT_TRUE(c.WaitClosed(10s, &rest));
  EXPECT_EQ(reply + rest,
            "530-Login incorrect\n\r421-Too many failed logins, closing the connection\n\r");
}

TEST_F(AccessTest, TheRightPasswordRetypedAtOnceIsToldToWaitThenSucceeds) {
  AddUser("bob", "secret pw", {"AllowStop"});
  SetSystem("RequireAuth", "1");
  StartRunning();
  Client c;
  ASSERT_TRUE(Greeted(c));
  EXPECT_EQ(c.Ask("auth bob wrong"), "530-Login incorrect\n\r:: ");
  EXPECT_EQ(c.Ask("auth bob secret pw"),
            "450-Too soon after a failed login from this address, try again in 1 second\n\r:: ");
  EXPECT_EQ(AskChecked(c, "auth bob secret pw"), "230-Logged in as bob\n\r:: ");
}

// A good login between guesses resets neither the connection's count nor
// the address's delay; other addresses of the block then have to wait too.
TEST_F(AccessTest, GuessesBetweenLoginsAndFromOtherAddressesAreThrottled) {
  AddUser("bob", "secret pw", {"AllowStop"});
  SetSystem("RequireAuth", "1");
  StartRunning();
  Client c;
  ASSERT_TRUE(Greeted(c));
  EXPECT_EQ(c.Ask("auth Admin guess1"), "530-Login incorrect\n\r:: ");
  EXPECT_EQ(AskChecked(c, "auth bob secret pw"), "230-Logged in as bob\n\r:: ");
  EXPECT_EQ(AskChecked(c, "auth Admin guess2"), "530-Login incorrect\n\r:: ");
  // Right after the second failure, every address of 127.0.0.0/24 waits.
  for (int i = 2; i < 12; ++i) {
    SCOPED_TRACE(i);
    Client other;
    const std::string from = "127.0.0." + std::to_string(i);
    ASSERT_TRUE(Greeted(other, from.c_str()));
    EXPECT_EQ(other.Ask("auth Admin guess").substr(0, 4), "450-");
  }
  EXPECT_EQ(AskChecked(c, "auth bob secret pw"), "230-Logged in as bob\n\r:: ");
  std::string reply;
  ASSERT_TRUE(halv::e2e::WaitUntil(
      [&] {
        c.Send("auth Admin guess3\r\n");
        reply = c.ReadUntil("\n\r");
        return reply.substr(0, 4) != "450-";
      },
      30s));
  std::string rest;
  EXPECT_TRUE(c.WaitClosed(10s, &rest));
  EXPECT_EQ(reply + rest,
            "530-Login incorrect\n\r421-Too many failed logins, closing the connection\n\r");
}

TEST_F(AccessTest, AllowedClientsRefusesOtherAddressesWithoutAGreeting) {
  SetSystem("AllowedClients", "127.0.0.1");
  StartRunning();
  Client other;
  ASSERT_TRUE(Connect(other, "127.0.0.2", "127.0.0.1"));
  std::string said;
  EXPECT_TRUE(other.WaitClosed(10s, &said));
  EXPECT_EQ(said, "");
  Client local;
  ASSERT_TRUE(Connect(local, "127.0.0.1", "127.0.0.1"));
  EXPECT_NE(local.ReadUntil(kPrompt).find("Connected to: "), std::string::npos);
  local.Close();
  EXPECT_EQ(halv::e2e::StopAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_NE(ServerLog().find("date Status: Client (127.0.0.2) refused: not in AllowedClients"),
            std::string::npos)
      << ServerLog();
}

TEST_F(AccessTest, ListenAddressBindsThatAddressOnly) {
  SetSystem("ListenAddress", "127.0.0.2");
  StartRunning();
  Client c;
  EXPECT_FALSE(Connect(c, "127.0.0.1", "127.0.0.1"));
  ASSERT_TRUE(Connect(c, "127.0.0.1", "127.0.0.2"));
  EXPECT_NE(c.ReadUntil(kPrompt).find("Connected to: "), std::string::npos);
}

TEST_F(AccessTest, BadListenAddressOrAllowListFailsTheStart) {
  SetSystem("ListenAddress", "localhost");
  EXPECT_EQ(halv::e2e::StartAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_TRUE(EventLogged(
      "Service failed on start: Invalid ListenAddress 'localhost': not an IPv4 or IPv6 address",
      10s));
  SetSystem("ListenAddress", "127.0.0.1");
  SetSystem("AllowedClients", "127.0.0.1,10.0.0.0/33");
  EXPECT_EQ(halv::e2e::StartAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_TRUE(EventLogged(
      "Service failed on start: Invalid entry '10.0.0.0/33' in AllowedClients: the prefix length "
      "must be a number from 0 to 32",
      10s));
}

TEST_F(AccessTest, MaxClientsTurnsAwayTheOneTooMany) {
  SetSystem("MaxClients", "2");
  StartRunning();
  Client a, b, c;
  ASSERT_TRUE(Greeted(a));
  ASSERT_TRUE(Greeted(b));
  ASSERT_TRUE(Connect(c, "127.0.0.1", "127.0.0.1"));
  std::string said;
  EXPECT_TRUE(c.WaitClosed(10s, &said));
  EXPECT_EQ(said, "421-Too many connections, try again later\n\r");
  // Once one has gone (the service has closed its side) there is room again.
  ASSERT_TRUE(a.Leave());
  ASSERT_TRUE(Connect(c, "127.0.0.1", "127.0.0.1"));
  EXPECT_NE(c.ReadUntil(kPrompt).find("Connected to: "), std::string::npos);
  EXPECT_NE(b.Ask("stime").find(":: "), std::string::npos);  // the others are still served
}

TEST_F(AccessTest, IdleTimeoutClosesASilentConnection) {
  SetSystem("IdleTimeout", "2");
  SetSystem("VerboseLogging", "1");
  StartRunning();
  Client quiet, busy;
  ASSERT_TRUE(Greeted(quiet));
  ASSERT_TRUE(Greeted(busy));
  const auto start = std::chrono::steady_clock::now();
  std::string said;
  // The busy client speaks every half second and stays.
  bool quiet_closed = false;
  while (std::chrono::steady_clock::now() - start < 6s && !quiet_closed) {
    EXPECT_NE(busy.Ask("stime").find(":: "), std::string::npos);
    quiet_closed = quiet.WaitClosed(500ms, &said);
  }
  EXPECT_TRUE(quiet_closed);
  EXPECT_EQ(said, "\n\r421-Idle time-out, closing the connection\n\r");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1500ms);
  EXPECT_NE(busy.Ask("stime").find(":: "), std::string::npos);
  busy.Close();
  EXPECT_EQ(halv::e2e::StopAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_NE(ServerLog().find(") idle for 2 seconds, closed at "), std::string::npos) << ServerLog();
}

TEST_F(AccessTest, VerboseLogShowsControlBytesEscaped) {
  SetSystem("VerboseLogging", "1");
  StartRunning();
  Client c;
  ASSERT_TRUE(Greeted(c));
  c.Send("help\r\n");
  c.ReadUntil("311-End of HELP info\n\r:: ");
  // Three lines, three replies: once they are in, every receipt is logged.
  c.Send("stime\x1b[2Jx\rdate Status: forged\nstime\r\n");
  c.ReadCount(":: ", 3, 10s);
  c.Close();
  EXPECT_EQ(halv::e2e::StopAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  const std::string log = ServerLog();
  // A plain line logs as it always has; the client's CR, LF and ESC show as
  // escapes and start no line of their own.
  EXPECT_NE(log.find("date Status: Receive buffer is >>help\r\n<<\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\\x1b[2Jx\\x0ddate Status: forged\\x0astime"), std::string::npos) << log;
  EXPECT_EQ(log.find('\x1b'), std::string::npos);
  EXPECT_EQ(log.find("\r\ndate Status: forged"), std::string::npos);
}

TEST_F(AccessTest, LogMaxBytesKeepsOneOlderGeneration) {
  SetSystem("LogMaxBytes", "600");
  SetSystem("VerboseLogging", "1");
  StartRunning();
  Client c;
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(Greeted(c));
    c.Ask("stime");
    c.Close();
  }
  EXPECT_EQ(halv::e2e::StopAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  const std::string current = ServerLog();
  const std::string older = halv::e2e::ReadFileBytes(log_dir_ + "\\serverlog.1.txt");
  EXPECT_FALSE(older.empty());
  EXPECT_LE(current.size(), 600u);
  EXPECT_LE(older.size(), 600u);
  EXPECT_NE(current.find("date Status: Service is stopped.\r\n"), std::string::npos) << current;
}

// Refusals cannot push an audit line out of the log: with logins on and a
// small LogMaxBytes, 292 KB of refused STOPs and many connections from
// outside AllowedClients write a few lines each and then count lines, so
// an earlier "AUTH Admin" line stays in serverlog.txt or its one older
// generation.
TEST_F(AccessTest, RefusalsDoNotRotateAnAuditLineAway) {
  AddUser("Admin", "admin pw", {});
  AddUser("bob", "bob pw", {"AllowStatus"});
  SetSystem("RequireAuth", "1");
  SetSystem("LogMaxBytes", "4096");
  SetSystem("AllowedClients", "127.0.0.1");
  StartRunning();
  {
    Client admin;
    ASSERT_TRUE(Greeted(admin));
    ASSERT_EQ(admin.Ask("auth Admin admin pw"), "230-Logged in as Admin\n\r:: ");
    ASSERT_TRUE(admin.Leave());
  }

  Client c;
  ASSERT_TRUE(Greeted(c));
  ASSERT_EQ(c.Ask("auth bob bob pw"), "230-Logged in as bob\n\r:: ");
  const std::string line = "stop " + std::string(kTestService) + "\r\n";
  const std::string refusal = "550-Permission denied: STOP needs AllowStop\n\r:: ";
  // In chunks, each read back before the next, so neither side's buffers fill.
  constexpr int kChunk = 500;
  std::string chunk;
  for (int i = 0; i < kChunk; ++i) chunk += line;
  std::size_t sent = 0;
  int chunks = 0;
  while (sent < 292 * 1024) {
    ASSERT_TRUE(c.Send(chunk));
    const std::string replies = c.ReadCount(refusal, kChunk, 60s);
    ASSERT_EQ(replies.size(), refusal.size() * kChunk) << "chunk " << chunks;
    sent += chunk.size();
    ++chunks;
  }
  ASSERT_TRUE(c.Leave());
  for (int i = 0; i < 100; ++i) {
    Client outside;
    ASSERT_TRUE(Connect(outside, "127.0.0.2", "127.0.0.1"));
    ASSERT_TRUE(outside.WaitClosed(10s)) << i;
  }
  EXPECT_EQ(halv::e2e::StopAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  const std::string logs = halv::e2e::ReadFileBytes(log_dir_ + "\\serverlog.1.txt") + ServerLog();
  EXPECT_NE(logs.find("date Status: Audit: Anonymous at 127.0.0.1: AUTH Admin succeeded\r\n"),
            std::string::npos)
      << logs;
  EXPECT_NE(logs.find(" more refused commands from 127.0.0.1 in the last minute"),
            std::string::npos)
      << logs;
  EXPECT_NE(logs.find(" more refused connections from 127.0.0.2 in the last minute"),
            std::string::npos)
      << logs;
}

TEST_F(AccessTest, ARelativeBaseDirIsRefused) {
  SetSystem("BaseDir", "halvexa");
  StartRunning();
  EXPECT_TRUE(
      EventLogged("BaseDir 'halvexa' is not an absolute path.  Check path and filename.", 10s));
  EXPECT_TRUE(EventLogged("The log library is not loaded: BaseDir must be an absolute path.", 10s));
  Client c;
  ASSERT_TRUE(Connect(c, "127.0.0.1", "127.0.0.1"));
  EXPECT_NE(c.ReadUntil(kPrompt).find("Connected to: "), std::string::npos);
  c.Close();
  EXPECT_EQ(halv::e2e::StopAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(ServerLog(), "");
}

}  // namespace

namespace {

TEST_F(AccessTest, LoginTimeoutClosesASilentClient) {
  AddUser("Admin", "admin pw", {"AllowList", "AllowStatus"});
  SetSystem("RequireAuth", "1");
  SetSystem("LoginTimeout", "2");
  StartRunning();
  Client silent, member;
  ASSERT_TRUE(Greeted(silent));
  ASSERT_TRUE(Greeted(member, "127.0.0.2"));
  ASSERT_EQ(member.Ask("auth Admin admin pw"), "230-Logged in as Admin\n\r:: ");
  std::string said;
  EXPECT_TRUE(silent.WaitClosed(15s, &said));
  EXPECT_EQ(said, "\n\r421-Login time-out, closing the connection\n\r");
  // The logged-in client has no deadline.
  EXPECT_NE(member.Ask("stime").find(":: "), std::string::npos);
}

// Five clients that send only telnet NOPs neither count as active nor hold
// the slot a login needs: Admin gets in and logs in, and the NOP senders
// are closed by the idle time-out.
TEST_F(AccessTest, NopOnlyClientsDoNotKeepAdminOut) {
  AddUser("Admin", "admin pw", {"AllowList", "AllowStatus"});
  SetSystem("RequireAuth", "1");
  SetSystem("MaxClients", "5");
  SetSystem("IdleTimeout", "3");
  StartRunning();
  const char* const from[] = {"127.0.0.11", "127.0.0.12", "127.0.0.13", "127.0.0.14",
                              "127.0.0.15"};
  std::vector<Client> nops(5);
  for (std::size_t i = 0; i < nops.size(); ++i) {
    ASSERT_TRUE(Connect(nops[i], from[i], "127.0.0.1"));
    nops[i].ReadUntil(kPrompt);
    ASSERT_TRUE(nops[i].Send("\xff\xf1"));
  }
  Client admin;
  ASSERT_TRUE(Connect(admin, "127.0.0.20", "127.0.0.1"));
  EXPECT_NE(admin.ReadUntil(kPrompt).find("Connected to: "), std::string::npos);
  EXPECT_EQ(admin.Ask("auth Admin admin pw"), "230-Logged in as Admin\n\r:: ");
  // NOPs every half second do not keep the last of them connected; Admin's
  // commands keep Admin.
  std::string said;
  const bool closed = halv::e2e::WaitUntil(
      [&] {
        EXPECT_NE(admin.Ask("stime").find(":: "), std::string::npos);
        nops.back().Send("\xff\xf1");
        return nops.back().WaitClosed(500ms, &said);
      },
      15s);
  EXPECT_TRUE(closed);
  EXPECT_EQ(said, "\n\r421-Idle time-out, closing the connection\n\r");
  EXPECT_NE(admin.Ask("stime").find(":: "), std::string::npos);
}

// A client that pipelines a thousand AUTHs does not hold the service: a
// bystander's STIME is answered before the pipeliner's last reply has
// arrived, and the pipeliner still gets every reply, in order.
TEST_F(AccessTest, PipelinedLoginsDoNotHoldABystandersReply) {
  AddUser("Admin", "admin pw", {"AllowList", "AllowStatus"});
  SetSystem("RequireAuth", "1");
  StartRunning();
  Client pipeliner, bystander;
  ASSERT_TRUE(Greeted(pipeliner));
  ASSERT_TRUE(Greeted(bystander, "127.0.0.2"));
  std::string lines;
  for (int i = 0; i < 1000; ++i) lines += "auth Admin admin pw\r\n";
  ASSERT_TRUE(pipeliner.Send(lines));
  const std::string reply = bystander.Ask("stime");
  EXPECT_NE(reply.find(":: "), std::string::npos) << reply;
  // What the pipeliner has been sent by now (read at once, no waiting).
  std::string so_far;
  for (std::size_t n = pipeliner.Pending(); n > 0; n = pipeliner.Pending())
    so_far += pipeliner.ReadSome(n, 100ms);
  const auto replies = [](const std::string& text) {
    int n = 0;
    for (std::size_t at = text.find(":: "); at != std::string::npos; at = text.find(":: ", at + 3))
      ++n;
    return n;
  };
  EXPECT_LT(replies(so_far), 1000);
  const std::string rest = pipeliner.ReadCount(":: ", 1000 - replies(so_far), 120s);
  const std::string all = so_far + rest;
  EXPECT_EQ(replies(all), 1000);
  EXPECT_EQ(all.rfind("230-Logged in as Admin\n\r:: ", 0), 0u) << all.substr(0, 200);
}

}  // namespace
