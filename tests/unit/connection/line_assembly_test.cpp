// Line assembly over sequences of receipts: lines in pieces, line ends in
// every form, over-long lines, zero bytes, many lines at once and telnet
// commands, each case a list of receipts and what the connection did.
#include "line_assembler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace halv {
namespace {

using Events = std::vector<std::string>;

// Records, in order, every line run ("run:" and the words joined by '|'),
// every text sent ("send:" and the text) and every log line ("log:").
class Recorder : public LineSink {
 public:
  bool ReadyForLine() override { return ready; }
  void RunCommand(const CommandLine& words) override {
    EXPECT_GE(words.WordCount, 1);
    EXPECT_FALSE(words.Word(0).empty());
    EXPECT_TRUE(words.Word(words.WordCount).empty());
    std::string text = "run:";
    for (int i = 0; i < words.WordCount; ++i) text += (i ? "|" : "") + std::string(words.Word(i));
    events.push_back(text);
  }
  void SendText(std::string_view text) override { events.push_back("send:" + std::string(text)); }
  void LogLine(const std::string& text) override { events.push_back("log:" + text); }

  Events events;
  bool ready = true;
};

// Feeds the receipts one by one, running the lines after each, and checks
// that the shared word buffer is empty after every receipt.
Events Feed(const std::vector<std::string>& receipts, bool verbose = false) {
  ClientInput input;
  CommandLine words;
  Recorder rec;
  for (const std::string& receipt : receipts) {
    input.Receive(receipt, verbose, rec);
    input.RunLines(words, rec);
    EXPECT_EQ(words.WordCount, 0);
    for (int i = 0; i < CommandLine::kMaxWords; ++i) EXPECT_EQ(words.CommandWords[i][0], '\0');
  }
  return rec.events;
}

std::vector<std::string> Bytes(const std::string& text) {
  std::vector<std::string> out;
  for (char c : text) out.emplace_back(1, c);
  return out;
}

std::string Lines(int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += "status Service" + std::to_string(i) + "\r\n";
  return out;
}

Events RunsOf(int count) {
  Events out;
  for (int i = 0; i < count; ++i) out.push_back("run:status|Service" + std::to_string(i));
  return out;
}

const std::string kPrompt = "send:\n\r:: ";
const std::string kTooLong = "send:" + std::string(kLineTooLongReply);
const std::string k512(512, 'x');
const std::string k513(513, 'x');
const std::string k600(600, 'x');

std::string S(const char* text, std::size_t size) { return std::string(text, size); }

struct Case {
  const char* name;
  std::vector<std::string> receipts;
  Events events;
};

class LineAssembly : public ::testing::TestWithParam<Case> {};

TEST_P(LineAssembly, RunsWholeLinesInOrder) {
  EXPECT_EQ(Feed(GetParam().receipts), GetParam().events);
}

INSTANTIATE_TEST_SUITE_P(
    Receipts, LineAssembly,
    ::testing::Values(
        Case{"one_line", {"status\r\n"}, {"run:status"}},
        // The name typed is the name used, however the segments fall.
        Case{"line_in_two_pieces", {"stop MSSQL", "$PROD\r\n"}, {"run:stop|MSSQL$PROD"}},
        Case{"line_in_many_pieces",
             {"st", "op  MS", "SQL", " ", "$PROD", "\r", "\n"},
             {"run:stop|MSSQL|$PROD"}},
        Case{"one_byte_at_a_time", Bytes("status Spooler\r\n"), {"run:status|Spooler"}},
        Case{"character_mode_client", {"w", "h", "o", "\r\n"}, {"run:who"}},
        Case{"unfinished_line_waits", {"who"}, {}},
        Case{"trailing_space_before_the_line_end",
             {"status Spooler \r\nstop W32Time\r\n"},
             {"run:status|Spooler", "run:stop|W32Time"}},
        Case{"crlf_split_between_receipts", {"who\r", "\nhelp\r", "\n"}, {"run:who", "run:help"}},
        Case{"lone_cr_and_lone_lf", {"a\rb\nc\r\n"}, {"run:a", "run:b", "run:c"}},
        Case{"cr_nul_is_one_line_end",
             {S("a\r\0b\r", 5), S("\0c\n", 3)},
             {"run:a", "run:b", "run:c"}},
        Case{"lf_cr_is_two_line_ends", {"a\n\r"}, {"run:a", kPrompt}},
        Case{"empty_line_gets_the_prompt", {"\r\n"}, {kPrompt}},
        Case{"blank_line_gets_the_prompt", {"   \r\n"}, {kPrompt}},
        Case{"controls_only_line_gets_the_prompt", {S("\t\0\x01 \r", 5)}, {kPrompt}},
        Case{"each_empty_line_gets_a_prompt",
             {"a\r\n\r\n", "\r\nb\r\n"},
             {"run:a", kPrompt, kPrompt, "run:b"}},
        Case{"spaces_collapse", {"start  Spooler \r\n"}, {"run:start|Spooler"}},
        Case{"tab_is_a_word_character", {"a\tb\r\n"}, {"run:a\tb"}},
        Case{"controls_trimmed_at_the_ends", {"\x01\x02 help\x03\r\n"}, {"run:help"}},
        Case{"inner_controls_kept",
             {"a\x08"
              "b\r\n"},
             {"run:a\x08"
              "b"}},
        Case{"line_of_512_runs", {k512 + "\r\n"}, {"run:" + std::string(255, 'x')}},
        Case{"line_of_513_refused", {k513 + "\r\n", "who\r\n"}, {kTooLong, "run:who"}},
        // Nothing of the long line leaks into the next one, however it arrives.
        Case{"line_of_600_refused", {k600 + "\r\nwho\r\n"}, {kTooLong, "run:who"}},
        Case{"line_of_600_in_pieces",
             {k600.substr(0, 300), k600.substr(300), " stop x\r", "\nwho\r\n"},
             {kTooLong, "run:who"}},
        Case{"long_line_waits_for_its_end", {k600, k600, "x"}, {}},
        Case{"zero_byte_drops_its_line_only", {S("hel\0p\r\nwho\r\n", 11)}, {"run:who"}},
        Case{"zero_byte_at_the_ends_is_trimmed", {S("\0help\0\r\n", 8)}, {"run:help"}},
        Case{"sixty_lines_in_one_receipt", {Lines(60)}, RunsOf(60)},
        Case{"many_lines_across_receipts",
             {Lines(30).substr(0, 401), Lines(30).substr(401)},
             RunsOf(30)},
        // Telnet: negotiation is answered and never reaches the interpreter.
        Case{"do_answered_wont_will_answered_dont",
             {"\xff\xfd\x01\xff\xfb\x1f"
              "help\r\n"},
             {"send:\xff\xfc\x01\xff\xfe\x1f", "run:help"}},
        Case{"wont_and_dont_need_no_answer", {"\xff\xfc\x01\xff\xfe\x03who\r\n"}, {"run:who"}},
        Case{"negotiation_split_across_receipts",
             {"he\xff", "\xfd", "\x03lp\r\n"},
             {"send:\xff\xfc\x03", "run:help"}},
        Case{"iac_iac_is_one_byte",
             {"a\xff\xff"
              "b\r\n"},
             {"run:a\xff"
              "b"}},
        Case{"iac_iac_split",
             {"a\xff",
              "\xff"
              "b\r\n"},
             {"run:a\xff"
              "b"}},
        Case{
            "subnegotiation_removed", {S("\xff\xfa\x18\x00xterm\xff\xf0who\r\n", 16)}, {"run:who"}},
        Case{"subnegotiation_split_with_escaped_iac",
             {"\xff\xfa\x1f", "\x01\xff\xff\x02\xff", "\xf0who\r\n"},
             {"run:who"}},
        Case{"two_byte_commands_removed", {"w\xff\xf1h\xff\xf6o\r\n"}, {"run:who"}},
        Case{"negotiation_only_receipt", {"\xff\xfb\x18"}, {"send:\xff\xfe\x18"}}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(LineAssembly, WordsAreCutToTheirSlotAndAllFit) {
  EXPECT_EQ(Feed({"start " + std::string(300, 'n') + " x\r\n"}),
            (Events{"run:start|" + std::string(255, 'n') + "|x"}));
  std::string words;
  for (int i = 0; i < 256; ++i) words += "a ";  // 512 characters, 256 words
  Events events = Feed({words + "\r\n"});
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].size(), 4 + 256 * 2 - 1);
}

// The receipt log lines stay as they were: one pair per receipt, of the
// receipt's own text (telnet commands taken out).
TEST(LineAssembly, VerboseLogLinesArePerReceipt) {
  EXPECT_EQ(Feed({" help\r\n"}, true), (Events{"log:Received buffer size is 4",
                                               "log:Receive buffer is >>help\n<<", "run:help"}));
  EXPECT_EQ(Feed({"he", "lp\r\n", "\r\n"}, true),
            (Events{"log:Received buffer size is 2", "log:Receive buffer is >>he\n<<",
                    "log:Received buffer size is 2", "log:Receive buffer is >>lp\n<<", "run:help",
                    "log:Received buffer size is 0", kPrompt}));
  EXPECT_EQ(Feed({"\xff\xfd\x01"}, true), (Events{"send:\xff\xfc\x01"}));
}

// AUTH's password never reaches the log, also when the line comes in pieces;
// the line that runs is the one that was sent.
TEST(LineAssembly, VerboseLogLinesHideAuthPasswords) {
  EXPECT_EQ(Feed({"AUTH bob bobpw\r\n"}, true),
            (Events{"log:Received buffer size is 14", "log:Receive buffer is >>AUTH bob ***\n<<",
                    "run:AUTH|bob|bobpw"}));
  EXPECT_EQ(Feed({"auth bob b", "obpw\r\nwho\r\n"}, true),
            (Events{"log:Received buffer size is 10", "log:Receive buffer is >>auth bob ***\n<<",
                    "log:Received buffer size is 9", "log:Receive buffer is >>***\\x0d\\x0awho\n<<",
                    "run:auth|bob|bobpw", "run:who"}));
  // a line begun while verbose mode was off is still an AUTH line
  ClientInput input;
  Recorder rec;
  input.Receive("AUTH bob b", false, rec);
  input.Receive("obpw\r\n", true, rec);
  EXPECT_EQ(rec.events,
            (Events{"log:Received buffer size is 4", "log:Receive buffer is >>***\n<<"}));
}

// Lines wait while the connection is not ready for them and run, in order,
// once it is; a raising command leaves the word buffer empty.
TEST(LineAssembly, LinesWaitWhileNotReady) {
  ClientInput input;
  CommandLine words;
  Recorder rec;
  rec.ready = false;
  input.Receive("a\r\nb\r\n", false, rec);
  input.RunLines(words, rec);
  EXPECT_TRUE(rec.events.empty());
  EXPECT_TRUE(input.HasInput());
  rec.ready = true;
  input.Receive("c\r\n", false, rec);
  input.RunLines(words, rec);
  EXPECT_EQ(rec.events, (Events{"run:a", "run:b", "run:c"}));
  EXPECT_FALSE(input.HasInput());

  class Raising : public Recorder {
   public:
    void RunCommand(const CommandLine& line) override {
      Recorder::RunCommand(line);
      throw std::runtime_error("send failed");
    }
  } raising;
  input.Receive("stop spooler now\r\nwho\r\n", false, raising);
  EXPECT_THROW(input.RunLines(words, raising), std::runtime_error);
  EXPECT_EQ(words.WordCount, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(words.CommandWords[i][0], '\0');
  input.RunLines(words, rec);
  EXPECT_EQ(rec.events.back(), "run:who");
}

}  // namespace
}  // namespace halv
