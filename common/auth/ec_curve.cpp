// Affine point arithmetic on y^2 + xy = x^3 + b (see ec_curve.h).

#include "auth/ec_curve.h"

#include "auth/secure_wipe.h"

namespace halv::auth {
namespace {

constexpr std::uint16_t kBaseX[kFieldCoeffs] = {0x38CC, 0x052F, 0x2510, 0x45AA, 0x1B89, 0x4468,
                                                0x4882, 0x0D67, 0x4FEB, 0x55CE, 0x0025, 0x4CB7,
                                                0x0CC2, 0x59DC, 0x289E, 0x65E3, 0x56FD};
constexpr std::uint16_t kBaseY[kFieldCoeffs] = {0x31A7, 0x65F2, 0x18C4, 0x3412, 0x7388, 0x54C1,
                                                0x539B, 0x4A02, 0x4D07, 0x12D6, 0x7911, 0x3B5E,
                                                0x4F0E, 0x216F, 0x2BF2, 0x1974, 0x20DA};

ec_point MakeBasePoint() noexcept {
  ec_point g;
  gf_set(g.x, kBaseX, kFieldCoeffs);
  gf_set(g.y, kBaseY, kFieldCoeffs);
  return g;
}

field_elem One() noexcept {
  field_elem one;
  const std::uint16_t c = 1;
  gf_set(one, &c, 1);
  return one;
}

}  // namespace

const ec_point& ec_base_point() noexcept {
  static const ec_point g = MakeBasePoint();
  return g;
}

void ec_clear(ec_point& p) noexcept {
  gf_clear(p.x);
  gf_clear(p.y);
}

bool ec_is_infinity(const ec_point& p) noexcept { return gf_is_zero(p.x) && gf_is_zero(p.y); }

void ec_copy(ec_point& dst, const ec_point& src) noexcept { dst = src; }

bool ec_equal(const ec_point& p, const ec_point& q) noexcept {
  return gf_equal(p.x, q.x) && gf_equal(p.y, q.y);
}

void ec_double(ec_point& p) noexcept {
  // A point with x = 0 is its own negative, so twice it is infinity; so is
  // twice infinity.
  if (gf_is_zero(p.x)) {
    ec_clear(p);
    return;
  }
  field_elem lambda, t, x3;
  gf_invert(t, p.x);
  gf_mul(lambda, p.y, t);
  gf_add(lambda, lambda, p.x);  // lambda = x + y/x
  gf_square(x3, lambda);
  gf_add(x3, x3, lambda);  // x3 = lambda^2 + lambda
  gf_add(t, lambda, One());
  gf_mul(t, t, x3);  // (lambda + 1) * x3
  gf_square(p.y, p.x);
  gf_add(p.y, p.y, t);  // y3 = x^2 + (lambda + 1) * x3
  p.x = x3;
}

void ec_add(ec_point& p, const ec_point& q) noexcept {
  if (ec_is_infinity(q)) return;
  if (ec_is_infinity(p)) {
    p = q;
    return;
  }
  if (gf_equal(p.x, q.x)) {
    if (gf_equal(p.y, q.y)) {
      ec_double(p);
    } else {
      ec_clear(p);
    }
    return;
  }
  const ec_point q_copy = q;  // p and q may alias
  field_elem lambda, dx, x3, t;
  gf_add(dx, p.x, q_copy.x);
  gf_invert(dx, dx);
  gf_add(lambda, p.y, q_copy.y);
  gf_mul(lambda, lambda, dx);  // lambda = (y1 + y2) / (x1 + x2)
  gf_square(x3, lambda);
  gf_add(x3, x3, lambda);
  gf_add(x3, x3, p.x);
  gf_add(x3, x3, q_copy.x);  // x3 = lambda^2 + lambda + x1 + x2
  gf_add(t, p.x, x3);
  gf_mul(t, t, lambda);
  gf_add(t, t, x3);
  gf_add(p.y, t, p.y);  // y3 = lambda * (x1 + x3) + x3 + y1
  p.x = x3;
}

void ec_sub(ec_point& p, const ec_point& q) noexcept {
  ec_point neg = q;
  gf_add(neg.y, q.x, q.y);  // -(x, y) = (x, x + y)
  ec_add(p, neg);
}

void ec_mul(ec_point& r, const vlong& k, const ec_point& p) noexcept {
  // Signed-digit walk: with h = 3k, bit i of h differing from bit i of k
  // says whether 2^(i-1) * p is added or subtracted.
  vlong h;
  vl_mul_small(h, k, 3);
  ec_point run = p;
  ec_point acc;
  ec_clear(acc);
  const int top = vl_bit_length(h) - 1;
  for (int i = 1; i <= top; ++i) {
    const bool hi = vl_test_bit(h, i);
    const bool ki = vl_test_bit(k, i);
    if (hi && !ki) ec_add(acc, run);
    if (!hi && ki) ec_sub(acc, run);
    if (i < top) ec_double(run);
  }
  r = acc;
  secure_wipe(&h, sizeof h);
  secure_wipe(&run, sizeof run);
  secure_wipe(&acc, sizeof acc);
}

int ec_ybit(const ec_point& p) noexcept {
  if (gf_is_zero(p.x)) return 0;
  field_elem t;
  gf_invert(t, p.x);
  gf_mul(t, p.y, t);
  return gf_is_zero(t) ? 0 : (t.c[0] & 1);
}

void ec_pack(vlong& out, const ec_point& p) noexcept {
  if (gf_is_zero(p.x)) {
    vl_set_small(out, gf_is_zero(p.y) ? 0 : 1);
    return;
  }
  gf_pack(out, p.x);
  vl_shift_left(out, 1);
  vlong bit;
  vl_set_small(bit, static_cast<std::uint16_t>(ec_ybit(p)));
  vl_add(out, bit);
}

}  // namespace halv::auth
