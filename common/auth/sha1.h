// SHA-1 message digest (FIPS 180-1).
//
// Used by the password transform: once over the password, then once per
// generator step. Not meant for anything that needs collision resistance.

#ifndef HALV_COMMON_AUTH_SHA1_H_
#define HALV_COMMON_AUTH_SHA1_H_

#include <array>
#include <cstddef>
#include <cstdint>

namespace halv::auth {

// The five 32-bit words H0..H4 of a digest; word i is digest bytes 4i..4i+3
// read big-endian.
using Sha1Words = std::array<std::uint32_t, 5>;

// Incremental SHA-1. Feed bytes with Update, then call Final once. The
// destructor wipes the internal state, since it may hold password bytes.
class Sha1 {
 public:
  Sha1() noexcept;
  ~Sha1();
  Sha1(const Sha1&) = delete;
  Sha1& operator=(const Sha1&) = delete;

  // Appends `len` bytes at `data` to the message. `data` may be null when
  // `len` is 0.
  void Update(const void* data, std::size_t len) noexcept;

  // Pads the message and returns its digest as words. After Final the object
  // holds no message data; further Update calls start nothing new.
  Sha1Words Final() noexcept;

 private:
  void Block(const std::uint8_t* block) noexcept;

  std::uint32_t h_[5];
  std::uint64_t total_bytes_;
  std::uint8_t buffer_[64];
  std::size_t buffered_;
};

// Digest of `len` bytes at `data` in one call.
Sha1Words Sha1Digest(const void* data, std::size_t len) noexcept;

}  // namespace halv::auth

#endif  // HALV_COMMON_AUTH_SHA1_H_
