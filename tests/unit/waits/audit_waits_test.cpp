// Audit records on the road of the commands: a table of commands and their
// outcomes over the simulated manager, with and without logins; a record is
// made only once the outcome is known (a STOP's after its wait), and the
// commands in flight or held when the service stops are recorded as
// cancelled.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "auth/auth.h"
#include "waits_fixture.h"

namespace halv::testing {
namespace {

// A record as the tests compare it.
struct Row {
  AuditEvent event;
  std::string user, command, service;
  std::uint32_t result;
  std::string text;
  bool operator==(const Row&) const = default;
};

void PrintTo(const Row& r, std::ostream* out) {
  *out << static_cast<std::uint32_t>(r.event) << " " << r.user << " [" << r.command << "] ["
       << r.service << "] " << r.result << " " << r.text;
}

class AuditWaitsTest : public WaitsTest {
 protected:
  AuditWaitsTest() {
    scm_.AddService("Spooler", "Print Spooler", kStateRunning);
    scm_.AddService("Idle", "Idle service", kStateStopped);
  }
  std::vector<Row> Rows() const {
    std::vector<Row> rows;
    for (const AuditRecord& r : server_.records()) {
      EXPECT_EQ(r.peer, "127.0.0.1");
      rows.push_back({r.event, r.user, r.command, r.service, r.result, r.text});
    }
    return rows;
  }
};

TEST_F(AuditWaitsTest, EachCommandIsRecordedWithItsOutcomeWithoutLogins) {
  const struct {
    const char* line;
    Row row;
  } cases[] = {
      {"stop Spooler\n",
       {AuditEvent::kCommandDone, "Anonymous", "STOP Spooler", "Spooler", 0, "carried out"}},
      {"START Idle\n",
       {AuditEvent::kCommandDone, "Anonymous", "START Idle", "Idle", 0, "carried out"}},
      {"rstrt Spooler\n",
       {AuditEvent::kCommandDone, "Anonymous", "RSTRT Spooler", "Spooler", 0, "carried out"}},
      // Stopping a stopped service succeeds at once.
      {"stop Idle\n",
       {AuditEvent::kCommandDone, "Anonymous", "STOP Idle", "Idle", 0, "carried out"}},
      {"start Missing\n",
       {AuditEvent::kCommandFailed, "Anonymous", "START Missing", "Missing", 1060, ""}},
      {"stop halvexa351\n",
       {AuditEvent::kCommandRefused, "Anonymous", "STOP halvexa351", "halvexa351", 5,
        "refused: the service itself (use CYCLE)"}},
      {"cycle\n", {AuditEvent::kCommandDone, "Anonymous", "CYCLE", "", 0, "carried out"}},
      {"init\n", {AuditEvent::kCommandDone, "Anonymous", "INIT", "", 0, "carried out"}},
      {"status Spooler\n", {}},  // not audited
      {"list\n", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    scm_.SetState("Spooler", kStateRunning);
    scm_.SetState("Idle", kStateStopped);
    const std::size_t before = server_.records().size();
    const ConnectionId a = Connect();
    Receive(a, c.line);
    if (runner_.IsWaiting(a)) {
      EXPECT_EQ(server_.records().size(), before) << "before the wait";
    }
    Settle();
    const std::vector<Row> rows = Rows();
    if (c.row.command.empty()) {
      EXPECT_EQ(rows.size(), before);
      continue;
    }
    ASSERT_EQ(rows.size(), before + 1);
    Row expected = c.row;
    if (expected.result != 0 && expected.text.empty()) {
      expected.text = ScmErrorText(expected.result);
      while (expected.text.back() == '\n' || expected.text.back() == '\r') expected.text.pop_back();
    }
    EXPECT_EQ(rows.back(), expected);
  }
}

TEST_F(AuditWaitsTest, AFailedInitIsRecordedAsFailed) {
  server_.set_reinitialize_succeeds(false);
  const ConnectionId a = Connect();
  Receive(a, "init\n");
  Settle();
  ASSERT_EQ(Rows().size(), 1u);
  EXPECT_EQ(Rows()[0], (Row{AuditEvent::kCommandFailed, "Anonymous", "INIT", "", 13,
                            "the configuration read failed"}));
}

// The client may be gone when the outcome arrives: the record is made all
// the same.
TEST_F(AuditWaitsTest, TheRecordIsMadeWhenTheClientHasGone) {
  const ConnectionId a = Connect();
  Receive(a, "stop Spooler\n");
  Disconnect(a);
  Settle();
  ASSERT_EQ(Rows().size(), 1u);
  EXPECT_EQ(Rows()[0].event, AuditEvent::kCommandDone);
  EXPECT_EQ(scm_.StateOf("Spooler"), kStateStopped);
}

TEST_F(AuditWaitsTest, WithLoginsRefusalsAndLoginsAreRecordedWithoutThePassword) {
  server_.fields().require_auth = true;
  server_.accounts().Set("bob", "Auth", auth::AuthFromPassword("pw"));
  server_.accounts().Set("bob", "AllowStop", "1");
  const ConnectionId a = Connect();
  Receive(a, "start Idle\n");
  Receive(a, "auth bob wrong\n");
  Settle();
  server_.set_tick_ms(server_.TickMs() + 120000);  // past the throttle
  Receive(a, "AUTH bob pw\n");
  Receive(a, "stop Spooler\n");
  Settle();
  EXPECT_EQ(Rows(), (std::vector<Row>{
                        {AuditEvent::kCommandRefused, "Anonymous", "START Idle", "Idle", 5,
                         "refused, needs AllowStart"},
                        {AuditEvent::kLoginFailed, "bob", "AUTH bob", "", 1326, "failed"},
                        {AuditEvent::kLogin, "bob", "AUTH bob", "", 0, "succeeded"},
                        {AuditEvent::kCommandDone, "bob", "STOP Spooler", "Spooler", 0,
                         "carried out"},
                    }));
  for (const AuditRecord& r : server_.records()) {
    EXPECT_EQ(AuditJsonLine(r, {}).find("wrong"), std::string::npos);
    EXPECT_EQ(AuditJsonLine(r, {}).find("\"pw\""), std::string::npos);
  }
  // The server log's lines are those of before.
  EXPECT_EQ(server_.audit_lines(),
            (std::vector<std::string>{"Audit: Anonymous at 127.0.0.1: START Idle refused, needs "
                                      "AllowStart",
                                      "Audit: Anonymous at 127.0.0.1: AUTH bob failed",
                                      "Audit: Anonymous at 127.0.0.1: AUTH bob succeeded",
                                      "Audit: bob at 127.0.0.1: STOP Spooler"}));
}

TEST_F(AuditWaitsTest, CommandsInFlightOrHeldAtTheStopAreRecordedAsCancelled) {
  const ConnectionId a = Connect();
  const ConnectionId b = Connect();
  Receive(a, "stop Spooler\nstart Spooler\nstatus Spooler\nrstrt Spooler\n");  // three held
  Receive(b, "start Idle\n");
  ASSERT_TRUE(runner_.IsWaiting(a));
  runner_.CancelAll();
  EXPECT_FALSE(runner_.IsWaiting(a));
  EXPECT_FALSE(runner_.IsWaiting(b));
  const std::string in_flight = "cancelled: the service stopped before the outcome was known";
  const std::string held = "cancelled: held until the service stopped";
  std::vector<Row> rows = Rows();
  std::sort(rows.begin(), rows.end(),
            [](const Row& x, const Row& y) { return x.command < y.command; });
  EXPECT_EQ(rows, (std::vector<Row>{
                      {AuditEvent::kCommandCancelled, "Anonymous", "RSTRT Spooler", "Spooler",
                       995, held},
                      {AuditEvent::kCommandCancelled, "Anonymous", "START Idle", "Idle", 995,
                       in_flight},
                      {AuditEvent::kCommandCancelled, "Anonymous", "START Spooler", "Spooler",
                       995, held},
                      {AuditEvent::kCommandCancelled, "Anonymous", "STOP Spooler", "Spooler",
                       995, in_flight},
                  }));
  // Reports that still come are dropped: no second record.
  Settle();
  EXPECT_EQ(Rows().size(), 4u);
}

}  // namespace
}  // namespace halv::testing
