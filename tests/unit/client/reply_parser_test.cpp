// The client's reply parser: recorded replies of every command (success and
// error forms), widened and empty listings, cut-off and garbage replies, and
// the bytes the service's own interpreter sends, read back field by field.
#include "reply_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audit_record.h"
#include "fake_server_context.h"
#include "protocol_text.h"
#include "recording_connection.h"
#include "settled_runner.h"
#include "simulated_manager.h"

namespace halv::client {
namespace {

const std::string kRule = std::string(80, '-') + "\n\r";

std::string Pad(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string ListRow(const std::string& name, const std::string& state, const std::string& type,
                    const std::string& account) {
  return " " + Pad(name, 34) + " " + Pad(state, 11) + " " + Pad(type, 13) + " " + Pad(account, 16) +
         "\n\r";
}

const std::string kListHead =
    "\n\rHalvexa Version 3.5.1.1\n\r\n\rServer: SRV01\n\rService running as: SYSTEM\n\rLocal "
    "Server Date: 9 December 2026 11:16:11 pm\n\r\n\r Service Name                       Status  "
    "    Startup Type  Log On As\n\r" +
    kRule;

const std::string kGreeting =
    "\n\rHalvexa: Version 3.5.1.1\n\rTenmark Halvexa remote service control, (c) Tenmark "
    "Software.\n\r\n\rConnected to: SRV01\n\rService running as: SYSTEM\n\rLocal Server Date: 9 "
    "December 2026 11:16:11 PM\n\r:: ";

Reply Parse(Command command, const std::string& bytes, const std::string& service = "") {
  Reply reply;
  const std::string problem = ParseReply(command, service, bytes, &reply);
  EXPECT_EQ(problem, "") << bytes;
  return reply;
}

std::string Problem(Command command, const std::string& bytes) {
  Reply reply;
  return ParseReply(command, "x", bytes, &reply);
}

TEST(ReplyParserTest, Greeting) {
  Greeting greeting;
  ASSERT_EQ(ParseGreeting(kGreeting, &greeting), "");
  EXPECT_EQ(greeting.version, "3.5.1.1");
  EXPECT_EQ(greeting.server_name, "SRV01");
  EXPECT_EQ(greeting.account, "SYSTEM");
  EXPECT_EQ(greeting.date, "9 December 2026 11:16:11 PM");
  EXPECT_FALSE(GreetingComplete(kGreeting.substr(0, kGreeting.size() - 1)));
  EXPECT_NE(ParseGreeting("SSH-2.0-OpenSSH_9.2\r\n\n\r:: ", &greeting), "");
  EXPECT_NE(ParseGreeting(kGreeting.substr(0, 40), &greeting), "");
}

TEST(ReplyParserTest, StatusOfEveryState) {
  const struct {
    const char* text;
    const char* state;
    bool ok;
  } kCases[] = {
      {"The service is stopped.", "Stopped", true},
      {"The service is starting.", "Starting", true},
      {"The service is stopping.", "Stopping", true},
      {"The service is running.", "Running", true},
      {"The service continue is pending.", "Continuing", true},
      {"The service pause is pending.", "Pausing", true},
      {"The service is paused.", "Paused", true},
      {"Unable to determine status.", "Unknown", false},
  };
  for (const auto& each : kCases) {
    const Reply reply = Parse(
        Command::kStatus, "Retrieving Status\n\r" + std::string(each.text) + "\n\r:: ", "Spooler");
    EXPECT_EQ(reply.state, each.state);
    EXPECT_EQ(reply.ok, each.ok) << each.text;
    EXPECT_EQ(reply.service, "Spooler");
  }
}

TEST(ReplyParserTest, StartStopAndRestartOutcomes) {
  const struct {
    Command command;
    std::string bytes;
    bool ok;
    bool stop_done;
    std::uint32_t code;
    std::string message;
  } kCases[] = {
      {Command::kStart, "Starting Service...Spooler\n\rService started\n\r:: ", true, false, 0, ""},
      {Command::kStart, "Starting Service...Spooler\n\rService does not exist.\n\r:: ", false,
       false, 1060, "Service does not exist."},
      {Command::kStart, "Starting Service...Spooler\n\rThe service has been disabled.\n\r:: ",
       false, false, 1058, "The service has been disabled."},
      {Command::kStop, "Stopping Service...Spooler\n\rService Stopped\n\r:: ", true, false, 0, ""},
      {Command::kStop,
       "Stopping Service...Spooler\n\rThe specified service error is not known for error code "
       "1460.\n\r:: ",
       false, false, 1460, "The specified service error is not known for error code 1460."},
      {Command::kStop,
       "Stopping Service...Spooler\n\rThe service cannot be stopped because other running "
       "services are dependent on it.\n\r:: ",
       false, false, 1051,
       "The service cannot be stopped because other running services are dependent on it."},
      {Command::kRestart,
       "Restarting Service...Spooler\n\rService Stopped...\n\rService Started\n\r:: ", true, true,
       0, ""},
      {Command::kRestart,
       "Restarting Service...Spooler\n\rThe service has not been started.\n\rService "
       "Started\n\r:: ",
       true, false, 0, ""},
      {Command::kRestart,
       "Restarting Service...Spooler\n\rService Stopped...\n\rThe service did not respond to the "
       "start request in a timely fashion.\n\r:: ",
       false, true, 1053, "The service did not respond to the start request in a timely fashion."},
  };
  for (const auto& each : kCases) {
    SCOPED_TRACE(each.bytes);
    const Reply reply = Parse(each.command, each.bytes);
    EXPECT_EQ(reply.service, "Spooler");
    EXPECT_EQ(reply.ok, each.ok);
    EXPECT_EQ(reply.control.done, each.ok);
    EXPECT_EQ(reply.control.code, each.code);
    EXPECT_EQ(reply.control.message, each.message);
    if (each.command == Command::kRestart) {
      EXPECT_EQ(reply.stop.done, each.stop_done);
      if (!each.stop_done) {
        EXPECT_EQ(reply.stop.code, 1062u);
      }
    }
  }
}

TEST(ReplyParserTest, NumberedErrorsAreFailuresOfAnyCommand) {
  const Reply unknown = Parse(Command::kOther, "\n\r500-Unknown command 'FOO'\n\r:: ");
  EXPECT_FALSE(unknown.ok);
  EXPECT_EQ(unknown.error, "500-Unknown command 'FOO'");
  const Reply topic = Parse(Command::kHelp, "504-Unknown help topic for 'init'\n\r\n\r:: ");
  EXPECT_FALSE(topic.ok);
  EXPECT_EQ(topic.error, "504-Unknown help topic for 'init'");
  // A server that refuses a command (access control) answers with a number.
  const Reply refused = Parse(Command::kStop, "\n\r530-Not logged on\n\r:: ");
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.error, "530-Not logged on");
}

TEST(ReplyParserTest, AuthRepliesAsTheServerAnswersThem) {
  const struct {
    const char* reply;
    LoginOutcome outcome;
    const char* refusal;
  } cases[] = {
      {"230-Logged in as Admin\n\r:: ", LoginOutcome::kLoggedIn, ""},
      {"\n\r230-Logged in as bob\n\r:: ", LoginOutcome::kLoggedIn, ""},
      {"299-Some other success\n\r:: ", LoginOutcome::kLoggedIn, ""},
      {":: ", LoginOutcome::kLoginsOff, ""},  // a server without logins: AUTH does nothing
      {"\n\r:: ", LoginOutcome::kLoginsOff, ""},
      {"530-Login incorrect\n\r:: ", LoginOutcome::kRefused, "530-Login incorrect"},
      {"450-Too soon after a failed login from this address, try again in 2 seconds\n\r:: ",
       LoginOutcome::kRefused,
       "450-Too soon after a failed login from this address, try again in 2 seconds"},
      {"501-Usage: AUTH <user> <password>\n\r:: ", LoginOutcome::kRefused,
       "501-Usage: AUTH <user> <password>"},
      {"421-Too many failed logins, closing the connection\n\r", LoginOutcome::kRefused,
       "421-Too many failed logins, closing the connection"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    std::string refusal;
    EXPECT_EQ(ParseAuthReply(c.reply, &refusal), c.outcome);
    EXPECT_EQ(refusal, c.refusal);
  }
}

TEST(ReplyParserTest, HelpPassesThroughAsText) {
  const Reply help = Parse(Command::kHelp,
                           "311-STOP\n\r311-Use the STOP command to stop a service by name\n\r311- "
                           "usage:  STOP <service_name>\n\r311-End of HELP info\n\r:: ");
  EXPECT_TRUE(help.ok);
  EXPECT_EQ(help.text,
            "311-STOP\n311-Use the STOP command to stop a service by name\n311- usage:  STOP "
            "<service_name>\n311-End of HELP info");
}

TEST(ReplyParserTest, ListRowsIncludingWidenedColumns) {
  const std::string long_name(41, 'L');
  const std::string bytes =
      kListHead + ListRow("Spooler", "Running", "Automatic", "LocalSystem") +
      ListRow(long_name, "Stopped", "Demand", "LocalSystem") +
      ListRow("Gone", "Unknown", "Unknown", "") +
      ListRow("With Blank", "Paused", "Disabled", "NT AUTHORITY\\Local Service Account") + ":: ";
  const Reply reply = Parse(Command::kList, bytes);
  EXPECT_TRUE(reply.ok);
  EXPECT_EQ(reply.server_name, "SRV01");
  EXPECT_EQ(reply.version, "3.5.1.1");
  ASSERT_EQ(reply.services.size(), 4u);
  const std::vector<std::vector<std::string>> expected = {
      {"Spooler", "Running", "Automatic", "LocalSystem"},
      {long_name, "Stopped", "Demand", "LocalSystem"},
      {"Gone", "Unknown", "Unknown", ""},
      {"With Blank", "Paused", "Disabled", "NT AUTHORITY\\Local Service Account"},
  };
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const ServiceRow& row = reply.services[i];
    EXPECT_EQ((std::vector<std::string>{row.name, row.state, row.start_type, row.account}),
              expected[i]);
  }
}

TEST(ReplyParserTest, EmptyListAndAManagerThatCannotBeOpened) {
  const Reply empty = Parse(Command::kList, kListHead + ":: ");
  EXPECT_TRUE(empty.ok);
  EXPECT_TRUE(empty.services.empty());
  const Reply refused =
      Parse(Command::kList, kListHead + "The requested access was denied.\n\r:: ");
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.control.code, 5u);
  EXPECT_EQ(refused.error, "The requested access was denied.");
}

// DEPS in the server's form (name, display name with blanks, state), a
// widened name, none, and an error text in place of the rows.
TEST(ReplyParserTest, DepsRowsAndFailures) {
  const std::string head = std::string(halv::kDependantsHeader) + kRule;
  const std::string long_name = "AVeryLongServiceNameOfMoreThan34Chars";
  const Reply reply =
      Parse(Command::kDeps,
            head +
                " TimeBroker                         Time Broker Service        "
                "        Running    \n\r " +
                long_name + " Long one                           Paused     \n\r:: ",
            "W32Time");
  EXPECT_TRUE(reply.ok);
  ASSERT_EQ(reply.running_dependants.size(), 2u);
  EXPECT_EQ(reply.running_dependants[0].name, "TimeBroker");
  EXPECT_EQ(reply.running_dependants[0].display_name, "Time Broker Service");
  EXPECT_EQ(reply.running_dependants[0].state, "Running");
  EXPECT_EQ(reply.running_dependants[1].name, long_name);
  EXPECT_EQ(reply.running_dependants[1].display_name, "Long one");
  EXPECT_EQ(reply.running_dependants[1].state, "Paused");
  EXPECT_EQ(reply.service, "W32Time");

  const Reply none = Parse(Command::kDeps, head + ":: ");
  EXPECT_TRUE(none.ok);
  EXPECT_TRUE(none.running_dependants.empty());
  const Reply missing = Parse(Command::kDeps, head + "Service does not exist.\n\r:: ");
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.control.code, 1060u);
  EXPECT_EQ(missing.error, "Service does not exist.");
  const Reply unknown = Parse(Command::kDeps, "\n\r500-Unknown command 'DEPS'\n\r:: ");
  EXPECT_FALSE(unknown.ok);
  for (const std::string& bad :
       {std::string(":: "), head + " OnlyAName\n\r:: ", head + " Name Display Sleeping\n\r:: "})
    EXPECT_NE(Problem(Command::kDeps, bad), "") << bad;
}

