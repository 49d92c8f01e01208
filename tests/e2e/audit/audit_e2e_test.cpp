// The audit trail of the real service under Wine, with logins off: each
// command that changes something gives one Application event-log entry (read
// from the Wine log, where advapi32 reports each ReportEvent call with its
// type and identifier, then each insert) and one JSON line of audit.log; the
// message table renders an entry; serverlog.txt holds whole lines as soon as
// a reply has come; audit.log keeps AuditMaxFiles generations.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "service_harness.h"

namespace {

using namespace std::chrono_literals;
using halv::e2e::Client;

constexpr char kTestService[] = "HalvAuditTestSvc";
constexpr char kDisabledService[] = "HalvAuditOffSvc";
constexpr char kPrompt[] = "\n\r:: ";
constexpr unsigned kInformation = EVENTLOG_INFORMATION_TYPE;
constexpr unsigned kWarning = EVENTLOG_WARNING_TYPE;

// ---- The Wine log's event-log reports ----

// One ReportEvent call as the Wine log shows it.
struct ReportedEvent {
  unsigned type = 0;
  unsigned id = 0;
  std::size_t count = 0;  // inserts the call passed
  std::vector<std::string> strings;
};

// The inside of one of Wine's L"..." texts, its escapes undone.
std::string WineString(const std::string& quoted) {
  std::string out;
  for (std::size_t i = 0; i < quoted.size(); ++i) {
    if (quoted[i] != '\\' || i + 1 == quoted.size()) {
      out.push_back(quoted[i]);
      continue;
    }
    const char c = quoted[++i];
    out.push_back(c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c);
  }
  return out;
}

// The event-log reports in `log`: each call's line with its arguments (the
// "advapi" fixme), then a line per insert ("eventlog" channel).
std::vector<ReportedEvent> ReportedEvents(const std::string& log) {
  static const std::regex call(
      R"(ReportEventW \([^,]*,0x([0-9a-fA-F]+),0x[0-9a-fA-F]+,0x([0-9a-fA-F]+),[^,]*,0x([0-9a-fA-F]+),)");
  static const std::regex insert(R"(ReportEventW L"(.*)\"(\.\.\.)?\r?$)");
  std::vector<ReportedEvent> events;
  std::size_t at = 0;
  while (at < log.size()) {
    std::size_t end = log.find('\n', at);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(at, end - at);
    at = end + 1;
    std::smatch m;
    if (std::regex_search(line, m, call)) {
      ReportedEvent event;
      event.type = std::stoul(m[1].str(), nullptr, 16);
      event.id = std::stoul(m[2].str(), nullptr, 16);
      event.count = std::stoul(m[3].str(), nullptr, 16);
      events.push_back(event);
    } else if (std::regex_search(line, m, insert) && !events.empty() &&
               events.back().strings.size() < events.back().count) {
      events.back().strings.push_back(WineString(m[1].str()));
    }
  }
  return events;
}

// The audit entries (identifiers from 1000 on) reported since `mark`, once
// each has all its inserts.
std::vector<ReportedEvent> AuditEventsSince(std::size_t mark) {
  std::vector<ReportedEvent> out;
  for (ReportedEvent& event : ReportedEvents(halv::e2e::WineLogText(mark)))
    if (event.id >= 1000 && event.strings.size() == event.count) out.push_back(std::move(event));
  return out;
}

// ---- audit.log ----

// A JSON object whose values are strings or whole numbers, as audit.log
// writes them; anything else (or trailing bytes) fails the parse.
struct JsonObject {
  std::map<std::string, std::string> strings;
  std::map<std::string, unsigned long long> numbers;
};

bool ParseJsonString(const std::string& text, std::size_t& at, std::string* out) {
  if (at >= text.size() || text[at] != '"') return false;
  for (++at; at < text.size(); ++at) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c == '"') {
      ++at;
      return true;
    }
    if (c < 0x20) return false;
    if (c != '\\') {
      out->push_back(static_cast<char>(c));
      continue;
    }
    if (++at >= text.size()) return false;
    switch (text[at]) {
      case '"': case '\\': case '/': out->push_back(text[at]); break;
      case 'b': out->push_back('\b'); break;
      case 'f': out->push_back('\f'); break;
      case 'n': out->push_back('\n'); break;
      case 'r': out->push_back('\r'); break;
      case 't': out->push_back('\t'); break;
      case 'u': {
        if (at + 4 >= text.size()) return false;
        const std::string hex = text.substr(at + 1, 4);
        if (hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
        const unsigned long code = std::stoul(hex, nullptr, 16);
        if (code > 0xff) return false;  // audit.log escapes single bytes only
        out->push_back(static_cast<char>(code));
        at += 4;
        break;
      }
      default:
        return false;
    }
  }
  return false;
}

