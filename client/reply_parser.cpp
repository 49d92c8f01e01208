// Reading the server's replies. The server ends its lines with LF CR; the
// parser turns them into lines first and then reads each command's layout:
// fixed-width columns that widen (never cut) for long values, so rows are
// read by their words rather than by fixed positions alone. The texts it
// looks for are the service's own (protocol_text.h).
#include "reply_parser.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

#include "protocol_text.h"

namespace halv::client {

namespace {

using halv::kNewLinePrompt;
using halv::kPrompt;

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  return text;
}

// The reply's lines: split at LF, the CR that follows an LF dropped (the
// server's "\n\r"). The piece after the last LF is the last line, even empty.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t lf = text.find('\n', start);
    if (lf == std::string_view::npos) {
      lines.push_back(text.substr(start));
      return lines;
    }
    lines.push_back(text.substr(start, lf - start));
    start = lf + 1;
    if (start < text.size() && text[start] == '\r') ++start;
  }
}

// The reply text without the prompt and with "\n" line ends.
std::string PlainText(std::string_view body) {
  std::string out;
  const std::vector<std::string_view> lines = Lines(body);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i != 0) out += '\n';
    out.append(lines[i]);
  }
  return out;
}

// Drops the empty lines at both ends.
std::vector<std::string_view> Trimmed(std::vector<std::string_view> lines) {
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  std::size_t first = 0;
  while (first < lines.size() && lines[first].empty()) ++first;
  lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(first));
  return lines;
}

// A numbered error line such as "500-Unknown command 'FOO'" (311 is help).
bool IsNumberedError(std::string_view line) {
  if (line.size() < 4 || line[3] != '-') return false;
  for (int i = 0; i < 3; ++i) {
    if (line[i] < '0' || line[i] > '9') return false;
  }
  return line.substr(0, 3) != "311";
}

// A LIST row's state and start-type words, "Unknown" included.
bool IsStateWord(std::string_view word) {
  return word == kUnknownWord ||
         std::find(kListStateWords.begin(), kListStateWords.end(), word) != kListStateWords.end();
}
bool IsStartTypeWord(std::string_view word) {
  return word == kUnknownWord ||
         std::find(kStartTypeWords.begin(), kStartTypeWords.end(), word) != kStartTypeWords.end();
}

// The outcome line of a control step: `success` or an error text. Any other
// non-empty line is taken as an error text we do not know (code 0), so a
// newer server's texts still read as failures; an empty line is no outcome.
bool ReadControlLine(std::string_view line, std::string_view success, ControlResult* result) {
  if (line == success) {
    result->done = true;
    return true;
  }
  if (line.empty()) return false;
  result->done = false;
  result->message = std::string(line);
  ControlErrorCode(line, &result->code);
  return true;
}

// Splits " <name...> <rest>" rows at their words.
std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// The word that `text` starts with (up to a blank or the end) when `is_word`
// takes it; empty otherwise.
std::string_view WordAt(std::string_view text, bool (*is_word)(std::string_view)) {
  const std::string_view word = text.substr(0, text.find(' '));
  return !word.empty() && is_word(word) ? word : std::string_view();
}

// One LIST row: " %-34s %-11s %-13s %-16s". The state column starts at
// position 36, or later when the name is longer than 34 characters; the name
// may hold blanks, so the row is read at the first position from 36 on where
// a state word and a start-type word follow each other.
bool ReadServiceRow(std::string_view row, ServiceRow* out) {
  if (row.size() < 2 || row[0] != ' ' || row[1] == ' ') return false;
  for (std::size_t at = 36; at < row.size(); ++at) {
    if (row[at - 1] != ' ' || row[at] == ' ') continue;
    const std::string_view rest = row.substr(at);
    const std::string_view state = WordAt(rest, IsStateWord);
    if (state.empty()) continue;
    const std::string_view after_state = TrimLeft(rest.substr(state.size()));
    if (after_state.size() == rest.size() - state.size()) continue;  // no blank after the state
    const std::string_view type = WordAt(after_state, IsStartTypeWord);
    if (type.empty()) continue;
    out->name = std::string(TrimRight(row.substr(1, at - 2)));
    out->state = std::string(state);
    out->start_type = std::string(type);
    out->account = std::string(TrimRight(TrimLeft(after_state.substr(type.size()))));
    return true;
  }
  return false;
}

