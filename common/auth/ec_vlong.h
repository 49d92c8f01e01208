// Multi-precision natural numbers for the curve arithmetic.
//
// A vlong holds up to 18 units of 16 bits, least significant first, and the
// count of units in use. Results of arithmetic are normalised (top unit
// non-zero, zero has length 0); the secret number drawn by the generator is
// the one value kept at a fixed length of 15 whatever its top units are, and
// every operation accepts such an unnormalised input.

#ifndef HALV_COMMON_AUTH_EC_VLONG_H_
#define HALV_COMMON_AUTH_EC_VLONG_H_

#include <cstdint>

namespace halv::auth {

inline constexpr int kVlongUnits = 18;

struct vlong {
  std::uint16_t len;  // units in use, 0..kVlongUnits
  std::uint16_t unit[kVlongUnits];
};

// Sets `v` to zero and clears every unit.
void vl_clear(vlong& v) noexcept;

// Copies `src` into `dst`.
void vl_copy(vlong& dst, const vlong& src) noexcept;

// Sets `v` to the 16-bit value `small`.
void vl_set_small(vlong& v, std::uint16_t small) noexcept;

// dst = dst + src. A carry out of the top unit of the storage is dropped
// (never reached by the transform, whose numbers stay below 2^256).
void vl_add(vlong& dst, const vlong& src) noexcept;

// v = v << bits, for bits in 1..16; bits shifted out of the storage are
// dropped. Other shift counts leave `v` unchanged.
void vl_shift_left(vlong& v, int bits) noexcept;

// dst = src * small; the top carry is dropped as in vl_add. dst and src may
// be the same object.
void vl_mul_small(vlong& dst, const vlong& src, std::uint16_t small) noexcept;

// Number of significant bits of `v` (0 for zero).
int vl_bit_length(const vlong& v) noexcept;

// Bit `i` of `v` (0 for any i at or past the length).
bool vl_test_bit(const vlong& v, int i) noexcept;

}  // namespace halv::auth

#endif  // HALV_COMMON_AUTH_EC_VLONG_H_
