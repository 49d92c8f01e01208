// Whole-number conversion of registry texts.
#include "str_to_int.h"

#include <gtest/gtest.h>

#include "halv_error.h"

namespace {

TEST(StrToInt, Accepts) {
  const std::pair<const char*, int> cases[] = {{"0", 0},
                                               {"9007", 9007},
                                               {"+5", 5},
                                               {"-1", -1},
                                               {"007", 7},
                                               {"2147483647", 2147483647},
                                               {"-2147483648", INT32_MIN}};
  for (const auto& [text, value] : cases) EXPECT_EQ(halv::TryStrToInt(text), value) << text;
}

TEST(StrToInt, Refuses) {
  for (const char* text : {"", " 1", "1 ", "1a", "+", "-", "0x10", "$10", "2147483648",
                           "-2147483649", "99999999999999999999"})
    EXPECT_FALSE(halv::TryStrToInt(text).has_value()) << text;
}

TEST(StrToInt, ErrorText) {
  try {
    halv::StrToInt("");
    FAIL();
  } catch (const halv::Error& e) {
    EXPECT_STREQ(e.what(), "'' is not a valid integer value");
  }
  try {
    halv::StrToInt("90x");
    FAIL();
  } catch (const halv::Error& e) {
    EXPECT_STREQ(e.what(), "'90x' is not a valid integer value");
  }
}

}  // namespace
