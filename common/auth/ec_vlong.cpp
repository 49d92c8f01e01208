// Multi-precision natural numbers in 16-bit units (see ec_vlong.h).

#include "auth/ec_vlong.h"

namespace halv::auth {
namespace {

void Normalise(vlong& v) noexcept {
  while (v.len > 0 && v.unit[v.len - 1] == 0) --v.len;
}

}  // namespace

void vl_clear(vlong& v) noexcept {
  v.len = 0;
  for (auto& u : v.unit) u = 0;
}

void vl_copy(vlong& dst, const vlong& src) noexcept { dst = src; }

void vl_set_small(vlong& v, std::uint16_t small) noexcept {
  vl_clear(v);
  v.unit[0] = small;
  v.len = small != 0 ? 1 : 0;
}

void vl_add(vlong& dst, const vlong& src) noexcept {
  const int n = dst.len > src.len ? dst.len : src.len;
  std::uint32_t carry = 0;
  int i = 0;
  for (; i < n; ++i) {
    const std::uint32_t a = i < dst.len ? dst.unit[i] : 0;
    const std::uint32_t b = i < src.len ? src.unit[i] : 0;
    const std::uint32_t sum = a + b + carry;
    dst.unit[i] = static_cast<std::uint16_t>(sum);
    carry = sum >> 16;
  }
  if (carry != 0 && i < kVlongUnits) dst.unit[i++] = static_cast<std::uint16_t>(carry);
  dst.len = static_cast<std::uint16_t>(i);
  Normalise(dst);
}

void vl_shift_left(vlong& v, int bits) noexcept {
  if (bits < 1 || bits > 16) return;
  std::uint32_t carry = 0;
  int i = 0;
  for (; i < v.len; ++i) {
    const std::uint32_t wide = (std::uint32_t{v.unit[i]} << bits) | carry;
    v.unit[i] = static_cast<std::uint16_t>(wide);
    carry = wide >> 16;
  }
  if (carry != 0 && i < kVlongUnits) v.unit[i++] = static_cast<std::uint16_t>(carry);
  v.len = static_cast<std::uint16_t>(i);
  Normalise(v);
}

void vl_mul_small(vlong& dst, const vlong& src, std::uint16_t small) noexcept {
  std::uint32_t carry = 0;
  int i = 0;
  const int n = src.len;
  for (; i < n; ++i) {
    const std::uint32_t wide = std::uint32_t{src.unit[i]} * small + carry;
    dst.unit[i] = static_cast<std::uint16_t>(wide);
    carry = wide >> 16;
  }
  if (carry != 0 && i < kVlongUnits) dst.unit[i++] = static_cast<std::uint16_t>(carry);
  for (int j = i; j < kVlongUnits; ++j) dst.unit[j] = 0;
  dst.len = static_cast<std::uint16_t>(i);
  Normalise(dst);
}

int vl_bit_length(const vlong& v) noexcept {
  for (int i = v.len - 1; i >= 0; --i) {
    std::uint16_t top = v.unit[i];
    if (top == 0) continue;
    int bits = 0;
    while (top != 0) {
      ++bits;
      top >>= 1;
    }
    return 16 * i + bits;
  }
  return 0;
}

bool vl_test_bit(const vlong& v, int i) noexcept {
  if (i < 0 || i >= 16 * v.len) return false;
  return ((v.unit[i / 16] >> (i % 16)) & 1u) != 0;
}

}  // namespace halv::auth
