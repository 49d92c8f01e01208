// Receipts into words through the line assembly (ClientInput and
// SplitWords): trimming, prompts, line ends, word splitting, the slots.
#include "words.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "line_assembler.h"

namespace {

using Lines = std::vector<std::vector<std::string>>;

// Records what the receipts of one connection did.
class Recorder : public halv::LineSink {
 public:
  bool ReadyForLine() override { return lines.size() < stop_after; }
  void RunCommand(const halv::CommandLine& line) override {
    EXPECT_GE(line.WordCount, 1);
    EXPECT_FALSE(line.Word(0).empty());
    std::vector<std::string> words;
    for (int i = 0; i < line.WordCount; ++i) words.emplace_back(line.Word(i));
    // A slot past the count always reads as empty.
    EXPECT_TRUE(line.Word(line.WordCount).empty());
    lines.push_back(words);
  }
  void SendText(std::string_view text) override {
    if (text == "\n\r:: ") ++prompts;
  }
  void LogLine(const std::string& text) override { log.push_back(text); }
  Lines lines;
  std::vector<std::string> log;
  int prompts = 0;
  std::size_t stop_after = 1000;
};

// Takes each receipt and runs the lines it completes, as a connection does.
void Feed(halv::ClientInput& input, const std::vector<std::string>& receipts, bool verbose,
          halv::CommandLine& line, Recorder& rec) {
  for (const std::string& receipt : receipts) {
    input.Receive(receipt, verbose, rec);
    input.RunLines(line, rec);
  }
}

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
  halv::ClientInput input;
  Recorder rec;
  Feed(input, {c.receipt}, false, line, rec);
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
        Case{"only_crlf", "\r\n", {}, 1},
        // Without a line end nothing runs yet: the line waits for its end.
        Case{"only_spaces", "     ", {}, 0}, Case{"empty", "", {}, 0},
        Case{"controls_only", std::string("\t\0\x01 \r", 5), {}, 1},
        Case{"two_lines", "who\r\nhelp\r\n", {{"who"}, {"help"}}, 0},
        // A line end ends the line, whatever came before it.
        Case{"line_end_after_space_ends_the_line",
             "stop a \r\nstart b\r\n",
             {{"stop", "a"}, {"start", "b"}},
             0},
        Case{"lone_cr_and_lf", "a\rb\nc", {{"a"}, {"b"}}, 0},
        Case{"no_line_end_waits", "help", {}, 0},
        Case{"each_empty_line_gets_a_prompt", "a\r\n\r\n\r\n   b\r\n", {{"a"}, {"b"}}, 2},
        Case{"tab_is_a_word_character", "a\tb\r\n", {{"a\tb"}}, 0},
        Case{"leading_controls_trimmed", "\x01\x02 help\r\n", {{"help"}}, 0},
        Case{"inner_controls_kept",
             "a\x08"
             "b\r\n",
             {{"a\x08"
               "b"}},
             0},
        Case{"600_chars_without_line_end", k600, {}, 0},
        Case{"line_then_cut_line", "who\r\n" + k600, {{"who"}}, 0},
        // A line holding a zero byte is dropped without an answer.
        Case{"zero_byte_drops_line", std::string("help\0who\r\n", 10), {}, 0},
        Case{"zero_byte_after_line", std::string("who\r\nhel\0p\r\n", 12), {{"who"}}, 0}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// A client in character mode sends one letter a receipt: the line runs
// when its line end arrives.
TEST(Receipt, CharacterModeRunsTheLineAtItsEnd) {
  halv::CommandLine line;
  halv::ClientInput input;
  Recorder rec;
  Feed(input, {"w", "h", "o"}, false, line, rec);
  EXPECT_TRUE(rec.lines.empty());
  Feed(input, {"\r\n"}, false, line, rec);
  EXPECT_EQ(rec.lines, (Lines{{"who"}}));
}

TEST(Receipt, LongWordIsCutToItsSlot) {
  halv::CommandLine line;
  halv::ClientInput input;
  Recorder rec;
  Feed(input, {"start " + std::string(300, 'n') + " x\r\n"}, false, line, rec);
  ASSERT_EQ(rec.lines.size(), 1u);
  EXPECT_EQ(rec.lines[0], (std::vector<std::string>{"start", std::string(255, 'n'), "x"}));
}

TEST(SplitWords, AFullLineOfWordsFitsTheSlots) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += "a ";
  halv::CommandLine line;
  // 256 words in 511 characters fill every slot.
  halv::SplitWords(text.substr(0, 511), line);
  EXPECT_EQ(line.WordCount, 256);
  halv::ClearWords(line);
  // Words past the 256th are not stored.
  halv::SplitWords(text, line);
  EXPECT_EQ(line.WordCount, 256);
  EXPECT_EQ(line.Word(255), "a");
  halv::ClearWords(line);
  EXPECT_EQ(line.WordCount, 0);
  EXPECT_EQ(line.CommandWords[255][0], '\0');
}

TEST(Receipt, StopsWhenTheConnectionCloses) {
  halv::CommandLine line;
  halv::ClientInput input;
  Recorder rec;
  rec.stop_after = 1;
  Feed(input, {"quit\r\nwho\r\n"}, false, line, rec);
  EXPECT_EQ(rec.lines, (Lines{{"quit"}}));
  EXPECT_EQ(line.WordCount, 0);
}

TEST(Receipt, BufferIsEmptyAfterACommandRaises) {
  class Raising : public Recorder {
   public:
    void RunCommand(const halv::CommandLine& line) override {
      Recorder::RunCommand(line);
      throw std::runtime_error("send failed");
    }
  };
  halv::CommandLine line;
  halv::ClientInput input;
  Raising rec;
  input.Receive("stop spooler now\r\nwho\r\n", false, rec);
  EXPECT_THROW(input.RunLines(line, rec), std::runtime_error);
  EXPECT_EQ(rec.lines, (Lines{{"stop", "spooler", "now"}}));
  EXPECT_EQ(line.WordCount, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(line.CommandWords[i][0], '\0');
}

TEST(Receipt, VerboseLogsSizeAndBuffer) {
  halv::CommandLine line;
  halv::ClientInput input;
  Recorder rec;
  Feed(input, {" help\r\n"}, true, line, rec);
  EXPECT_EQ(rec.log, (std::vector<std::string>{"Received buffer size is 4",
                                               "Receive buffer is >>help\n<<"}));
  Recorder empty;
  Feed(input, {"\r\n"}, true, line, empty);
  EXPECT_EQ(empty.log, std::vector<std::string>{"Received buffer size is 0"});
  EXPECT_EQ(empty.prompts, 1);
}

// The client's own control bytes are logged escaped, so a receipt cannot
// forge log lines; the line feed the service appends stays.
TEST(Receipt, VerboseLogEscapesTheClientsControlBytes) {
  halv::CommandLine line;
  halv::ClientInput input;
  Recorder rec;
  Feed(input, {std::string("who\r\nhelp\x1b[2J\0x\\\r\n", 18)}, true, line, rec);
  ASSERT_EQ(rec.log.size(), 2u);
  EXPECT_EQ(rec.log[1], "Receive buffer is >>who\\x0d\\x0ahelp\\x1b[2J\\x00x\\\\\n<<");
}

TEST(Trim, RemovesBytesBelow33AtBothEnds) {
  EXPECT_EQ(halv::TrimControls(std::string(" \t\0a b\r\n\0", 9)), "a b");
  EXPECT_EQ(halv::TrimControls("\x7f"), "\x7f");
  EXPECT_EQ(halv::TrimControls("\x01\x1f "), "");
}

}  // namespace
