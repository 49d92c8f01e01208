// The service core with the access values: relative directories refused,
// the optional values read and reported, the listen address kept while
// listening, the greeting's login notice, AllowedClients and MaxClients at
// connect, the idle check, the log's size limit. Absent values change
// nothing (the other core tests run without them).
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "access_settings.h"
#include "config_schema.h"
#include "halv_error.h"
#include "fake_service_ports.h"
#include "line_assembler.h"
#include "recording_connection.h"
#include "service_core.h"
#include "simulated_manager.h"

namespace halv::testing {
namespace {

using Lines = std::vector<std::string>;

class CoreAccessTest : public ::testing::Test {
 protected:
  CoreAccessTest() {
    fakes_.SetRequiredValues();
  }
  // A connection accepted: listed, then admitted or refused.
  void Connect(RecordingConnection& client) {
    fakes_.clients.push_back(&client);
    core_.ServerSocket1ClientConnect(client, client.PeerAddress());
  }
  std::string Load() {
    try {
      core_.LoadConfiguration();
      return "";
    } catch (const std::exception& e) {
      return e.what();
    }
  }
  // The log lines after the nine of a default configuration.
  Lines LinesAfterDefaults() const {
    return fakes_.log_lines.size() <= 9
               ? Lines{}
               : Lines(fakes_.log_lines.begin() + 9, fakes_.log_lines.end());
  }