bool ParseJsonObject(const std::string& text, JsonObject* object) {
  std::size_t at = 0;
  if (text.empty() || text[at++] != '{') return false;
  for (bool first = true;; first = false) {
    if (at < text.size() && text[at] == '}' && first) return at + 1 == text.size();
    std::string key;
    if (!ParseJsonString(text, at, &key) || at >= text.size() || text[at++] != ':') return false;
    if (object->strings.count(key) != 0 || object->numbers.count(key) != 0) return false;
    if (at < text.size() && text[at] == '"') {
      std::string value;
      if (!ParseJsonString(text, at, &value)) return false;
      object->strings[key] = value;
    } else {
      const std::size_t start = at;
      while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
      if (at == start || at - start > 10 || (text[start] == '0' && at - start > 1)) return false;
      object->numbers[key] = std::stoull(text.substr(start, at - start));
    }
    if (at >= text.size()) return false;
    if (text[at] == '}') return at + 1 == text.size();
    if (text[at++] != ',') return false;
  }
}

// The CR LF-ended lines of `text`; a last line without its end fails.
::testing::AssertionResult SplitLines(const std::string& text, std::vector<std::string>* lines) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos)
      return ::testing::AssertionFailure() << "a line without its end: " << text.substr(at);
    lines->push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return ::testing::AssertionSuccess();
}

const std::regex& Rfc3339Utc() {
  static const std::regex pattern(
      R"(20[0-9]{2}-(0[1-9]|1[0-2])-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\.[0-9]{3}Z)");
  return pattern;
}

// A record line that parses and has exactly the fields of a record.
::testing::AssertionResult ParseRecord(const std::string& line, JsonObject* record) {
  if (!ParseJsonObject(line, record)) return ::testing::AssertionFailure() << "not JSON: " << line;
  for (const char* key : {"time", "event", "user", "peer", "command", "service", "text"})
    if (record->strings.count(key) == 0)
      return ::testing::AssertionFailure() << "no string \"" << key << "\": " << line;
  if (record->strings.size() != 7 || record->numbers.size() != 1 ||
      record->numbers.count("result") == 0)
    return ::testing::AssertionFailure() << "not the record's fields: " << line;
  if (!std::regex_match(record->strings["time"], Rfc3339Utc()))
    return ::testing::AssertionFailure() << "time is not RFC 3339 UTC with milliseconds: " << line;
  return ::testing::AssertionSuccess();
}

// ---- The message table ----

// The text Event Viewer shows for entry `id` with `inserts`: the message
// file registered for the event source, loaded as data, formatted.
::testing::AssertionResult RenderMessage(unsigned id, const std::vector<std::string>& inserts,
                                         std::string* text) {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, halv::config::kEventSourceKey, 0,
                                 KEY_QUERY_VALUE, &key);
  if (status != ERROR_SUCCESS)
    return ::testing::AssertionFailure() << "event source key: error " << status;
  char file[MAX_PATH] = {};
  DWORD size = sizeof file;
  DWORD type = 0;
  status = RegQueryValueExA(key, "EventMessageFile", nullptr, &type,
                            reinterpret_cast<BYTE*>(file), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_EXPAND_SZ)
    return ::testing::AssertionFailure() << "EventMessageFile: error " << status << ", type " << type;
  char expanded[MAX_PATH] = {};
  if (ExpandEnvironmentStringsA(file, expanded, MAX_PATH) == 0)
    return ::testing::AssertionFailure() << "cannot expand " << file;
  HMODULE module = LoadLibraryExA(expanded, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr)
    return ::testing::AssertionFailure() << "LoadLibraryEx " << expanded << ": " << GetLastError();
  std::vector<DWORD_PTR> args;
  for (const std::string& each : inserts) args.push_back(reinterpret_cast<DWORD_PTR>(each.c_str()));
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      module, id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<char*>(&buffer), 0,
      reinterpret_cast<va_list*>(args.data()));
  const DWORD error = GetLastError();
  FreeLibrary(module);
  if (length == 0) return ::testing::AssertionFailure() << "FormatMessage " << id << ": " << error;
  text->assign(buffer, length);
  LocalFree(buffer);
  return ::testing::AssertionSuccess();
}