// One WHO row: login, name (may hold blanks), remote host, a date of four
// words ("9 Dec 2026 23:05") and what the client is doing.
bool ReadClientRow(std::string_view row, ClientRow* out) {
  const std::vector<std::string_view> words = Words(row);
  if (words.size() < 8 || row[0] != ' ') return false;
  const std::size_t n = words.size();
  out->login = std::string(words[0]);
  out->name.clear();
  for (std::size_t i = 1; i + 6 < n; ++i) {
    if (!out->name.empty()) out->name += ' ';
    out->name.append(words[i]);
  }
  out->remote_host = std::string(words[n - 6]);
  out->date = std::string(words[n - 5]) + ' ' + std::string(words[n - 4]) + ' ' +
              std::string(words[n - 3]) + ' ' + std::string(words[n - 2]);
  out->what = std::string(words[n - 1]);
  return true;
}

// Reads "Prefix: value" into `value` when `line` starts with the prefix.
bool Field(std::string_view line, std::string_view prefix, std::string* value) {
  if (!StartsWith(line, prefix)) return false;
  *value = std::string(line.substr(prefix.size()));
  return true;
}

// The header block of LIST and WHO ("Server:", "Service running as:",
// "Local Server Date:" and, for LIST, "Halvexa Version").
void ReadHeaderFields(const std::vector<std::string_view>& lines, std::size_t end, Reply* reply) {
  for (std::size_t i = 0; i < end && i < lines.size(); ++i) {
    Field(lines[i], "Halvexa Version ", &reply->version) ||
        Field(lines[i], "Server: ", &reply->server_name) ||
        Field(lines[i], "Service running as: ", &reply->account) ||
        Field(lines[i], "Local Server Date: ", &reply->date);
  }
}

// Finds the column header that starts with `header` and the rule under it.
// Returns the index of the first line after the rule, or 0 when absent.
std::size_t AfterRule(const std::vector<std::string_view>& lines, std::string_view header) {
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    if (StartsWith(lines[i], header) && lines[i + 1] == kRuleLine) return i + 2;
  }
  return 0;
}

// A line of a table reply that is not a row: the service-control error
// text that took the place of the rows, which makes the command's failure.
void ReadTableFailure(std::string_view line, Reply* reply) {
  ControlResult failure;
  ReadControlLine(line, {}, &failure);
  reply->ok = false;
  reply->error = failure.message;
  reply->control = failure;
}

std::string ParseList(const std::vector<std::string_view>& lines, Reply* reply) {
  const std::size_t first = AfterRule(lines, " Service Name ");
  if (first == 0) return "the LIST reply has no column header";
  ReadHeaderFields(lines, first, reply);
  for (std::size_t i = first; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.empty()) continue;
    if (line[0] != ' ') {
      // The manager could not be opened: its error text ends the list.
      ReadTableFailure(line, reply);
      continue;
    }
    ServiceRow row;
    if (!ReadServiceRow(line, &row))
      return "LIST row not understood: \"" + std::string(line) + "\"";
    reply->services.push_back(std::move(row));
  }
  return {};
}

std::string ParseWho(const std::vector<std::string_view>& lines, Reply* reply) {
  const std::size_t first = AfterRule(lines, " Login Name ");
  if (first == 0) return "the WHO reply has no column header";
  ReadHeaderFields(lines, first, reply);
  for (std::size_t i = first; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    ClientRow row;
    if (!ReadClientRow(lines[i], &row))
      return "WHO row not understood: \"" + std::string(lines[i]) + "\"";
    reply->clients.push_back(std::move(row));
  }
  return {};
}

// DISPLAY rows: " %-18s %-60s"; the value starts after the name's field and
// may hold blanks (a path), its padding is dropped.
std::string ParseDisplay(const std::vector<std::string_view>& lines, Reply* reply) {
  const std::size_t first = AfterRule(lines, " Parameter ");
  if (first == 0) return "the DISPLAY reply has no column header";
  for (std::size_t i = first; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.empty()) continue;
    if (line.size() < 2 || line[0] != ' ' || line[1] == ' ')
      return "DISPLAY row not understood: \"" + std::string(line) + "\"";
    const std::size_t name_end = std::min(line.find(' ', 1), line.size());
    Parameter parameter;
    parameter.name = std::string(line.substr(1, name_end - 1));
    const std::size_t value_at = std::max<std::size_t>(20, name_end + 1);
    if (value_at < line.size()) parameter.value = std::string(TrimRight(line.substr(value_at)));
    reply->parameters.push_back(std::move(parameter));
  }
  return {};
}

