// Wiping of secret bytes.
//
// Secrets (the generator state, the secret number, hash contexts that saw a
// password) are overwritten before their storage is given back. A plain
// memset of an object that is about to die may be removed by the optimiser;
// secure_wipe writes through a volatile pointer so the stores always happen.

#ifndef HALV_COMMON_AUTH_SECURE_WIPE_H_
#define HALV_COMMON_AUTH_SECURE_WIPE_H_

#include <cstddef>

namespace halv::auth {

// Sets `size` bytes at `p` to zero; the stores are never elided. `p` may be
// null only when `size` is 0.
void secure_wipe(void* p, std::size_t size) noexcept;

}  // namespace halv::auth

#endif  // HALV_COMMON_AUTH_SECURE_WIPE_H_
