// Tests of SHA-1 against the standard's examples, including messages that
// straddle the padding boundary and input fed in pieces.

#include "auth/sha1.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace halv::auth {
namespace {

std::string Hex(const Sha1Words& w) {
  std::string s;
  char buf[9];
  for (std::uint32_t v : w) {
    std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(v));
    s += buf;
  }
  return s;
}

struct Case {
  std::string message;
  const char* digest;
};

TEST(Sha1Test, KnownDigests) {
  const Case cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",  // 56 bytes: extra block
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Hex(Sha1Digest(c.message.data(), c.message.size())), c.digest)
        << "message length " << c.message.size();
  }
}

TEST(Sha1Test, PiecewiseUpdateMatchesOneShot) {
  std::string message;
  for (int i = 0; i < 300; ++i) message += static_cast<char>(i * 7 + 3);
  const Sha1Words whole = Sha1Digest(message.data(), message.size());
  for (std::size_t piece : {1u, 3u, 55u, 63u, 64u, 65u}) {
    Sha1 sha;
    for (std::size_t at = 0; at < message.size(); at += piece) {
      const std::size_t n = std::min(piece, message.size() - at);
      sha.Update(message.data() + at, n);
    }
    EXPECT_EQ(sha.Final(), whole) << "piece size " << piece;
  }
}

}  // namespace
}  // namespace halv::auth
