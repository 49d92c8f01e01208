// The parallel run over real sockets on loopback (native build): scripted
// servers that answer, refuse, stay silent, vanish or talk garbage. Each bad
// host gets its own outcome, the exit status follows the worst of them, and
// silent hosts cost one time-out together, not one each.
#include "fleet.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "halvexa_main.h"
#include "report.h"

namespace halv::client {
namespace {

using namespace std::chrono_literals;

const std::string kGreeting =
    "\n\rHalvexa: Version 3.5.1.1\n\rTenmark Halvexa remote service control, (c) Tenmark "
    "Software.\n\r\n\rConnected to: FAKE\n\rService running as: SYSTEM\n\rLocal Server Date: 9 "
    "December 2026 11:16:11 PM\n\r:: ";

// kBusy answers "421-..." in place of the greeting and closes, as a server
// at its client limit does; kBusyOnce does so only to its first connection.
// kAnswerThenClose closes the connection after its first answer.
enum class Behaviour {
  kAnswer,
  kSilent,
  kVanish,
  kGarbage,
  kCutOff,
  kBusy,
  kBusyOnce,
  kAnswerThenClose
};

// A listener on 127.0.0.1 (or another loopback address) with a port of the
// system's choosing; one thread accepts and serves connections in turn.
class ScriptedServer {
 public:
  // `answer` maps a received line to the reply bytes.
  ScriptedServer(Behaviour behaviour, std::function<std::string(const std::string&)> answer = {},
                 const char* address = "127.0.0.1")
      : behaviour_(behaviour), answer_(std::move(answer)), address_(address) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, address, &a.sin_addr);
    EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(listen(listener_, 64), 0);
    socklen_t size = sizeof a;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size);
    port_ = ntohs(a.sin_port);
    if (behaviour_ != Behaviour::kSilent) thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (int fd : held_) close(fd);
    close(listener_);
  }
  std::string Entry() const { return std::string(address_) + ":" + std::to_string(port_); }
  int port() const { return port_; }
  int accepted() const { return accepted_; }
  // The lines received so far, once every connection accepted has been
  // served to its end (the client may return before the server has read its
  // closing QUIT); gives up waiting after 5 s.
  std::vector<std::string> Lines() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (finished_ < accepted_ && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::lock_guard<std::mutex> lock(lines_lock_);
    return lines_;
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      ++accepted_;
      if (behaviour_ == Behaviour::kVanish) {
        close(fd);
        ++finished_;
        continue;
      }
      if (behaviour_ == Behaviour::kBusy ||
          (behaviour_ == Behaviour::kBusyOnce && accepted_ == 1)) {
        Send(fd, "421-Too many connections, try again later\n\r");
        close(fd);
        ++finished_;
        continue;
      }
      Send(fd, kGreeting);
      std::string buffer;
      char chunk[512];
      bool open = true;
      while (open && !stop_) {
        pollfd q{fd, POLLIN, 0};
        if (poll(&q, 1, 20) <= 0) continue;
        const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) break;
        buffer.append(chunk, static_cast<std::size_t>(got));
        for (std::size_t end; open && (end = buffer.find("\r\n")) != std::string::npos;) {
          const std::string line = buffer.substr(0, end);
          buffer.erase(0, end + 2);
          {
            const std::lock_guard<std::mutex> lock(lines_lock_);
            lines_.push_back(line);
          }
          if (line == "QUIT") {
            open = false;
          } else if (behaviour_ == Behaviour::kGarbage) {
            Send(fd, "\x01\x02 what?\n\r:: ");
          } else if (behaviour_ == Behaviour::kCutOff) {
            Send(fd, "Retrieving Status\n\r");
            open = false;
          } else {
            Send(fd, answer_(line));
            if (behaviour_ == Behaviour::kAnswerThenClose) open = false;
          }
        }
      }
      close(fd);
      ++finished_;
    }
  }
  static void Send(int fd, const std::string& bytes) {
    send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }

  Behaviour behaviour_;
  std::function<std::string(const std::string&)> answer_;
  const char* address_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::atomic<int> finished_{0};  // connections served to their end
  std::thread thread_;
  std::vector<int> held_;
  std::mutex lines_lock_;
  std::vector<std::string> lines_;
};

