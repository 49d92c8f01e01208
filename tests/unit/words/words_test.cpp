// Receipt handling: trimming, prompts, line ends, word splitting, the window.
#include "words.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::vector<std::string>>;

// Records what one receipt did.
class Recorder : public halv::ReceiptEvents {
 public:
  void LogLine(const std::string& text) override { log.push_back(text); }
  void SendPrompt() override { ++prompts; }
  bool RunCommand(const halv::CommandLine& line) override {
    EXPECT_GE(line.WordCount, 1);
    EXPECT_FALSE(line.Word(0).empty());
    std::vector<std::string> words;
    for (int i = 0; i < line.WordCount; ++i) words.emplace_back(line.Word(i));
    // A slot past the count always reads as empty.
    EXPECT_TRUE(line.Word(line.WordCount).empty());
    lines.push_back(words);
    return lines.size() < stop_after;
  }
  Lines lines;
  std::vector<std::string> log;
  int prompts = 0;
  std::size_t stop_after = 1000;
};

struct Case {
  const char* name;
  std::string receipt;
  Lines lines;
  int prompts;
};

class ReceiptCases : public ::testing::TestWithParam<Case> {};

TEST_P(ReceiptCases, SplitsAsExpected) {
  const Case& c = GetParam();
  halv::CommandLine line;
  Recorder rec;
  halv::HandleReceipt(c.receipt, false, line, rec);
  EXPECT_EQ(rec.lines, c.lines);
  EXPECT_EQ(rec.prompts, c.prompts);
  EXPECT_TRUE(rec.log.empty());
  // The buffer is empty between receipts.
  EXPECT_EQ(line.WordCount, 0);
  for (int i = 0; i < halv::CommandLine::kMaxWords; ++i) EXPECT_TRUE(line.Word(i).empty());
}

const std::string k600(600, 'x');

INSTANTIATE_TEST_SUITE_P(
    Receipts, ReceiptCases,
    ::testing::Values(
        Case{"one_word", "status\r\n", {{"status"}}, 0},
        Case{"two_spaces", "start  Spooler \r\n", {{"start", "Spooler"}}, 0},
        Case{"only_crlf", "\r\n", {}, 1}, Case{"only_spaces", "     ", {}, 1},
        Case{"empty", "", {}, 1}, Case{"controls_only", std::string("\t\0\x01 \r", 5), {}, 1},
        Case{"two_lines", "who\r\nhelp\r\n", {{"who"}, {"help"}}, 0},
        Case{"line_end_after_space_joins",
             "stop a \r\nstart b\r\n",
             {{"stop", "a", "start", "b"}},
             0},
        Case{"lone_cr_and_lf", "a\rb\nc", {{"a"}, {"b"}, {"c"}}, 0},
        Case{"no_line_end_gets_one", "help", {{"help"}}, 0},
        Case{"empty_lines_skipped", "a\r\n\r\n\r\n   b\r\n", {{"a"}, {"b"}}, 0},
        Case{"tab_is_a_word_character", "a\tb\r\n", {{"a\tb"}}, 0},
        Case{"leading_controls_trimmed", "\x01\x02 help\r\n", {{"help"}}, 0},
        Case{"inner_controls_kept",
             "a\x08"
             "b\r\n",
             {{"a\x08"
               "b"}},
             0},
        Case{"600_chars_dropped", k600, {}, 0},
        Case{"line_then_cut_line", "who\r\n" + k600, {{"who"}}, 0},
        // After the first zero byte everything counts as zero: no line end.
        Case{"zero_byte_drops_line", std::string("help\0who\r\n", 10), {}, 0},
        Case{"zero_byte_after_line", std::string("who\r\nhel\0p\r\n", 12), {{"who"}}, 0}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(Receipt, CharacterModeRunsOneLetterCommands) {
  halv::CommandLine line;
  Recorder rec;
  for (const char* r : {"w", "h", "o"}) halv::HandleReceipt(r, false, line, rec);
  EXPECT_EQ(rec.lines, (Lines{{"w"}, {"h"}, {"o"}}));
}

TEST(Receipt, LongWordIsCutToItsSlot) {
  halv::CommandLine line;
  Recorder rec;
  halv::HandleReceipt("start " + std::string(300, 'n') + " x\r\n", false, line, rec);
  ASSERT_EQ(rec.lines.size(), 1u);
  EXPECT_EQ(rec.lines[0], (std::vector<std::string>{"start", std::string(255, 'n'), "x"}));
}

TEST(Receipt, FullWindowOfWordsFitsTheSlots) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += "a ";
  halv::CommandLine line;
  Recorder rec;
  // 256 words fill the 512-character window; the line end falls outside it.
  halv::HandleReceipt(text.substr(0, 511), false, line, rec);
  ASSERT_EQ(rec.lines.size(), 1u);
  EXPECT_EQ(rec.lines[0].size(), 256u);
}

TEST(Receipt, StopsWhenTheConnectionCloses) {
  halv::CommandLine line;
  Recorder rec;
  rec.stop_after = 1;
  halv::HandleReceipt("quit\r\nwho\r\n", false, line, rec);
  EXPECT_EQ(rec.lines, (Lines{{"quit"}}));
  EXPECT_EQ(line.WordCount, 0);
}

TEST(Receipt, BufferIsEmptyAfterACommandRaises) {
  class Raising : public Recorder {
   public:
    bool RunCommand(const halv::CommandLine& line) override {
      Recorder::RunCommand(line);
      throw std::runtime_error("send failed");
    }
  };
  halv::CommandLine line;
  Raising rec;
  EXPECT_THROW(halv::HandleReceipt("stop spooler now\r\nwho\r\n", false, line, rec),
               std::runtime_error);
  EXPECT_EQ(rec.lines, (Lines{{"stop", "spooler", "now"}}));
  EXPECT_EQ(line.WordCount, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(line.CommandWords[i][0], '\0');
}

TEST(Receipt, VerboseLogsSizeAndBuffer) {
  halv::CommandLine line;
  Recorder rec;
  halv::HandleReceipt(" help\r\n", true, line, rec);
  EXPECT_EQ(rec.log, (std::vector<std::string>{"Received buffer size is 4",
                                               "Receive buffer is >>help\n<<"}));
  Recorder empty;
  halv::HandleReceipt("\r\n", true, line, empty);
  EXPECT_EQ(empty.log, std::vector<std::string>{"Received buffer size is 0"});
  EXPECT_EQ(empty.prompts, 1);
}

// The client's own control bytes are logged escaped, so a receipt cannot
// forge log lines; the line feed the service appends stays.
TEST(Receipt, VerboseLogEscapesTheClientsControlBytes) {
  halv::CommandLine line;
  Recorder rec;
  halv::HandleReceipt(std::string("who\r\nhelp\x1b[2J\0x\\\r\n", 18), true, line, rec);
  ASSERT_EQ(rec.log.size(), 2u);
  EXPECT_EQ(rec.log[1], "Receive buffer is >>who\\x0d\\x0ahelp\\x1b[2J\\x00x\\\\\n<<");
}

TEST(Trim, RemovesBytesBelow33AtBothEnds) {
  EXPECT_EQ(halv::TrimControls(std::string(" \t\0a b\r\n\0", 9)), "a b");
  EXPECT_EQ(halv::TrimControls("\x7f"), "\x7f");
  EXPECT_EQ(halv::TrimControls("\x01\x1f "), "");
}

}  // namespace
