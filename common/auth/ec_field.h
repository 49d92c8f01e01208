// Arithmetic in GF(2^255), the field of the curve.
//
// The field is built in two levels. GF(2^15) holds 15-bit values (bit i is
// the coefficient of x^i) modulo x^15 + x + 1; its products go through two
// 32768-entry tables, `expt` (powers of x) and `logt` (their logarithms).
// GF(2^255) holds polynomials in t of degree below 17 with GF(2^15)
// coefficients, modulo t^17 + t^3 + 1.
//
// The tables are built by gf_tables_setup and freed by gf_tables_release.
// They belong to the calling thread, and set-up/release pairs nest: only the
// release matching the first set-up frees them. Every operation below other
// than clear, copy, equality and add needs the tables of the calling thread.

#ifndef HALV_COMMON_AUTH_EC_FIELD_H_
#define HALV_COMMON_AUTH_EC_FIELD_H_

#include <cstdint>

#include "auth/ec_vlong.h"

namespace halv::auth {

inline constexpr int kFieldCoeffs = 17;            // coefficients of a reduced element
inline constexpr int kFieldStorage = 35;           // room for an unreduced product
inline constexpr std::uint16_t kGf15Log0 = 32767;  // `logt` entry marking zero

// An element: coefficient count (0 for zero, top coefficient non-zero)
// followed by the coefficients, constant term first.
struct field_elem {
  std::uint16_t len;
  std::uint16_t c[kFieldStorage];
};

// Builds `expt` and `logt` for this thread unless they exist already.
// Returns false (and builds nothing) when memory runs out.
bool gf_tables_setup() noexcept;

// Undoes one gf_tables_setup; the last one frees the tables.
void gf_tables_release() noexcept;

// The tables of the calling thread, or null when they are not set up.
const std::uint16_t* gf_expt() noexcept;
const std::uint16_t* gf_logt() noexcept;

// Keeps the tables set up for the lifetime of the object.
class FieldTables {
 public:
  FieldTables() noexcept : ok_(gf_tables_setup()) {}
  ~FieldTables() {
    if (ok_) gf_tables_release();
  }
  FieldTables(const FieldTables&) = delete;
  FieldTables& operator=(const FieldTables&) = delete;
  bool ok() const noexcept { return ok_; }

 private:
  bool ok_;
};

// GF(2^15) product and quotient (b non-zero) of 15-bit values.
std::uint16_t gf15_mul(std::uint16_t a, std::uint16_t b) noexcept;
std::uint16_t gf15_div(std::uint16_t a, std::uint16_t b) noexcept;

// Sets `a` to zero.
void gf_clear(field_elem& a) noexcept;

// dst = src.
void gf_copy(field_elem& dst, const field_elem& src) noexcept;

// True when `a` and `b` are the same element.
bool gf_equal(const field_elem& a, const field_elem& b) noexcept;

// True for the zero element.
inline bool gf_is_zero(const field_elem& a) noexcept { return a.len == 0; }

// Sets `a` from up to 17 coefficients (constant term first); higher
// coefficients count as zero. Each coefficient is masked to 15 bits.
void gf_set(field_elem& a, const std::uint16_t* coeffs, int count) noexcept;

// r = a + b. Arguments may alias.
void gf_add(field_elem& r, const field_elem& a, const field_elem& b) noexcept;

// r = a * b. Arguments may alias.
void gf_mul(field_elem& r, const field_elem& a, const field_elem& b) noexcept;

// r = a * a. Arguments may alias.
void gf_square(field_elem& r, const field_elem& a) noexcept;

// r = 1 / a. Returns false and sets r to zero when a is zero.
bool gf_invert(field_elem& r, const field_elem& a) noexcept;

// r = a / s for a non-zero GF(2^15) value s. Returns false and sets r to
// zero when s is zero.
bool gf_div_small(field_elem& r, const field_elem& a, std::uint16_t s) noexcept;

// Packs `a` into a number: c0 + c1*2^15 + ... + c16*2^240.
void gf_pack(vlong& out, const field_elem& a) noexcept;

}  // namespace halv::auth

#endif  // HALV_COMMON_AUTH_EC_FIELD_H_