std::string StatusAnswer(const std::string& line) {
  if (line.rfind("AUTH ", 0) == 0) {
    return line == "AUTH ops right" ? ":: " : "\n\r530-Log-on refused for 'ops'\n\r:: ";
  }
  if (line == "status Spooler") return "Retrieving Status\n\rThe service is running.\n\r:: ";
  if (line == "status Gone") return "Retrieving Status\n\rUnable to determine status.\n\r:: ";
  if (line == "stop Stopped")
    return "Stopping Service...Stopped\n\rThe service has not been started.\n\r:: ";
  if (line == "stop Spooler") return "Stopping Service...Spooler\n\rService Stopped\n\r:: ";
  if (line == "start Running")
    return "Starting Service...Running\n\rAn instance of the service is already running.\n\r:: ";
  if (line == "start Disabled")
    return "Starting Service...Disabled\n\rThe service has been disabled.\n\r:: ";
  return "\n\r500-Unknown command '" + line.substr(0, line.find(' ')) + "'\n\r:: ";
}

// A port with nothing listening: bound once by the system, then released.
std::string ClosedEntry() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t size = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  close(fd);
  return "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
}

struct ClientRun {
  int status = 0;
  std::string out, err;
  double seconds = 0;
};

ClientRun Halvexa(const std::vector<std::string>& args, const char* password = nullptr,
                  const std::function<bool(const ClientRun&)>& interrupt = {}) {
  ClientRun run;
  Console console;
  bool caught = false;
  if (interrupt) {
    console.catch_interrupt = [&caught] { caught = true; };
    console.interrupted = [&] { return caught && interrupt(run); };
  }
  console.out = [&run](const std::string& text) { run.out += text; };
  console.err = [&run](const std::string& text) { run.err += text; };
  // WATCH's rows carry the local time: a fixed one here.
  console.local_time = [] {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 10;
    t.tm_hour = 22;
    t.tm_min = 35;
    t.tm_sec = 7;
    return t;
  };
  const auto start = std::chrono::steady_clock::now();
  run.status = RunHalvexa(
      args, [password](const char*) { return password; }, console);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return run;
}

