// The output forms: JSON escaping (control and high bytes included), one
// object per host and line, the table with the host first and failed hosts
// as rows of their own, and the exit status from the per-host outcomes.
#include "report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json_writer.h"

namespace halv::client {
namespace {

TEST(JsonWriterTest, EscapesEveryByteThatNeedsIt) {
  const struct {
    std::string in;
    std::string out;
  } kCases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"\n\r\t", "\"\\n\\r\\t\""},
      {std::string("\0\x01\x1f\x7f", 4), "\"\\u0000\\u0001\\u001f\\u007f\""},
      {"caf\xe9", "\"caf\\u00e9\""},  // a Latin-1 byte, not UTF-8
      {"", "\"\""},
  };
  for (const auto& each : kCases) EXPECT_EQ(JsonString(each.in), each.out);
  EXPECT_EQ(JsonObject().Add("a", "x").AddBool("b", true).AddNumber("c", 1060).Text(),
            "{\"a\":\"x\",\"b\":true,\"c\":1060}");
}

HostResult Answered(const std::string& host, Command command, const std::string& service) {
  HostResult r;
  r.entry.label = host;
  r.greeting.version = "3.5.1.1";
  r.greeting.server_name = "SRV";
  r.reply.command = command;
  r.reply.service = service;
  return r;
}

TEST(ReportTest, StopAsTableAndJson) {
  HostResult done = Answered("srv1", Command::kStop, "Spooler");
  done.reply.control.done = true;
  HostResult failed = Answered("srv2:9100", Command::kStop, "Spooler");
  failed.outcome = HostOutcome::kCommandFailed;
  failed.reply.ok = false;
  failed.reply.control = {false, 1062, "The service has not been started."};
  failed.reply.error = failed.message = failed.reply.control.message;
  HostResult silent;
  silent.entry.label = "srv3";
  silent.outcome = HostOutcome::kTimedOut;
  silent.message = "timed out after 2 s waiting for the greeting";
  const std::vector<HostResult> results = {done, failed, silent};

  EXPECT_EQ(TableText(Command::kStop, results),
            "HOST       SERVICE  RESULT\n"
            "srv1       Spooler  done\n"
            "srv2:9100  Spooler  error 1062: The service has not been started.\n"
            "srv3       error: timed out after 2 s waiting for the greeting\n");
  EXPECT_EQ(
      JsonLines(results, false),
      "{\"host\":\"srv1:9007\",\"ok\":true,\"outcome\":\"ok\",\"server\":\"SRV\","
      "\"version\":\"3.5.1.1\",\"date\":\"\",\"command\":\"STOP\",\"service\":\"Spooler\","
      "\"done\":true,\"changed\":true,\"text\":\"\"}\n"
      "{\"host\":\"srv2:9100\",\"ok\":false,\"outcome\":\"failed\",\"error\":\"The service "
      "has not been started.\",\"server\":\"SRV\",\"version\":\"3.5.1.1\",\"date\":\"\","
      "\"command\":\"STOP\",\"service\":\"Spooler\",\"done\":false,\"code\":1062,"
      "\"message\":\"The service has not been started.\",\"text\":\"\"}\n"
      "{\"host\":\"srv3:9007\",\"ok\":false,\"outcome\":\"timeout\",\"error\":\"timed out after 2 "
      "s waiting for the greeting\"}\n");
  EXPECT_EQ(ExitStatus(results), 2);
  EXPECT_EQ(ExitStatus({done, failed}), 1);
  EXPECT_EQ(ExitStatus({done}), 0);
  HostResult refused = done;
  refused.outcome = HostOutcome::kAuthRefused;
  EXPECT_EQ(ExitStatus({done, refused}), 1);
  HostResult cut = done;
  cut.outcome = HostOutcome::kBadReply;
  EXPECT_EQ(ExitStatus({cut, failed}), 2);
}

