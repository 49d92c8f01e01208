// Tests of the curve: the base point and its order, group laws checked on a
// few points, the scalar multiple against repeated addition, and packing.

#include "auth/ec_curve.h"

#include <gtest/gtest.h>

#include <string>

namespace halv::auth {
namespace {

// Reads a hexadecimal number into a vlong.
vlong FromHex(const std::string& hex) {
  vlong v, digit;
  vl_clear(v);
  for (char ch : hex) {
    const int d = ch <= '9' ? ch - '0' : ch - 'a' + 10;
    vl_shift_left(v, 4);
    vl_set_small(digit, static_cast<std::uint16_t>(d));
    vl_add(v, digit);
  }
  return v;
}

vlong Small(std::uint16_t s) {
  vlong v;
  vl_set_small(v, s);
  return v;
}

// y^2 + xy == x^3 + b.
bool OnCurve(const ec_point& p) {
  field_elem lhs, rhs, t, b;
  gf_square(lhs, p.y);
  gf_mul(t, p.x, p.y);
  gf_add(lhs, lhs, t);
  gf_square(rhs, p.x);
  gf_mul(rhs, rhs, p.x);
  gf_set(b, &kCurveB, 1);
  gf_add(rhs, rhs, b);
  return gf_equal(lhs, rhs);
}

class CurveTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(tables_.ok()); }

  ec_point Mul(std::uint16_t k) {
    ec_point r;
    ec_mul(r, Small(k), ec_base_point());
    return r;
  }

  FieldTables tables_;
};

TEST_F(CurveTest, BasePointIsOnTheCurve) {
  EXPECT_TRUE(OnCurve(ec_base_point()));
  EXPECT_EQ(ec_base_point().x.len, 17);
}

TEST_F(CurveTest, OrderOfBasePointGivesInfinity) {
  const vlong n = FromHex("1026dd85081b82314691ced9bbec30547840e4bf72d8b5e0d258442bbcd31");
  ASSERT_EQ(vl_bit_length(n), 241);
  ec_point r;
  ec_mul(r, n, ec_base_point());
  EXPECT_TRUE(ec_is_infinity(r));

  // (n - 1) * G is -G, (n + 1) * G is G.
  const vlong n_minus_1 = FromHex("1026dd85081b82314691ced9bbec30547840e4bf72d8b5e0d258442bbcd30");
  ec_mul(r, n_minus_1, ec_base_point());
  ec_point neg_g;
  ec_clear(neg_g);
  ec_sub(neg_g, ec_base_point());
  EXPECT_TRUE(ec_equal(r, neg_g));
  vlong n_plus_1 = n;
  vl_add(n_plus_1, Small(1));
  ec_mul(r, n_plus_1, ec_base_point());
  EXPECT_TRUE(ec_equal(r, ec_base_point()));
}

TEST_F(CurveTest, AdditionIsAssociative) {
  const ec_point p = Mul(3), q = Mul(7), r = Mul(1000);
  ec_point left = p;  // (P + Q) + R
  ec_add(left, q);
  ec_add(left, r);
  ec_point qr = q;  // P + (Q + R)
  ec_add(qr, r);
  ec_point right = p;
  ec_add(right, qr);
  EXPECT_TRUE(ec_equal(left, right));
  EXPECT_TRUE(OnCurve(left));
  EXPECT_TRUE(ec_equal(left, Mul(1010)));
}

TEST_F(CurveTest, DoublingEqualsAddingThePointToItself) {
  // P + P through distinct-x additions only: (P + Q) + (P - Q).
  for (std::uint16_t k : {1, 2, 5, 12345}) {
    const ec_point p = Mul(k), q = Mul(99);
    ec_point doubled = p;
    ec_double(doubled);
    ec_point sum = p;
    ec_add(sum, q);
    ec_point diff = p;
    ec_sub(diff, q);
    ec_add(sum, diff);
    EXPECT_TRUE(ec_equal(doubled, sum)) << "k = " << k;
    EXPECT_TRUE(OnCurve(doubled)) << "k = " << k;
    ec_point self = p;
    ec_add(self, self);
    EXPECT_TRUE(ec_equal(self, doubled)) << "k = " << k;
  }
}

TEST_F(CurveTest, ScalarMultipleMatchesRepeatedAddition) {
  ec_point acc;
  ec_clear(acc);
  for (std::uint16_t k = 0; k <= 40; ++k) {
    EXPECT_TRUE(ec_equal(Mul(k), acc)) << "k = " << k;
    ec_add(acc, ec_base_point());
  }
}

TEST_F(CurveTest, InfinityIsNeutralAndNegationCancels) {
  const ec_point g = ec_base_point();
  ec_point inf;
  ec_clear(inf);
  ec_point r = inf;
  ec_add(r, g);
  EXPECT_TRUE(ec_equal(r, g));
  r = g;
  ec_add(r, inf);
  EXPECT_TRUE(ec_equal(r, g));
  r = g;
  ec_sub(r, g);
  EXPECT_TRUE(ec_is_infinity(r));
  ec_double(inf);
  EXPECT_TRUE(ec_is_infinity(inf));
}

TEST_F(CurveTest, PackingSpecialPoints) {
  vlong v;
  ec_point p;
  ec_clear(p);
  ec_pack(v, p);
  EXPECT_EQ(v.len, 0);  // infinity packs to 0
  const std::uint16_t one = 1;
  gf_set(p.y, &one, 1);  // x = 0, y != 0
  ec_pack(v, p);
  ASSERT_EQ(v.len, 1);
  EXPECT_EQ(v.unit[0], 1);
}

TEST_F(CurveTest, PackingCarriesTheYBit) {
  // P and -P share x; their y-bits differ, so their packings differ by one.
  const ec_point p = Mul(77);
  ec_point neg;
  ec_clear(neg);
  ec_sub(neg, p);
  EXPECT_NE(ec_ybit(p), ec_ybit(neg));
  vlong a, b;
  ec_pack(a, p);
  ec_pack(b, neg);
  ASSERT_EQ(a.len, b.len);
  EXPECT_EQ(a.unit[0] ^ b.unit[0], 1);
}

}  // namespace
}  // namespace halv::auth