TEST(FleetTest, EachBadHostCostsOnlyItsOwnTimeOut) {
  ScriptedServer good1(Behaviour::kAnswer, StatusAnswer);
  ScriptedServer good2(Behaviour::kAnswer, StatusAnswer, "127.0.0.2");
  ScriptedServer silent1(Behaviour::kSilent, {}, "127.0.0.3");
  ScriptedServer silent2(Behaviour::kSilent, {}, "127.0.0.3");
  ScriptedServer vanish(Behaviour::kVanish);
  ScriptedServer garbage(Behaviour::kGarbage);
  ScriptedServer cut(Behaviour::kCutOff);
  const std::string closed = ClosedEntry();
  constexpr double kTimeout = 1.5;
  const ClientRun run =
      Halvexa({"--json-lines",  "--timeout", "1.5",          "-H",     good1.Entry(),   "-H",
               silent1.Entry(), "-H",        closed,         "-H",     good2.Entry(),   "-H",
               silent2.Entry(), "-H",        vanish.Entry(), "-H",     garbage.Entry(), "-H",
               cut.Entry(),     "-H",        good1.Entry(),  "status", "Spooler"});
  EXPECT_EQ(run.status, 2) << run.out << run.err;
  EXPECT_LT(run.seconds, 2.5 * kTimeout);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {good1.Entry(), "\"ok\":true,\"outcome\":\"ok\""},
      {silent1.Entry(),
       "\"outcome\":\"timeout\",\"error\":\"timed out after 1.5 s waiting for "
       "the greeting\""},
      {closed, "\"outcome\":\"unreachable\",\"error\":\"connection refused\""},
      {good2.Entry(), "\"state\":\"Running\""},
      {silent2.Entry(), "\"outcome\":\"timeout\""},
      {vanish.Entry(),
       "\"outcome\":\"bad-reply\",\"error\":\"connection closed by the server "
       "before the greeting\""},
      {garbage.Entry(), "\"outcome\":\"bad-reply\",\"error\":\"the STATUS reply is not"},
      {cut.Entry(),
       "\"outcome\":\"bad-reply\",\"error\":\"connection closed by the server "
       "before the reply was complete\""},
      {good1.Entry(), "\"service\":\"Spooler\",\"state\":\"Running\""},
  };
  std::size_t at = 0;
  for (const auto& [host, fields] : expected) {
    const std::size_t line_end = run.out.find('\n', at);
    ASSERT_NE(line_end, std::string::npos) << run.out;
    const std::string line = run.out.substr(at, line_end - at);
    EXPECT_EQ(line.rfind("{\"host\":\"" + host + "\"", 0), 0u) << line;
    EXPECT_NE(line.find(fields), std::string::npos) << line;
    at = line_end + 1;
  }
  EXPECT_EQ(at, run.out.size());
  // The answering server saw the command and the closing QUIT, nothing else.
  const std::vector<std::string> lines = good2.Lines();
  EXPECT_EQ(lines, (std::vector<std::string>{"status Spooler", "QUIT"}));
}

TEST(FleetTest, CommandFailureIsStatusOne) {
  ScriptedServer server(Behaviour::kAnswer, StatusAnswer);
  const ClientRun gone = Halvexa({"-H", server.Entry(), "-H", server.Entry(), "status", "Gone"});
  EXPECT_EQ(gone.status, 1);
  EXPECT_EQ(gone.out, "HOST" + std::string(server.Entry().size() - 2, ' ') + "SERVICE  STATE\n" +
                          server.Entry() + "  Gone     Unknown\n" + server.Entry() +
                          "  Gone     Unknown\n");
  const ClientRun ok = Halvexa({"-H", server.Entry(), "status", "Spooler"});
  EXPECT_EQ(ok.status, 0);
  const ClientRun unknown = Halvexa({"-H", server.Entry(), "frob"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.out.find("failed: 500-Unknown command 'frob'"), std::string::npos)
      << unknown.out;
  EXPECT_EQ(Halvexa({"-H", server.Entry(), "--bogus", "list"}).status, kExitUsage);
}

TEST(FleetTest, UserSendsAuthFirstAndARefusalFailsThatHost) {
  ScriptedServer server(Behaviour::kAnswer, StatusAnswer);
  const ClientRun right =
      Halvexa({"--user", "ops", "-H", server.Entry(), "status", "Spooler"}, "right");
  EXPECT_EQ(right.status, 0) << right.out;
  EXPECT_EQ(server.Lines(), (std::vector<std::string>{"AUTH ops right", "status Spooler", "QUIT"}));
  const ClientRun wrong =
      Halvexa({"--json", "--user", "ops", "-H", server.Entry(), "status", "Spooler"}, "wrong");
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.out.find("\"outcome\":\"auth\",\"error\":\"log-on refused: 530-Log-on refused "
                           "for 'ops'\""),
            std::string::npos)
      << wrong.out;
}

