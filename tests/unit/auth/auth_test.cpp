// Tests of the password transform: the known vectors, the generator, the
// text form of the result, and the C interface's handling of bad arguments.

#include "auth/auth.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "auth/ec_curve.h"
#include "auth/ec_field.h"
#include "auth/key_prng.h"
#include "auth/sha1.h"

namespace halv::auth {
namespace {

std::string UnitsHex(const vlong& v, int units) {
  std::string s;
  char buf[5];
  for (int i = units - 1; i >= 0; --i) {
    std::snprintf(buf, sizeof buf, "%04x", v.unit[i]);
    s += buf;
  }
  return s;
}

// The packed result computed module by module, for comparison with the text.
vlong PackedThroughModules(std::string_view password) {
  key_prng p;
  prng_clear(p);
  prng_seed(p, password.data(), password.size());
  vlong k;
  prng_draw_vlong(p, k);
  FieldTables tables;
  ec_point q;
  ec_mul(q, k, ec_base_point());
  vlong packed;
  ec_pack(packed, q);
  return packed;
}

constexpr char kAbcSecret[] = "6cba90d410f93d578087db00a67795dc6bca897cba08f591131e4b52cd4b";
constexpr char kAbcAuth[] = "c5fe2077faf81cc9a762e8cd8ec5af59bdbf3d22ab4b31328503eca3e6e49258";
constexpr char kBasePointPacked[] =
    "adfb978d44f59dc198532dc012d5ce9fd6359e4414468371316a9288052f7199";

TEST(KeyPrngTest, SeedsFromSha1AndStepsOverSixWords) {
  key_prng p;
  prng_clear(p);
  prng_seed(p, "abc", 3);
  EXPECT_EQ(p.count, 6u);
  EXPECT_EQ(p.seed[0], 0u);
  const std::uint32_t abc_words[5] = {0xa9993e36, 0x4706816a, 0xba3e2571, 0x7850c26c, 0x9cd0d89d};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(p.seed[1 + i], abc_words[i]);

  // A step hashes seed words 0..5, least significant byte first.
  std::uint8_t bytes[24];
  for (int i = 0; i < 6; ++i) {
    const std::uint32_t w = i == 0 ? 1u : abc_words[i - 1];
    for (int b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<std::uint8_t>(w >> (8 * b));
  }
  const std::uint32_t first = prng_next(p);
  EXPECT_EQ(first, Sha1Digest(bytes, sizeof bytes)[0]);
  EXPECT_EQ(first & 0xFFFF, 0xcd4bu);
  EXPECT_EQ(p.seed[0], 1u);

  prng_clear(p);
  EXPECT_EQ(p.count, 0u);
  for (std::uint32_t w : p.seed) EXPECT_EQ(w, 0u);
}

TEST(KeyPrngTest, SecretNumberOfAbc) {
  key_prng p;
  prng_clear(p);
  prng_seed(p, "abc", 3);
  vlong k;
  prng_draw_vlong(p, k);
  EXPECT_EQ(k.len, kSecretUnits);
  EXPECT_EQ(UnitsHex(k, kSecretUnits), kAbcSecret);
  EXPECT_EQ(k.unit[0], 0xcd4b);
}

TEST(AuthTest, KnownTexts) { EXPECT_EQ(AuthFromPassword("abc"), kAbcAuth); }

TEST(AuthTest, SecretNumberOneGivesTheBasePoint) {
  FieldTables tables;
  vlong one;
  vl_set_small(one, 1);
  ec_point q;
  ec_mul(q, one, ec_base_point());
  EXPECT_TRUE(ec_equal(q, ec_base_point()));
  vlong packed;
  ec_pack(packed, q);
  ASSERT_EQ(packed.len, 16);
  EXPECT_EQ(UnitsHex(packed, 16), kBasePointPacked);
}

TEST(AuthTest, EmptyTextHashesZeroBytes) {
  key_prng p;
  prng_clear(p);
  prng_seed(p, nullptr, 0);
  EXPECT_EQ(p.seed[1], 0xda39a3eeu);
  EXPECT_EQ(p.seed[5], 0xafd80709u);

  const std::string empty = AuthFromPassword("");
  EXPECT_EQ(empty.size(), 64u);
  EXPECT_EQ(empty.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(empty, UnitsHex(PackedThroughModules(""), 16));
  char out[kAuthBufferSize];
  ASSERT_EQ(auth_from_password(nullptr, 0, out, sizeof out), kAuthOk);
  EXPECT_EQ(empty, out);
}

TEST(AuthTest, EveryByteCountsAndCaseMatters) {
  const std::string texts[] = {
      "abc", "ABC", "Abc", "abc ", " abc", "abc\n", std::string("a\0c", 3), "a", "",
  };
  for (std::size_t i = 0; i < std::size(texts); ++i) {
    for (std::size_t j = i + 1; j < std::size(texts); ++j) {
      EXPECT_NE(AuthFromPassword(texts[i]), AuthFromPassword(texts[j])) << i << " vs " << j;
    }
  }
  EXPECT_EQ(AuthFromPassword("Abc"), AuthFromPassword("Abc"));
}

TEST(AuthTest, LeadingZerosOfTheTopUnitAreKept) {
  // "user13" packs to a number whose top unit is 0x0745.
  const vlong packed = PackedThroughModules("user13");
  ASSERT_EQ(packed.len, 16);
  ASSERT_LT(packed.unit[15], 0x1000);
  const std::string text = AuthFromPassword("user13");
  EXPECT_EQ(text.size(), 64u);
  EXPECT_EQ(text[0], '0');
  EXPECT_EQ(text, UnitsHex(packed, 16));
}

TEST(AuthTest, ResultBelow2To240GivesAShorterText) {
  // "user53353" packs to a number of 15 units (its unit 15 is zero).
  const vlong packed = PackedThroughModules("user53353");
  ASSERT_EQ(packed.len, 15);
  const std::string text = AuthFromPassword("user53353");
  EXPECT_EQ(text.size(), 60u);
  EXPECT_EQ(text, UnitsHex(packed, 15));
}

TEST(AuthTest, OutputBufferTooSmallIsRefused) {
  char out[kAuthBufferSize];
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(auth_from_password("abc", 3, out, 64), kAuthBadArgument);  // no room for the zero
  EXPECT_EQ(out[0], '\0');
  EXPECT_EQ(out[1], 'x');  // nothing written past the first byte
  EXPECT_EQ(auth_from_password("abc", 3, out, 0), kAuthBadArgument);
  EXPECT_EQ(auth_from_password("abc", 3, nullptr, 65), kAuthBadArgument);
  EXPECT_EQ(auth_from_password(nullptr, 1, out, sizeof out), kAuthBadArgument);
  ASSERT_EQ(auth_from_password("abc", 3, out, kAuthBufferSize), kAuthOk);
  EXPECT_STREQ(out, kAbcAuth);
}

TEST(AuthTest, LeavesNoTablesBehindAndKeepsCallersTables) {
  AuthFromPassword("abc");
  EXPECT_EQ(gf_expt(), nullptr);
  FieldTables mine;
  ASSERT_TRUE(mine.ok());
  EXPECT_EQ(AuthFromPassword("abc"), kAbcAuth);
  EXPECT_NE(gf_expt(), nullptr);
}

}  // namespace
}  // namespace halv::auth
