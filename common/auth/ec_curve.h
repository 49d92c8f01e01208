// Points of the curve y^2 + xy = x^3 + b over GF(2^255), b = 161.
//
// Affine points; the point at infinity is held as x = 0, y = 0. All
// operations need the field tables (see ec_field.h).

#ifndef HALV_COMMON_AUTH_EC_CURVE_H_
#define HALV_COMMON_AUTH_EC_CURVE_H_

#include <cstdint>

#include "auth/ec_field.h"
#include "auth/ec_vlong.h"

namespace halv::auth {

inline constexpr std::uint16_t kCurveB = 0x00A1;

struct ec_point {
  field_elem x;
  field_elem y;
};

// The base point G.
const ec_point& ec_base_point() noexcept;

// Sets `p` to the point at infinity.
void ec_clear(ec_point& p) noexcept;

// True for the point at infinity.
bool ec_is_infinity(const ec_point& p) noexcept;

// dst = src.
void ec_copy(ec_point& dst, const ec_point& src) noexcept;

// True when the points are equal.
bool ec_equal(const ec_point& p, const ec_point& q) noexcept;

// p = p + q. Arguments may alias.
void ec_add(ec_point& p, const ec_point& q) noexcept;

// p = p - q. Arguments may alias.
void ec_sub(ec_point& p, const ec_point& q) noexcept;

// p = 2p.
void ec_double(ec_point& p) noexcept;

// r = k * p. `k` may be unnormalised. r and p may alias.
void ec_mul(ec_point& r, const vlong& k, const ec_point& p) noexcept;

// Bit 0 of the constant coefficient of y/x; 0 when y/x is zero or x is zero.
int ec_ybit(const ec_point& p) noexcept;

// Packs `p` into a number: 2 * (packed x) + y-bit. The point at infinity
// gives 0, a point with x = 0 gives 1.
void ec_pack(vlong& out, const ec_point& p) noexcept;

}  // namespace halv::auth

#endif  // HALV_COMMON_AUTH_EC_CURVE_H_