// RSTRT's dependants started again: a table row each after the service's,
// a "dependants" array in JSON only when there are any.
TEST(ReportTest, RestartWithDependantsStartedAgain) {
  HostResult plain = Answered("srv1", Command::kRestart, "Base");
  plain.reply.stop.done = plain.reply.control.done = true;
  HostResult with = plain;
  with.reply.dependants = {{"B", {true, 0, ""}},
                           {"A", {false, 1069, "The service could not be logged on."}}};
  EXPECT_EQ(TableText(Command::kRestart, {with}),
            "HOST  SERVICE  STOP  START\n"
            "srv1  Base     done  done\n"
            "srv1  B        done  done\n"
            "srv1  A        done  error 1069: The service could not be logged on.\n");
  const std::string json = HostJson(with, false);
  EXPECT_NE(json.find("\"start\":{\"done\":true},\"dependants\":[{\"service\":\"B\","
                      "\"start\":{\"done\":true}},{\"service\":\"A\",\"start\":{\"done\":"
                      "false,\"code\":1069,\"message\":\"The service could not be logged on.\"}}]"),
            std::string::npos)
      << json;
  EXPECT_EQ(HostJson(plain, false).find("dependants"), std::string::npos);
}

TEST(ReportTest, DepsTableAndJson) {
  HostResult a = Answered("a", Command::kDeps, "W32Time");
  a.reply.running_dependants = {{"TimeBroker", "Time Broker", "Running"},
                                {"Sync", "Sync Host", "Stopping"}};
  HostResult b = Answered("b", Command::kDeps, "W32Time");
  b.outcome = HostOutcome::kCommandFailed;
  b.reply.ok = false;
  b.reply.control = {false, 1060, "Service does not exist."};
  b.reply.error = b.message = b.reply.control.message;
  EXPECT_EQ(TableText(Command::kDeps, {a, b}),
            "HOST  SERVICE  DEPENDANT   DISPLAY NAME  STATE\n"
            "a     W32Time  TimeBroker  Time Broker   Running\n"
            "a     W32Time  Sync        Sync Host     Stopping\n"
            "b     error 1060: Service does not exist.\n");
  const std::string json = HostJson(a, false);
  EXPECT_NE(json.find("\"command\":\"DEPS\",\"service\":\"W32Time\",\"dependants\":[{\"name\":"
                      "\"TimeBroker\",\"display_name\":\"Time Broker\",\"state\":\"Running\"},"),
            std::string::npos)
      << json;
  EXPECT_NE(HostJson(b, false).find("\"dependants\":[],\"code\":1060"), std::string::npos);
}

// UPDATE: the server's line for a change made, the error of a refusal, a
// numbered line as the host's failure; JSON says whether it was updated.
TEST(ReportTest, UpdateTableAndJson) {
  HostResult a = Answered("a", Command::kUpdate, "Spooler");
  a.reply.updated = true;
  a.reply.text = "Service updated: Spooler StartType Manual\n";
  HostResult b = Answered("b", Command::kUpdate, "Nothing");
  b.outcome = HostOutcome::kCommandFailed;
  b.reply.ok = false;
  b.reply.control = {false, 1060, "Service does not exist."};
  b.reply.error = b.message = b.reply.control.message;
  HostResult c = Answered("c", Command::kUpdate, "Spooler");
  c.outcome = HostOutcome::kCommandFailed;
  c.reply.ok = false;
  c.reply.error = c.message = "501-Unknown StartType 'Auto'; valid values: Automatic, Delayed";
  HostResult d = Answered("d", Command::kUpdate, "Spooler");
  d.reply.text = "Updating Service\n";
  EXPECT_EQ(TableText(Command::kUpdate, {a, b, c, d}),
            "HOST  SERVICE  RESULT\n"
            "a     Spooler  Service updated: Spooler StartType Manual\n"
            "b     Nothing  error 1060: Service does not exist.\n"
            "c     failed: 501-Unknown StartType 'Auto'; valid values: Automatic, Delayed\n"
            "d     Spooler  Updating Service\n");
  EXPECT_NE(
      HostJson(a, false).find("\"command\":\"UPDATE\",\"service\":\"Spooler\",\"updated\":"
                              "true,\"text\":\"Service updated: Spooler StartType Manual\\n\""),
      std::string::npos)
      << HostJson(a, false);
  EXPECT_NE(HostJson(b, false).find("\"updated\":false,\"code\":1060,\"message\":\"Service does "
                                    "not exist.\""),
            std::string::npos)
      << HostJson(b, false);
  EXPECT_NE(HostJson(d, false).find("\"updated\":false,\"text\""), std::string::npos);
}