TEST(ReplyParserTest, DisplayWhoStimeUpdate) {
  std::string display = " Parameter          Value\n\r" + kRule;
  display += " " + Pad("version", 18) + " " + Pad("3.5.1.1", 60) + "\n\r";
  display += " " + Pad("app_path", 18) + " " + Pad("C:\\Program Files\\Halvexa", 60) + "\n\r";
  display += " " + Pad("port", 18) + " " + Pad("9007", 60) + "\n\r:: ";
  const Reply d = Parse(Command::kDisplay, display);
  ASSERT_EQ(d.parameters.size(), 3u);
  EXPECT_EQ(d.parameters[1].name, "app_path");
  EXPECT_EQ(d.parameters[1].value, "C:\\Program Files\\Halvexa");
  EXPECT_EQ(d.parameters[2].value, "9007");

  const std::string who =
      "Server: SRV01\n\rService running as: SYSTEM\n\rLocal Server Date: 9 December 2026 "
      "11:16:11 pm\n\r\n\r Login Name      Name            Remote Host   Date              "
      "What\n\r" +
      kRule +
      " anonymous       Anonymous User  127.0.0.1     9 Dec 2026 23:16  exec()       \n\r"
      " anonymous       Anonymous User  192.168.100.200 10 Dec 2026 23:16 exec()       \n\r:: ";
  const Reply w = Parse(Command::kWho, who);
  ASSERT_EQ(w.clients.size(), 2u);
  EXPECT_EQ(w.clients[0].name, "Anonymous User");
  EXPECT_EQ(w.clients[0].date, "9 Dec 2026 23:16");
  EXPECT_EQ(w.clients[1].remote_host, "192.168.100.200");
  EXPECT_EQ(w.clients[1].date, "10 Dec 2026 23:16");
  EXPECT_EQ(w.clients[1].what, "exec()");
  EXPECT_EQ(w.server_name, "SRV01");

  EXPECT_EQ(Parse(Command::kStime, "9 December 2026 11:16:11 pm\n\r:: ").time,
            "9 December 2026 11:16:11 pm");
  EXPECT_TRUE(ReplyComplete(Command::kUpdate, "Updating Service\n\r"));
  EXPECT_TRUE(Parse(Command::kUpdate, "Updating Service\n\r").ok);
  EXPECT_FALSE(ReplyComplete(Command::kQuit, ":: "));
}

