// Random command lines never break the interpreter: lines of random words
// (command and topic words in random case, near misses, control and
// high bytes, printf directives, words of the full 255 characters, up to
// 256 words) run against a small simulated server. Each reply must end the
// way its command ends, and every manager handle must be closed again.
// The generator is seeded, so a failure repeats.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "fake_server_context.h"
#include "interpreter.h"
#include "recording_connection.h"
#include "simulated_manager.h"
#include "transcript.h"

namespace halv::testing {
namespace {

const char* const kKeywords[] = {"open",   "auth", "start",  "cycle",   "stop",    "rstrt",
                                 "who",    "init", "stime",  "display", "view",    "list",
                                 "update", "quit", "status", "help",    "Spooler", "Slow"};

class LineMaker {
 public:
  explicit LineMaker(unsigned seed) : random_(seed) {}

  std::vector<std::string> Words() {
    const int count = Pick(10) == 0 ? 1 + Pick(256) : 1 + Pick(4);
    std::vector<std::string> words;
    for (int i = 0; i < count; ++i) words.push_back(Word());
    return words;
  }

 private:
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

  std::string Word() {
    switch (Pick(6)) {
      case 0:
      case 1: {  // a keyword in random case, sometimes cut or lengthened
        std::string word = kKeywords[Pick(std::size(kKeywords))];
        for (char& c : word) {
          if (Pick(2) == 0 && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        }
        if (Pick(8) == 0) word.pop_back();
        if (Pick(8) == 0) word.push_back(static_cast<char>('a' + Pick(26)));
        return word;
      }
      case 2:
        return std::string(static_cast<std::size_t>(CommandLine::kWordSize - 1),
                           static_cast<char>(33 + Pick(94)));
      case 3: {
        const char* const directives[] = {"%s", "%n", "%-999999s", "%x%x%x%x", "%%", "%d%s%n"};
        return directives[Pick(std::size(directives))];
      }
      default: {  // random bytes, never a zero (a zero ends the C text)
        std::string word(static_cast<std::size_t>(1 + Pick(40)), ' ');
        for (char& c : word) c = static_cast<char>(1 + Pick(255));
        return word;
      }
    }
  }

  std::mt19937 random_;
};

const char* const kCommands[] = {"OPEN",   "AUTH", "START",  "CYCLE",   "STOP", "RSTRT",
                                 "WHO",    "INIT", "STIME",  "DISPLAY", "VIEW", "LIST",
                                 "UPDATE", "QUIT", "STATUS", "HELP"};

bool IsCommand(const std::string& upper) {
  for (const char* each : kCommands) {
    if (upper == each) return true;
  }
  return false;
}

TEST(RandomLinesTest, EveryLineGetsACompleteReplyAndLeavesNoHandleOpen) {
  SimulatedManager scm;
  scm.AddService("Spooler", "Print Spooler", kStateRunning).start_type = 2;
  SimulatedService& slow = scm.AddService("Slow", "Slow", kStateRunning);
  slow.stop_delay_ms = 4000;
  slow.stop_wait_hint = 1000;
  scm.AddService("Child", "Child", kStateRunning);
  scm.AddDependency("Spooler", "Child");

  LineMaker maker(20261207);
  for (int round = 0; round < 3000; ++round) {
    FakeServerContext server{scm};
    server.SetFile(server.Fields().log_pathfile, std::string(1000, 'L'));
    RecordingConnection client{"127.0.0.1"};
    RecordingConnection other{"127.0.0.2"};
    server.AddClient(&other);
    server.AddClient(&client);
    const std::vector<std::string> words = maker.Words();
    const std::string typed = words[0].substr(0, CommandLine::kWordSize - 1);
    SettledRunner commands{server};
    commands.Run(client, *MakeLine(words));

    std::string command = typed;
    for (char& c : command) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    SCOPED_TRACE("round " + std::to_string(round) + ": " + command);
    const auto& sends = client.sends();
    if (command == "QUIT") {
      EXPECT_TRUE(sends.empty());
      EXPECT_TRUE(client.IsClosed());
    } else {
      ASSERT_FALSE(sends.empty());
      EXPECT_FALSE(client.IsClosed());
      if (command == "UPDATE") {
        EXPECT_EQ(sends.back(), "Updating Service\n\r");
      } else if (command == "HELP" || command == "CYCLE" || command == "VIEW") {
        EXPECT_EQ(sends.back(), "\n\r:: ");
      } else {
        EXPECT_EQ(sends.back(), ":: ");
      }
      if (!IsCommand(command)) {
        EXPECT_EQ(sends,
                  (std::vector<std::string>{"\n\r500-Unknown command '" + typed + "'\n\r", ":: "}));
      }
      for (const std::string& send : sends) EXPECT_FALSE(send.empty());
    }
    EXPECT_EQ(scm.OpenHandleCount(), 0u);
    EXPECT_EQ(scm.BadCloseCount(), 0u);
  }
}

}  // namespace
}  // namespace halv::testing
