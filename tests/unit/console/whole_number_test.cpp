// Conversion of stored texts to whole numbers.
#include "whole_number.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "halv_error.h"

namespace halv::console {
namespace {

TEST(StrToIntTest, AcceptsSignedDecimalAndHexadecimal) {
  const struct {
    std::string text;
    std::optional<std::int32_t> value;  // nullopt: rejected
  } cases[] = {
      {"0", 0},
      {"1", 1},
      {"30000", 30000},
      {"+7", 7},
      {"-1", -1},
      {"007", 7},
      {"  12", 12},
      {"\t12", 12},
      {"$1F", 31},
      {"0x1f", 31},
      {"0X7FFFFFFF", 2147483647},
      {"-$10", -16},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"", std::nullopt},
      {" ", std::nullopt},
      {"-", std::nullopt},
      {"$", std::nullopt},
      {"0x", std::nullopt},
      {"12 ", std::nullopt},
      {"1.5", std::nullopt},
      {"1e3", std::nullopt},
      {"12abc", std::nullopt},
      {"$1G", std::nullopt},
      {"--1", std::nullopt},
      {"yes", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("'" + c.text + "'");
    if (c.value) {
      EXPECT_EQ(StrToInt(c.text), *c.value);
      continue;
    }
    try {
      StrToInt(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), "'" + c.text + "' is not a valid integer value");
    }
  }
}

}  // namespace
}  // namespace halv::console