// UPDATE: the change made, the manager's refusal with its code, a numbered
// line for a bad property or value, and the old one-line answer of a server
// that changes nothing; anything else, or a new form without its prompt, is
// not understood.
TEST(ReplyParserTest, UpdateReplies) {
  const struct {
    std::string bytes;
    bool ok, updated;
    std::uint32_t code;
    std::string error;
  } kCases[] = {
      {"Service updated: Spooler StartType Manual\n\r:: ", true, true, 0, ""},
      {"Service updated: Spooler DisplayName Print Queue 2\n\r:: ", true, true, 0, ""},
      {"Updating Service\n\r", true, false, 0, ""},
      {"Service does not exist.\n\r:: ", false, false, 1060, "Service does not exist."},
      {"The requested access was denied.\n\r:: ", false, false, 5,
       "The requested access was denied."},
      {"501-Unknown property 'Colour'; valid properties: StartType, DisplayName\n\r:: ", false,
       false, 0, "501-Unknown property 'Colour'; valid properties: StartType, DisplayName"},
      {"\n\r500-Unknown command 'UPDATE'\n\r:: ", false, false, 0, "500-Unknown command 'UPDATE'"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_TRUE(ReplyComplete(Command::kUpdate, c.bytes));
    const Reply reply = Parse(Command::kUpdate, c.bytes, "Spooler");
    EXPECT_EQ(reply.ok, c.ok);
    EXPECT_EQ(reply.updated, c.updated);
    EXPECT_EQ(reply.control.code, c.code);
    EXPECT_EQ(reply.error, c.error);
  }
  EXPECT_EQ(Parse(Command::kUpdate, kCases[1].bytes).text,
            "Service updated: Spooler DisplayName Print Queue 2\n");
  for (const std::string bad :
       {"Service updated: \n\r:: ", "Service updated: a\n\rService updated: b\n\r:: ",
        "Updated it\n\r:: ", ":: "}) {
    EXPECT_NE(Problem(Command::kUpdate, bad), "") << bad;
  }
  EXPECT_FALSE(ReplyComplete(Command::kUpdate, "Service updated: Spooler StartType Manual\n\r"));
}

TEST(ReplyParserTest, CutOffRepliesAreIncompleteOrRefused) {
  const std::vector<std::pair<Command, std::string>> replies = {
      {Command::kStatus, "Retrieving Status\n\rThe service is running.\n\r:: "},
      {Command::kStop, "Stopping Service...Spooler\n\rService Stopped\n\r:: "},
      {Command::kList,
       kListHead + ListRow("Spooler", "Running", "Automatic", "LocalSystem") + ":: "},
      {Command::kWho,
       "Server: S\n\rService running as: A\n\rLocal Server Date: D\n\r\n\r Login "
       "Name      Name            Remote Host   Date              What\n\r" +
           kRule + ":: "},
      {Command::kHelp, "311-HELP\n\r311-End of HELP info\n\r:: "},
  };
  for (const auto& [command, bytes] : replies) {
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
      const std::string prefix = bytes.substr(0, cut);
      Reply reply;
      const std::string problem = ParseReply(command, "Spooler", prefix, &reply);
      if (!ReplyComplete(command, prefix)) {
        EXPECT_NE(problem, "") << prefix;
      }
    }
  }
}