// ---- The fixture ----

class AuditTest : public halv::e2e::InstalledServiceTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(halv::e2e::InstallTestService(kTestService, "Halvexa audit test service"));
    ASSERT_TRUE(halv::e2e::InstallTestService(kDisabledService, "Halvexa audit disabled service",
                                              SERVICE_DISABLED));
    InstalledServiceTest::SetUp();
    ASSERT_TRUE(halv::e2e::SetSystemValue("AuditLog", "1"));
  }
  void TearDown() override {
    InstalledServiceTest::TearDown();
    EXPECT_TRUE(halv::e2e::RemoveTestService(kTestService));
    EXPECT_TRUE(halv::e2e::RemoveTestService(kDisabledService));
  }
  void Connect(Client& client) {
    ASSERT_TRUE(client.Connect(Port()));
    ASSERT_NE(client.ReadUntil(kPrompt).find("Connected to: "), std::string::npos);
  }
  std::string AuditPath(std::uint32_t generation = 0) const {
    return log_dir_ + (generation == 0 ? std::string("\\audit.log")
                                       : "\\audit." + std::to_string(generation) + ".log");
  }
  std::vector<std::string> AuditLines(std::uint32_t generation = 0) const {
    std::vector<std::string> lines;
    EXPECT_TRUE(SplitLines(halv::e2e::ReadFileBytes(AuditPath(generation)), &lines));
    return lines;
  }
};

// The outcome line of a START or STOP reply: its second line.
std::string OutcomeLine(const std::string& reply) {
  const std::size_t first = reply.find("\n\r");
  if (first == std::string::npos) return {};
  const std::size_t second = reply.find("\n\r", first + 2);
  return second == std::string::npos ? std::string() : reply.substr(first + 2, second - first - 2);
}