TEST(FleetTest, A2xxAuthReplyIsALoginAndNoNumberedLineIsAWarning) {
  ScriptedServer logins(Behaviour::kAnswer, [](const std::string& line) {
    if (line.rfind("AUTH ", 0) == 0)
      return std::string(line == "AUTH Admin pw word" ? "230-Logged in as Admin\n\r:: "
                                                      : "530-Login incorrect\n\r:: ");
    return StatusAnswer(line);
  });
  const ClientRun right =
      Halvexa({"--user", "Admin", "-H", logins.Entry(), "status", "Spooler"}, "pw word");
  EXPECT_EQ(right.status, 0) << right.out << right.err;
  EXPECT_EQ(right.err, "");
  EXPECT_EQ(logins.Lines(),
            (std::vector<std::string>{"AUTH Admin pw word", "status Spooler", "QUIT"}));
  const ClientRun wrong =
      Halvexa({"--user", "Admin", "-H", logins.Entry(), "status", "Spooler"}, "guess");
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.out.find("error: log-on refused: 530-Login incorrect"), std::string::npos)
      << wrong.out;

  // A server without logins answers AUTH with its prompt alone: the command
  // runs, exit 0, and standard error says the login was not needed.
  ScriptedServer open(Behaviour::kAnswer, [](const std::string& line) {
    return line.rfind("AUTH ", 0) == 0 ? std::string(":: ") : StatusAnswer(line);
  });
  const ClientRun off =
      Halvexa({"--user", "ops", "-H", open.Entry(), "status", "Spooler"}, "anything");
  EXPECT_EQ(off.status, 0) << off.out << off.err;
  EXPECT_NE(off.out.find("Running"), std::string::npos) << off.out;
  EXPECT_EQ(off.err, "halvexa: " + open.Entry() +
                         ": warning: the server has logins off: --user ops was not needed, and "
                         "its password was not checked\n");
}

// Accepts connections, never answers, and counts how many are open at once.
class HoldingServer {
 public:
  HoldingServer() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(listen(listener_, 64), 0);
    socklen_t size = sizeof a;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~HoldingServer() {
    stop_ = true;
    thread_.join();
    close(listener_);
  }
  std::string Entry() const { return "127.0.0.1:" + std::to_string(port_); }
  int most_open() const { return most_open_; }
  int accepted() const { return accepted_; }