// DEPS: its column header, the rule, then " name display name... state" rows
// (the name is one word, the state word last); an error text instead of a row
// ends the table as the command's failure.
std::string ParseDeps(const std::vector<std::string_view>& lines, Reply* reply) {
  const std::size_t first = AfterRule(lines, kDependantsHeader.substr(0, 14));
  if (first == 0) return "the DEPS reply has no column header";
  for (std::size_t i = first; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.empty()) continue;
    if (line[0] != ' ') {
      ReadTableFailure(line, reply);
      continue;
    }
    const std::string_view text = TrimRight(line);
    const std::size_t name_end = text.find(' ', 1);
    const std::size_t state_at = text.rfind(' ') + 1;
    if (text.size() < 2 || text[1] == ' ' || name_end == std::string_view::npos ||
        state_at <= name_end || !IsStateWord(text.substr(state_at)))
      return "DEPS row not understood: \"" + std::string(line) + "\"";
    DependantRow row;
    row.name = std::string(text.substr(1, name_end - 1));
    row.state = std::string(text.substr(state_at));
    row.display_name = std::string(TrimRight(TrimLeft(text.substr(name_end, state_at - name_end))));
    reply->running_dependants.push_back(std::move(row));
  }
  return {};
}

std::string ParseStatus(const std::vector<std::string_view>& lines, Reply* reply) {
  if (lines.size() != 2 || lines[0] != kRetrievingStatusLine)
    return "the STATUS reply is not \"Retrieving Status\" and a state";
  for (std::size_t i = 0; i < kStatusLines.size(); ++i) {
    if (lines[1] == kStatusLines[i]) {
      reply->state = std::string(kListStateWords[i]);
      return {};
    }
  }
  if (lines[1] == kStatusUnknownLine) {
    reply->state = std::string(kUnknownWord);
    reply->ok = false;
    reply->error = std::string(kStatusUnknownLine);
    return {};
  }
  return "unknown STATUS text: \"" + std::string(lines[1]) + "\"";
}

// START and STOP: the echo line "<verb>...<name>", then the outcome.
std::string ParseControl(const std::vector<std::string_view>& lines, std::string_view echo,
                         std::string_view success, Reply* reply) {
  if (lines.size() != 2 || !StartsWith(lines[0], echo))
    return "the reply does not start with \"" + std::string(echo) + "\" and an outcome";
  reply->service = std::string(lines[0].substr(echo.size()));
  if (!ReadControlLine(lines[1], success, &reply->control)) return "the reply has no outcome";
  reply->ok = reply->control.done;
  reply->error = reply->control.message;
  return {};
}

// UPDATE: "Updating Service" alone from a server that makes no change; from
// one that does, with its prompt, the line of the change or the manager's
// error text.
std::string ParseUpdate(const std::vector<std::string_view>& lines, bool prompted, Reply* reply) {
  if (lines.size() == 1 && lines[0] == "Updating Service") return {};
  if (prompted && lines.size() == 1) {
    if (StartsWith(lines[0], kServiceUpdatedLead) && lines[0].size() > kServiceUpdatedLead.size()) {
      reply->updated = true;
      return {};
    }
    if (ScmErrorCodeOf(lines[0], &reply->control.code)) {
      reply->ok = false;
      reply->control.message = std::string(lines[0]);
      reply->error = reply->control.message;
      return {};
    }
  }
  return "the UPDATE reply is neither \"Updating Service\", a change made nor an error text";
}

// A dependant's line after RSTRT's start: "Dependent service started: NAME"
// or "Dependent service not started: NAME, error CODE: TEXT".
bool ReadDependantLine(std::string_view line, DependantStart* start) {
  if (StartsWith(line, kDependantStartedLead)) {
    start->service = std::string(line.substr(kDependantStartedLead.size()));
    start->result.done = true;
    return !start->service.empty();
  }
  if (!StartsWith(line, kDependantNotStartedLead)) return false;
  const std::string_view rest = line.substr(kDependantNotStartedLead.size());
  const std::size_t error_at = rest.find(", error ");
  if (error_at == 0 || error_at == std::string_view::npos) return false;
  start->service = std::string(rest.substr(0, error_at));
  const std::string_view code_and_text = rest.substr(error_at + 8);
  const std::size_t colon = code_and_text.find(": ");
  if (colon == std::string_view::npos) return false;
  std::uint32_t code = 0;
  for (const char c : code_and_text.substr(0, colon)) {
    if (c < '0' || c > '9' || code > 429496728u) return false;
    code = code * 10 + static_cast<std::uint32_t>(c - '0');
  }
  start->result.done = false;
  start->result.code = code;
  start->result.message = std::string(code_and_text.substr(colon + 2));
  return true;
}

