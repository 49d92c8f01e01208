// Absolute directories and the optional limits.
#include "config_checks.h"

#include <gtest/gtest.h>

#include <string>

#include "halv_error.h"

namespace halv::access::testing {
namespace {

TEST(ConfigChecksTest, OnlyAbsolutePathsAreAbsolute) {
  const struct {
    std::string path;
    bool absolute;
  } cases[] = {
      {"C:\\Program Files\\Halvexa", true},
      {"c:/halvexa", true},
      {"Z:\\", true},
      {"\\\\server\\share", true},
      {"\\\\server\\share\\dir", true},
      {"\\\\?\\C:\\dir", true},
      {"", false},
      {"halvexa", false},
      {"bin\\halvexa", false},
      {".\\bin", false},
      {"..\\bin", false},
      {"C:", false},
      {"C:halvexa", false},
      {"\\halvexa", false},
      {"/halvexa", false},
      {"\\\\server", false},
      {"\\\\server\\", false},
      {"\\\\\\share", false},
      {"1:\\x", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsAbsoluteWindowsPath(c.path), c.absolute) << c.path;
}

TEST(ConfigChecksTest, LimitsAreAbsentOrAWholeNumberFromOne) {
  EXPECT_EQ(ParseLimit("MaxClients", ""), std::nullopt);
  EXPECT_EQ(ParseLimit("MaxClients", "1"), 1);
  EXPECT_EQ(ParseLimit("IdleTimeout", "300"), 300);
  EXPECT_EQ(ParseLimit("LogMaxBytes", "2147483647"), 2147483647);
  const struct {
    std::string text, error;
  } bad[] = {
      {"0", "MaxClients must be 1 or more, not '0'"},
      {"-5", "MaxClients must be 1 or more, not '-5'"},
      {"ten", "'ten' is not a valid integer value"},
      {" 5", "' 5' is not a valid integer value"},
      {"2147483648", "'2147483648' is not a valid integer value"},
  };
  for (const auto& c : bad) {
    try {
      ParseLimit("MaxClients", c.text);
      ADD_FAILURE() << c.text;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), c.error);
    }
  }
}

}  // namespace
}  // namespace halv::access::testing