 private:
  void Serve() {
    std::vector<pollfd> fds{{listener_, POLLIN, 0}};
    while (!stop_) {
      if (poll(fds.data(), fds.size(), 20) <= 0) continue;
      for (std::size_t i = fds.size(); i-- > 1;) {
        if (fds[i].revents == 0) continue;
        char byte;
        if (recv(fds[i].fd, &byte, 1, 0) <= 0) {
          close(fds[i].fd);
          fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
        }
      }
      if (fds[0].revents & POLLIN) {
        const int fd = accept(listener_, nullptr, nullptr);
        if (fd >= 0) {
          fds.push_back({fd, POLLIN, 0});
          ++accepted_;
        }
      }
      most_open_ = std::max<int>(most_open_, static_cast<int>(fds.size()) - 1);
    }
    for (std::size_t i = 1; i < fds.size(); ++i) close(fds[i].fd);
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> most_open_{0};
  std::atomic<int> accepted_{0};
  std::atomic<int> finished_{0};  // connections served to their end
  std::thread thread_;
};

TEST(FleetTest, EntriesOfOneServerAreAskedAFewAtATime) {
  HoldingServer server;
  std::vector<std::string> args = {"--json", "--timeout", "0.3"};
  for (int i = 0; i < 10; ++i) {
    args.push_back("-H");
    args.push_back(server.Entry());
  }
  args.push_back("stime");
  const ClientRun run = Halvexa(args);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(server.accepted(), 10);
  EXPECT_EQ(server.most_open(), kConnectionsPerServer);
}

TEST(FleetTest, ParallelOneAsksInTurnAndKeepsOrder) {
  ScriptedServer a(Behaviour::kAnswer, StatusAnswer);
  ScriptedServer b(Behaviour::kAnswer, StatusAnswer, "127.0.0.2");
  Options options;
  options.parallel = 1;
  options.words = {"status", "Spooler"};
  options.command = Command::kStatus;
  for (const ScriptedServer* s : {&a, &b, &a}) {
    HostEntry entry;
    ASSERT_EQ(ParseHostEntry(s->Entry(), 9007, &entry), "");
    options.hosts.push_back(entry);
  }
  std::vector<std::size_t> progress;
  const std::vector<HostResult> results =
      AskAll(options, [&progress](std::size_t done, std::size_t) { progress.push_back(done); });
  ASSERT_EQ(results.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(results[i].entry.label, options.hosts[i].label);
    EXPECT_EQ(results[i].outcome, HostOutcome::kOk);
    EXPECT_EQ(results[i].greeting.server_name, "FAKE");
  }
  EXPECT_EQ(progress, (std::vector<std::size_t>{1, 2, 3}));
}

// Whether python3's JSON tool takes `text` (skipped when there is no python3).
bool ValidForJsonTool(const std::string& text, bool* checked) {
  *checked = std::system("python3 -c '' 2>/dev/null") == 0;
  if (!*checked) return true;
  const std::string path = ::testing::TempDir() + "halvexa_json.txt";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  return std::system(("python3 -m json.tool " + path + " >/dev/null").c_str()) == 0;
}

TEST(FleetTest, JsonIsOneArrayForSeveralResultsAndLinesOnRequest) {
  ScriptedServer a(Behaviour::kAnswer, StatusAnswer);
  ScriptedServer b(Behaviour::kAnswer, StatusAnswer, "127.0.0.2");
  const ClientRun array =
      Halvexa({"--json", "-H", a.Entry(), "-H", b.Entry(), "status", "Spooler"});
  EXPECT_EQ(array.status, 0);
  ASSERT_EQ(array.out.rfind("[\n{\"host\":\"" + a.Entry() + "\"", 0), 0u) << array.out;
  EXPECT_NE(array.out.find("},\n{\"host\":\"" + b.Entry() + "\""), std::string::npos);
  EXPECT_EQ(array.out.substr(array.out.size() - 4), "}\n]\n");
  bool checked = false;
  EXPECT_TRUE(ValidForJsonTool(array.out, &checked)) << array.out;
  // One host: the object alone.
  const ClientRun one = Halvexa({"--json", "-H", a.Entry(), "status", "Spooler"});
  EXPECT_EQ(one.out.rfind("{\"host\":", 0), 0u);
  EXPECT_EQ(one.out.find('\n'), one.out.size() - 1);
  EXPECT_TRUE(ValidForJsonTool(one.out, &checked)) << one.out;
  // --json-lines: an object a line, no array.
  const ClientRun lines =
      Halvexa({"--json-lines", "-H", a.Entry(), "-H", b.Entry(), "status", "Spooler"});
  EXPECT_EQ(lines.out.rfind("{\"host\":\"" + a.Entry() + "\"", 0), 0u) << lines.out;
  EXPECT_EQ(std::count(lines.out.begin(), lines.out.end(), '\n'), 2);
  EXPECT_EQ(lines.out.find('['), std::string::npos);
  // The host field carries the port used, also when the entry names none.
  const ClientRun port = Halvexa(
      {"--json", "--port", std::to_string(a.port()), "-H", "127.0.0.1", "status", "Spooler"});
  EXPECT_EQ(port.out.rfind("{\"host\":\"" + a.Entry() + "\"", 0), 0u) << port.out;
}

TEST(FleetTest, JsonLinesAreWrittenAsTheHostsAnswer) {
  ScriptedServer good(Behaviour::kAnswer, StatusAnswer);
  ScriptedServer silent(Behaviour::kSilent, {}, "127.0.0.3");
  struct Write {
    std::string text;
    std::chrono::steady_clock::time_point at;
  };
  std::vector<Write> writes;
  Console console;
  console.out = [&writes](const std::string& text) {
    writes.push_back({text, std::chrono::steady_clock::now()});
  };
  console.err = [](const std::string&) {};
  const auto start = std::chrono::steady_clock::now();
  const int status = RunHalvexa(
      {"--json-lines", "--timeout", "1", "-H", good.Entry(), "-H", silent.Entry(), "status",
       "Spooler"},
      [](const char*) { return nullptr; }, console);
  const auto end = std::chrono::steady_clock::now();
  EXPECT_EQ(status, 2);
  ASSERT_EQ(writes.size(), 2u);
  // The answering host's line came out before the silent one had timed out.
  EXPECT_EQ(writes[0].text.rfind("{\"host\":\"" + good.Entry() + "\",\"ok\":true", 0), 0u);
  EXPECT_LT(writes[0].at - start, (end - start) / 2);
  EXPECT_EQ(writes[1].text.rfind("{\"host\":\"" + silent.Entry() + "\",\"ok\":false", 0), 0u);
}

TEST(FleetTest, SeveralServicesAreEachAskedAndReportedInOrder) {
  ScriptedServer server(Behaviour::kAnswer, StatusAnswer);
  ScriptedServer other(Behaviour::kAnswer, StatusAnswer, "127.0.0.2");
  const ClientRun run =
      Halvexa({"-H", server.Entry(), "-H", other.Entry(), "status", "Spooler", "Gone"});
  EXPECT_EQ(run.status, 1);  // Gone's state is unknown
  const std::string pad(server.Entry().size() - 2, ' ');
  EXPECT_EQ(run.out, "HOST" + pad + "SERVICE  STATE\n" + server.Entry() + "  Spooler  Running\n" +
                         server.Entry() + "  Gone     Unknown\n" + other.Entry() +
                         "  Spooler  Running\n" + other.Entry() + "  Gone     Unknown\n");
  std::vector<std::string> lines = server.Lines();
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{"QUIT", "QUIT", "status Gone", "status Spooler"}));
}