std::string ParseRestart(const std::vector<std::string_view>& lines, Reply* reply) {
  if (lines.size() < 3 || !StartsWith(lines[0], kRestartingHeading))
    return "the RSTRT reply is not the echo, the stop outcome and the start outcome";
  reply->service = std::string(lines[0].substr(kRestartingHeading.size()));
  if (!ReadControlLine(lines[1], kRestartStoppedLine, &reply->stop) ||
      !ReadControlLine(lines[2], kRestartStartedLine, &reply->control))
    return "the RSTRT reply has an empty outcome";
  for (std::size_t i = 3; i < lines.size(); ++i) {
    DependantStart start;
    if (!ReadDependantLine(lines[i], &start))
      return "RSTRT line not understood: \"" + std::string(lines[i]) + "\"";
    reply->dependants.push_back(std::move(start));
  }
  // The restart succeeded when the service, and each dependant it stopped,
  // was started again; a failed stop (it was not running) is reported but is
  // not the command's failure.
  reply->ok = reply->control.done;
  reply->error = reply->control.message;
  for (const DependantStart& start : reply->dependants) {
    if (reply->ok && !start.result.done) {
      reply->ok = false;
      reply->error = start.service + ": " + start.result.message;
    }
  }
  return {};
}

// A reader of the flat JSON objects AUDIT sends, one a line.
class FlatJson {
 public:
  explicit FlatJson(std::string_view text) : text_(text) {}

  void Blanks() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t')) ++at_;
  }
  bool Take(char c) {
    Blanks();
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool AtEnd() {
    Blanks();
    return at_ == text_.size();
  }
  char Next() {
    Blanks();
    return at_ < text_.size() ? text_[at_] : '\0';
  }

  // A string literal; \uXXXX below 256 is that byte, above it UTF-8.
  bool String(std::string* out) {
    if (!Take('"')) return false;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (at_ >= text_.size()) return false;
      const char e = text_[at_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out->push_back(e);
          break;
        case 'b':
          out->push_back('\b');
          break;
        case 'f':
          out->push_back('\f');
          break;
        case 'n':
          out->push_back('\n');
          break;
        case 'r':
          out->push_back('\r');
          break;
        case 't':
          out->push_back('\t');
          break;
        case 'u': {
          unsigned code = 0;
          for (int i = 0; i < 4; ++i, ++at_) {
            if (at_ >= text_.size()) return false;
            const char h = text_[at_];
            const int digit = h >= '0' && h <= '9'   ? h - '0'
                              : h >= 'a' && h <= 'f' ? h - 'a' + 10
                              : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                                     : -1;
            if (digit < 0) return false;
            code = code * 16 + static_cast<unsigned>(digit);
          }
          if (code < 0x100) {
            out->push_back(static_cast<char>(code));
          } else if (code < 0x800) {
            out->push_back(static_cast<char>(0xc0 | (code >> 6)));
            out->push_back(static_cast<char>(0x80 | (code & 0x3f)));
          } else {
            out->push_back(static_cast<char>(0xe0 | (code >> 12)));
            out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3f)));
            out->push_back(static_cast<char>(0x80 | (code & 0x3f)));
          }
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  // A whole number that fits 32 bits.
  bool Number(std::uint32_t* out) {
    Blanks();
    const std::size_t start = at_;
    std::uint64_t value = 0;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
      value = value * 10 + static_cast<std::uint64_t>(text_[at_++] - '0');
      if (value > 0xffffffffu) return false;
    }
    if (at_ == start) return false;
    *out = static_cast<std::uint32_t>(value);
    return true;
  }

  // Any value but an object or array (a member this client does not know).
  bool SkipScalar() {
    std::string ignored;
    if (Next() == '"') return String(&ignored);
    Blanks();
    const std::size_t start = at_;
    while (at_ < text_.size() && text_[at_] != ',' && text_[at_] != '}' && text_[at_] != ' ' &&
           text_[at_] != '{' && text_[at_] != '[' && text_[at_] != '"')
      ++at_;
    return at_ > start;
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

std::string ParseAudit(const std::vector<std::string_view>& lines, Reply* reply) {
  for (const std::string_view line : lines) {
    if (line.empty() || line == kNoAuditRecordsLine) continue;
    AuditEntry entry;
    if (std::string problem = ParseAuditLine(line, &entry); !problem.empty())
      return "AUDIT line not understood (" + problem + "): \"" + std::string(line) + "\"";
    reply->audit.push_back(std::move(entry));
  }
  return {};
}

}  // namespace

