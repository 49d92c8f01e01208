// The audit trail's pieces: the record's JSON line and event-log inserts,
// audit.log's generations over files in memory, AUDIT's lines across
// generations, the refusals' rate limit and the options' read.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "audit_record.h"
#include "audit_trail.h"
#include "log_options.h"
#include "memory_audit_files.h"
#include "refusal_limiter.h"

namespace halv::testing {
namespace {

using Lines = std::vector<std::string>;

const UtcTime kTime{2026, 12, 10, 3, 12, 5, 7};

AuditRecord Stop(std::string user = "bob") {
  AuditRecord r;
  r.event = AuditEvent::kCommandDone;
  r.user = std::move(user);
  r.peer = "10.0.0.9";
  r.command = "STOP MSSQL";
  r.service = "MSSQL";
  r.text = "carried out";
  return r;
}

TEST(AuditRecordTest, TheJsonLineHoldsEveryFieldInOrder) {
  EXPECT_EQ(AuditJsonLine(Stop(), kTime),
            "{\"time\":\"2026-12-10T03:12:05.007Z\",\"event\":\"command\",\"user\":\"bob\","
            "\"peer\":\"10.0.0.9\",\"command\":\"STOP MSSQL\",\"service\":\"MSSQL\",\"result\":0,"
            "\"text\":\"carried out\"}");
  AuditRecord failed = Stop();
  failed.event = AuditEvent::kCommandFailed;
  failed.result = 1060;
  EXPECT_NE(AuditJsonLine(failed, kTime).find("\"event\":\"command-failed\""), std::string::npos);
  EXPECT_NE(AuditJsonLine(failed, kTime).find("\"result\":1060,"), std::string::npos);
}

TEST(AuditRecordTest, EachKindHasItsIdentifierNameAndLevel) {
  const struct {
    AuditEvent event;
    std::uint32_t id;
    const char* name;
    bool warning;
  } cases[] = {
      {AuditEvent::kCommandDone, 1000, "command", false},
      {AuditEvent::kCommandFailed, 1001, "command-failed", true},
      {AuditEvent::kCommandRefused, 1002, "command-refused", true},
      {AuditEvent::kCommandCancelled, 1003, "command-cancelled", true},
      {AuditEvent::kLogin, 1010, "login", false},
      {AuditEvent::kLoginFailed, 1011, "login-failed", true},
      {AuditEvent::kConnectionRefused, 1020, "connection-refused", true},
      {AuditEvent::kSuppressed, 1030, "suppressed", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(static_cast<std::uint32_t>(c.event), c.id);
    EXPECT_EQ(AuditEventName(c.event), c.name);
    EXPECT_EQ(IsWarning(c.event), c.warning);
  }
}

// Whatever bytes a client chose, the line stays one line of valid JSON and
// the event-log inserts show them as the server log does.
TEST(AuditRecordTest, ClientBytesAreEscaped) {
  const struct {
    std::string in, json;
  } cases[] = {
      {"plain", "plain"},
      {"a\"b\\c", "a\\\"b\\\\c"},
      {"line\r\nnext\tx", "line\\r\\nnext\\tx"},
      {std::string("\x1b[2J\x7f\xff", 6), "\\u001b[2J\\u007f\\u00ff"},
      {std::string("nul\0x", 5), "nul\\u0000x"},
  };
  for (const auto& c : cases) EXPECT_EQ(JsonEscape(c.in), c.json) << c.json;
  AuditRecord r = Stop("ev\x1bil");
  r.command = "STOP a\r\nb";
  EXPECT_EQ(AuditInserts(r),
            (Lines{"ev\\x1bil", "10.0.0.9", "STOP a\\x0d\\x0ab", "MSSQL", "0", "carried out"}));
}

TEST(AuditRecordTest, TheCommandTextKeepsNoPassword) {
  const struct {
    Lines words;
    std::string text;
  } cases[] = {
      {{"stop", "MSSQL"}, "STOP MSSQL"},
      {{"Update", "Spooler", "start", "auto"}, "UPDATE Spooler start auto"},
      {{"auth", "Admin", "s3cret"}, "AUTH Admin"},
      {{"AUTH", "bob", "two", "words"}, "AUTH bob"},
      {{"auth"}, "AUTH"},
      {{}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(AuditCommandText(c.words), c.text);
}

class AuditTrailTest : public ::testing::Test, public AuditEventSink {
 protected:
  void ReportAudit(std::uint32_t id, bool warning, const Lines& inserts) override {
    entries_.push_back(std::to_string(id) + (warning ? " W " : " I ") + inserts[0]);
  }
  void Configure(std::uint64_t max_bytes, std::uint32_t max_files, bool on = true) {
    trail_.Configure({on, kPath, max_bytes, max_files});
  }
  static constexpr char kPath[] = "C:\\logs\\audit.log";
  MemoryAuditFiles files_;
  Lines entries_;
  AuditTrail trail_{this, &files_};
};

TEST_F(AuditTrailTest, OffWritesNothing) {
  Configure(0, 1, false);
  trail_.Write(Stop(), kTime);
  EXPECT_TRUE(files_.appends.empty());
  EXPECT_TRUE(entries_.empty());
}

TEST_F(AuditTrailTest, EachRecordIsOneAppendOfAWholeLineAndOneEntry) {
  Configure(0, 1);
  trail_.Write(Stop("ann"), kTime);
  AuditRecord refused = Stop("bob");
  refused.event = AuditEvent::kCommandRefused;
  trail_.Write(refused, kTime);
  ASSERT_EQ(files_.appends.size(), 2u);
  EXPECT_EQ(files_.appends[0].first, kPath);
  EXPECT_EQ(files_.appends[0].second, AuditJsonLine(Stop("ann"), kTime) + "\r\n");
  EXPECT_EQ(entries_, (Lines{"1000 I ann", "1002 W bob"}));
}

TEST_F(AuditTrailTest, GenerationNames) {
  EXPECT_EQ(GenerationPath("C:\\logs\\audit.log", 0), "C:\\logs\\audit.log");
  EXPECT_EQ(GenerationPath("C:\\logs\\audit.log", 1), "C:\\logs\\audit.1.log");
  EXPECT_EQ(GenerationPath("C:\\logs\\audit.log", 12), "C:\\logs\\audit.12.log");
  EXPECT_EQ(GenerationPath("C:\\lo.gs\\audit", 2), "C:\\lo.gs\\audit.2");
}

// A line that would pass the limit moves every generation up by one; the
// oldest beyond AuditMaxFiles is replaced, so exactly that many stay.
TEST_F(AuditTrailTest, RotationKeepsTheConfiguredGenerationsNewestFirst) {
  const std::size_t line = AuditJsonLine(Stop("u0"), kTime).size() + 2;
  for (const std::uint32_t keep : {1u, 3u}) {
    SCOPED_TRACE(keep);
    files_ = MemoryAuditFiles();
    Configure(2 * line, keep);  // two records a file
    for (int i = 0; i < 10; ++i) trail_.Write(Stop("u" + std::to_string(i)), kTime);
    EXPECT_EQ(files_.files.size(), keep + 1);
    EXPECT_EQ(files_.files[kPath], AuditJsonLine(Stop("u8"), kTime) + "\r\n" +
                                       AuditJsonLine(Stop("u9"), kTime) + "\r\n");
    EXPECT_EQ(files_.files[GenerationPath(kPath, 1)], AuditJsonLine(Stop("u6"), kTime) + "\r\n" +
                                                          AuditJsonLine(Stop("u7"), kTime) + "\r\n");
    for (const auto& [path, text] : files_.files) EXPECT_LE(text.size(), 2 * line) << path;
    if (keep == 3) {
      EXPECT_NE(files_.files[GenerationPath(kPath, 3)].find("\"u2\""), std::string::npos);
      EXPECT_EQ(files_.files.count(GenerationPath(kPath, 4)), 0u);
    }
  }
}

TEST_F(AuditTrailTest, TheLastLinesComeFromTheNewestGenerationsOldestFirst) {
  const std::size_t line = AuditJsonLine(Stop("u0"), kTime).size() + 2;
  Configure(2 * line, 3);
  for (int i = 0; i < 7; ++i) trail_.Write(Stop("u" + std::to_string(i)), kTime);
  const auto users = [](const Lines& lines) {
    Lines out;
    for (const std::string& l : lines) {
      const std::size_t at = l.find("\"user\":\"") + 8;
      out.push_back(l.substr(at, l.find('"', at) - at));
    }
    return out;
  };
  EXPECT_EQ(users(trail_.LastLines(1)), (Lines{"u6"}));
  EXPECT_EQ(users(trail_.LastLines(4)), (Lines{"u3", "u4", "u5", "u6"}));
  EXPECT_EQ(users(trail_.LastLines(100)), (Lines{"u0", "u1", "u2", "u3", "u4", "u5", "u6"}));
  files_.files.clear();
  EXPECT_TRUE(trail_.LastLines(5).empty());
}

TEST(RefusalLimiterTest, ABurstPerAddressThenOnlyACount) {
  RefusalLimiter limiter;
  std::uint64_t now = 5000;
  int admitted = 0;
  for (int i = 0; i < 317; ++i) admitted += limiter.Admit(RefusalKind::kCommand, "10.0.0.9", now);
  EXPECT_EQ(admitted, static_cast<int>(RefusalLimiter::kBurstPerKey));
  EXPECT_TRUE(limiter.Due(now + RefusalLimiter::kWindowMs - 1).empty());
  const auto due = limiter.Due(now + RefusalLimiter::kWindowMs);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(SummaryText(due[0]), "312 more refused commands from 10.0.0.9 in the last minute");
  // A new minute: a new burst.
  now += RefusalLimiter::kWindowMs;
  EXPECT_TRUE(limiter.Admit(RefusalKind::kCommand, "10.0.0.9", now));
  EXPECT_EQ(limiter.size(), 1u);
}

TEST(RefusalLimiterTest, KindsAndAddressesAreCountedApartUnderOneCeilingPerSecond) {
  RefusalLimiter limiter;
  std::uint64_t now = 1000;
  // Within one second, all addresses together get kMaxPerSecond lines.
  int admitted = 0;
  for (int a = 0; a < 60; ++a)
    admitted += limiter.Admit(RefusalKind::kLogin, "127.0.0." + std::to_string(a), now);
  EXPECT_EQ(admitted, static_cast<int>(RefusalLimiter::kMaxPerSecond));
  // A second later there is room again, for another kind too.
  now += 1000;
  EXPECT_TRUE(limiter.Admit(RefusalKind::kConnection, "127.0.0.1", now));
  const auto due = limiter.Due(now, true);
  // 55 counted login addresses: kMaxSummaries of their own, the rest folded.
  ASSERT_EQ(due.size(), RefusalLimiter::kMaxSummaries + 1);
  std::uint64_t counted = 0;
  for (const auto& s : due) counted += s.count;
  EXPECT_EQ(counted, 55u);
  EXPECT_EQ(SummaryText(due.back()),
            "47 more failed logins from 47 more addresses in the last minute");
  EXPECT_EQ(SummaryText({RefusalKind::kConnection, "::1", 1}),
            "1 more refused connection from ::1 in the last minute");
  EXPECT_EQ(limiter.size(), 0u);
}

TEST(RefusalLimiterTest, TheTableIsBounded) {
  RefusalLimiter limiter;
  for (std::size_t i = 0; i < RefusalLimiter::kMaxKeys + 500; ++i)
    limiter.Admit(RefusalKind::kCommand, "a" + std::to_string(i), i * 1000);
  EXPECT_LE(limiter.size(), RefusalLimiter::kMaxKeys + 1);
}

TEST(LogOptionsTest, ValuesDefaultsAndErrors) {
  const struct {
    const char* name;
    std::map<std::string, std::string> values;
    LogOptions expected;
    Lines errors;
  } cases[] = {
      {"absent", {}, LogOptions{}, {}},
      {"all set",
       {{"AuditLog", "1"},
        {"AuditMaxBytes", "4096"},
        {"AuditMaxFiles", "3"},
        {"LogTimestamps", "1"},
        {"LogMaxFiles", "5"}},
       LogOptions{true, 4096, 3, true, 5},
       {}},
      {"zeros", {{"AuditLog", "0"}, {"LogTimestamps", "0"}}, LogOptions{}, {}},
      {"wrong NoYes fails closed for the trail",
       {{"AuditLog", "yes"}, {"LogTimestamps", "2"}},
       LogOptions{true, LogOptions::kDefaultAuditMaxBytes, LogOptions::kDefaultAuditMaxFiles, false,
                  1},
       {"AuditLog must be 0 or 1, not 'yes'", "LogTimestamps must be 0 or 1, not '2'"}},
      {"bounds",
       {{"AuditMaxBytes", "0"}, {"AuditMaxFiles", "101"}, {"LogMaxFiles", "many"}},
       LogOptions{},
       {"AuditMaxBytes must be 1 or more, not '0'", "AuditMaxFiles must be 100 or less, not '101'",
        "'many' is not a valid integer value"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Lines errors;
    const LogOptions got = ReadLogOptions(
        [&](const char* name) {
          const auto it = c.values.find(name);
          return it == c.values.end() ? std::string() : it->second;
        },
        errors);
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(errors, c.errors);
  }
}

}  // namespace
}  // namespace halv::testing