TEST_F(AuditTest, EachCommandThatChangesSomethingGivesAnEventAndAnAuditLine) {
  StartRunning();
  Client c;
  Connect(c);
  const std::string svc = kTestService;
  struct Case {
    std::string line;
    unsigned id;
    unsigned type;
    const char* event;
    unsigned result;
    std::string service;
    const char* text;  // null: the reply's outcome line
    const char* lead;  // the rendered message's first words
  };
  const Case cases[] = {
      {"START " + svc, 1000, kInformation, "command", 0, svc, "carried out", "Command carried out: "},
      {"stop " + svc, 1000, kInformation, "command", 0, svc, "carried out", "Command carried out: "},
      {"START " + std::string(kDisabledService), 1001, kWarning, "command-failed", 1058,
       kDisabledService, nullptr, "Command failed: "},
      {"start NoSuchServiceHere", 1001, kWarning, "command-failed", 1060, "NoSuchServiceHere",
       nullptr, "Command failed: "},
      {"STOP Halvexa351", 1002, kWarning, "command-refused", 5, "Halvexa351",
       "refused: the service itself (use CYCLE)", "Command refused: "},
  };
  std::size_t records = 0;
  for (const Case& each : cases) {
    SCOPED_TRACE(each.line);
    const std::size_t mark = halv::e2e::WineLogSize();
    const std::string reply = c.Ask(each.line);
    ASSERT_TRUE(reply.size() > 3 && reply.compare(reply.size() - 3, 3, ":: ") == 0) << reply;
    const std::string text = each.text != nullptr ? each.text : OutcomeLine(reply);
    ASSERT_FALSE(text.empty()) << reply;
    std::string command = each.line;
    const std::size_t blank = command.find(' ');
    for (std::size_t i = 0; i < blank; ++i) command[i] = static_cast<char>(std::toupper(command[i]));

    // The event log: one audit entry with its identifier, type and inserts.
    std::vector<ReportedEvent> events;
    EXPECT_TRUE(halv::e2e::WaitUntil(
        [&] {
          events = AuditEventsSince(mark);
          return !events.empty();
        },
        10s))
        << "no audit entry; the Wine log's reports:\n"
        << halv::e2e::WineLogText(mark);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, each.id);
    EXPECT_EQ(events[0].type, each.type);
    const std::vector<std::string> inserts = {
        "Anonymous", "127.0.0.1", command, each.service, std::to_string(each.result), text};
    EXPECT_EQ(events[0].strings, inserts);

    // The message table renders the entry from its inserts, a line each.
    std::string rendered;
    ASSERT_TRUE(RenderMessage(events[0].id, events[0].strings, &rendered));
    EXPECT_EQ(rendered, each.lead + command + "\r\nUser: Anonymous\r\nClient: 127.0.0.1\r\nService: " +
                            each.service + "\r\nResult: " + std::to_string(each.result) + " (" +
                            text + ")\r\n");

    // audit.log: one more line, in place when the reply came.
    const std::vector<std::string> lines = AuditLines();
    ASSERT_EQ(lines.size(), ++records);
    JsonObject record;
    ASSERT_TRUE(ParseRecord(lines.back(), &record));
    EXPECT_EQ(record.strings["event"], each.event);
    EXPECT_EQ(record.strings["user"], "Anonymous");
    EXPECT_EQ(record.strings["peer"], "127.0.0.1");
    EXPECT_EQ(record.strings["command"], command);
    EXPECT_EQ(record.strings["service"], each.service);
    EXPECT_EQ(record.numbers["result"], each.result);
    EXPECT_EQ(record.strings["text"], text);
  }

  // Commands that change nothing leave no record.
  const std::size_t mark = halv::e2e::WineLogSize();
  EXPECT_NE(c.Ask("status " + svc).find("stopped"), std::string::npos);
  EXPECT_NE(c.Ask("help").find("End of HELP info"), std::string::npos);
  EXPECT_EQ(AuditLines().size(), records);
  EXPECT_TRUE(AuditEventsSince(mark).empty());

  // AUDIT sends audit.log's lines as they are, then the prompt.
  std::string expected;
  for (const std::string& line : AuditLines()) expected += line + "\n\r";
  EXPECT_EQ(c.Ask("audit", kPrompt), expected + ":: ");
}

// Each line of serverlog.txt, with LogTimestamps, starts with the local time;
// the receipt line of a command's text holds its CR LF before "<<". Only the
// first start lines, written before the value is read, have no time.
constexpr std::size_t kFirstReadLines = 12;

::testing::AssertionResult WholeStampedLines(const std::string& file, const std::string& earliest,
                                             const std::string& latest) {
  static const std::regex stamped(
      R"(date Status: (20[0-9]{2}-[01][0-9]-[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]) [^\r\n]+)");
  std::string text = file;
  for (std::size_t at; (at = text.find("\r\n<<")) != std::string::npos;) text.replace(at, 4, "<<");
  std::vector<std::string> lines;
  if (auto split = SplitLines(text, &lines); !split) return split;
  if (lines.empty()) return ::testing::AssertionFailure() << "the log is empty";
  static const std::regex plain(R"(date Status: [^\r\n]+)");
  bool stamps = false;
  std::size_t unstamped = 0;
  for (const std::string& line : lines) {
    std::smatch m;
    if (!stamps && !std::regex_match(line, m, stamped) && std::regex_match(line, plain) &&
        ++unstamped <= kFirstReadLines)
      continue;
    stamps = true;
    if (!std::regex_match(line, m, stamped))
      return ::testing::AssertionFailure() << "not a stamped line: " << line;
    if (m[1].str() < earliest || m[1].str() > latest)
      return ::testing::AssertionFailure()
             << "stamp outside " << earliest << " .. " << latest << ": " << line;
  }
  if (!stamps) return ::testing::AssertionFailure() << "no line has the time";
  return ::testing::AssertionSuccess();
}

std::string LocalStamp() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay,
                t.wHour, t.wMinute, t.wSecond);
  return text;
}

