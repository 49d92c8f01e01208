// The configuration schema: the keys of this version and the reading rules.
#include "config_schema.h"

#include <gtest/gtest.h>

#include "halv_error.h"

namespace halv::config {
namespace {

TEST(ConfigSchemaTest, KeysOfTheVersion) {
  EXPECT_EQ(kSystemKey, "SOFTWARE\\Tenmark\\Halvexa Server\\3.5.1\\System");
  EXPECT_EQ(kDefaultsKey, "SOFTWARE\\Tenmark\\Halvexa Server\\3.5.1\\Security\\Default");
  EXPECT_EQ(kUsersKey, "SOFTWARE\\Tenmark\\Halvexa Server\\3.5.1\\Security\\Users");
  EXPECT_EQ(SystemKey("3.6.0"), "SOFTWARE\\Tenmark\\Halvexa Server\\3.6.0\\System");
}

TEST(ConfigSchemaTest, DefaultsAreWholeNumbersOfTheirKind) {
  for (const ValueDef& value : kSystemValues) {
    SCOPED_TRACE(value.name);
    EXPECT_EQ(FindSystemValue(value.name), &value);
    if (value.default_text != nullptr && value.kind != ValueKind::kText) {
      EXPECT_TRUE(ParseWholeNumber(value.default_text).has_value());
    }
  }
  EXPECT_EQ(FindSystemValue("Nothing"), nullptr);
  EXPECT_EQ(WholeNumber(FindSystemValue(kPort)->default_text), kDefaultPort);
  EXPECT_EQ(WholeNumber(FindSystemValue(kServiceStopTimeOut)->default_text), kDefaultStopTimeOut);
}

// The optional values have no default (absent means off) and no name of a
// value that existed before.
TEST(ConfigSchemaTest, OptionalValuesStandApart) {
  for (const ValueDef& value : kOptionalSystemValues) {
    SCOPED_TRACE(value.name);
    EXPECT_EQ(value.default_text, nullptr);
    EXPECT_EQ(FindSystemValue(value.name), nullptr);
  }
  EXPECT_STREQ(kOptionalSystemValues[0].name, "RequireAuth");
  EXPECT_STREQ(kOptionalSystemValues[5].name, "LogMaxBytes");
}

TEST(ConfigSchemaTest, NoYesIndex) {
  const struct {
    const char* text;
    int index;
  } cases[] = {{"0", 0}, {"1", 1}, {"+1", 1}, {"2", -1}, {"-1", -1}};
  for (const auto& c : cases) EXPECT_EQ(NoYesIndex(c.text), c.index) << c.text;
  EXPECT_THROW(NoYesIndex(""), Error);
  EXPECT_THROW(NoYesIndex("Yes"), Error);
  EXPECT_EQ(NoYesText(1), "1");
  EXPECT_EQ(NoYesText(-1), "-1");
}

}  // namespace
}  // namespace halv::config