TEST(FleetTest, AlreadyStoppedOrRunningIsNoFailure) {
  ScriptedServer server(Behaviour::kAnswer, StatusAnswer);
  struct Case {
    std::vector<std::string> words;
    int status;
    std::string row, json;
  };
  const std::vector<Case> cases = {
      {{"stop", "Stopped"},
       0,
       "Stopped  already stopped\n",
       "\"done\":true,\"changed\":false,\"result\":\"already stopped\""},
      {{"start", "Running"},
       0,
       "Running  already running\n",
       "\"done\":true,\"changed\":false,\"result\":\"already running\""},
      {{"stop", "Spooler"}, 0, "Spooler  done\n", "\"done\":true,\"changed\":true,"},
      {{"start", "Disabled"},
       1,
       "Disabled  error 1058: The service has been disabled.\n",
       "\"done\":false,\"code\":1058,"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"-H", server.Entry()};
    args.insert(args.end(), c.words.begin(), c.words.end());
    const ClientRun table = Halvexa(args);
    EXPECT_EQ(table.status, c.status) << c.words[1];
    EXPECT_NE(table.out.find(server.Entry() + "  " + c.row), std::string::npos) << table.out;
    args.insert(args.begin(), "--json");
    const ClientRun json = Halvexa(args);
    EXPECT_EQ(json.status, c.status);
    EXPECT_NE(json.out.find(c.json), std::string::npos) << json.out;
  }
}