TEST(ReplyParserTest, GarbageGivesAProblemNotACrash) {
  const std::vector<std::pair<Command, std::string>> cases = {
      {Command::kStatus, "HTTP/1.1 400 Bad Request\r\n\r\n:: "},
      {Command::kStatus, "Retrieving Status\n\rThe service is dancing.\n\r:: "},
      {Command::kStart, "Stopping Service...x\n\rService started\n\r:: "},
      {Command::kStart, "Starting Service...x\n\r:: "},
      {Command::kRestart, "Restarting Service...x\n\rService Stopped...\n\r:: "},
      {Command::kRestart,
       "Restarting Service...x\n\rService Stopped...\n\rService Started\n\rsomething\n\r:: "},
      {Command::kRestart,
       "Restarting Service...x\n\rService Stopped...\n\rService Started\n\r"
       "Dependent service not started: y, error 12x: no\n\r:: "},
      {Command::kRestart,
       "Restarting Service...x\n\rService Stopped...\n\rService Started\n\r"
       "Dependent service started: \n\r:: "},
      {Command::kList, "no header here\n\r:: "},
      {Command::kList, kListHead + " Spooler Sleeping Automatic LocalSystem\n\r:: "},
      {Command::kList, kListHead + " \n\r:: "},
      {Command::kDisplay, " Parameter          Value\n\r" + kRule + "  indented\n\r:: "},
      {Command::kWho, " Login Name \n\r" + kRule + " anonymous x\n\r:: "},
      {Command::kStime, "one\n\rtwo\n\r:: "},
      {Command::kUpdate, "Something else\n\r"},
      {Command::kStatus, std::string("\0\0\0:: ", 6)},
  };
  for (const auto& [command, bytes] : cases) {
    EXPECT_NE(Problem(command, bytes), "") << bytes;
  }
}

