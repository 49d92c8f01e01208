// The halvexa command line: hosts, options and the command to send.
// Portable; parsing never exits the program, it reports usage errors.
#ifndef HALV_CLIENT_OPTIONS_H_
#define HALV_CLIENT_OPTIONS_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "reply_parser.h"

namespace halv::client {

inline constexpr std::uint16_t kDefaultPort = 9007;
inline constexpr int kDefaultParallel = 32;
inline constexpr double kDefaultTimeout = 10;
// START, STOP and RSTRT answer only when the service has started or stopped
// (the server waits up to its stop time-out, 30 s by default, and as long as
// a start makes progress); their reply waits this long unless --timeout says.
inline constexpr double kDefaultControlTimeout = 120;
// A server at its client limit answers "421-..." and closes; it is asked
// again this many times, after kDefaultRetryDelay seconds, then twice that, ...
inline constexpr int kDefaultRetries = 2;
inline constexpr double kDefaultRetryDelay = 0.5;

struct HostEntry {
  std::string label;  // as the user wrote it
  std::string host;   // name or address, IPv6 without brackets
  std::uint16_t port = kDefaultPort;
};

struct Options {
  std::vector<HostEntry> hosts;
  int parallel = kDefaultParallel;
  double connect_timeout = kDefaultTimeout;  // seconds: connect, greeting, AUTH reply
  double reply_timeout = kDefaultTimeout;    // seconds: the command's reply
  bool json = false;                         // --json: one object, or one array for several results
  bool json_lines = false;  // --json-lines: one object per result and line, as they stream
  bool raw = false;
  int retries = kDefaultRetries;            // --retries: more attempts at a busy ("421") server
  double retry_delay = kDefaultRetryDelay;  // seconds before the first retry; doubles each time
  std::string user;                         // empty: no AUTH line
  std::string password;                     // from HALVEXA_PASSWORD or --password-file
  Command command = Command::kOther;
  std::vector<std::string> words;  // the command word and its arguments
  // WATCH: --count ends it after this many changes (0: no limit), --timeout
  // after this many seconds (0: no limit); without either it runs until
  // interrupted.
  int count = 0;
  double watch_seconds = 0;
  bool help = false;               // --help: print the usage and nothing else
  bool version = false;            // --version: print the version and nothing else
};

// Looks up an environment variable; null when unset.
using GetEnv = std::function<const char*(const char*)>;

// Parses the arguments (without the program name): options may come before,
// between or after the command's words; "--" ends the options. Returns "" on
// success, else the usage error to print (exit status 64). Reads --hosts and
// --password-file files as it meets them.
std::string ParseOptions(const std::vector<std::string>& args, const GetEnv& get_env,
                         Options* options);

// The longest word of a password the server keeps whole.
inline constexpr std::size_t kMaxPasswordWord = 255;
// "" when the server would take `password` exactly as given, else why not.
// The server takes everything after the user name, its words split at blanks
// and joined again by one: so no blank at either end, no two blanks in a
// row, no control characters (nor the byte 255, telnet's escape), no word
// longer than 255 bytes. An empty password is sent as none, which the server
// takes as the user name.
std::string PasswordProblem(const std::string& password);

// Parses "host", "host:port", "[v6]" or "[v6]:port" (a bare IPv6 address
// takes the default port). Returns "" or what is wrong.
std::string ParseHostEntry(const std::string& text, std::uint16_t default_port, HostEntry* entry);

// The usage text for --help.
const char* UsageText();
// The one line printed after a usage error.
const char* ShortUsageText();
// "halvexa <version>\n" for --version.
std::string VersionText();

// The services a command names: every argument after the word, for the
// commands that take a service name (STATUS Spooler BITS); else empty.
std::vector<std::string> ServicesOf(const Options& options);

}  // namespace halv::client

#endif  // HALV_CLIENT_OPTIONS_H_
