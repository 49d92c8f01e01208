// Client bytes in the server log: escaped so that they cannot forge lines or
// carry terminal escapes; plain text unchanged.
#include "log_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// Each case is a connection's receipts in order and what each becomes.
TEST(LogTextTest, TheRedactorHidesAuthPasswordsAcrossReceipts) {
  const struct {
    std::vector<std::string> in, out;
  } cases[] = {
      {{"AUTH bob bobpw\r\n"}, {"AUTH bob ***\r\n"}},
      {{"auth bob my secret\r\n"}, {"auth bob ***\r\n"}},
      {{"  AuTh   bob   pw  \r\n"}, {"  AuTh   bob   ***\r\n"}},
      {{"AUTH bob\r\n"}, {"AUTH bob\r\n"}},
      {{"AUTH\r\n"}, {"AUTH\r\n"}},
      {{"AUTHX bob pw\r\n"}, {"AUTHX bob pw\r\n"}},
      {{"AUT bob pw\r\n"}, {"AUT bob pw\r\n"}},
      {{"STOP AUTH bob pw\r\n"}, {"STOP AUTH bob pw\r\n"}},
      {{"who\r\nAUTH a pw\r\nhelp x y\r\n"}, {"who\r\nAUTH a ***\r\nhelp x y\r\n"}},
      {{"AUTH a p1\nAUTH b p2\r"}, {"AUTH a ***\nAUTH b ***\r"}},
      // a line cut anywhere: no part of the password comes through
      {{"AU", "TH bob pw\r\n"}, {"AU", "TH bob ***\r\n"}},
      {{"AUTH bo", "b pw\r\n"}, {"AUTH bo", "b ***\r\n"}},
      {{"AUTH bob ", "pw\r\n"}, {"AUTH bob ", "***\r\n"}},
      {{"AUTH bob p", "w", "\r\nwho\r\n"}, {"AUTH bob ***", "***", "\r\nwho\r\n"}},
      {{"AUTH bob pw\r", "\nAUTH"}, {"AUTH bob ***\r", "\nAUTH"}},
      {{std::string("AUTH bob \x1b[2J\0x\r\n", 17)}, {"AUTH bob ***\r\n"}},
  };
  for (const auto& c : cases) {
    ReceiptRedactor redactor;
    std::vector<std::string> out;
    for (const std::string& receipt : c.in) out.push_back(redactor.Redact(receipt));
    EXPECT_EQ(out, c.out) << c.in.front();
  }
}

TEST(LogTextTest, AuditLinesEscapeWhatClientsChose) {
  EXPECT_EQ(AuditLine("bob", "127.0.0.1", "STOP Spooler"), "Audit: bob at 127.0.0.1: STOP Spooler");
  EXPECT_EQ(AuditLine("Anonymous", "::1", "AUTH x\ry failed"),
            "Audit: Anonymous at ::1: AUTH x\\x0dy failed");
}

}  // namespace
}  // namespace halv::access::testing
