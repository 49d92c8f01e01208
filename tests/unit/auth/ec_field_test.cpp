// Tests of GF(2^15) tables and GF(2^255) arithmetic: field laws on a handful
// of elements, and reductions that show a wrong field polynomial.

#include "auth/ec_field.h"

#include <gtest/gtest.h>

#include <vector>

namespace halv::auth {
namespace {

field_elem Elem(std::vector<std::uint16_t> coeffs) {
  field_elem a;
  gf_set(a, coeffs.data(), static_cast<int>(coeffs.size()));
  return a;
}

field_elem Monomial(int degree) {
  std::vector<std::uint16_t> c(degree + 1, 0);
  c[degree] = 1;
  return Elem(c);
}

class FieldTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(tables_.ok()); }

  // A handful of elements: small, sparse, dense, all 17 coefficients set.
  std::vector<field_elem> Samples() const {
    return {
        Elem({1}),
        Elem({0, 1}),
        Elem({0x7FFF}),
        Elem({0x1234, 0, 0, 0x0001}),
        Monomial(16),
        Elem({0x38CC, 0x052F, 0x2510, 0x45AA, 0x1B89, 0x4468, 0x4882, 0x0D67, 0x4FEB, 0x55CE,
              0x0025, 0x4CB7, 0x0CC2, 0x59DC, 0x289E, 0x65E3, 0x56FD}),
        Elem({0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF,
              0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF}),
    };
  }

  FieldTables tables_;
};

TEST_F(FieldTest, TablesAreExpAndLogOfX) {
  const std::uint16_t* expt = gf_expt();
  const std::uint16_t* logt = gf_logt();
  EXPECT_EQ(expt[0], 1);
  EXPECT_EQ(expt[1], 2);
  EXPECT_EQ(expt[15], 0x0003);  // x^15 = x + 1
  EXPECT_EQ(expt[32767], 1);
  EXPECT_EQ(logt[0], kGf15Log0);
  // Every non-zero value is a power of x exactly once.
  for (int i = 0; i < 32767; ++i) ASSERT_EQ(logt[expt[i]], i) << "i = " << i;
}

TEST_F(FieldTest, Gf15ProductMatchesShiftAndAdd) {
  auto slow = [](std::uint16_t a, std::uint16_t b) {
    unsigned r = 0, aa = a;
    for (int i = 0; i < 15; ++i) {
      if ((b >> i) & 1) r ^= aa;
      aa <<= 1;
      if (aa & 0x8000u) aa ^= 0x8003u;
    }
    return static_cast<std::uint16_t>(r);
  };
  const std::uint16_t values[] = {0, 1, 2, 3, 0x4000, 0x7FFF, 0x1234, 0x5A5A};
  for (std::uint16_t a : values) {
    for (std::uint16_t b : values) {
      EXPECT_EQ(gf15_mul(a, b), slow(a, b)) << a << " * " << b;
      if (b != 0) {
        EXPECT_EQ(gf15_mul(gf15_div(a, b), b), a) << a << " / " << b;
      }
    }
  }
}

TEST_F(FieldTest, ReductionUsesTheFieldPolynomial) {
  field_elem r;
  gf_mul(r, Monomial(16), Monomial(1));  // t^17 = t^3 + 1
  EXPECT_TRUE(gf_equal(r, Elem({1, 0, 0, 1})));
  gf_mul(r, Monomial(16), Monomial(16));  // t^32 = t^18 + t^15 = t^15 + t^4 + t
  EXPECT_TRUE(gf_equal(r, Elem({0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1})));
}

TEST_F(FieldTest, InverseTimesElementIsOne) {
  const field_elem one = Elem({1});
  for (const field_elem& a : Samples()) {
    field_elem inv, prod;
    ASSERT_TRUE(gf_invert(inv, a));
    gf_mul(prod, a, inv);
    EXPECT_TRUE(gf_equal(prod, one));
    EXPECT_LT(inv.len, kFieldCoeffs + 1);
  }
  field_elem zero, r;
  gf_clear(zero);
  EXPECT_FALSE(gf_invert(r, zero));
  EXPECT_TRUE(gf_is_zero(r));
}

TEST_F(FieldTest, SquareEqualsProductWithItself) {
  for (const field_elem& a : Samples()) {
    field_elem sq, prod;
    gf_square(sq, a);
    gf_mul(prod, a, a);
    EXPECT_TRUE(gf_equal(sq, prod));
  }
}

TEST_F(FieldTest, MultiplicationDistributesAndCommutes) {
  const auto s = Samples();
  for (std::size_t i = 0; i + 2 < s.size(); ++i) {
    const field_elem &a = s[i], &b = s[i + 1], &c = s[i + 2];
    field_elem bc, lhs, ab, ac, rhs, ba;
    gf_add(bc, b, c);
    gf_mul(lhs, a, bc);
    gf_mul(ab, a, b);
    gf_mul(ac, a, c);
    gf_add(rhs, ab, ac);
    EXPECT_TRUE(gf_equal(lhs, rhs));
    gf_mul(ba, b, a);
    EXPECT_TRUE(gf_equal(ab, ba));
  }
}

TEST_F(FieldTest, DivideBySmallValue) {
  for (const field_elem& a : Samples()) {
    field_elem q, back;
    ASSERT_TRUE(gf_div_small(q, a, 0x1234));
    gf_mul(back, q, Elem({0x1234}));
    EXPECT_TRUE(gf_equal(back, a));
  }
  field_elem r;
  EXPECT_FALSE(gf_div_small(r, Elem({5}), 0));
}

TEST_F(FieldTest, AddIsXorAndNormalises) {
  const field_elem a = Elem({1, 2, 3});
  field_elem r;
  gf_add(r, a, a);
  EXPECT_TRUE(gf_is_zero(r));
  gf_add(r, a, Elem({0, 0, 3}));
  EXPECT_EQ(r.len, 2);
  EXPECT_TRUE(gf_equal(r, Elem({1, 2})));
}

TEST_F(FieldTest, PackPlacesCoefficientsEvery15Bits) {
  vlong v;
  gf_pack(v, Elem({0x7FFF, 1}));  // 0x7FFF + 1 * 2^15 = 0xFFFF
  ASSERT_EQ(v.len, 1);
  EXPECT_EQ(v.unit[0], 0xFFFF);
  gf_pack(v, Monomial(16));  // 2^240: unit 15 = 1
  ASSERT_EQ(v.len, 16);
  EXPECT_EQ(v.unit[15], 1);
  EXPECT_EQ(v.unit[0], 0);
}

TEST(FieldTablesTest, NestedSetUpKeepsTablesUntilLastRelease) {
  {
    FieldTables outer;
    ASSERT_TRUE(outer.ok());
    { FieldTables inner; }
    EXPECT_NE(gf_expt(), nullptr);
  }
  EXPECT_EQ(gf_expt(), nullptr);
  EXPECT_EQ(gf_logt(), nullptr);
}

}  // namespace
}  // namespace halv::auth