TEST(ReportTest, ListTableAndRaw) {
  HostResult a = Answered("a", Command::kList, "");
  a.reply.services = {{"Spooler", "Running", "Automatic", "LocalSystem"},
                      {"W32Time", "Stopped", "Demand", ""}};
  a.raw = "bytes of a";
  HostResult b = Answered("bb", Command::kList, "");
  b.raw = "bytes of b";
  EXPECT_EQ(TableText(Command::kList, {a, b}),
            "HOST  SERVICE  STATE    STARTUP    ACCOUNT\n"
            "a     Spooler  Running  Automatic  LocalSystem\n"
            "a     W32Time  Stopped  Demand\n");
  EXPECT_EQ(RawText({a, b}), "==> a <==\nbytes of a\n==> bb <==\nbytes of b\n");
  EXPECT_EQ(RawText({a}), "bytes of a\n");  // the prompt is followed by a line end
  EXPECT_NE(HostJson(a, true).find("\"raw\":\"bytes of a\""), std::string::npos);
}

TEST(ReportTest, ControlBytesAreEscapedInTableAndRaw) {
  const struct {
    std::string in;
    std::string table;  // keep_layout false
    std::string raw;    // keep_layout true
  } cases[] = {
      {"plain C:\\dir", "plain C:\\dir", "plain C:\\dir"},
      {"\x1b[2J\x1b]0;owned\x07", "\\x1B[2J\\x1B]0;owned\\x07", "\\x1B[2J\\x1B]0;owned\\x07"},
      {"a\n\rb\tc", "a\\x0A\\x0Db\\x09c", "a\n\rb\tc"},
      {std::string("nul\0del\x7f", 8), "nul\\x00del\\x7F", "nul\\x00del\\x7F"},
      {"caf\xe9", "caf\xe9", "caf\xe9"},  // a code-page byte passes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    EXPECT_EQ(EscapeControls(c.in, false), c.table);
    EXPECT_EQ(EscapeControls(c.in, true), c.raw);
  }
  HostResult a = Answered("a", Command::kList, "");
  a.reply.services = {{"Evil\x1b[31m", "Running", "Automatic", "Local\x1b]0;x\x07"}};
  a.raw = "Evil\x1b[31m\n\r:: ";
  EXPECT_EQ(TableText(Command::kList, {a}),
            "HOST  SERVICE       STATE    STARTUP    ACCOUNT\n"
            "a     Evil\\x1B[31m  Running  Automatic  Local\\x1B]0;x\\x07\n");
  EXPECT_EQ(RawText({a}), "Evil\\x1B[31m\n\r:: \n");
  HostResult failed;
  failed.entry.label = "b";
  failed.outcome = HostOutcome::kAuthRefused;
  failed.message = "log-on refused: 530-\x1b[8mhidden";
  EXPECT_EQ(TableText(Command::kStatus, {failed}),
            "HOST  SERVICE  STATE\nb     error: log-on refused: 530-\\x1B[8mhidden\n");
}

TEST(ReportTest, HostFieldCarriesThePort) {
  const struct {
    const char* label;
    const char* host;
    std::uint16_t port;
    const char* shown;
  } kCases[] = {
      {"srv1", "srv1", 9007, "srv1:9007"},
      {"srv2:9100", "srv2", 9100, "srv2:9100"},
      {"::1", "::1", 9007, "[::1]:9007"},
      {"[::1]:9200", "::1", 9200, "[::1]:9200"},
      {"[fe80::1]", "fe80::1", 9300, "[fe80::1]:9300"},
      {"fe80::9300", "fe80::9300", 9300, "[fe80::9300]:9300"},
  };
  for (const auto& c : kCases) {
    HostEntry entry;
    entry.label = c.label;
    entry.host = c.host;
    entry.port = c.port;
    EXPECT_EQ(HostWithPort(entry), c.shown) << c.label;
  }
}

TEST(ReportTest, JsonDocumentIsAnArrayForSeveralResults) {
  HostResult a = Answered("a", Command::kStime, "");
  a.reply.time = "t";
  HostResult b = Answered("b:1", Command::kStime, "");
  EXPECT_EQ(JsonDocument({a}, false), HostJson(a, false) + "\n");
  EXPECT_EQ(JsonDocument({a, b}, false),
            "[\n" + HostJson(a, false) + ",\n" + HostJson(b, false) + "\n]\n");
  EXPECT_EQ(JsonDocument({}, false), "[\n]\n");
}

