// The password transform (see auth.h).

#include "auth/auth.h"

#include <new>

#include "auth/ec_curve.h"
#include "auth/ec_field.h"
#include "auth/ec_vlong.h"
#include "auth/key_prng.h"
#include "auth/secure_wipe.h"

namespace halv::auth {

int auth_from_password(const char* password, std::size_t len, char* out,
                       std::size_t out_size) noexcept {
  if (out == nullptr || out_size == 0) return kAuthBadArgument;
  out[0] = '\0';
  if (password == nullptr && len != 0) return kAuthBadArgument;

  key_prng prng;
  prng_clear(prng);
  prng_seed(prng, password, len);
  vlong k;
  prng_draw_vlong(prng, k);
  prng_clear(prng);

  vlong packed;
  {
    FieldTables tables;
    if (!tables.ok()) {
      secure_wipe(&k, sizeof k);
      return kAuthNoMemory;
    }
    ec_point q;
    ec_mul(q, k, ec_base_point());
    ec_pack(packed, q);
  }
  secure_wipe(&k, sizeof k);

  // Four digits per unit, most significant unit first, leading zeros kept.
  const std::size_t chars = 4u * packed.len;
  if (out_size < chars + 1) return kAuthBadArgument;
  static constexpr char kDigits[] = "0123456789abcdef";
  char* p = out;
  for (int i = packed.len - 1; i >= 0; --i) {
    for (int shift = 12; shift >= 0; shift -= 4) *p++ = kDigits[(packed.unit[i] >> shift) & 0xF];
  }
  *p = '\0';
  return kAuthOk;
}

std::string AuthFromPassword(std::string_view password) {
  char buffer[kAuthBufferSize];
  const int rc = auth_from_password(password.data(), password.size(), buffer, sizeof buffer);
  if (rc == kAuthNoMemory) throw std::bad_alloc();
  return buffer;
}

}  // namespace halv::auth