Command CommandFromWord(std::string_view word) {
  struct Entry {
    std::string_view word;
    Command command;
  };
  static constexpr Entry kCommands[] = {
      {"list", Command::kList},     {"status", Command::kStatus}, {"start", Command::kStart},
      {"stop", Command::kStop},     {"rstrt", Command::kRestart}, {"display", Command::kDisplay},
      {"stime", Command::kStime},   {"who", Command::kWho},       {"help", Command::kHelp},
      {"view", Command::kView},     {"cycle", Command::kCycle},   {"init", Command::kInit},
      {"update", Command::kUpdate}, {"quit", Command::kQuit},     {"deps", Command::kDeps},
      {"audit", Command::kAudit},
      {"watch", Command::kWatch},
  };
  for (const Entry& each : kCommands) {
    if (SameWordIgnoringCase(word, each.word)) return each.command;
  }
  return Command::kOther;
}

std::string_view CommandName(Command command) {
  switch (command) {
    case Command::kList:
      return "LIST";
    case Command::kStatus:
      return "STATUS";
    case Command::kStart:
      return "START";
    case Command::kStop:
      return "STOP";
    case Command::kRestart:
      return "RSTRT";
    case Command::kDisplay:
      return "DISPLAY";
    case Command::kStime:
      return "STIME";
    case Command::kWho:
      return "WHO";
    case Command::kHelp:
      return "HELP";
    case Command::kView:
      return "VIEW";
    case Command::kCycle:
      return "CYCLE";
    case Command::kInit:
      return "INIT";
    case Command::kUpdate:
      return "UPDATE";
    case Command::kQuit:
      return "QUIT";
    case Command::kDeps:
      return "DEPS";
    case Command::kAudit:
      return "AUDIT";
    case Command::kWatch:
      return "WATCH";
    case Command::kOther:
      break;
  }
  return {};
}

bool NeedsServiceName(Command command) {
  return command == Command::kStatus || command == Command::kStart || command == Command::kStop ||
         command == Command::kRestart || command == Command::kDeps;
}

LoginOutcome ParseAuthReply(std::string_view bytes, std::string* refusal) {
  std::string_view body = bytes;
  if (EndsWith(body, kPrompt)) body.remove_suffix(kPrompt.size());
  bool logged_in = false;
  for (const std::string_view line : Trimmed(Lines(body))) {
    if (!IsNumberedError(line)) continue;
    if (line[0] == '2') {
      logged_in = true;
    } else {
      *refusal = std::string(line);
      return LoginOutcome::kRefused;
    }
  }
  return logged_in ? LoginOutcome::kLoggedIn : LoginOutcome::kLoginsOff;
}

bool GreetingComplete(std::string_view bytes) { return EndsWith(bytes, kNewLinePrompt); }

bool ReplyComplete(Command command, std::string_view bytes) {
  switch (command) {
    case Command::kQuit:
      return false;
    case Command::kUpdate:
      // No prompt follows UPDATE's line; a refusal still ends with one.
      return EndsWith(bytes, "Updating Service\n\r") || EndsWith(bytes, kPrompt);
    case Command::kView:
    case Command::kAudit:
      // The log's own bytes come first; only the prompt after a line end ends
      // it (a record's text may hold ":: ", never a line end).
      return EndsWith(bytes, kNewLinePrompt);
    default:
      return EndsWith(bytes, kPrompt);
  }
}