TEST(ReplyParserTest, ErrorTextsMatchTheServiceTable) {
  // Every code the service-control operations can report, read back.
  for (std::uint32_t code = 1; code < 1500; ++code) {
    std::string text = halv::ScmErrorText(code);
    ASSERT_GE(text.size(), 2u);
    text.resize(text.size() - 2);  // the "\n\r"
    std::uint32_t read = 0;
    ASSERT_TRUE(ControlErrorCode(text, &read)) << text;
    EXPECT_EQ(read, code);
  }
  std::uint32_t read = 0;
  EXPECT_FALSE(
      ControlErrorCode("The specified service error is not known for error code .", &read));
  EXPECT_FALSE(ControlErrorCode(
      "The specified service error is not known for error code 99999999999.", &read));
}

// The bytes the service sends, joined as they arrive: each line through the
// command runner, START, STOP and RSTRT waiting on the scheduler.
class InterpreterRoundTripTest : public ::testing::Test {
 protected:
  InterpreterRoundTripTest() { server_.AddClient(&connection_); }

  Reply Ask(const std::vector<std::string>& words) {
    connection_.ClearSends();
    CommandLine line;
    for (const std::string& word : words) {
      word.copy(line.CommandWords[line.WordCount], CommandLine::kWordSize - 1);
      ++line.WordCount;
    }
    commands_.Run(connection_, line);
    std::string bytes;
    for (const std::string& send : connection_.sends()) bytes += send;
    EXPECT_TRUE(ReplyComplete(CommandFromWord(words[0]), bytes)) << bytes;
    return Parse(CommandFromWord(words[0]), bytes, words.size() > 1 ? words[1] : "");
  }

  halv::SimulatedManager scm_;
  halv::testing::FakeServerContext server_{scm_};
  halv::testing::RecordingConnection connection_{"10.1.2.3"};
  halv::testing::SettledRunner commands_{server_};
};

