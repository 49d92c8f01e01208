// GF(2^255) as polynomials over GF(2^15), with table-driven GF(2^15)
// products (see ec_field.h).

#include "auth/ec_field.h"

#include <memory>
#include <new>
#include <utility>

namespace halv::auth {
namespace {

constexpr int kGf15Order = 32767;  // non-zero elements of GF(2^15)
constexpr int kTableSize = 32768;

struct Tables {
  std::unique_ptr<std::uint16_t[]> expt;
  std::unique_ptr<std::uint16_t[]> logt;
  int users = 0;
};

thread_local Tables t_tables;

void Normalise(field_elem& a) noexcept {
  while (a.len > 0 && a.c[a.len - 1] == 0) --a.len;
}

// Folds coefficients of degree 17 and up back into the element:
// t^17 = t^3 + 1, highest degree first.
void Reduce(std::uint16_t* c, int& len) noexcept {
  for (int d = len - 1; d >= kFieldCoeffs; --d) {
    const std::uint16_t v = c[d];
    if (v == 0) continue;
    c[d - kFieldCoeffs] ^= v;
    c[d - kFieldCoeffs + 3] ^= v;
    c[d] = 0;
  }
  if (len > kFieldCoeffs) len = kFieldCoeffs;
  while (len > 0 && c[len - 1] == 0) --len;
}

void Store(field_elem& r, const std::uint16_t* c, int len) noexcept {
  r.len = static_cast<std::uint16_t>(len);
  for (int i = 0; i < kFieldStorage; ++i) r.c[i] = i < len ? c[i] : 0;
}

}  // namespace

bool gf_tables_setup() noexcept {
  Tables& t = t_tables;
  if (t.expt && t.logt) {
    ++t.users;
    return true;
  }
  std::unique_ptr<std::uint16_t[]> expt(new (std::nothrow) std::uint16_t[kTableSize]);
  std::unique_ptr<std::uint16_t[]> logt(new (std::nothrow) std::uint16_t[kTableSize]);
  if (!expt || !logt) return false;
  expt[0] = 1;
  for (int i = 1; i < kTableSize; ++i) {
    unsigned v = static_cast<unsigned>(expt[i - 1]) << 1;
    if (v & 0x8000u) v ^= 0x8003u;
    expt[i] = static_cast<std::uint16_t>(v);
  }
  for (int i = 0; i < kGf15Order; ++i) logt[expt[i]] = static_cast<std::uint16_t>(i);
  logt[0] = kGf15Log0;
  t.expt = std::move(expt);
  t.logt = std::move(logt);
  t.users = 1;
  return true;
}

void gf_tables_release() noexcept {
  Tables& t = t_tables;
  if (t.users > 0 && --t.users == 0) {
    t.expt.reset();
    t.logt.reset();
  }
}

const std::uint16_t* gf_expt() noexcept { return t_tables.expt.get(); }
const std::uint16_t* gf_logt() noexcept { return t_tables.logt.get(); }

std::uint16_t gf15_mul(std::uint16_t a, std::uint16_t b) noexcept {
  if (a == 0 || b == 0) return 0;
  const Tables& t = t_tables;
  return t.expt[(t.logt[a] + t.logt[b]) % kGf15Order];
}

std::uint16_t gf15_div(std::uint16_t a, std::uint16_t b) noexcept {
  if (a == 0 || b == 0) return 0;
  const Tables& t = t_tables;
  return t.expt[(t.logt[a] + kGf15Order - t.logt[b]) % kGf15Order];
}

void gf_clear(field_elem& a) noexcept {
  a.len = 0;
  for (auto& c : a.c) c = 0;
}

void gf_copy(field_elem& dst, const field_elem& src) noexcept { dst = src; }

bool gf_equal(const field_elem& a, const field_elem& b) noexcept {
  if (a.len != b.len) return false;
  for (int i = 0; i < a.len; ++i) {
    if (a.c[i] != b.c[i]) return false;
  }
  return true;
}

void gf_set(field_elem& a, const std::uint16_t* coeffs, int count) noexcept {
  gf_clear(a);
  if (count > kFieldCoeffs) count = kFieldCoeffs;
  for (int i = 0; i < count; ++i) a.c[i] = coeffs[i] & 0x7FFFu;
  a.len = static_cast<std::uint16_t>(count < 0 ? 0 : count);
  Normalise(a);
}

void gf_add(field_elem& r, const field_elem& a, const field_elem& b) noexcept {
  std::uint16_t c[kFieldStorage] = {};
  const int len = a.len > b.len ? a.len : b.len;
  for (int i = 0; i < len; ++i) {
    c[i] = static_cast<std::uint16_t>((i < a.len ? a.c[i] : 0) ^ (i < b.len ? b.c[i] : 0));
  }
  int n = len;
  while (n > 0 && c[n - 1] == 0) --n;
  Store(r, c, n);
}

void gf_mul(field_elem& r, const field_elem& a, const field_elem& b) noexcept {
  if (a.len == 0 || b.len == 0) {
    gf_clear(r);
    return;
  }
  const std::uint16_t* expt = t_tables.expt.get();
  const std::uint16_t* logt = t_tables.logt.get();
  // Logarithms of b's coefficients, looked up once.
  std::uint16_t log_b[kFieldCoeffs];
  for (int j = 0; j < b.len; ++j) log_b[j] = logt[b.c[j]];

  std::uint16_t c[kFieldStorage] = {};
  for (int i = 0; i < a.len; ++i) {
    if (a.c[i] == 0) continue;
    const unsigned log_a = logt[a.c[i]];
    for (int j = 0; j < b.len; ++j) {
      if (log_b[j] == kGf15Log0) continue;
      c[i + j] ^= expt[(log_a + log_b[j]) % kGf15Order];
    }
  }
  int len = a.len + b.len - 1;
  Reduce(c, len);
  Store(r, c, len);
}

void gf_square(field_elem& r, const field_elem& a) noexcept {
  if (a.len == 0) {
    gf_clear(r);
    return;
  }
  const std::uint16_t* expt = t_tables.expt.get();
  const std::uint16_t* logt = t_tables.logt.get();
  // In characteristic 2 the square of a sum is the sum of the squares.
  std::uint16_t c[kFieldStorage] = {};
  for (int i = 0; i < a.len; ++i) {
    if (a.c[i] != 0) c[2 * i] = expt[(2u * logt[a.c[i]]) % kGf15Order];
  }
  int len = 2 * a.len - 1;
  Reduce(c, len);
  Store(r, c, len);
}

bool gf_invert(field_elem& r, const field_elem& a) noexcept {
  if (a.len == 0) {
    gf_clear(r);
    return false;
  }
  // Extended Euclid on polynomials, keeping b*a = f and c*a = g modulo the
  // field polynomial; it ends when f is a non-zero constant.
  constexpr int kN = kFieldCoeffs + 1;
  std::uint16_t f[kN] = {}, g[kN] = {}, b[kN] = {}, c[kN] = {};
  for (int i = 0; i < a.len; ++i) f[i] = a.c[i];
  g[0] = 1;
  g[3] = 1;
  g[kFieldCoeffs] = 1;
  b[0] = 1;
  int df = a.len - 1;
  int dg = kFieldCoeffs;
  std::uint16_t* pf = f;
  std::uint16_t* pg = g;
  std::uint16_t* pb = b;
  std::uint16_t* pc = c;
  while (df > 0) {
    if (df < dg) {
      std::swap(pf, pg);
      std::swap(pb, pc);
      std::swap(df, dg);
    }
    const int j = df - dg;
    const std::uint16_t alpha = gf15_div(pf[df], pg[dg]);
    for (int i = 0; i <= dg; ++i) pf[i + j] ^= gf15_mul(alpha, pg[i]);
    for (int i = 0; i + j < kN; ++i) pb[i + j] ^= gf15_mul(alpha, pc[i]);
    while (df >= 0 && pf[df] == 0) --df;
  }
  if (df < 0) {  // only if the field polynomial were reducible
    gf_clear(r);
    return false;
  }
  const std::uint16_t f0 = pf[0];
  std::uint16_t out[kN] = {};
  for (int i = 0; i < kN; ++i) out[i] = gf15_div(pb[i], f0);
  int len = kN;
  Reduce(out, len);
  Store(r, out, len);
  return true;
}

bool gf_div_small(field_elem& r, const field_elem& a, std::uint16_t s) noexcept {
  if (s == 0) {
    gf_clear(r);
    return false;
  }
  std::uint16_t c[kFieldStorage] = {};
  for (int i = 0; i < a.len; ++i) c[i] = gf15_div(a.c[i], s);
  Store(r, c, a.len);
  return true;
}

void gf_pack(vlong& out, const field_elem& a) noexcept {
  vl_clear(out);
  vlong coeff;
  for (int i = a.len - 1; i >= 0; --i) {
    vl_shift_left(out, 15);
    vl_set_small(coeff, a.c[i]);
    vl_add(out, coeff);
  }
}

}  // namespace halv::auth