TEST_F(AuditTest, ServerLogHoldsWholeStampedLinesRightAfterEachCommand) {
  ASSERT_TRUE(halv::e2e::SetSystemValue("VerboseLogging", "1"));
  ASSERT_TRUE(halv::e2e::SetSystemValue("LogTimestamps", "1"));
  const std::string earliest = LocalStamp();
  StartRunning();
  Client c;
  Connect(c);
  const std::string log = log_dir_ + "\\serverlog.txt";
  const std::string svc = kTestService;
  const std::string lines[] = {"help", "start " + svc, "status " + svc, "stop " + svc,
                               "start NoSuchServiceHere", "stop Halvexa351"};
  std::size_t before = halv::e2e::ReadFileBytes(log).size();
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    const std::string reply = c.Ask(line);
    ASSERT_TRUE(reply.size() > 3 && reply.compare(reply.size() - 3, 3, ":: ") == 0) << reply;
    // Read at once: no wait, no flush by a stop.
    const std::string file = halv::e2e::ReadFileBytes(log);
    EXPECT_TRUE(WholeStampedLines(file, earliest, LocalStamp()));
    ASSERT_GT(file.size(), before);
    EXPECT_NE(file.find("Receive buffer is >>" + line, before), std::string::npos)
        << file.substr(before);
    before = file.size();
  }
  ASSERT_EQ(halv::e2e::StopAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  const std::string file = halv::e2e::ReadFileBytes(log);
  EXPECT_TRUE(WholeStampedLines(file, earliest, LocalStamp()));
  const std::string stopped = "Service is stopped.\r\n";
  EXPECT_EQ(file.compare(file.size() - stopped.size(), stopped.size(), stopped), 0) << file;
}

TEST_F(AuditTest, RotationKeepsAuditMaxFilesGenerations) {
  constexpr std::size_t kMaxBytes = 700;
  constexpr std::uint32_t kGenerations = 3;
  constexpr int kCommands = 20;
  ASSERT_TRUE(halv::e2e::SetSystemValue("AuditMaxBytes", std::to_string(kMaxBytes)));
  ASSERT_TRUE(halv::e2e::SetSystemValue("AuditMaxFiles", std::to_string(kGenerations)));
  StartRunning();
  Client c;
  Connect(c);
  auto name = [](int i) {
    char text[32];
    std::snprintf(text, sizeof text, "NoSuchSvc%02d", i);
    return std::string(text);
  };
  for (int i = 0; i < kCommands; ++i) {
    EXPECT_NE(c.Ask("start " + name(i)).find("does not exist"), std::string::npos);
  }

  // audit.log and exactly kGenerations older files, each within the limit.
  EXPECT_NE(GetFileAttributesA(AuditPath(kGenerations).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA(AuditPath(kGenerations + 1).c_str()), INVALID_FILE_ATTRIBUTES);
  std::vector<std::string> kept;  // oldest first
  for (std::uint32_t g = kGenerations + 1; g-- > 0;) {
    SCOPED_TRACE(AuditPath(g));
    const std::string bytes = halv::e2e::ReadFileBytes(AuditPath(g));
    EXPECT_FALSE(bytes.empty());
    EXPECT_LE(bytes.size(), kMaxBytes);
    for (const std::string& line : AuditLines(g)) kept.push_back(line);
  }
  // The newest records, in order, with none missing between generations.
  ASSERT_GE(kept.size(), 2 * (kGenerations + 1));
  ASSERT_LT(kept.size(), static_cast<std::size_t>(kCommands));
  const int first = kCommands - static_cast<int>(kept.size());
  for (std::size_t i = 0; i < kept.size(); ++i) {
    JsonObject record;
    ASSERT_TRUE(ParseRecord(kept[i], &record));
    EXPECT_EQ(record.strings["service"], name(first + static_cast<int>(i)));
    EXPECT_EQ(record.numbers["result"], 1060u);
  }

  // AUDIT n reads on into the newer generations when audit.log holds fewer.
  const std::size_t n = AuditLines().size() + 2;
  std::string expected;
  for (std::size_t i = kept.size() - n; i < kept.size(); ++i) expected += kept[i] + "\n\r";
  EXPECT_EQ(c.Ask("audit " + std::to_string(n), kPrompt), expected + ":: ");
}

}  // namespace