TEST(FleetTest, BusyServerIsReportedWithItsTextAndRetried) {
  ScriptedServer busy(Behaviour::kBusy);
  const ClientRun once = Halvexa({"--retries", "0", "-H", busy.Entry(), "stime"});
  EXPECT_EQ(once.status, 2);
  EXPECT_EQ(busy.accepted(), 1);
  EXPECT_NE(once.out.find(busy.Entry() + "  error: 421-Too many connections, try again later\n"),
            std::string::npos)
      << once.out;
  const ClientRun json = Halvexa({"--json", "--retries=0", "-H", busy.Entry(), "stime"});
  EXPECT_NE(json.out.find("\"outcome\":\"busy\",\"error\":\"421-Too many connections, try "
                          "again later\""),
            std::string::npos)
      << json.out;

  Options options;
  options.words = {"stime"};
  options.command = Command::kStime;
  options.retry_delay = 0.01;
  HostEntry entry;
  ASSERT_EQ(ParseHostEntry(busy.Entry(), 9007, &entry), "");
  const int before = busy.accepted();
  const HostResult given_up = AskHost(entry, options);  // the default: 2 retries
  EXPECT_EQ(given_up.outcome, HostOutcome::kBusy);
  EXPECT_EQ(given_up.attempts, 3);
  EXPECT_EQ(busy.accepted() - before, 3);

  ScriptedServer later(Behaviour::kBusyOnce, [](const std::string&) {
    return std::string("10 december 2026 12:00:00 pm\n\r:: ");
  });
  ASSERT_EQ(ParseHostEntry(later.Entry(), 9007, &entry), "");
  const HostResult second = AskHost(entry, options);
  EXPECT_EQ(second.outcome, HostOutcome::kOk) << second.message;
  EXPECT_EQ(second.attempts, 2);
  EXPECT_EQ(second.reply.time, "10 december 2026 12:00:00 pm");
}

// WATCH Spooler answered at once with the opening line and three changes.
std::string WatchAnswer(const std::string& line) {
  if (line == "WATCH Spooler")
    return "320-Watching Spooler\n\r321-Spooler: Running -> Stopping\n\r"
           "321-Spooler: Stopping -> Stopped\n\r321-Spooler: Stopped -> Starting\n\r";
  if (line == "WATCH") return "320-Watching all services\n\r";
  if (line == "END") return ":: ";
  return "\n\r500-Unknown command '" + line.substr(0, line.find(' ')) + "'\n\r:: ";
}

