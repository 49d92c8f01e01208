// The password transform: the one-way stored form of a user's password.
//
// The password bytes seed the key generator, which yields a 240-bit secret
// number k; the stored form is the point k*G of the curve, packed into a
// number and written as lowercase hexadecimal (at most 64 digits). The
// transform is deterministic and keeps no state between calls; any thread
// may call it.

#ifndef HALV_COMMON_AUTH_AUTH_H_
#define HALV_COMMON_AUTH_AUTH_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace halv::auth {

// Longest stored form, without and with its terminating zero.
inline constexpr std::size_t kAuthMaxChars = 64;
inline constexpr std::size_t kAuthBufferSize = kAuthMaxChars + 1;

// Results of auth_from_password.
inline constexpr int kAuthOk = 0;
inline constexpr int kAuthBadArgument = 1;  // null pointer with a length, or buffer too small
inline constexpr int kAuthNoMemory = 2;     // the field tables could not be allocated

// Writes the stored form of the `len` bytes at `password` (null allowed when
// len is 0) to `out` as a zero-terminated text and returns kAuthOk.
// `out_size` is the size of `out` in bytes; kAuthBufferSize always suffices.
// On failure returns a non-zero code and, when out_size > 0, leaves `out`
// holding the empty text.
int auth_from_password(const char* password, std::size_t len, char* out,
                       std::size_t out_size) noexcept;

// The stored form of `password`. Throws std::bad_alloc when memory runs out.
std::string AuthFromPassword(std::string_view password);

}  // namespace halv::auth

#endif  // HALV_COMMON_AUTH_AUTH_H_
