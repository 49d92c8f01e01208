// SHA-1 (FIPS 180-1): 512-bit blocks, 80 rounds, big-endian words.

#include "auth/sha1.h"

#include <cstring>

#include "auth/secure_wipe.h"

namespace halv::auth {
namespace {

constexpr std::uint32_t Rotl(std::uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

}  // namespace

Sha1::Sha1() noexcept
    : h_{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u},
      total_bytes_(0),
      buffer_{},
      buffered_(0) {}

Sha1::~Sha1() {
  secure_wipe(h_, sizeof h_);
  secure_wipe(buffer_, sizeof buffer_);
}

void Sha1::Block(const std::uint8_t* block) noexcept {
  std::uint32_t w[80];
  for (int t = 0; t < 16; ++t) {
    w[t] = (std::uint32_t{block[4 * t]} << 24) | (std::uint32_t{block[4 * t + 1]} << 16) |
           (std::uint32_t{block[4 * t + 2]} << 8) | std::uint32_t{block[4 * t + 3]};
  }
  for (int t = 16; t < 80; ++t) w[t] = Rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

  std::uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
  for (int t = 0; t < 80; ++t) {
    std::uint32_t f, k;
    if (t < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999u;
    } else if (t < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1u;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDCu;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6u;
    }
    const std::uint32_t temp = Rotl(a, 5) + f + e + w[t] + k;
    e = d;
    d = c;
    c = Rotl(b, 30);
    b = a;
    a = temp;
  }
  h_[0] += a;
  h_[1] += b;
  h_[2] += c;
  h_[3] += d;
  h_[4] += e;
  secure_wipe(w, sizeof w);
}

void Sha1::Update(const void* data, std::size_t len) noexcept {
  const std::uint8_t* p = static_cast<const std::uint8_t*>(data);
  total_bytes_ += len;
  while (len > 0) {
    const std::size_t take = len < 64 - buffered_ ? len : 64 - buffered_;
    std::memcpy(buffer_ + buffered_, p, take);
    buffered_ += take;
    p += take;
    len -= take;
    if (buffered_ == 64) {
      Block(buffer_);
      buffered_ = 0;
    }
  }
}

Sha1Words Sha1::Final() noexcept {
  const std::uint64_t bit_length = total_bytes_ * 8;
  buffer_[buffered_++] = 0x80;
  if (buffered_ > 56) {
    std::memset(buffer_ + buffered_, 0, 64 - buffered_);
    Block(buffer_);
    buffered_ = 0;
  }
  std::memset(buffer_ + buffered_, 0, 56 - buffered_);
  for (int i = 0; i < 8; ++i) {
    buffer_[56 + i] = static_cast<std::uint8_t>(bit_length >> (56 - 8 * i));
  }
  Block(buffer_);
  buffered_ = 0;
  total_bytes_ = 0;
  secure_wipe(buffer_, sizeof buffer_);
  const Sha1Words out{h_[0], h_[1], h_[2], h_[3], h_[4]};
  secure_wipe(h_, sizeof h_);
  return out;
}

Sha1Words Sha1Digest(const void* data, std::size_t len) noexcept {
  Sha1 sha;
  sha.Update(data, len);
  return sha.Final();
}

}  // namespace halv::auth