  SimulatedManager scm_;
  FakeServicePorts fakes_{scm_};
  ServiceCore core_{fakes_.Ports(), EnglishMonthNames()};
};

TEST_F(CoreAccessTest, RelativeDirectoriesAreRefused) {
  const struct {
    std::string base_dir, log_dir;
    Lines events;
    bool log_opened;
    std::string app_path;
  } cases[] = {
      {"Halvexa",
       "C:\\logs",
       {"BaseDir 'Halvexa' is not an absolute path.  Check path and filename.",
        "The log library is not loaded: BaseDir must be an absolute path."},
       false,
       ""},
      {"\\Halvexa",
       "C:\\logs",
       {"BaseDir '\\Halvexa' is not an absolute path.  Check path and filename.",
        "The log library is not loaded: BaseDir must be an absolute path."},
       false,
       ""},
      {"C:\\Halvexa",
       "logs",
       {"LogDir 'logs' is not an absolute path.  Check path and filename."},
       false,
       "C:\\Halvexa"},
      {"\\\\server\\share\\Halvexa",
       "\\\\server\\share\\logs",
       {},
       true,
       "\\\\server\\share\\Halvexa"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.base_dir + " | " + c.log_dir);
    SimulatedManager scm;
    FakeServicePorts fakes(scm);
    fakes.SetValue(config::kBaseDir, c.base_dir);
    fakes.SetValue(config::kExecName, "halvexa351.exe");
    fakes.SetValue(config::kLogDir, c.log_dir);
    fakes.SetValue(config::kVerboseLogging, "0");
    ServiceCore core(fakes.Ports(), EnglishMonthNames());
    core.LoadConfiguration();  // the service starts all the same
    EXPECT_EQ(fakes.event_lines, c.events);
    EXPECT_EQ(fakes.opened_logs.size(), c.log_opened ? 1u : 0u);
    EXPECT_EQ(core.Fields().app_path, c.app_path);
    // A refused BaseDir is not used for the program either.
    EXPECT_EQ(core.Fields().exec_name, c.app_path.empty() ? "" : "halvexa351.exe");
  }
}

TEST_F(CoreAccessTest, TheOptionalValuesAreReportedAndApplied) {
  fakes_.SetValue(config::kRequireAuth, "1");
  fakes_.SetValue(config::kListenAddress, "127.0.0.2");
  fakes_.SetValue(config::kAllowedClients, "127.0.0.0/8");
  fakes_.SetValue(config::kMaxClients, "5");
  fakes_.SetValue(config::kIdleTimeout, "60");
  fakes_.SetValue(config::kLogMaxBytes, "100000");
  ASSERT_EQ(Load(), "");
  EXPECT_EQ(
      LinesAfterDefaults(),
      (Lines{"Service requires clients to log in", "Service is listening on address 127.0.0.2",
             "Service accepts clients from 127.0.0.0/8", "Service serves at most 5 clients at once",
             "Service closes connections idle for 60 seconds",
             "Service keeps the server log under 100000 bytes"}));
  EXPECT_TRUE(core_.Fields().require_auth);
  ASSERT_TRUE(fakes_.address);
  EXPECT_EQ(*fakes_.address, *access::ParseIpAddress("127.0.0.2"));
  EXPECT_EQ(fakes_.log_max_bytes, 100000u);
  EXPECT_EQ(fakes_.idle_timer.starts, std::vector<std::int32_t>{1000});
  // Removed again: everything back as before.
  for (const char* name : {config::kRequireAuth, config::kListenAddress, config::kAllowedClients,
                           config::kMaxClients, config::kIdleTimeout, config::kLogMaxBytes})
    fakes_.RemoveValue(name);
  fakes_.log_lines.clear();
  ASSERT_EQ(Load(), "");
  EXPECT_EQ(fakes_.log_lines.size(), 9u);
  EXPECT_FALSE(core_.Fields().require_auth);
  EXPECT_FALSE(fakes_.address);
  EXPECT_EQ(fakes_.log_max_bytes, 0u);
  EXPECT_EQ(fakes_.idle_timer.stops, 1);
}

TEST_F(CoreAccessTest, TheListenAddressCannotChangeWhileListening) {
  fakes_.active = true;
  fakes_.SetValue(config::kListenAddress, "127.0.0.2");
  EXPECT_EQ(Load(), "Can't change value while socket is active");
  EXPECT_FALSE(fakes_.address);
  fakes_.active = false;
  EXPECT_EQ(Load(), "");
  fakes_.active = true;
  EXPECT_EQ(Load(), "");  // the same address while listening is fine
}

TEST_F(CoreAccessTest, ABadValueEndsTheReadWithItsMessage) {
  fakes_.SetValue(config::kAllowedClients, "127.0.0.1, nowhere");
  EXPECT_EQ(Load(), "Invalid entry 'nowhere' in AllowedClients: not an IPv4 or IPv6 address");
}

// A read that fails elsewhere still applies the access values: a changed
// port while listening, a VerboseLogging that is no number, a wrong value
// among the access values themselves. A wrong RequireAuth requires logins.
TEST_F(CoreAccessTest, AccessValuesApplyWhenAnotherValueFails) {
  const struct {
    const char* name;
    std::map<std::string, std::string> values;
    bool active;
    std::string error;
    Lines events;
  } cases[] = {
      {"PortWhileListening",
       {{config::kPort, "9010"}, {config::kRequireAuth, "1"}, {config::kMaxClients, "3"}},
       true,
       "Can't change value while socket is active",
       {}},
      {"VerboseLoggingNoNumber",
       {{config::kVerboseLogging, "x"}, {config::kRequireAuth, "1"}, {config::kMaxClients, "3"}},
       false,
       "'x' is not a valid integer value",
       {}},
      {"WrongRequireAuth",
       {{config::kRequireAuth, "Yes"}, {config::kMaxClients, "3"}},
       false,
       "Invalid RequireAuth 'Yes': must be 0 or 1; logins are required until it is corrected",
       {}},
      {"WrongRequireAuthAndAllowedClients",
       {{config::kRequireAuth, " 1"}, {config::kAllowedClients, "bad"}, {config::kMaxClients, "3"}},
       false,
       "Invalid RequireAuth ' 1': must be 0 or 1; logins are required until it is corrected",
       {"Invalid entry 'bad' in AllowedClients: not an IPv4 or IPv6 address"}},
      {"WrongRequireAuthAndPortWhileListening",
       {{config::kPort, "9010"}, {config::kRequireAuth, "true"}, {config::kMaxClients, "3"}},
       true,
       "Can't change value while socket is active",
       {"Invalid RequireAuth 'true': must be 0 or 1; logins are required until it is corrected"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServicePorts fakes{scm_};
    fakes.SetRequiredValues();
    ServiceCore core(fakes.Ports(), EnglishMonthNames());
    for (const auto& [name, text] : c.values) fakes.SetValue(name, text);
    fakes.active = c.active;
    std::string error;
    try {
      core.LoadConfiguration();
    } catch (const std::exception& e) {
      error = e.what();
    }
    EXPECT_EQ(error, c.error);
    EXPECT_TRUE(core.Fields().require_auth);
    EXPECT_EQ(fakes.event_lines, c.events);
    // MaxClients 3 applies too: the fourth connection is turned away.
    RecordingConnection a("127.0.0.1"), b("127.0.0.1"), d("127.0.0.1"), e("127.0.0.1");
    fakes.clients = {&a, &b, &d, &e};
    core.ServerSocket1ClientConnect(e, "127.0.0.1");
    EXPECT_TRUE(e.IsClosed());
  }
}

TEST_F(CoreAccessTest, TheGreetingSaysHowToLogIn) {
  fakes_.SetValue(config::kRequireAuth, "1");
  ASSERT_EQ(Load(), "");
  RecordingConnection client("127.0.0.5");
  core_.ServerSocket1ClientConnect(client, "127.0.0.5");
  const Lines sends = client.sends();
  ASSERT_EQ(sends.size(), 5u);
  EXPECT_EQ(sends[3], "\n\r\n\rThis server requires a login: AUTH <user> <password>");
  EXPECT_EQ(sends[4], "\n\r:: ");
}

TEST_F(CoreAccessTest, ClientsOutsideTheAllowListAreClosedWithoutAWord) {
  fakes_.SetValue(config::kAllowedClients, "127.0.0.1");
  ASSERT_EQ(Load(), "");
  RecordingConnection stranger("127.0.0.2"), local("127.0.0.1");
  fakes_.clients = {&stranger};
  core_.ServerSocket1ClientConnect(stranger, "127.0.0.2");
  EXPECT_TRUE(stranger.sends().empty());
  EXPECT_TRUE(stranger.IsClosed());
  EXPECT_EQ(LinesAfterDefaults().back(), "Client (127.0.0.2) refused: not in AllowedClients");
  fakes_.clients = {&local};
  core_.ServerSocket1ClientConnect(local, "127.0.0.1");
  EXPECT_FALSE(local.IsClosed());
  EXPECT_EQ(local.sends().back(), "\n\r:: ");
}

TEST_F(CoreAccessTest, TheConnectionBeyondMaxClientsGetsOneLine) {
  fakes_.SetValue(config::kMaxClients, "2");
  ASSERT_EQ(Load(), "");
  RecordingConnection a("127.0.0.1"), b("127.0.0.1"), c("127.0.0.1");
  fakes_.clients = {&a, &b};  // the new connection is listed with the others
  core_.ServerSocket1ClientConnect(b, "127.0.0.1");
  EXPECT_FALSE(b.IsClosed());
  fakes_.clients = {&a, &b, &c};
  core_.ServerSocket1ClientConnect(c, "127.0.0.1");
  EXPECT_EQ(c.sends(), Lines{"421-Too many connections, try again later\n\r"});
  EXPECT_TRUE(c.IsClosed());
  EXPECT_EQ(LinesAfterDefaults().back(), "Client (127.0.0.1) refused: 2 clients already connected");
}

TEST_F(CoreAccessTest, TheIdleCheckClosesSilentConnectionsAndLogsThemWhenVerbose) {
  fakes_.SetValue(config::kIdleTimeout, "30");
  fakes_.SetValue(config::kVerboseLogging, "1");
  ASSERT_EQ(Load(), "");
  RecordingConnection quiet("127.0.0.1"), talking("127.0.0.2");
  fakes_.clients = {&quiet, &talking};
  fakes_.tick_ms = 1000;
  core_.ServerSocket1ClientConnect(quiet, "127.0.0.1");
  core_.ServerSocket1ClientConnect(talking, "127.0.0.2");
  fakes_.tick_ms = 20000;
  // A receipt (the driver marks it) and its line.
  talking.set_last_receipt_ms(fakes_.tick_ms);
  auto words = std::make_unique<CommandLine>();
  SplitWords("stime", *words);
  core_.RunLine(2, talking, *words);
  fakes_.tick_ms = 31000;
  core_.IdleTimerTick();
  EXPECT_TRUE(quiet.IsClosed());
  EXPECT_EQ(quiet.sends().back(), "\n\r421-Idle time-out, closing the connection\n\r");
  EXPECT_FALSE(talking.IsClosed());
  EXPECT_EQ(fakes_.log_lines.back(),
            "Client (127.0.0.1) idle for 30 seconds, closed at 7 December 2026 11:05:09 PM");
  fakes_.tick_ms = 50000;
  core_.IdleTimerTick();
  EXPECT_TRUE(talking.IsClosed());
}

}  // namespace
}  // namespace halv::testing

namespace halv::testing {
namespace {

// The login deadline and per-address cap as they apply: configured, the
// table's default while logins are required, none while they are off; a
// value below 1 or not a number is an error of the read.
TEST_F(CoreAccessTest, LoginLimitsTakeTheirDefaultsOnlyWithLogins) {
  const struct {
    const char* require_auth;
    const char* login_timeout;
    const char* per_address;
    std::optional<std::int32_t> deadline, cap;
    bool error;
  } cases[] = {
      {"1", "", "", 60, 8, false},   {"1", "5", "2", 5, 2, false},
      {"", "", "", {}, {}, false},   {"0", "5", "", {}, {}, false},
      {"", "", "3", {}, 3, false},   {"1", "0", "", {}, {}, true},
      {"1", "x", "", {}, {}, true},  {"1", "", "0", {}, {}, true},
  };
  for (const auto& c : cases) {
    const std::map<std::string, std::string> values = {{config::kRequireAuth, c.require_auth},
                                                       {config::kLoginTimeout, c.login_timeout},
                                                       {config::kMaxClientsPerAddress,
                                                        c.per_address}};
    const auto read = [&](const char* name) {
      const auto it = values.find(name);
      return it == values.end() ? std::string() : it->second;
    };
    SCOPED_TRACE(std::string(c.require_auth) + "/" + c.login_timeout + "/" + c.per_address);
    if (c.error) {
      EXPECT_THROW(access::ReadAccessSettings(read), Error);
      continue;
    }
    const access::AccessSettings settings = access::ReadAccessSettings(read);
    EXPECT_EQ(access::LoginDeadline(settings), c.deadline);
    EXPECT_EQ(access::PerAddressLimit(settings), c.cap);
  }
}

TEST_F(CoreAccessTest, AConnectionNotLoggedInByTheDeadlineIsClosed) {
  fakes_.SetValue(config::kRequireAuth, "1");
  fakes_.SetValue(config::kLoginTimeout, "10");
  ASSERT_EQ(Load(), "");
  RecordingConnection silent("10.0.0.1"), member("10.0.0.2"), late("10.0.0.3");
  fakes_.clients = {&silent, &member, &late};
  fakes_.tick_ms = 1000;
  core_.ServerSocket1ClientConnect(silent, "10.0.0.1");
  core_.ServerSocket1ClientConnect(member, "10.0.0.2");
  access::FailureThrottle throttle;
  member.Login().FinishAttempt("bob", true, "10.0.0.2", 1000, throttle);
  fakes_.tick_ms = 6000;
  core_.ServerSocket1ClientConnect(late, "10.0.0.3");
  fakes_.tick_ms = 10999;
  core_.IdleTimerTick();
  EXPECT_FALSE(silent.IsClosed());
  fakes_.tick_ms = 11000;
  core_.IdleTimerTick();
  EXPECT_TRUE(silent.IsClosed());
  EXPECT_EQ(silent.sends().back(), "\n\r421-Login time-out, closing the connection\n\r");
  EXPECT_FALSE(member.IsClosed());  // logged in: no deadline
  EXPECT_FALSE(late.IsClosed());    // its own ten seconds run from its connect
  fakes_.tick_ms = 16000;
  core_.IdleTimerTick();
  EXPECT_TRUE(late.IsClosed());
}

TEST_F(CoreAccessTest, WithoutLoginsThereIsNoDeadline) {
  fakes_.SetValue(config::kLoginTimeout, "10");
  ASSERT_EQ(Load(), "");
  RecordingConnection a("10.0.0.1");
  fakes_.clients = {&a};
  fakes_.tick_ms = 1000;
  core_.ServerSocket1ClientConnect(a, "10.0.0.1");
  fakes_.tick_ms = 100000;
  core_.IdleTimerTick();
  EXPECT_FALSE(a.IsClosed());
}

TEST_F(CoreAccessTest, OneAddressHoldsAtMostMaxClientsPerAddress) {
  fakes_.SetValue(config::kRequireAuth, "1");
  fakes_.SetValue(config::kMaxClientsPerAddress, "2");
  ASSERT_EQ(Load(), "");
  RecordingConnection a("10.0.0.1"), b("10.0.0.1"), c("10.0.0.1"), d("10.0.0.2");
  for (RecordingConnection* conn : {&a, &b, &c, &d}) Connect(*conn);
  EXPECT_FALSE(a.IsClosed());
  EXPECT_FALSE(b.IsClosed());
  EXPECT_TRUE(c.IsClosed());
  EXPECT_EQ(c.sends(), Lines{"421-Too many connections, try again later\n\r"});
  EXPECT_FALSE(d.IsClosed());
  EXPECT_EQ(fakes_.log_lines.back(),
            "Client (10.0.0.1) refused: 2 clients already connected from this address");
}

// MaxClients 3 with logins: at most two connections wait for a login; a
// newer one that finds a slot free takes the place of the longest waiting,
// so a login always finds a slot; a full listener refuses as before.
TEST_F(CoreAccessTest, ConnectionsWaitingForALoginKeepOneSlotFree) {
  fakes_.SetValue(config::kRequireAuth, "1");
  fakes_.SetValue(config::kMaxClients, "3");
  ASSERT_EQ(Load(), "");
  RecordingConnection a("10.0.0.1"), b("10.0.0.2"), admin("10.0.0.3"), d("10.0.0.4"),
      e("10.0.0.5");
  Connect(a);
  Connect(b);
  Connect(admin);
  EXPECT_TRUE(a.IsClosed());
  EXPECT_EQ(a.sends().back(),
            "\n\r421-Too many connections waiting for a login, closing the connection\n\r");
  EXPECT_FALSE(b.IsClosed());
  EXPECT_FALSE(admin.IsClosed());
  access::FailureThrottle throttle;
  admin.Login().FinishAttempt("Admin", true, "10.0.0.3", 0, throttle);
  Connect(d);  // two waiting with Admin: room for it
  EXPECT_FALSE(b.IsClosed());
  EXPECT_FALSE(d.IsClosed());
  Connect(e);  // every slot taken
  EXPECT_TRUE(e.IsClosed());
  EXPECT_EQ(e.sends(), Lines{"421-Too many connections, try again later\n\r"});
  EXPECT_FALSE(admin.IsClosed());
  EXPECT_FALSE(b.IsClosed());
}

}  // namespace
}  // namespace halv::testing
