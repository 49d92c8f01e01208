// The key generator: a SHA-1 based sequence seeded from a password.
//
// The state is a word count and 17 seed words. Seeding puts the SHA-1 words
// of the password in seed words 1..5 and sets the count to 6; each step
// increments seed word 0 and hashes the first `count` seed words, laid out
// least significant byte first. The state is secret: clear it when done.

#ifndef HALV_COMMON_AUTH_KEY_PRNG_H_
#define HALV_COMMON_AUTH_KEY_PRNG_H_

#include <cstddef>
#include <cstdint>

#include "auth/ec_vlong.h"

namespace halv::auth {

inline constexpr int kPrngSeedWords = 17;
inline constexpr int kSecretUnits = 15;

struct key_prng {
  std::uint32_t count;
  std::uint32_t seed[kPrngSeedWords];
};

// Sets every word of `p` to zero in a way the compiler cannot drop.
void prng_clear(key_prng& p) noexcept;

// Seeds `p` from `len` bytes at `text` (null allowed when len is 0).
void prng_seed(key_prng& p, const void* text, std::size_t len) noexcept;

// Takes one step and returns the first digest word H0.
std::uint32_t prng_next(key_prng& p) noexcept;

// Sets `k` to 15 units, each the low 16 bits of one step, least significant
// unit first. `k` keeps length 15 even when its top units are zero.
void prng_draw_vlong(key_prng& p, vlong& k) noexcept;

}  // namespace halv::auth

#endif  // HALV_COMMON_AUTH_KEY_PRNG_H_