TEST(ReportTest, AlreadyInTheStateAskedFor) {
  HostResult stopped = Answered("a", Command::kStop, "Spooler");
  stopped.unchanged = true;
  stopped.reply.control = {false, 1062, "The service has not been started."};
  HostResult running = Answered("a", Command::kStart, "BITS");
  running.unchanged = true;
  running.reply.control = {false, 1056, "An instance of the service is already running."};
  EXPECT_EQ(TableText(Command::kStop, {stopped}),
            "HOST  SERVICE  RESULT\n"
            "a     Spooler  already stopped\n");
  EXPECT_EQ(TableText(Command::kStart, {running}),
            "HOST  SERVICE  RESULT\n"
            "a     BITS     already running\n");
  EXPECT_NE(HostJson(stopped, false)
                .find("\"service\":\"Spooler\",\"done\":true,\"changed\":false,\"result\":"
                      "\"already stopped\",\"text\""),
            std::string::npos)
      << HostJson(stopped, false);
  EXPECT_EQ(ExitStatus({stopped, running}), 0);
}

// AUDIT: a row per record, the host first; in JSON one object per record
// with its host, a failed host as its usual object, a host without records
// as nothing.
TEST(ReportTest, AuditRecordsAsTableAndJson) {
  HostResult a = Answered("srv1", Command::kAudit, "");
  a.reply.audit = {
      {"2026-12-10T03:12:05.123Z", "command", "ops", "10.0.0.9", "STOP MSSQL", "MSSQL", 0,
       "carried out"},
      {"2026-12-10T03:12:09.000Z", "command-refused", "Anonymous", "10.0.0.7", "START \"x",
       "\"x", 5, "refused: AllowStart"},
  };
  HostResult empty = Answered("srv2:9100", Command::kAudit, "");
  HostResult down = Answered("srv3", Command::kAudit, "");
  down.outcome = HostOutcome::kUnreachable;
  down.message = "connection refused";
  down.greeting = {};
  EXPECT_EQ(TableText(Command::kAudit, {a, empty, down}),
            "HOST  TIME                      EVENT            USER       PEER      COMMAND     "
            "RESULT  TEXT\n"
            "srv1  2026-12-10T03:12:05.123Z  command          ops        10.0.0.9  STOP MSSQL  "
            "0       carried out\n"
            "srv1  2026-12-10T03:12:09.000Z  command-refused  Anonymous  10.0.0.7  START \"x    "
            "5       refused: AllowStart\n"
            "srv3  error: connection refused\n");

  const std::string first =
      "{\"host\":\"srv1:9007\",\"time\":\"2026-12-10T03:12:05.123Z\",\"event\":\"command\","
      "\"user\":\"ops\",\"peer\":\"10.0.0.9\",\"command\":\"STOP MSSQL\",\"service\":"
      "\"MSSQL\",\"result\":0,\"text\":\"carried out\"}";
  const std::string second =
      "{\"host\":\"srv1:9007\",\"time\":\"2026-12-10T03:12:09.000Z\",\"event\":"
      "\"command-refused\",\"user\":\"Anonymous\",\"peer\":\"10.0.0.7\",\"command\":"
      "\"START \\\"x\",\"service\":\"\\\"x\",\"result\":5,\"text\":\"refused: AllowStart\"}";
  EXPECT_EQ(ResultJsonLines(a, false), first + "\n" + second + "\n");
  EXPECT_EQ(ResultJsonLines(empty, false), "");
  EXPECT_EQ(JsonLines({a, empty, down}, false),
            first + "\n" + second + "\n" + HostJson(down, false) + "\n");
  // --json: always an array, of the same objects.
  EXPECT_EQ(JsonDocument({a}, false), "[\n" + first + ",\n" + second + "\n]\n");
  EXPECT_EQ(JsonDocument({empty}, false), "[\n]\n");
  EXPECT_EQ(JsonDocument({empty, down}, false), "[\n" + HostJson(down, false) + "\n]\n");
}

}  // namespace
}  // namespace halv::client
