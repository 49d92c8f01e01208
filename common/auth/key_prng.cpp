// SHA-1 based key generator (see key_prng.h).

#include "auth/key_prng.h"

#include "auth/secure_wipe.h"
#include "auth/sha1.h"

namespace halv::auth {

void prng_clear(key_prng& p) noexcept { secure_wipe(&p, sizeof p); }

void prng_seed(key_prng& p, const void* text, std::size_t len) noexcept {
  Sha1Words h = Sha1Digest(text, len);
  for (int i = 0; i < 5; ++i) p.seed[1 + i] = h[i];
  p.count = 6;
  secure_wipe(h.data(), sizeof h);
}

std::uint32_t prng_next(key_prng& p) noexcept {
  ++p.seed[0];
  std::uint8_t bytes[4 * kPrngSeedWords];
  const std::uint32_t count = p.count <= kPrngSeedWords ? p.count : kPrngSeedWords;
  for (std::uint32_t i = 0; i < count; ++i) {
    for (int b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<std::uint8_t>(p.seed[i] >> (8 * b));
  }
  Sha1Words h = Sha1Digest(bytes, 4 * count);
  const std::uint32_t out = h[0];
  secure_wipe(bytes, sizeof bytes);
  secure_wipe(h.data(), sizeof h);
  return out;
}

void prng_draw_vlong(key_prng& p, vlong& k) noexcept {
  vl_clear(k);
  k.len = kSecretUnits;
  for (int i = 0; i < kSecretUnits; ++i) k.unit[i] = static_cast<std::uint16_t>(prng_next(p));
}

}  // namespace halv::auth
