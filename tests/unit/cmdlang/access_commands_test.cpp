// The command language while logins are required: AUTH, the permission of
// each command read from the user accounts as it runs, the refusal that does
// nothing else, WHO's login names and the audit lines. Users are written as
// the console writes them: the defaults copied, then Auth.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "auth/auth.h"
#include "fake_server_context.h"
#include "interpreter.h"
#include "recording_connection.h"
#include "simulated_manager.h"
#include "transcript.h"

namespace halv::testing {
namespace {

using Sends = std::vector<std::string>;

const char* const kPermissions[] = {"AllowList", "AllowStatus",  "AllowStart",
                                    "AllowStop", "AllowRestart", "AllowUpdate"};

class AccessCommandsTest : public ManagerCommandTest {
 protected:
  AccessCommandsTest() {
    server_.fields().require_auth = true;
    scm_.AddService("Spooler", "Print Spooler", kStateRunning);
    // Anonymous may list and ask the status; bob may also stop; Admin
    // (created with an empty password, so its form is that of its name) has
    // every permission.
    AddUser("Anonymous", "", {"AllowList", "AllowStatus"});
    AddUser("bob", "secret pw", {"AllowList", "AllowStatus", "AllowStop"});
    AddUser("Admin", "",
            {"AllowList", "AllowStatus", "AllowStart", "AllowStop", "AllowRestart", "AllowUpdate"});
  }

  void AddUser(const std::string& name, const std::string& password,
               const std::vector<std::string>& granted) {
    for (const char* permission : kPermissions) {
      bool on = false;
      for (const auto& g : granted) on = on || g == permission;
      server_.accounts().Set(name, permission, on ? "1" : "0");
    }
    server_.accounts().Set(name, "Auth", FormOf(password.empty() ? name : password));
  }

  // The stored form of `password`, computed once per test program.
  static const std::string& FormOf(const std::string& password) {
    static std::map<std::string, std::string> forms;
    auto it = forms.find(password);
    if (it == forms.end()) it = forms.emplace(password, auth::AuthFromPassword(password)).first;
    return it->second;
  }