// --count ends the watch after that many rows: the table is written as the
// changes come, and the watch is ended with a line, then QUIT.
TEST(FleetTest, WatchPrintsEachChangeAsARowUntilItsCount) {
  ScriptedServer server(Behaviour::kAnswer, WatchAnswer);
  const ClientRun run = Halvexa({"-H", server.Entry(), "watch", "Spooler", "--count", "2"});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string pad(server.Entry().size() - 4, ' ');
  EXPECT_EQ(run.out, "HOST" + pad + "  TIME                 SERVICE  STATE\n" + server.Entry() +
                         "  2026-12-10 22:35:07  Spooler  Stopping\n" + server.Entry() +
                         "  2026-12-10 22:35:07  Spooler  Stopped\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(server.Lines(), (std::vector<std::string>{"WATCH Spooler", "END", "QUIT"}));

  // A server at its client limit is asked again, as for any command.
  ScriptedServer busy_once(Behaviour::kBusyOnce, WatchAnswer);
  const ClientRun retried =
      Halvexa({"--json-lines", "-H", busy_once.Entry(), "watch", "Spooler", "--count", "1"});
  EXPECT_EQ(retried.status, 0) << retried.out;
  EXPECT_EQ(busy_once.accepted(), 2);
  EXPECT_NE(retried.out.find("\"state\":\"Stopping\",\"previous\":\"Running\"}\n"),
            std::string::npos)
      << retried.out;
}

// Without --count or --timeout the watch runs until interrupted, then ends
// in order: the rows so far, the watch ended by a line, QUIT, status 0.
TEST(FleetTest, WatchRunsUntilInterrupted) {
  ScriptedServer server(Behaviour::kAnswer, WatchAnswer);
  const auto rows = [](const ClientRun& run) {
    return std::count(run.out.begin(), run.out.end(), '\n');
  };
  const ClientRun run = Halvexa({"-H", server.Entry(), "watch", "Spooler"}, nullptr,
                                [&rows](const ClientRun& so_far) { return rows(so_far) >= 3; });
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_GE(rows(run), 3);  // the header and at least two changes
  EXPECT_NE(run.out.find("  Spooler  Stopped\n"), std::string::npos) << run.out;
  EXPECT_EQ(server.Lines(), (std::vector<std::string>{"WATCH Spooler", "END", "QUIT"}));
}

// JSON lines, several hosts: each change an object with the host, the time,
// the service and both states; a host that refuses WATCH, one that closes
// during the watch and one not reached are objects of their own, and the
// worst of them sets the exit status. --timeout ends the watch of the
// others.
TEST(FleetTest, WatchJsonLinesAndHostsThatFail) {
  ScriptedServer good(Behaviour::kAnswer, WatchAnswer);
  ScriptedServer refusing(Behaviour::kAnswer, StatusAnswer);
  const ClientRun refused = Halvexa({"--json-lines", "--timeout", "0.5", "-H", good.Entry(), "-H",
                                     refusing.Entry(), "watch", "Spooler"});
  EXPECT_EQ(refused.status, 1) << refused.out << refused.err;
  const std::string stamp = "\"time\":\"2026-12-10T22:35:07\"";
  for (const char* change :
       {"\"service\":\"Spooler\",\"state\":\"Stopping\",\"previous\":\"Running\"",
        "\"service\":\"Spooler\",\"state\":\"Stopped\",\"previous\":\"Stopping\"",
        "\"service\":\"Spooler\",\"state\":\"Starting\",\"previous\":\"Stopped\""}) {
    EXPECT_NE(
        refused.out.find("{\"host\":\"" + good.Entry() + "\"," + stamp + "," + change + "}\n"),
        std::string::npos)
        << refused.out;
  }
  EXPECT_NE(refused.out.find("{\"host\":\"" + refusing.Entry() +
                             "\",\"ok\":false,\"outcome\":\"failed\",\"error\":\"500-Unknown "
                             "command 'WATCH'\"}\n"),
            std::string::npos)
      << refused.out;
  EXPECT_EQ(std::count(refused.out.begin(), refused.out.end(), '\n'), 4);
  EXPECT_GE(refused.seconds, 0.5);
  EXPECT_LT(refused.seconds, 5.0);

  ScriptedServer closing(Behaviour::kAnswerThenClose, WatchAnswer);
  const std::string closed = ClosedEntry();
  const ClientRun failing = Halvexa(
      {"--timeout", "0.5", "-H", closing.Entry(), "-H", closed, "-H", good.Entry(), "watch"});
  EXPECT_EQ(failing.status, 2);
  EXPECT_NE(failing.err.find("halvexa: " + closing.Entry() +
                             ": connection closed by the server during the watch\n"),
            std::string::npos)
      << failing.err;
  EXPECT_NE(failing.err.find("halvexa: " + closed + ": connection refused\n"), std::string::npos)
      << failing.err;
  // Nothing changed anywhere: the header alone.
  EXPECT_EQ(failing.out.find('\n'), failing.out.size() - 1) << failing.out;
  EXPECT_EQ(failing.out.rfind("HOST", 0), 0u);
}

TEST(FleetTest, RawOutputEndsWithALineEnd) {
  ScriptedServer server(Behaviour::kAnswer, StatusAnswer);
  const ClientRun raw = Halvexa({"--raw", "-H", server.Entry(), "status", "Spooler"});
  EXPECT_EQ(raw.out, "Retrieving Status\n\rThe service is running.\n\r:: \n");
}

TEST(FleetTest, UsageErrorGivesTheShortLineAndHelpTheWholeText) {
  const ClientRun bad = Halvexa({"--bogus"});
  EXPECT_EQ(bad.status, kExitUsage);
  EXPECT_EQ(bad.err, "halvexa: unknown option --bogus\n" + std::string(ShortUsageText()));
  EXPECT_EQ(bad.out, "");
  const ClientRun help = Halvexa({"list", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, UsageText());
  const ClientRun version = Halvexa({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("halvexa 3.", 0), 0u) << version.out;
}

}  // namespace
}  // namespace halv::client