TEST_F(InterpreterRoundTripTest, EveryCommandReadsBack) {
  scm_.AddService("Spooler", "Print Spooler", halv::kStateRunning).start_type = 2;
  const std::string long_name = "AVeryLongServiceNameThatWidensTheFirstColumn";
  scm_.AddService(long_name, "Long", halv::kStateStopped);

  const Reply list = Ask({"list"});
  ASSERT_EQ(list.services.size(), 2u);
  EXPECT_EQ(list.services[0].name, "Spooler");
  EXPECT_EQ(list.services[0].state, "Running");
  EXPECT_EQ(list.services[0].start_type, "Automatic");
  EXPECT_EQ(list.services[0].account, "LocalSystem");
  EXPECT_EQ(list.services[1].name, long_name);
  EXPECT_EQ(list.services[1].state, "Stopped");
  EXPECT_EQ(list.server_name, "TESTHOST");

  EXPECT_EQ(Ask({"status", "Spooler"}).state, "Running");
  EXPECT_EQ(Ask({"STATUS", "Nothing"}).state, "Unknown");
  const Reply stop = Ask({"stop", "Spooler"});
  EXPECT_TRUE(stop.control.done);
  EXPECT_EQ(stop.service, "Spooler");
  const Reply stop_again = Ask({"start", "Nothing"});
  EXPECT_FALSE(stop_again.ok);
  EXPECT_EQ(stop_again.control.code, 1060u);
  const Reply restart = Ask({"rstrt", "Spooler"});
  EXPECT_TRUE(restart.stop.done);  // stopping a stopped service succeeds
  EXPECT_TRUE(restart.control.done);
  EXPECT_TRUE(restart.ok);

  const Reply display = Ask({"display"});
  ASSERT_EQ(display.parameters.size(), 12u);
  EXPECT_EQ(display.parameters[0].name, "version");
  EXPECT_EQ(display.parameters[0].value, "3.5.1.0");
  EXPECT_EQ(display.parameters[2].value, "C:\\Halvexa");
  EXPECT_EQ(display.parameters[11].name, "port");
  EXPECT_EQ(display.parameters[11].value, "9007");

  const Reply who = Ask({"who"});
  ASSERT_EQ(who.clients.size(), 1u);
  EXPECT_EQ(who.clients[0].remote_host, "10.1.2.3");
  EXPECT_EQ(who.clients[0].date, "7 Dec 2026 23:05");

  EXPECT_EQ(Ask({"stime"}).time, "7 December 2026 11:05:09 pm");
  EXPECT_TRUE(Ask({"help"}).ok);
  EXPECT_FALSE(Ask({"help", "init"}).ok);
  EXPECT_FALSE(Ask({"bogus"}).ok);
  EXPECT_TRUE(Ask({"update", "a", "b", "c"}).ok);
  EXPECT_TRUE(Ask({"init"}).ok);
  server_.set_reinitialize_succeeds(false);
  EXPECT_FALSE(Ask({"init"}).ok);
}

// RSTRT with RestartDependents: each dependant started again is read back
// with its outcome; one that failed fails the command with its code.
// UPDATE with UpdateEnabled, as the service answers it, read back: each
// change made (and made in the manager), a missing service's code, a bad
// property's numbered line.
TEST_F(InterpreterRoundTripTest, UpdateReadsBackTheChangeOrTheRefusal) {
  scm_.AddService("Spooler", "Print Spooler", halv::kStateRunning).start_type = 2;
  server_.fields().update_enabled = true;
  const Reply manual = Ask({"update", "Spooler", "starttype", "manual"});
  EXPECT_TRUE(manual.ok);
  EXPECT_TRUE(manual.updated);
  EXPECT_EQ(manual.text, "Service updated: Spooler StartType Manual\n");
  EXPECT_EQ(scm_.Find("Spooler")->start_type, halv::kServiceDemandStart);
  const Reply renamed = Ask({"update", "Spooler", "DisplayName", "Print", "Queue"});
  EXPECT_TRUE(renamed.updated);
  EXPECT_EQ(scm_.Find("Spooler")->display_name, "Print Queue");
  const Reply missing = Ask({"update", "Nothing", "StartType", "Manual"});
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.control.code, 1060u);
  const Reply bad = Ask({"update", "Spooler", "Colour", "red"});
  EXPECT_FALSE(bad.ok);
  EXPECT_EQ(bad.error.rfind("501-Unknown property 'Colour'", 0), 0u) << bad.error;
  EXPECT_FALSE(bad.updated);
}