std::string ParseGreeting(std::string_view bytes, Greeting* greeting) {
  if (!GreetingComplete(bytes)) return "the greeting has no prompt";
  const std::vector<std::string_view> lines =
      Lines(bytes.substr(0, bytes.size() - kNewLinePrompt.size()));
  bool versioned = false;
  for (const std::string_view line : lines) {
    versioned = Field(line, "Halvexa: Version ", &greeting->version) || versioned;
    Field(line, "Connected to: ", &greeting->server_name) ||
        Field(line, "Service running as: ", &greeting->account) ||
        Field(line, "Local Server Date: ", &greeting->date);
  }
  if (!versioned) return "not a Halvexa server (no version in the greeting)";
  return {};
}

std::string ParseReply(Command command, std::string_view service, std::string_view bytes,
                       Reply* reply) {
  *reply = Reply{};
  reply->command = command;
  reply->service = std::string(service);
  std::string_view body = bytes;
  if (command != Command::kQuit && command != Command::kUpdate) {
    if (!ReplyComplete(command, bytes)) return "the reply has no prompt";
    body.remove_suffix(EndsWith(body, kNewLinePrompt) ? kNewLinePrompt.size() : kPrompt.size());
  } else if (EndsWith(body, kPrompt)) {
    body.remove_suffix(kPrompt.size());
  }
  reply->text = PlainText(body);
  const std::vector<std::string_view> lines = Trimmed(Lines(body));

  // A numbered error (unknown command, unknown help topic, a refusal) is the
  // command's failure, whatever the command.
  for (const std::string_view line : lines) {
    if (command == Command::kAudit && line == kNoAuditRecordsLine) continue;
    if (IsNumberedError(line)) {
      reply->ok = false;
      reply->error = std::string(line);
      return {};
    }
  }

  switch (command) {
    case Command::kList:
      return ParseList(lines, reply);
    case Command::kStatus:
      return ParseStatus(lines, reply);
    case Command::kStart:
      return ParseControl(lines, kStartingHeading, kStartedLine, reply);
    case Command::kStop:
      return ParseControl(lines, kStoppingHeading, kStoppedLine, reply);
    case Command::kRestart:
      return ParseRestart(lines, reply);
    case Command::kDeps:
      return ParseDeps(lines, reply);
    case Command::kAudit:
      return ParseAudit(lines, reply);
    case Command::kDisplay:
      return ParseDisplay(lines, reply);
    case Command::kWho:
      return ParseWho(lines, reply);
    case Command::kStime:
      if (lines.size() != 1) return "the STIME reply is not one line";
      reply->time = std::string(lines[0]);
      return {};
    case Command::kInit:
      for (const std::string_view line : lines) {
        if (StartsWith(line, "Error reinitializing server")) {
          reply->ok = false;
          reply->error = std::string(line);
        }
      }
      return {};
    case Command::kUpdate:
      return ParseUpdate(lines, EndsWith(bytes, kPrompt), reply);
    default:
      return {};
  }
}

std::string ParseAuditLine(std::string_view line, AuditEntry* entry) {
  *entry = AuditEntry{};
  FlatJson json(line);
  if (!json.Take('{')) return "not a JSON object";
  if (json.Take('}')) return json.AtEnd() ? "" : "bytes after the object";
  bool have_time = false;
  for (;;) {
    std::string key;
    if (!json.String(&key) || !json.Take(':')) return "a member without its name";
    std::string* field = key == "time"      ? &entry->time
                         : key == "event"   ? &entry->event
                         : key == "user"    ? &entry->user
                         : key == "peer"    ? &entry->peer
                         : key == "command" ? &entry->command
                         : key == "service" ? &entry->service
                         : key == "text"    ? &entry->text
                                            : nullptr;
    if (field != nullptr) {
      field->clear();
      if (!json.String(field)) return "\"" + key + "\" is not a string";
      have_time = have_time || key == "time";
    } else if (key == "result") {
      if (!json.Number(&entry->result)) return "\"result\" is not a whole number";
    } else if (!json.SkipScalar()) {
      return "\"" + key + "\" has a value this client does not read";
    }
    if (json.Take('}')) break;
    if (!json.Take(',')) return "a member not followed by a comma";
  }
  if (!json.AtEnd()) return "bytes after the object";
  if (!have_time) return "no time";
  return {};
}

bool ControlErrorCode(std::string_view line, std::uint32_t* code) {
  return ScmErrorCodeOf(line, code);
}

}  // namespace halv::client
