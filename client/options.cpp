// Parsing of the halvexa command line and of the host-list file.
#include "options.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace halv::client {

namespace {

bool ParsePort(const std::string& text, std::uint16_t* port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value < 1 || value > 65535) return false;
  *port = static_cast<std::uint16_t>(value);
  return true;
}

// A word the server takes as one word: no blanks, no control characters.
bool IsOneWord(const std::string& word) {
  if (word.empty()) return false;
  for (const char c : word) {
    if (static_cast<unsigned char>(c) < 33 || c == 127) return false;
  }
  return true;
}

}  // namespace

std::string PasswordProblem(const std::string& password) {
  if (password.empty()) return {};
  if (password.front() == ' ' || password.back() == ' ')
    return "the password cannot begin or end with a blank: the server drops them";
  if (password.find("  ") != std::string::npos)
    return "the password cannot hold two blanks in a row: the server joins its words with one";
  std::size_t word = 0;
  for (const char c : password) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte == 127 || byte == 255)
      return "the password cannot hold control characters";
    word = c == ' ' ? 0 : word + 1;
    if (word > kMaxPasswordWord)
      return "the password cannot hold a word of more than " + std::to_string(kMaxPasswordWord) +
             " characters: the server cuts longer ones";
  }
  return {};
}

namespace {

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

// Reads FILE's host entries: one a line, "#" starts a comment.
std::string ReadHostsFile(const std::string& path, std::vector<std::string>* entries) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot read the hosts file " + path;
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    line = Trim(line);
    if (!line.empty()) entries->push_back(line);
  }
  return {};
}

std::string ReadPasswordFile(const std::string& path, std::string* password) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot read the password file " + path;
  std::getline(in, *password);
  if (!password->empty() && password->back() == '\r') password->pop_back();
  return {};
}

}  // namespace

const char* UsageText() {
  return "usage: halvexa [options] COMMAND [ARGS...]\n"
         "  -H HOST[:PORT]        a server to ask (repeatable)\n"
         "  --hosts FILE          servers, one HOST[:PORT] a line, # starts a comment\n"
         "  --port PORT           port for hosts that name none (default 9007)\n"
         "  --parallel N          servers asked at once (default 32)\n"
         "  --timeout SECONDS     connect and per-reply time-out (default 10; 120 for\n"
         "                        the replies of START, STOP and RSTRT)\n"
         "  --json                JSON: one object, or an array of one per host and\n"
         "                        service when there are several\n"
         "  --json-lines          one JSON object per host and service and line, as\n"
         "                        each host answers\n"
         "  --raw                 the reply bytes as received\n"
         "  --dry-run             with STOP: change nothing, list the running dependants\n"
         "                        the stop would stop (DEPS)\n"
         "  --count N             with WATCH: end after N changes (with --timeout, the\n"
         "                        watch ends after SECONDS; without either, at Ctrl-C)\n"
         "  --user NAME           log on first (password from HALVEXA_PASSWORD or\n"
         "  --password-file FILE  the first line of FILE)\n"
         "  --retries N           attempts more at a server that has all its clients\n"
         "                        (421), waiting 0.5 s, then 1 s, ... (default 2)\n"
         "  --version             the client's version\n"
         "  --help                this text\n"
         "Options may come anywhere on the line; \"--\" ends them.\n"
         "Commands: LIST, STATUS name..., START name..., STOP name..., RSTRT name...,\n"
         "DEPS name... (each name asked on its own), DISPLAY, STIME, WHO, HELP [topic],\n"
         "UPDATE name StartType Automatic|Delayed|Manual|Disabled,\n"
         "UPDATE name DisplayName TEXT..., WATCH [name...] (each change a row, as it\n"
         "happens, with the local time it arrived);\n"
         "AUDIT [count] (the last records of the audit trail, default 20);\n"
         "any other command is sent as given and its reply shown.\n"
         "Exit status: 0 all succeeded, 1 a command failed on some host, 2 some host\n"
         "could not be reached, was busy (421) or did not answer in time, 64 bad usage.\n";
}

const char* ShortUsageText() {
  return "usage: halvexa [options] COMMAND [ARGS...]  (halvexa --help for more)\n";
}

std::string VersionText() {
#ifdef HALV_CLIENT_VERSION
  return std::string("halvexa ") + HALV_CLIENT_VERSION + "\n";
#else
  return "halvexa\n";
#endif
}