TEST_F(InterpreterRoundTripTest, RestartReadsTheDependantsStartedAgain) {
  scm_.AddService("Base", "Base", halv::kStateRunning);
  for (const char* name : {"A", "B"}) {
    scm_.AddService(name, name, halv::kStateRunning);
    scm_.AddDependency("Base", name);
  }
  server_.fields().restart_dependents = true;
  Reply restart = Ask({"rstrt", "Base"});
  EXPECT_TRUE(restart.ok);
  ASSERT_EQ(restart.dependants.size(), 2u);
  EXPECT_EQ(restart.dependants[0].service, "B");
  EXPECT_EQ(restart.dependants[1].service, "A");
  EXPECT_TRUE(restart.dependants[0].result.done);

  scm_.Find("A")->refuse_start = 1069;
  restart = Ask({"rstrt", "Base"});
  EXPECT_FALSE(restart.ok);
  ASSERT_EQ(restart.dependants.size(), 2u);
  EXPECT_TRUE(restart.dependants[0].result.done);
  EXPECT_FALSE(restart.dependants[1].result.done);
  EXPECT_EQ(restart.dependants[1].result.code, 1069u);
  EXPECT_EQ(restart.dependants[1].result.message, "The service could not be logged on.");
  EXPECT_EQ(restart.error, "A: The service could not be logged on.");
}

// The server's DEPS read back by the client.
TEST_F(InterpreterRoundTripTest, DepsReadsBack) {
  scm_.AddService("W32Time", "Windows Time", halv::kStateRunning);
  scm_.AddService("TimeBroker", "Time Broker Service", halv::kStateRunning);
  scm_.AddDependency("W32Time", "TimeBroker");
  const Reply deps = Ask({"deps", "W32Time"});
  EXPECT_TRUE(deps.ok);
  ASSERT_EQ(deps.running_dependants.size(), 1u);
  EXPECT_EQ(deps.running_dependants[0].name, "TimeBroker");
  EXPECT_EQ(deps.running_dependants[0].display_name, "Time Broker Service");
  EXPECT_EQ(deps.running_dependants[0].state, "Running");
  EXPECT_FALSE(Ask({"deps", "NoSuch"}).ok);
}

TEST_F(InterpreterRoundTripTest, EmptyList) {
  const Reply list = Ask({"list"});
  EXPECT_TRUE(list.ok);
  EXPECT_TRUE(list.services.empty());
}

}  // namespace
}  // namespace halv::client

