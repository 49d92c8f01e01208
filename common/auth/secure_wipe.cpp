// Wiping of secret bytes through a volatile pointer (see secure_wipe.h).

#include "auth/secure_wipe.h"

namespace halv::auth {

void secure_wipe(void* p, std::size_t size) noexcept {
  volatile unsigned char* bytes = static_cast<volatile unsigned char*>(p);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = 0;
#if defined(__GNUC__) || defined(__clang__)
  // Tell the compiler the wiped memory may be read afterwards.
  __asm__ __volatile__("" : : "r"(p) : "memory");
#endif
}

}  // namespace halv::auth
