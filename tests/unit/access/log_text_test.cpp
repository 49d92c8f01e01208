// Client bytes in the server log: escaped so that they cannot forge lines or
// carry terminal escapes; plain text unchanged.
#include "log_text.h"

#include <gtest/gtest.h>

#include <string>

namespace halv::access::testing {
namespace {

TEST(LogTextTest, ControlBytesAreEscapedPlainTextIsNot) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"help", "help"},
      {"status Spooler", "status Spooler"},
      {"who\r\nhelp", "who\\x0d\\x0ahelp"},
      {"\x1b[2J", "\\x1b[2J"},
      {std::string("a\0b", 3), "a\\x00b"},
      {"a\tb", "a\\x09b"},
      {"\x7f", "\\x7f"},
      {"\x80\x9b\xff", "\\x80\\x9b\\xff"},
      {"C:\\x1b", "C:\\\\x1b"},  // a typed backslash cannot pass for an escape
      {" ~!", " ~!"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeClientBytes(c.in), c.out) << c.out;
}

TEST(LogTextTest, TheReceiptLineKeepsTheOneLineFeedOfTheService) {
  EXPECT_EQ(ReceiptLogLine("help"), "Receive buffer is >>help\n<<");
  EXPECT_EQ(ReceiptLogLine("a\r\nDate Status: forged"),
            "Receive buffer is >>a\\x0d\\x0aDate Status: forged\n<<");
}

TEST(LogTextTest, AuditLinesEscapeWhatClientsChose) {
  EXPECT_EQ(AuditLine("bob", "127.0.0.1", "STOP Spooler"), "Audit: bob at 127.0.0.1: STOP Spooler");
  EXPECT_EQ(AuditLine("Anonymous", "::1", "AUTH x\ry failed"),
            "Audit: Anonymous at ::1: AUTH x\\x0dy failed");
}

}  // namespace
}  // namespace halv::access::testing