namespace halv::client {
namespace {

// AUDIT lines: the record's members whatever their order, escapes undone,
// unknown members passed over; anything that is not such an object refused.
TEST(ReplyParserTest, AuditLines) {
  AuditEntry entry;
  ASSERT_EQ(ParseAuditLine("{\"time\":\"2026-12-10T03:12:05.123Z\",\"event\":\"command\",\"user\":"
                           "\"ops\",\"peer\":\"10.0.0.9\",\"command\":\"STOP MSSQL\",\"service\":"
                           "\"MSSQL\",\"result\":0,\"text\":\"carried out\"}",
                           &entry),
            "");
  EXPECT_EQ(entry.time, "2026-12-10T03:12:05.123Z");
  EXPECT_EQ(entry.event, "command");
  EXPECT_EQ(entry.user, "ops");
  EXPECT_EQ(entry.peer, "10.0.0.9");
  EXPECT_EQ(entry.command, "STOP MSSQL");
  EXPECT_EQ(entry.service, "MSSQL");
  EXPECT_EQ(entry.result, 0u);
  EXPECT_EQ(entry.text, "carried out");

  ASSERT_EQ(ParseAuditLine("{ \"result\" : 4294967295, \"later\":true, \"n\":null, \"s\":\"x\","
                           " \"text\":\"a\\\"b\\\\c\\u00e9\\u0001\\n:: \", \"time\":\"t\" }",
                           &entry),
            "");
  EXPECT_EQ(entry.result, 4294967295u);
  EXPECT_EQ(entry.text, "a\"b\\c\xe9\x01\n:: ");
  EXPECT_EQ(entry.user, "");

  const char* const kBad[] = {
      "",
      "not json",
      "{\"time\":\"t\"",                       // cut off
      "{\"time\":\"t\"} x",                    // bytes after it
      "{\"time\":\"t\",\"result\":-1}",        // not a whole number
      "{\"time\":\"t\",\"result\":4294967296}",  // beyond 32 bits
      "{\"time\":\"t\",\"user\":3}",           // a string member that is not one
      "{\"time\":\"t\",\"x\":{\"y\":1}}",      // nested
      "{\"time\":\"t\\q\"}",                   // a bad escape
      "{\"time\":\"t\\u12\"}",                 // a short \u
      "{\"event\":\"command\"}",               // no time
      "{\"time\":\"t\" \"event\":\"e\"}",      // no comma
  };
  for (const char* bad : kBad) EXPECT_NE(ParseAuditLine(bad, &entry), "") << bad;
}

TEST(ReplyParserTest, AuditReplies) {
  const std::string a =
      "{\"time\":\"2026-12-10T03:12:05.123Z\",\"event\":\"command\",\"user\":\"Anonymous\","
      "\"peer\":\"10.0.0.9\",\"command\":\"STOP MSSQL\",\"service\":\"MSSQL\",\"result\":0,"
      "\"text\":\"carried out\"}";
  const std::string b =
      "{\"time\":\"2026-12-10T03:12:06.001Z\",\"event\":\"login-failed\",\"user\":\"ops\","
      "\"peer\":\"10.0.0.9\",\"command\":\"AUTH ops\",\"service\":\"\",\"result\":1326,"
      "\"text\":\"failed\"}";
  // The reply is complete only at the prompt after a line end.
  EXPECT_FALSE(ReplyComplete(Command::kAudit, a.substr(0, 20) + ":: "));
  EXPECT_TRUE(ReplyComplete(Command::kAudit, a + "\n\r:: "));

  const Reply two = Parse(Command::kAudit, a + "\n\r" + b + "\n\r:: ");
  EXPECT_TRUE(two.ok);
  ASSERT_EQ(two.audit.size(), 2u);
  EXPECT_EQ(two.audit[0].command, "STOP MSSQL");
  EXPECT_EQ(two.audit[1].event, "login-failed");
  EXPECT_EQ(two.audit[1].result, 1326u);

  const Reply none = Parse(Command::kAudit, std::string(halv::kNoAuditRecordsLine) + "\n\r:: ");
  EXPECT_TRUE(none.ok);
  EXPECT_TRUE(none.audit.empty());

  const Reply usage =
      Parse(Command::kAudit, "501-Usage: AUDIT [ <count> ], a count from 1 to 1000\n\r:: ");
  EXPECT_FALSE(usage.ok);
  EXPECT_EQ(usage.error, "501-Usage: AUDIT [ <count> ], a count from 1 to 1000");
  EXPECT_FALSE(Parse(Command::kAudit, "\n\r500-Unknown command 'AUDIT'\n\r:: ").ok);

  EXPECT_NE(Problem(Command::kAudit, a + "\n\rgarbage\n\r:: "), "");
  EXPECT_EQ(CommandFromWord("Audit"), Command::kAudit);
  EXPECT_EQ(CommandName(Command::kAudit), "AUDIT");
}

// The service's own AUDIT lines, with bytes a client typed, read back.
TEST_F(InterpreterRoundTripTest, AuditReadsBackTheServiceRecords) {
  EXPECT_FALSE(Ask({"audit"}).ok);  // AuditLog off: no such command
  server_.fields().audit_log = true;
  EXPECT_TRUE(Ask({"audit"}).audit.empty());

  halv::AuditRecord record;
  record.event = halv::AuditEvent::kCommandRefused;
  record.user = "op\"s\\";
  record.peer = "10.1.2.3";
  record.command = "STOP caf\xe9::  \x01";
  record.service = "caf\xe9";
  record.result = 5;
  record.text = "refused: AllowStop";
  halv::UtcTime time;
  time.year = 2026;
  time.month = 12;
  time.day = 10;
  time.hour = 3;
  time.minute = 12;
  time.second = 5;
  time.millisecond = 7;
  halv::AuditRecord done = record;
  done.event = halv::AuditEvent::kCommandDone;
  done.result = 0;
  server_.set_audit_lines({halv::AuditJsonLine(record, time), halv::AuditJsonLine(done, time)});

  const Reply reply = Ask({"audit", "2"});
  EXPECT_TRUE(reply.ok);
  ASSERT_EQ(reply.audit.size(), 2u);
  EXPECT_EQ(server_.audit_requests().back(), 2u);
  const AuditEntry& first = reply.audit[0];
  EXPECT_EQ(first.time, "2026-12-10T03:12:05.007Z");
  EXPECT_EQ(first.event, "command-refused");
  EXPECT_EQ(first.user, record.user);
  EXPECT_EQ(first.peer, record.peer);
  EXPECT_EQ(first.command, record.command);
  EXPECT_EQ(first.service, record.service);
  EXPECT_EQ(first.result, 5u);
  EXPECT_EQ(first.text, record.text);
  EXPECT_EQ(reply.audit[1].event, "command");
}

}  // namespace
}  // namespace halv::client
