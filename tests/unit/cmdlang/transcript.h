// Helpers for the interpreter's transcript tests: building a command line
// from words, the padded fields of the tabular replies, and a fixture with a
// recording client and the simulated manager whose lines take the service's
// road (command runner, operation scheduler, the waits run to their end).
#ifndef HALV_TESTS_UNIT_CMDLANG_TRANSCRIPT_H_
#define HALV_TESTS_UNIT_CMDLANG_TRANSCRIPT_H_

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_server_context.h"
#include "interpreter.h"
#include "recording_connection.h"
#include "settled_runner.h"
#include "simulated_manager.h"
#include "words.h"

namespace halv::testing {

// A command line holding `words` (each cut to the 255 characters a slot holds).
inline std::unique_ptr<CommandLine> MakeLine(const std::vector<std::string>& words) {
  auto line = std::make_unique<CommandLine>();
  for (const std::string& word : words) {
    const std::size_t size =
        std::min(word.size(), static_cast<std::size_t>(CommandLine::kWordSize - 1));
    std::memcpy(line->CommandWords[line->WordCount], word.data(), size);
    ++line->WordCount;
  }
  return line;
}

// One blank, then `value` padded with blanks to `width` (never cut).
inline std::string Field(const std::string& value, std::size_t width) {
  std::string out = " " + value;
  if (value.size() < width) out.append(width - value.size(), ' ');
  return out;
}

inline const std::string kRuleText = std::string(80, '-') + "\n\r";

// One connected client and a server object over the simulated manager. Run
// sends one command line from the client through the command runner, lets
// any wait it starts end, and returns what the client was sent, checking
// that the manager has no handle left open.
class ManagerCommandTest : public ::testing::Test {
 protected:
  ManagerCommandTest() { server_.AddClient(&client_); }

  std::vector<std::string> Run(const std::vector<std::string>& words) {
    client_.ClearSends();
    commands_.Run(client_, *MakeLine(words));
    EXPECT_EQ(scm_.OpenHandleCount(), 0u);
    return client_.sends();
  }

  SimulatedManager scm_;
  FakeServerContext server_{scm_};
  RecordingConnection client_;
  SettledRunner commands_{server_};
};

}  // namespace halv::testing

#endif  // HALV_TESTS_UNIT_CMDLANG_TRANSCRIPT_H_
