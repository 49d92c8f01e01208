// LIST, STATUS, DEPS and DISPLAY: the commands that report rather than act.
#include "listings.h"

#include <string>
#include <vector>

#include "date_format.h"
#include "protocol_text.h"
#include "reply_text.h"
#include "report_scm_error.h"
#include "service_control.h"

namespace halv {

namespace {

// The start type and logon account of one service, or "Unknown" and empty
// text when its configuration cannot be read (it vanished after the
// enumeration, or the query was refused).
struct ConfigColumns {
  std::string start_type{"Unknown"};
  std::string start_name;
};

ConfigColumns ReadConfigColumns(ServiceManager& scm, const std::string& name) {
  ConfigColumns columns;
  std::uint32_t bytes = 0;
  if (QueryServiceConfiguration(scm, name, nullptr, &bytes) != 0 || bytes == 0) return columns;
  ServiceConfigInfo config;
  if (QueryServiceConfiguration(scm, name, &config, &bytes) != 0) return columns;
  columns.start_type = std::string(StartTypeWord(config.start_type));
  columns.start_name = config.service_start_name;
  return columns;
}

}  // namespace

std::string_view StateWord(std::uint32_t state) { return WordOf(kListStateWords, state, 1); }

std::string_view StartTypeWord(std::uint32_t start_type) {
  return WordOf(kStartTypeWords, start_type, 0);
}

std::string StatusText(std::uint32_t state) {
  const bool known = state >= kStateStopped && state - kStateStopped < kStatusLines.size();
  return std::string(known ? kStatusLines[state - kStateStopped] : kStatusUnknownLine) +
         std::string(kLineEnd);
}

bool MatchesPattern(std::string_view pattern, std::string_view text) {
  const auto fold = [](char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  };
  // Greedy with one back-track point: the last "*" seen and where it began
  // to match, so the time is at most pattern times text.
  std::size_t p = 0, t = 0;
  std::size_t star = std::string_view::npos, star_text = 0;
  while (t < text.size()) {
    if (p < pattern.size() &&
        (pattern[p] == '?' || (pattern[p] != '*' && fold(pattern[p]) == fold(text[t])))) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_text = t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++star_text;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

void ListServices(ServerContext& server, Connection& client, const CommandLine& line) {
  const ServiceFields& fields = server.Fields();
  client.SendText("\n\rHalvexa Version " + fields.version +
                  "\n\r\n\rServer: " + fields.server_name +
                  "\n\rService running as: " + fields.log_on_as + "\n\rLocal Server Date: " +
                  FormatDateTime(kReplyDateForm, server.Now(), server.Months()) + "\n\r\n\r");
  client.SendText(" Service Name                       Status      Startup Type  Log On As\n\r");
  client.SendText(kRule);

  ServiceManager& scm = server.Manager();
  std::uint32_t bytes = 0;
  if (const std::uint32_t code = EnumerateServices(scm, nullptr, &bytes); code != 0) {
    ReportScmError(client, code);
    client.SendText(kPrompt);
    return;
  }
  // The second step's result is not checked: whatever it delivered is listed.
  std::vector<ServiceEntry> entries;
  EnumerateServices(scm, &entries, &bytes);
  const bool filtered = server.Fields().list_filter && line.WordCount > 1;
  for (const ServiceEntry& entry : entries) {
    if (filtered && !MatchesPattern(line.Word(1), entry.service_name) &&
        !MatchesPattern(line.Word(1), entry.display_name))
      continue;
    const ConfigColumns columns = ReadConfigColumns(scm, entry.service_name);
    client.SendText(StringPrintf(" %-34s %-11s %-13s %-16s\n\r", entry.service_name.c_str(),
                                 std::string(StateWord(entry.status.current_state)).c_str(),
                                 columns.start_type.c_str(), columns.start_name.c_str()));
  }
  client.SendText(kPrompt);
}

void ListDependants(ServerContext& server, Connection& client, const CommandLine& line) {
  client.SendText(kDependantsHeader);
  client.SendText(kRule);
  std::vector<ServiceEntry> dependants;
  if (const std::uint32_t code =
          ListActiveDependants(server.Manager(), std::string(line.Word(1)), &dependants);
      code != 0) {
    ReportScmError(client, code);
    client.SendText(kPrompt);
    return;
  }
  for (const ServiceEntry& entry : dependants) {
    client.SendText(StringPrintf(" %-34s %-34s %-11s\n\r", entry.service_name.c_str(),
                                 entry.display_name.c_str(),
                                 std::string(StateWord(entry.status.current_state)).c_str()));
  }
  client.SendText(kPrompt);
}

void ShowServiceStatus(ServerContext& server, Connection& client, const CommandLine& line) {
  client.SendText(std::string(kRetrievingStatusLine) + std::string(kLineEnd));
  client.SendText(StatusText(QueryServiceState(server.Manager(), std::string(line.Word(1)))));
  client.SendText(kPrompt);
}

void DisplayParameters(ServerContext& server, Connection& client, const CommandLine& /*line*/) {
  const ServiceFields& f = server.Fields();
  client.SendText(" Parameter          Value\n\r");
  client.SendText(kRule);
  const auto text_row = [&client](const char* name, const std::string& value) {
    client.SendText(StringPrintf(" %-18s %-60s\n\r", name, value.c_str()));
  };
  const auto number_row = [&client](const char* name, int value) {
    client.SendText(StringPrintf(" %-18s %-60i\n\r", name, value));
  };
  text_row("version", f.version);
  text_row("server_name", f.server_name);
  text_row("app_path", f.app_path);
  text_row("log_pathfile", f.log_pathfile);
  text_row("exec_name", f.exec_name);
  text_row("log_on_as", f.log_on_as);
  text_row("bin_pathname", f.bin_pathname);
  number_row("stop_timeout", f.stop_timeout);
  number_row("verbose", f.verbose ? 1 : 0);
  number_row("stop_dependencies", f.stop_dependencies ? 1 : 0);
  number_row("grace_period", f.grace_period);
  number_row("port", f.port);
  client.SendText(kPrompt);
}

}  // namespace halv
