// ScmErrorText: a few codes of the table byte for byte, the generic text for
// codes outside it, nothing for 0, and the "\n\r" ending of every text; and
// ScmErrorCodeOf, which reads a text back as the client does.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "protocol_text.h"

namespace halv {
namespace {

struct TextCase {
  std::uint32_t code;
  const char* text;
};

const TextCase kTextCases[] = {
    {0, ""},
    // From the table: the first and last entries, the ones clients meet most
    // and the one that keeps its unbalanced parenthesis.
    {3, "The service binary file could not be found.\n\r"},
    {124,
     "The InfoLevel parameter contains an unsupported value (Info may not be available for "
     "your operating system.\n\r"},
    {1051, "The service cannot be stopped because other running services are dependent on it.\n\r"},
    {1056, "An instance of the service is already running.\n\r"},
    {1060, "Service does not exist.\n\r"},
    {1062, "The service has not been started.\n\r"},
    {1115, "The system is shutting down; this function cannot be called.\n\r"},
    // Everything else: the generic text with the code in unsigned decimal.
    {2, "The specified service error is not known for error code 2.\n\r"},
    {1057, "The specified service error is not known for error code 1057.\n\r"},
    {1460, "The specified service error is not known for error code 1460.\n\r"},
    {0x80000000u, "The specified service error is not known for error code 2147483648.\n\r"},
    {0xFFFFFFFFu, "The specified service error is not known for error code 4294967295.\n\r"},
};

class ErrorTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(ErrorTextTest, ByteForByte) {
  EXPECT_EQ(ScmErrorText(GetParam().code), std::string(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Scm, ErrorTextTest, ::testing::ValuesIn(kTextCases),
                         [](const auto& info) { return "Code" + std::to_string(info.param.code); });

// Every text for a non-zero code is one line ending in LF then CR, and a
// text from the table is never the generic one.
TEST(ErrorText, EveryTextIsOneLineEndingInLfCr) {
  const std::string generic = "The specified service error is not known for error code ";
  int from_table = 0;
  for (std::uint32_t code = 1; code <= 2000; ++code) {
    SCOPED_TRACE(code);
    const std::string text = ScmErrorText(code);
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ(text.substr(text.size() - 2), "\n\r");
    EXPECT_EQ(text.find_first_of("\n\r"), text.size() - 2);
    EXPECT_NE(text.front(), ' ');
    if (text.compare(0, generic.size(), generic) == 0) {
      EXPECT_EQ(text, generic + std::to_string(code) + ".\n\r");
    } else {
      ++from_table;
    }
  }
  // The table holds a few dozen codes, all within this range.
  EXPECT_GE(from_table, 7);
  EXPECT_LT(from_table, 100);
}

// The table: 23 codes in ascending order, each text read back as its code.
TEST(ErrorText, TheTableReadsBackCodeForCode) {
  const auto entries = ScmErrorEntries();
  ASSERT_EQ(entries.size(), 23u);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(entries[i].code);
    if (i > 0) {
      EXPECT_LT(entries[i - 1].code, entries[i].code);
    }
    EXPECT_EQ(ScmErrorText(entries[i].code), std::string(entries[i].text) + "\n\r");
    std::uint32_t code = 0;
    ASSERT_TRUE(ScmErrorCodeOf(entries[i].text, &code));
    EXPECT_EQ(code, entries[i].code);
  }
}

TEST(ErrorText, TheGenericTextReadsBackOnlyWithANumberThatFits) {
  const struct {
    const char* line;
    bool read;
    std::uint32_t code;
  } cases[] = {
      {"The specified service error is not known for error code 1460.", true, 1460},
      {"The specified service error is not known for error code 4294967295.", true, 0xFFFFFFFFu},
      {"The specified service error is not known for error code 4294967296.", false, 0},
      {"The specified service error is not known for error code 99999999999.", false, 0},
      {"The specified service error is not known for error code .", false, 0},
      {"The specified service error is not known for error code 12a.", false, 0},
      {"The specified service error is not known for error code 12", false, 0},
      {"The specified service error is not known for error code ", false, 0},
      {"Service does not exist.\n\r", false, 0},  // with its line end: not a line
      {"", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    std::uint32_t code = 7;
    EXPECT_EQ(ScmErrorCodeOf(c.line, &code), c.read);
    EXPECT_EQ(code, c.read ? c.code : 7u);  // untouched when not read
  }
}

}  // namespace
}  // namespace halv