std::vector<std::string> ServicesOf(const Options& options) {
  if (!NeedsServiceName(options.command) || options.words.size() < 2) return {};
  return {options.words.begin() + 1, options.words.end()};
}

std::string ParseHostEntry(const std::string& text, std::uint16_t default_port, HostEntry* entry) {
  entry->label = text;
  entry->port = default_port;
  if (text.empty()) return "empty host";
  if (text[0] == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string::npos || close == 1) return "bad host \"" + text + "\"";
    entry->host = text.substr(1, close - 1);
    const std::string rest = text.substr(close + 1);
    if (rest.empty()) return {};
    if (rest[0] != ':' || !ParsePort(rest.substr(1), &entry->port))
      return "bad port in \"" + text + "\"";
    return {};
  }
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) {
    entry->host = text;  // a name, or a bare IPv6 address
    return {};
  }
  entry->host = text.substr(0, colon);
  if (entry->host.empty()) return "bad host \"" + text + "\"";
  if (!ParsePort(text.substr(colon + 1), &entry->port)) return "bad port in \"" + text + "\"";
  return {};
}

std::string ParseOptions(const std::vector<std::string>& args, const GetEnv& get_env,
                         Options* options) {
  std::vector<std::string> host_texts;
  std::uint16_t default_port = kDefaultPort;
  std::optional<double> timeout;
  std::string password_file;
  bool dry_run = false;
  std::size_t i = 0;
  // The value of an option: "--opt VALUE", "--opt=VALUE" or "-HVALUE".
  std::string value;
  const auto take = [&](const std::string& name, bool short_form) -> int {
    const std::string& arg = args[i];
    if (arg == name) {
      if (i + 1 >= args.size()) return -1;
      value = args[++i];
      return 1;
    }
    if (!short_form && arg.rfind(name + "=", 0) == 0) {
      value = arg.substr(name.size() + 1);
      return 1;
    }
    if (short_form && arg.size() > name.size() && arg.rfind(name, 0) == 0) {
      value = arg.substr(name.size());
      return 1;
    }
    return 0;
  };
  std::vector<std::string> words;
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      words.insert(words.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      words.push_back(arg);
      continue;
    }
    int got = 0;
    if (arg == "--help" || arg == "-h") {
      options->help = true;
      return {};
    } else if (arg == "--version") {
      options->version = true;
      return {};
    } else if (arg == "--json") {
      options->json = true;
    } else if (arg == "--json-lines") {
      options->json_lines = true;
    } else if ((got = take("--retries", false)) != 0) {
      char* end = nullptr;
      errno = 0;
      const long n = got < 0 ? -1 : std::strtol(value.c_str(), &end, 10);
      if (got < 0 || value.empty() || *end != '\0' || errno != 0 || n < 0 || n > 10)
        return "--retries needs a number from 0 to 10";
      options->retries = static_cast<int>(n);
    } else if (arg == "--raw") {
      options->raw = true;
    } else if (arg == "--dry-run") {
      dry_run = true;
    } else if ((got = take("--count", false)) != 0) {
      char* end = nullptr;
      errno = 0;
      const long n = got < 0 ? 0 : std::strtol(value.c_str(), &end, 10);
      if (got < 0 || value.empty() || *end != '\0' || errno != 0 || n < 1 || n > 1000000)
        return "--count needs a number from 1 to 1000000";
      options->count = static_cast<int>(n);
    } else if ((got = take("-H", true)) != 0 || (got = take("--host", false)) != 0) {
      if (got < 0) return arg + " needs a host";
      host_texts.push_back(value);
    } else if ((got = take("--hosts", false)) != 0) {
      if (got < 0) return arg + " needs a file";
      if (std::string error = ReadHostsFile(value, &host_texts); !error.empty()) return error;
    } else if ((got = take("--port", false)) != 0) {
      if (got < 0 || !ParsePort(value, &default_port))
        return "--port needs a port number from 1 to 65535";
    } else if ((got = take("--parallel", false)) != 0) {
      char* end = nullptr;
      errno = 0;
      const long n = got < 0 ? 0 : std::strtol(value.c_str(), &end, 10);
      if (got < 0 || value.empty() || *end != '\0' || errno != 0 || n < 1 || n > 1024)
        return "--parallel needs a number from 1 to 1024";
      options->parallel = static_cast<int>(n);
    } else if ((got = take("--timeout", false)) != 0) {
      char* end = nullptr;
      const double seconds = got < 0 ? 0 : std::strtod(value.c_str(), &end);
      if (got < 0 || value.empty() || *end != '\0' || !(seconds > 0) || seconds > 86400)
        return "--timeout needs a number of seconds above 0 and up to 86400";
      timeout = seconds;
    } else if ((got = take("--user", false)) != 0) {
      if (got < 0 || !IsOneWord(value)) return "--user needs a user name without blanks";
      options->user = value;
    } else if ((got = take("--password-file", false)) != 0) {
      if (got < 0) return "--password-file needs a file";
      password_file = value;
    } else {
      return "unknown option " + arg;
    }
  }

  if (options->json && options->json_lines) return "--json and --json-lines exclude each other";
  options->words = std::move(words);
  if (options->words.empty()) return "no command given";
  options->command = CommandFromWord(options->words[0]);
  // UPDATE's display name may come as one quoted argument: the server joins
  // its words with single blanks either way.
  if (options->command == Command::kUpdate) {
    std::vector<std::string> split;
    for (const std::string& word : options->words) {
      std::size_t at = 0;
      while ((at = word.find_first_not_of(" \t", at)) != std::string::npos) {
        const std::size_t end = std::min(word.find_first_of(" \t", at), word.size());
        split.push_back(word.substr(at, end - at));
        at = end;
      }
      if (word.empty()) split.push_back(word);  // refused below
    }
    options->words = std::move(split);
  }
  for (const std::string& word : options->words) {
    if (!IsOneWord(word))
      return "\"" + word + "\" is not one word: the server splits its lines at blanks";
  }
  // STOP --dry-run changes nothing: it asks DEPS, what the stop would take
  // down with each service.
  if (dry_run) {
    if (options->command != Command::kStop) return "--dry-run goes only with STOP";
    options->words[0] = "DEPS";
    options->command = Command::kDeps;
  }
  // Each service of STATUS a b ... is asked on a line of its own.
  std::size_t line_length = 2;
  if (NeedsServiceName(options->command)) {
    std::size_t longest = 0;
    for (std::size_t w = 1; w < options->words.size(); ++w)
      longest = std::max(longest, options->words[w].size());
    line_length += options->words[0].size() + 1 + longest + 1;
  } else {
    for (const std::string& word : options->words) line_length += word.size() + 1;
  }
  if (line_length > 500) return "the command line is too long for the server (500 characters)";
  if (NeedsServiceName(options->command) && options->words.size() < 2)
    return std::string(CommandName(options->command)) + " needs a service name";
  if (options->command == Command::kAudit && options->words.size() > 1) {
    const std::string& count = options->words[1];
    const bool number = options->words.size() == 2 && !count.empty() && count.size() <= 4 &&
                        count.find_first_not_of("0123456789") == std::string::npos &&
                        std::stoi(count) >= 1 && std::stoi(count) <= 1000;
    if (!number) return "AUDIT takes one count of records from 1 to 1000";
  }
  if (options->command == Command::kUpdate && options->words.size() < 4)
    return "UPDATE needs a service name, a property and a value: StartType "
           "Automatic|Delayed|Manual|Disabled, or DisplayName TEXT";
  if (options->command == Command::kWatch) {
    if (options->json || options->raw)
      return "WATCH prints a table or, with --json-lines, one object per change";
  } else if (options->count != 0) {
    return "--count goes only with WATCH";
  }

  if (host_texts.empty()) return "no host given: use -H HOST[:PORT] or --hosts FILE";
  for (const std::string& text : host_texts) {
    HostEntry entry;
    if (std::string error = ParseHostEntry(text, default_port, &entry); !error.empty())
      return error;
    options->hosts.push_back(entry);
  }

  if (timeout) {
    options->connect_timeout = *timeout;
    options->reply_timeout = *timeout;
    if (options->command == Command::kWatch) options->watch_seconds = *timeout;
  } else if (options->command == Command::kStart || options->command == Command::kStop ||
             options->command == Command::kRestart) {
    options->reply_timeout = kDefaultControlTimeout;
  }

  if (!password_file.empty() && options->user.empty()) return "--password-file needs --user";
  if (!options->user.empty()) {
    if (!password_file.empty()) {
      if (std::string error = ReadPasswordFile(password_file, &options->password); !error.empty())
        return error;
    } else if (const char* env = get_env("HALVEXA_PASSWORD"); env != nullptr) {
      options->password = env;
    } else {
      return "--user needs a password: set HALVEXA_PASSWORD or give --password-file";
    }
    if (std::string problem = PasswordProblem(options->password); !problem.empty()) return problem;
  }
  return {};
}

}  // namespace halv::client