  Sends Login(const std::string& user, const std::string& password) {
    server_.set_tick_ms(server_.TickMs() + 120000);  // past any failure deadline
    return Run({"auth", user, password});
  }
};

const Sends kLoginFailed = {"530-Login incorrect\n\r", ":: "};

Sends Refused(const std::string& command, const std::string& needs) {
  return {"550-Permission denied: " + command + " needs " + needs + "\n\r", ":: "};
}

TEST_F(AccessCommandsTest, AnonymousIsRefusedWhatAnonymousLacksAndNothingElseHappens) {
  server_.SetFile(server_.fields().log_pathfile, "log text");
  const struct {
    std::vector<std::string> words;
    std::string command, needs;
  } refused[] = {
      {{"stop", "Spooler"}, "STOP", "AllowStop"},
      {{"Start", "Spooler"}, "START", "AllowStart"},
      {{"RSTRT", "Spooler"}, "RSTRT", "AllowRestart"},
      {{"update", "Spooler", "x", "y"}, "UPDATE", "AllowUpdate"},
      {{"view"}, "VIEW", "the user Admin"},
      {{"init"}, "INIT", "the user Admin"},
      {{"cycle"}, "CYCLE", "the user Admin"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.command);
    scm_.ClearCalls();
    EXPECT_EQ(Run(c.words), Refused(c.command, c.needs));
    EXPECT_TRUE(scm_.Calls().empty());
  }
  EXPECT_EQ(scm_.StateOf("Spooler"), kStateRunning);
  EXPECT_TRUE(server_.arm_calls().empty());
  EXPECT_EQ(server_.reinitialize_calls(), 0);
  EXPECT_FALSE(client_.IsClosed());
  // What Anonymous holds runs as always.
  EXPECT_EQ(Run({"status", "Spooler"}).back(), ":: ");
  EXPECT_EQ(Run({"list"}).back(), ":: ");
  EXPECT_EQ(Run({"display"}).back(), ":: ");
  EXPECT_EQ(Run({"stime"}).back(), ":: ");
  EXPECT_EQ(Run({"help", "stop"}).back(), "\n\r:: ");
  EXPECT_EQ(Run({"open"}), Sends{":: "});
  EXPECT_EQ(Run({"frobnicate"}), (Sends{"\n\r500-Unknown command 'frobnicate'\n\r", ":: "}));
}

TEST_F(AccessCommandsTest, AuthWithTheRightPasswordAllowsWhatThatUserHas) {
  EXPECT_EQ(Login("bob", "secret pw"), (Sends{"230-Logged in as bob\n\r", ":: "}));
  EXPECT_EQ(Run({"stop", "Spooler"}),
            (Sends{"Stopping Service...Spooler\n\r", "Service Stopped\n\r", ":: "}));
  EXPECT_EQ(scm_.StateOf("Spooler"), kStateStopped);
  EXPECT_EQ(Run({"start", "Spooler"}), Refused("START", "AllowStart"));
  EXPECT_EQ(Run({"view"}), Refused("VIEW", "the user Admin"));
  // Admin, with an empty password: AUTH with the name alone.
  EXPECT_EQ(Run({"auth", "Admin"}), (Sends{"230-Logged in as Admin\n\r", ":: "}));
  EXPECT_EQ(Run({"start", "Spooler"}),
            (Sends{"Starting Service...Spooler\n\r", "Service started\n\r", ":: "}));
  EXPECT_EQ(Run({"cycle"}).back(), "\n\r:: ");
  EXPECT_EQ(server_.arm_calls().size(), 1u);
}

TEST_F(AccessCommandsTest, APasswordWithBlanksIsTheWordsJoinedByOneBlank) {
  EXPECT_EQ(Run({"auth", "bob", "secret", "pw"}), (Sends{"230-Logged in as bob\n\r", ":: "}));
}

TEST_F(AccessCommandsTest, UnknownUserAndWrongPasswordGetTheSameReply) {
  const std::vector<std::vector<std::string>> attempts = {
      {"auth", "bob", "wrong"},   {"auth", "nobody", "secret pw"},  {"auth", "BOB", "secret pw"},
      {"AUTH", "Anonymous", "x"}, {"auth", "bob", "secret", "pw2"},
  };
  for (const auto& words : attempts) {
    RecordingConnection fresh("127.0.0.1");
    server_.set_tick_ms(server_.TickMs() + 120000);
    ProcessCommand(server_, fresh, *MakeLine(words));
    EXPECT_EQ(fresh.sends(), kLoginFailed) << words[1];
    EXPECT_EQ(fresh.Login().user(), "Anonymous");
  }
}

TEST_F(AccessCommandsTest, ThreeFailuresCloseTheConnection) {
  EXPECT_EQ(Login("bob", "one"), kLoginFailed);
  EXPECT_EQ(Login("nobody", "two"), kLoginFailed);
  EXPECT_FALSE(client_.IsClosed());
  EXPECT_EQ(
      Login("bob", "three"),
      (Sends{"530-Login incorrect\n\r", "421-Too many failed logins, closing the connection\n\r"}));
  EXPECT_TRUE(client_.IsClosed());
}

TEST_F(AccessCommandsTest, AuthWithoutAUserShowsTheUsageAndDoesNotCount) {
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(Run({"auth"}), (Sends{"501-Usage: AUTH <user> <password>\n\r", ":: "}));
  EXPECT_EQ(client_.Login().failures(), 0);
  EXPECT_FALSE(client_.IsClosed());
}

TEST_F(AccessCommandsTest, AFailureMakesTheAddressWaitWithoutAnyoneWaiting) {
  EXPECT_EQ(Login("bob", "wrong"), kLoginFailed);
  // At once, even the right password is not checked, on another connection
  // from the same address too: the answer says to wait, and it is no
  // failure; a second later it is checked again.
  RecordingConnection other("127.0.0.1");
  server_.set_tick_ms(server_.TickMs() + 200);
  ProcessCommand(server_, other, *MakeLine({"auth", "bob", "secret pw"}));
  EXPECT_EQ(other.sends(),
            (Sends{"450-Too soon after a failed login from this address, try again in 1 "
                   "second\n\r",
                   ":: "}));
  EXPECT_EQ(other.Login().failures(), 0);
  EXPECT_EQ(server_.audit_lines().back(),
            "Audit: Anonymous at 127.0.0.1: AUTH bob not checked (too soon after a failed login "
            "from this address)");
  server_.set_tick_ms(server_.TickMs() - 200);
  server_.set_tick_ms(server_.TickMs() + 1000);
  other.ClearSends();
  ProcessCommand(server_, other, *MakeLine({"auth", "bob", "secret pw"}));
  EXPECT_EQ(other.sends(), (Sends{"230-Logged in as bob\n\r", ":: "}));
}

// Correct logins are never held back by the ceiling on guesses: more than
// it would allow in one tick, on one connection, then on a connection each
// (the real transform is slow, so 30 each; the session tests take 100).
TEST_F(AccessCommandsTest, ManySuccessfulLoginsInOneSecondAreAllChecked) {
  const Sends logged_in = {"230-Logged in as bob\n\r", ":: "};
  for (int i = 0; i < 30; ++i) ASSERT_EQ(Run({"auth", "bob", "secret pw"}), logged_in) << i;
  for (int i = 0; i < 30; ++i) {
    RecordingConnection other("127.0.0." + std::to_string(2 + i));
    ProcessCommand(server_, other, *MakeLine({"auth", "bob", "secret pw"}));
    ASSERT_EQ(other.sends(), logged_in) << i;
  }
  EXPECT_EQ(server_.records().back().text, "succeeded");
}

// 20 failed guesses in one tick, from addresses of 20 blocks at 20 users:
// an AUTH from a fresh address is held back by the ceiling, with a line and
// an audit text of its own, not checked and not counted; one from an address
// that failed gets the address's line. A second later it is checked.
TEST_F(AccessCommandsTest, TheCeilingOnGuessesHasALineOfItsOwn) {
  for (int i = 0; i < 20; ++i) {
    RecordingConnection guesser("10." + std::to_string(i) + ".0.1");
    ProcessCommand(server_, guesser, *MakeLine({"auth", "user" + std::to_string(i), "guess"}));
    ASSERT_EQ(guesser.sends(), kLoginFailed) << i;
  }
  const std::size_t audited = server_.records().size();
  const struct {
    const char* address;
    std::string reply, audit;
  } cases[] = {
      {"203.0.113.5",
       "450-Too many failed logins on this server just now, try again in 1 second\n\r",
       "not checked (too many failed logins on this server in the last second)"},
      {"10.3.0.1", "450-Too soon after a failed login from this address, try again in 1 second\n\r",
       "not checked (too soon after a failed login from this address)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    RecordingConnection late(c.address);
    ProcessCommand(server_, late, *MakeLine({"auth", "bob", "secret pw"}));
    EXPECT_EQ(late.sends(), (Sends{c.reply, ":: "}));
    EXPECT_EQ(late.Login().failures(), 0);
    EXPECT_EQ(late.Login().user(), "Anonymous");
    ASSERT_FALSE(server_.records().empty());
    EXPECT_EQ(server_.records().back().event, AuditEvent::kLoginFailed);
    EXPECT_EQ(server_.records().back().text, c.audit);
    EXPECT_EQ(server_.audit_lines().back(),
              "Audit: Anonymous at " + std::string(c.address) + ": AUTH bob " + c.audit);
  }
  EXPECT_EQ(server_.records().size(), audited + 2);
  // No failure was added: a second on, the fresh address is checked.
  server_.set_tick_ms(server_.TickMs() + 1000);
  RecordingConnection later("203.0.113.5");
  ProcessCommand(server_, later, *MakeLine({"auth", "bob", "secret pw"}));
  EXPECT_EQ(later.sends(), (Sends{"230-Logged in as bob\n\r", ":: "}));
}

TEST_F(AccessCommandsTest, PermissionsAreReadWhenTheCommandRuns) {
  EXPECT_EQ(Run({"status", "Spooler"}).back(), ":: ");
  EXPECT_NE(Run({"status", "Spooler"}), Refused("STATUS", "AllowStatus"));
  server_.accounts().Set("Anonymous", "AllowStatus", "0");
  EXPECT_EQ(Run({"status", "Spooler"}), Refused("STATUS", "AllowStatus"));
  server_.accounts().Set("Anonymous", "AllowStatus", "yes");
  EXPECT_EQ(Run({"status", "Spooler"}), Refused("STATUS", "AllowStatus"));
  server_.accounts().Set("Anonymous", "AllowStop", "1");
  EXPECT_EQ(Run({"stop", "Spooler"}).back(), ":: ");
  EXPECT_EQ(scm_.StateOf("Spooler"), kStateStopped);
  // A removed Anonymous key grants nothing.
  server_.accounts().Remove("Anonymous");
  EXPECT_EQ(Run({"list"}), Refused("LIST", "AllowList"));
  // A logged-in user whose key is removed keeps no permission either.
  EXPECT_EQ(Login("bob", "secret pw").front(), "230-Logged in as bob\n\r");
  server_.accounts().Remove("bob");
  EXPECT_EQ(Run({"stop", "Spooler"}), Refused("STOP", "AllowStop"));
}

TEST_F(AccessCommandsTest, WhoShowsEachConnectionsUser) {
  RecordingConnection second("10.0.0.6");
  server_.AddClient(&second);
  EXPECT_EQ(Login("bob", "secret pw").front(), "230-Logged in as bob\n\r");
  const Sends sends = Run({"who"});
  ASSERT_EQ(sends.size(), 6u);
  EXPECT_EQ(sends[3], Field("bob", 15) + Field("Logged In User", 15) + Field("127.0.0.1", 13) +
                          Field("7 Dec 2026 23:05", 15) + Field("exec()", 13) + "\n\r");
  EXPECT_EQ(sends[4], Field("Anonymous", 15) + Field("Anonymous User", 15) + Field("10.0.0.6", 13) +
                          Field("7 Dec 2026 23:05", 15) + Field("exec()", 13) + "\n\r");
}

// WHO shows every login name and address: Anonymous needs AllowList for it,
// any logged-in user may.
TEST_F(AccessCommandsTest, WhoNeedsALoginOrAllowList) {
  server_.accounts().Set("Anonymous", "AllowList", "0");
  EXPECT_EQ(Run({"who"}), Refused("WHO", "a login or AllowList"));
  EXPECT_EQ(server_.audit_lines().back(),
            "Audit: Anonymous at 127.0.0.1: WHO refused, needs a login or AllowList");
  server_.accounts().Set("bob", "AllowList", "0");
  EXPECT_EQ(Login("bob", "secret pw").front(), "230-Logged in as bob\n\r");
  const Sends sends = Run({"who"});
  ASSERT_EQ(sends.size(), 5u);
  EXPECT_EQ(sends[3].substr(0, 16), Field("bob", 15));
  RecordingConnection other("127.0.0.2");
  server_.accounts().Set("Anonymous", "AllowList", "1");
  ProcessCommand(server_, other, *MakeLine({"who"}));
  ASSERT_EQ(other.sends().size(), 5u);  // the heading, bob's row and the prompt
  EXPECT_EQ(other.sends()[3].substr(0, 16), Field("bob", 15));
}

TEST_F(AccessCommandsTest, TheAuditTrailNamesUserAddressAndRequest) {
  Run({"stop", "Spooler"});
  Login("bob", "wrong");
  Login("bob", "secret pw");
  Run({"stop", "Spooler"});
  Run({"status", "Spooler"});  // not audited
  Run({"update", "Spooler", "a\x1b[2J", "b"});
  EXPECT_EQ(server_.audit_lines(),
            (std::vector<std::string>{
                "Audit: Anonymous at 127.0.0.1: STOP Spooler refused, needs AllowStop",
                "Audit: Anonymous at 127.0.0.1: AUTH bob failed",
                "Audit: Anonymous at 127.0.0.1: AUTH bob succeeded",
                "Audit: bob at 127.0.0.1: STOP Spooler",
                "Audit: bob at 127.0.0.1: UPDATE Spooler a\\x1b[2J b refused, needs AllowUpdate",
            }));
  // bob's login reset nothing: the failure before it is the first of three.
  Login("x", "1");
  Login("x", "2");
  EXPECT_EQ(server_.audit_lines().back(),
            "Audit: bob at 127.0.0.1: AUTH x failed; connection closed after 3 failures");
}

TEST_F(AccessCommandsTest, WithoutRequireAuthNothingChanges) {
  server_.fields().require_auth = false;
  EXPECT_EQ(Run({"auth", "bob", "secret pw"}), Sends{":: "});
  EXPECT_EQ(client_.Login().user(), "Anonymous");
  EXPECT_EQ(Run({"stop", "Spooler"}),
            (Sends{"Stopping Service...Spooler\n\r", "Service Stopped\n\r", ":: "}));
  EXPECT_TRUE(server_.audit_lines().empty());
  const Sends who = Run({"who"});
  EXPECT_EQ(who[3].substr(0, 17), " anonymous       ");
}

// RSTRT that would stop running dependants and leave them stopped is a STOP
// of them too: it needs AllowStop as well, unless RestartDependents starts
// them again (then AllowRestart is enough). Refused, nothing is stopped.
TEST_F(AccessCommandsTest, RestartLeavingDependantsStoppedAlsoNeedsAllowStop) {
  AddUser("rita", "rpw", {"AllowRestart"});
  AddUser("ros", "spw", {"AllowRestart", "AllowStop"});
  const struct {
    const char* user;
    const char* password;
    bool child_running, stop_dependencies, restart_dependents, refused;
  } cases[] = {
      {"rita", "rpw", true, true, false, true},
      {"rita", "rpw", false, true, false, false},  // no running dependant
      {"rita", "rpw", true, false, false, false},  // the stop fails on it
      {"rita", "rpw", true, true, true, false},    // started again
      {"ros", "spw", true, true, false, false},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.user) + (c.child_running ? " running" : " stopped") +
                 (c.stop_dependencies ? " stop" : " keep") + (c.restart_dependents ? " back" : ""));
    const std::string base = "Base" + std::to_string(++n);
    const std::string child = "Child" + std::to_string(n);
    scm_.AddService(base, base, kStateRunning);
    scm_.AddService(child, child, c.child_running ? kStateRunning : kStateStopped);
    scm_.AddDependency(base, child);
    server_.fields().stop_dependencies = c.stop_dependencies;
    server_.fields().restart_dependents = c.restart_dependents;
    ASSERT_EQ(Login(c.user, c.password).back(), ":: ");
    scm_.ClearCalls();
    const Sends reply = Run({"rstrt", base});
    if (c.refused) {
      EXPECT_EQ(reply, Refused("RSTRT", "AllowStop"));
      EXPECT_EQ(server_.audit_lines().back(),
                "Audit: rita at 127.0.0.1: RSTRT " + base + " refused, needs AllowStop");
      EXPECT_EQ(scm_.CountCalls("Control"), 0u);
      EXPECT_EQ(scm_.StateOf(child), kStateRunning);
    } else {
      ASSERT_FALSE(reply.empty());
      EXPECT_EQ(reply.front(), "Restarting Service..." + base + "\n\r");
      EXPECT_EQ(server_.audit_lines().back(),
                "Audit: " + std::string(c.user) + " at 127.0.0.1: RSTRT " + base);
      // Stopped and left so only where the user also holds AllowStop.
      const bool left_stopped = c.child_running && c.stop_dependencies && !c.restart_dependents;
      EXPECT_EQ(scm_.StateOf(child),
                c.child_running && !left_stopped ? kStateRunning : kStateStopped);
    }
    EXPECT_EQ(scm_.StateOf(base), kStateRunning);
  }
}

}  // namespace
}  // namespace halv::testing
