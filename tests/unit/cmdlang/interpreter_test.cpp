// Transcript tests of the command interpreter: for each command line, the
// exact sends in order, the prompt that follows, and the effects on the
// service object (restart armed, configuration re-read, connection closed).
#include "interpreter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_server_context.h"
#include "halv_error.h"
#include "recording_connection.h"
#include "simulated_manager.h"
#include "transcript.h"

namespace halv::testing {
namespace {

using Sends = std::vector<std::string>;

struct Case {
  std::vector<std::string> words;
  Sends sends;
};

class InterpreterTest : public ::testing::Test {
 protected:
  InterpreterTest() { server_.AddClient(&client_); }

  // Runs one line from `client_` and returns what it was sent.
  Sends Run(const std::vector<std::string>& words) {
    client_.ClearSends();
    ProcessCommand(server_, client_, *MakeLine(words));
    return client_.sends();
  }

  void RunTable(const std::vector<Case>& cases) {
    for (const Case& each : cases) {
      std::string shown;
      for (const std::string& word : each.words) shown += "[" + word + "]";
      SCOPED_TRACE(shown);
      EXPECT_EQ(Run(each.words), each.sends);
      EXPECT_FALSE(client_.IsClosed());
    }
  }

  SimulatedManager scm_;
  FakeServerContext server_{scm_};
  RecordingConnection client_{"10.0.0.5"};
};

const Sends kGeneralHelp = {
    "311-This is Halvexa Version 3.5.1.0",
    "\n\r311-Topics:\n\r311-    START     STOP     RSTRT     STATUS",
    "\n\r311-    LIST      UPDATE   QUIT      HELP",
    "\n\r311-    STIME     WHO      VIEW      INIT",
    "\n\r311-For more info use \"HELP <topic>\".\n\r311-    To report bugs in this implementation "
    "or suggestions for",
    "\n\r311-    future enhancements, contact http://www.tenmark.example/halvexa/feedback."
    "\n\r311-End of HELP info",
    "\n\r:: "};

TEST_F(InterpreterTest, GeneralHelpInAnyCase) {
  RunTable({
      {{"help"}, kGeneralHelp},
      {{"HELP"}, kGeneralHelp},
      {{"hElP"}, kGeneralHelp},
  });
}

TEST_F(InterpreterTest, GeneralHelpShowsTheLoadedVersion) {
  server_.fields().version = "9.8.7.6";
  const Sends sends = Run({"help"});
  ASSERT_EQ(sends.size(), 7u);
  EXPECT_EQ(sends[0], "311-This is Halvexa Version 9.8.7.6");
}

TEST_F(InterpreterTest, EveryHelpTopic) {
  const std::string end = "\n\r311-End of HELP info";
  RunTable({
      {{"help", "start"},
       {"311-START", "\n\r311-Use the START command to start a service by name",
        "\n\r311- usage:  START <service_name>" + end, "\n\r:: "}},
      {{"help", "STOP"},
       {"311-STOP", "\n\r311-Use the STOP command to stop a service by name",
        "\n\r311- usage:  STOP <service_name>" + end, "\n\r:: "}},
      {{"HELP", "stop"},
       {"311-STOP", "\n\r311-Use the STOP command to stop a service by name",
        "\n\r311- usage:  STOP <service_name>" + end, "\n\r:: "}},
      {{"help", "Rstrt"},
       {"311-RSTRT", "\n\r311-Use the RSTRT command to restart a service by name.",
        "\n\r311-This command stops and start a service with one command.",
        "\n\r311- usage:  RSTRT <service_name>" + end, "\n\r:: "}},
      {{"help", "status"},
       {"311-STATUS", "\n\r311-Use the STATUS command to retrieve service status information.",
        "\n\r311- usage:  STATUS <service_name>" + end, "\n\r:: "}},
      {{"help", "list"},
       {"311-LIST", "\n\r311-Use the LIST command to retrieve the list of server services.",
        "\n\r311- usage:  LIST [ <service_name> ]" + end, "\n\r:: "}},
      {{"help", "stime"},
       {"311-STIME", "\n\r311-Use the STIME command to retrieve the server's local time.",
        "\n\r311- usage:  stime" + end, "\n\r:: "}},
      {{"help", "who"},
       {"311-WHO", "\n\r311-Use the WHO command to list the users connected to the server.",
        "\n\r311- usage:  who" + end, "\n\r:: "}},
      {{"help", "view"},
       {"311-VIEW", "\n\r311-Use the VIEW command to list the content of the log file.",
        "\n\r311- usage:  view" + end, "\n\r:: "}},
      {{"help", "update"},
       {"311-UPDATE",
        "\n\r311-Use the UPDATE command to set service properties.  Please refer to the",
        "\n\r311-LIST command to see the available service properties.",
        "\n\r311- usage:  UPDATE <service_name> <property> <value>" + end, "\n\r:: "}},
      {{"help", "quit"},
       {"311-QUIT", "\n\r311-Use the QUIT command to exit HalvexaService",
        "\n\r311- usage:  QUIT" + end, "\n\r:: "}},
      {{"help", "help", "extra", "words"},
       {"311-HELP",
        "\n\r311-Use the HELP command to list valid commands and command topic information",
        "\n\r311- usage:  HELP [ <topic> ]" + end, "\n\r:: "}},
  });
}

TEST_F(InterpreterTest, UnknownHelpTopicsGet504WithTheTopicAsTyped) {
  RunTable({
      {{"help", "INIT"}, {"504-Unknown help topic for 'INIT'\n\r", "\n\r:: "}},
      {{"help", "cycle"}, {"504-Unknown help topic for 'cycle'\n\r", "\n\r:: "}},
      {{"help", "Display"}, {"504-Unknown help topic for 'Display'\n\r", "\n\r:: "}},
      {{"help", "open"}, {"504-Unknown help topic for 'open'\n\r", "\n\r:: "}},
      {{"help", "sta"}, {"504-Unknown help topic for 'sta'\n\r", "\n\r:: "}},
      {{"help", "stops"}, {"504-Unknown help topic for 'stops'\n\r", "\n\r:: "}},
      {{"help", "xtop"}, {"504-Unknown help topic for 'xtop'\n\r", "\n\r:: "}},
  });
}

TEST_F(InterpreterTest, UnknownCommandsGet500WithTheWordAsTyped) {
  RunTable({
      {{"FOO", "bar"}, {"\n\r500-Unknown command 'FOO'\n\r", ":: "}},
      {{"STA"}, {"\n\r500-Unknown command 'STA'\n\r", ":: "}},
      {{"starts", "x"}, {"\n\r500-Unknown command 'starts'\n\r", ":: "}},
      {{"hel"}, {"\n\r500-Unknown command 'hel'\n\r", ":: "}},
      {{"xtart", "Spooler"}, {"\n\r500-Unknown command 'xtart'\n\r", ":: "}},
      {{"HELQ"}, {"\n\r500-Unknown command 'HELQ'\n\r", ":: "}},
      {{"say'it"}, {"\n\r500-Unknown command 'say'it'\n\r", ":: "}},
      {{"%s%n%d"}, {"\n\r500-Unknown command '%s%n%d'\n\r", ":: "}},
  });
}

TEST_F(InterpreterTest, OpenAndAuthAnswerOnlyThePrompt) {
  RunTable({
      {{"open"}, {":: "}},
      {{"OPEN", "host", "21"}, {":: "}},
      {{"auth"}, {":: "}},
      {{"Auth", "user", "secret"}, {":: "}},
  });
}

TEST_F(InterpreterTest, UpdateAnswersWithoutPrompt) {
  RunTable({
      {{"update"}, {"Updating Service\n\r"}},
      {{"UPDATE", "Spooler", "start_type", "2"}, {"Updating Service\n\r"}},
  });
}

TEST_F(InterpreterTest, QuitClosesAndSendsNothing) {
  EXPECT_TRUE(Run({"Quit", "now"}).empty());
  EXPECT_TRUE(client_.IsClosed());
}

TEST_F(InterpreterTest, InitReportsFailureOnlyWhenTheReloadFails) {
  RunTable({{{"init"}, {"Reinitializing server.\n\r", ":: "}}});
  EXPECT_EQ(server_.reinitialize_calls(), 1);
  server_.set_reinitialize_succeeds(false);
  RunTable({{{"INIT"},
             {"Reinitializing server.\n\r",
              "Error reinitializing server, please check logfile and system logs.\n\r", ":: "}}});
  EXPECT_EQ(server_.reinitialize_calls(), 2);
}

// A re-read that raises still leaves the client with a reply; the error goes
// on to the caller, which records it.
TEST_F(InterpreterTest, InitAnswersEvenWhenTheReloadRaises) {
  server_.set_reinitialize_raises(true);
  EXPECT_THROW(Run({"init"}), Error);
  EXPECT_EQ(
      client_.sends(),
      (Sends{"Reinitializing server.\n\r",
             "Error reinitializing server, please check logfile and system logs.\n\r", ":: "}));
}

struct TimeCase {
  LocalTime time;
  std::string stime;     // STIME's first send
  std::string who_date;  // the date column of a WHO row
};

// The reply form counts hours on a 12-hour clock with am/pm; the WHO row form
// has no am/pm and so counts 0..23.
TEST_F(InterpreterTest, DateFormsOfStimeAndWho) {
  const TimeCase cases[] = {
      {{2026, 12, 7, 23, 5, 9}, "7 December 2026 11:05:09 pm\n\r", "7 Dec 2026 23:05"},
      {{2026, 12, 7, 0, 30, 0}, "7 December 2026 12:30:00 am\n\r", "7 Dec 2026 00:30"},
      {{2027, 1, 1, 12, 0, 0}, "1 January 2027 12:00:00 pm\n\r", "1 Jan 2027 12:00"},
      {{2027, 5, 31, 11, 59, 59}, "31 May 2027 11:59:59 am\n\r", "31 May 2027 11:59"},
      {{2027, 9, 15, 13, 1, 2}, "15 September 2027 01:01:02 pm\n\r", "15 Sep 2027 13:01"},
  };
  for (const TimeCase& each : cases) {
    SCOPED_TRACE(each.stime);
    server_.set_now(each.time);
    EXPECT_EQ(Run({"stime"}), (Sends{each.stime, ":: "}));
    const Sends who = Run({"who"});
    ASSERT_EQ(who.size(), 5u);
    EXPECT_EQ(who[0], "Server: TESTHOST\n\rService running as: SYSTEM\n\rLocal Server Date: " +
                          each.stime.substr(0, each.stime.size() - 2) + "\n\r\n\r");
    const std::string before_date =
        Field("anonymous", 15) + Field("Anonymous User", 15) + Field("10.0.0.5", 13) + " ";
    EXPECT_EQ(who[3].substr(0, before_date.size()), before_date);
    EXPECT_EQ(who[3].substr(before_date.size(), each.who_date.size()), each.who_date);
  }
}

TEST_F(InterpreterTest, WhoListsEveryClientWithItsOwnAddressAndTheSameTime) {
  RecordingConnection other{"192.168.100.200"};
  server_.AddClient(&other);
  server_.fields().server_name = "WEB01";
  server_.fields().log_on_as = "LocalSystem";
  const std::string tail = Field("7 Dec 2026 23:05", 15) + Field("exec()", 13) + "\n\r";
  RunTable(
      {{{"WHO", "ignored"},
        {"Server: WEB01\n\rService running as: LocalSystem\n\rLocal Server Date: "
         "7 December 2026 11:05:09 pm\n\r\n\r",
         " Login Name      Name            Remote Host   Date              What\n\r", kRuleText,
         " anonymous       Anonymous User  10.0.0.5      7 Dec 2026 23:05 exec()  "
         "     \n\r",
         " anonymous       Anonymous User " + Field("192.168.100.200", 13) + tail, ":: "}}});
  EXPECT_TRUE(other.sends().empty());
}

TEST_F(InterpreterTest, CycleWarnsEveryClientInListOrderAndArmsTheRestart) {
  RecordingConnection first{"10.0.0.1"};
  RecordingConnection last{"10.0.0.3"};
  // The requester is in the middle of the list.
  FakeServerContext server{scm_};
  server.AddClient(&first);
  server.AddClient(&client_);
  server.AddClient(&last);
  const std::string warning =
      "\n\rPLEASE DISCONNECT NOW, THE SERVER IS GOING DOWN IN 30 SECONDS!\n\r";
  ProcessCommand(server, client_, *MakeLine({"cycle"}));
  EXPECT_EQ(client_.sends(), (Sends{"Restarting the Halvexa Service", warning, "\n\r:: "}));
  EXPECT_EQ(first.sends(), (Sends{warning}));
  EXPECT_EQ(last.sends(), (Sends{warning}));
  EXPECT_EQ(server.arm_calls(), (std::vector<std::int32_t>{30000}));
}

TEST_F(InterpreterTest, CycleStatesTheGracePeriodInWholeSeconds) {
  server_.fields().grace_period = 4999;
  RunTable(
      {{{"CYCLE"},
        {"Restarting the Halvexa Service",
         "\n\rPLEASE DISCONNECT NOW, THE SERVER IS GOING DOWN IN 4 SECONDS!\n\r", "\n\r:: "}}});
  EXPECT_EQ(server_.arm_calls(), (std::vector<std::int32_t>{4999}));
}

// A client whose send fails must not keep the others from their warning or
// the restart from being armed; the failure still reaches the caller.
TEST_F(InterpreterTest, CycleGoesOnPastAClientWhoseSendFails) {
  RecordingConnection broken{"10.0.0.1"};
  RecordingConnection last{"10.0.0.3"};
  broken.set_fail_sends(true);
  FakeServerContext server{scm_};
  server.AddClient(&broken);
  server.AddClient(&client_);
  server.AddClient(&last);
  EXPECT_THROW(ProcessCommand(server, client_, *MakeLine({"cycle"})), Error);
  EXPECT_TRUE(broken.IsClosed());
  EXPECT_EQ(last.sends().size(), 1u);
  ASSERT_EQ(client_.sends().size(), 3u);
  EXPECT_EQ(client_.sends()[2], "\n\r:: ");
  EXPECT_EQ(server.arm_calls(), (std::vector<std::int32_t>{30000}));
}

TEST_F(InterpreterTest, DisplayShowsTheParameters) {
  server_.fields().verbose = true;
  server_.fields().port = 2323;
  server_.fields().app_path = "C:\\" + std::string(70, 'p');  // wider than its column
  RunTable({{{"display"},
             {" Parameter          Value\n\r", kRuleText,
              " version            3.5.1.0" + std::string(53, ' ') + "\n\r",
              Field("server_name", 18) + Field("TESTHOST", 60) + "\n\r",
              Field("app_path", 18) + " C:\\" + std::string(70, 'p') + "\n\r",
              Field("log_pathfile", 18) + Field("C:\\Halvexa\\log\\serverlog.txt", 60) + "\n\r",
              Field("exec_name", 18) + Field("halvexa351.exe", 60) + "\n\r",
              Field("log_on_as", 18) + Field("SYSTEM", 60) + "\n\r",
              Field("bin_pathname", 18) + Field("C:\\Halvexa\\halvexa351.exe", 60) + "\n\r",
              Field("stop_timeout", 18) + Field("30000", 60) + "\n\r",
              Field("verbose", 18) + Field("1", 60) + "\n\r",
              " stop_dependencies  1" + std::string(59, ' ') + "\n\r",
              Field("grace_period", 18) + Field("30000", 60) + "\n\r",
              Field("port", 18) + Field("2323", 60) + "\n\r", ":: "}}});
}

TEST_F(InterpreterTest, DisplayDefaults) {
  const Sends sends = Run({"Display"});
  ASSERT_EQ(sends.size(), 15u);
  EXPECT_EQ(sends[9], Field("stop_timeout", 18) + Field("30000", 60) + "\n\r");
  EXPECT_EQ(sends[10], Field("verbose", 18) + Field("0", 60) + "\n\r");
  EXPECT_EQ(sends[11], Field("stop_dependencies", 18) + Field("1", 60) + "\n\r");
  EXPECT_EQ(sends[12], Field("grace_period", 18) + Field("30000", 60) + "\n\r");
  EXPECT_EQ(sends[13], Field("port", 18) + Field("9007", 60) + "\n\r");
  EXPECT_EQ(sends[14], ":: ");
}

class ViewTest : public InterpreterTest {
 protected:
  const std::string path_ = "C:\\Halvexa\\log\\serverlog.txt";
};

TEST_F(ViewTest, EmptyOrMissingLogSendsOnlyThePrompt) {
  server_.SetFile(path_, "");
  RunTable({{{"view"}, {"\n\r:: "}}});
  server_.fields().log_pathfile = "C:\\elsewhere\\new.txt";
  RunTable({{{"VIEW"}, {"\n\r:: "}}});
  EXPECT_TRUE(server_.HasFile("C:\\elsewhere\\new.txt"));  // created on open
  EXPECT_EQ(server_.open_sources(), 0);
}

TEST_F(ViewTest, UnopenableLog) {
  server_.SetUnopenable(path_);
  RunTable({{{"view"}, {"Unable to open logfile.\n\r", "\n\r:: "}}});
}

TEST_F(ViewTest, SendsTheFileAsByteBlocksOf128ZeroBytesIncluded) {
  std::string content;
  for (int i = 0; i < 300; ++i) content.push_back(static_cast<char>(i % 7 == 0 ? 0 : 'a' + i % 26));
  server_.SetFile(path_, content);
  const Sends sends = Run({"view"});
  ASSERT_EQ(sends.size(), 4u);
  EXPECT_EQ(sends[0], content.substr(0, 128));
  EXPECT_EQ(sends[1], content.substr(128, 128));
  EXPECT_EQ(sends[2], content.substr(256));
  EXPECT_EQ(sends[3], "\n\r:: ");
  EXPECT_EQ(client_.kinds(), (std::vector<SendKind>{SendKind::kBytes, SendKind::kBytes,
                                                    SendKind::kBytes, SendKind::kText}));
  EXPECT_EQ(server_.open_sources(), 0);
}

TEST_F(ViewTest, ExactMultipleOfTheBlockSize) {
  server_.SetFile(path_, std::string(256, '\0'));
  EXPECT_EQ(Run({"view"}), (Sends{std::string(128, '\0'), std::string(128, '\0'), "\n\r:: "}));
}

TEST_F(ViewTest, ReadErrorEndsTheTransferLikeTheEnd) {
  server_.SetFile(path_, std::string(400, 'x'));
  server_.SetReadErrorAfter(path_, 130);
  EXPECT_EQ(Run({"view"}), (Sends{std::string(128, 'x'), "xx", "\n\r:: "}));
  EXPECT_EQ(server_.open_sources(), 0);
}

TEST_F(ViewTest, ClientGoneStopsTheTransfer) {
  server_.SetFile(path_, std::string(1000, 'x'));
  client_.set_fail_sends(true);
  EXPECT_THROW(Run({"view"}), Error);
  EXPECT_TRUE(client_.IsClosed());
  EXPECT_EQ(server_.open_sources(), 0);
}

}  // namespace
}  // namespace halv::testing
