// Tests of the multi-precision numbers: carries across units, shifts,
// small products, bit queries and the unnormalised secret-number form.

#include "auth/ec_vlong.h"

#include <gtest/gtest.h>

namespace halv::auth {
namespace {

vlong Units(std::initializer_list<std::uint16_t> units) {
  vlong v;
  vl_clear(v);
  for (std::uint16_t u : units) v.unit[v.len++] = u;
  return v;
}

TEST(VlongTest, AddCarriesAcrossUnits) {
  vlong a = Units({0xFFFF, 0xFFFF});
  vlong one;
  vl_set_small(one, 1);
  vl_add(a, one);
  ASSERT_EQ(a.len, 3);
  EXPECT_EQ(a.unit[0], 0);
  EXPECT_EQ(a.unit[1], 0);
  EXPECT_EQ(a.unit[2], 1);
}

TEST(VlongTest, ShiftLeftMovesBitsIntoNextUnit) {
  struct Case {
    int bits;
    std::uint16_t u0, u1;
  } cases[] = {{1, 0x0002, 0x0001}, {15, 0x8000, 0x4000}, {16, 0x0000, 0x8001}};
  for (const Case& c : cases) {
    vlong v = Units({0x8001});
    vl_shift_left(v, c.bits);
    ASSERT_EQ(v.len, 2) << c.bits;
    EXPECT_EQ(v.unit[0], c.u0) << c.bits;
    EXPECT_EQ(v.unit[1], c.u1) << c.bits;
  }
}

TEST(VlongTest, MulSmallNormalisesUnnormalisedInput) {
  vlong k = Units({0x5555, 0x8000, 0, 0});  // top units zero, like a secret number
  vlong h;
  vl_mul_small(h, k, 3);
  ASSERT_EQ(h.len, 3);
  EXPECT_EQ(h.unit[0], 0xFFFF);
  EXPECT_EQ(h.unit[1], 0x8000);
  EXPECT_EQ(h.unit[2], 1);
  vl_mul_small(h, h, 0);
  EXPECT_EQ(h.len, 0);
}

TEST(VlongTest, BitLengthAndTestBit) {
  const vlong k = Units({0x0001, 0x0000, 0x0000});  // unnormalised 1
  EXPECT_EQ(vl_bit_length(k), 1);
  EXPECT_TRUE(vl_test_bit(k, 0));
  EXPECT_FALSE(vl_test_bit(k, 1));
  EXPECT_FALSE(vl_test_bit(k, 1000));
  EXPECT_FALSE(vl_test_bit(k, -1));
  const vlong v = Units({0, 0x0040});
  EXPECT_EQ(vl_bit_length(v), 23);
  EXPECT_TRUE(vl_test_bit(v, 22));
  vlong zero;
  vl_clear(zero);
  EXPECT_EQ(vl_bit_length(zero), 0);
}

}  // namespace
}  // namespace halv::auth
