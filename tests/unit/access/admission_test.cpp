// The listener's decisions: allow-list first, then the connection limit; the
// idle time-out.
#include "admission.h"

#include <gtest/gtest.h>

#include <string>

namespace halv::access::testing {
namespace {

TEST(AdmissionTest, AllowListFirstThenTheLimit) {
  const AllowList local = ParseAllowedClients("127.0.0.1");
  const struct {
    const AllowList* allowed;
    std::optional<std::int32_t> max;
    std::string peer;
    std::size_t others;
    Admission expected;
  } cases[] = {
      {nullptr, std::nullopt, "192.0.2.1", 1000, Admission::kAccept},
      {&local, std::nullopt, "127.0.0.1", 0, Admission::kAccept},
      {&local, std::nullopt, "127.0.0.2", 0, Admission::kNotAllowed},
      {&local, std::nullopt, "", 0, Admission::kNotAllowed},
      {nullptr, 2, "192.0.2.1", 0, Admission::kAccept},
      {nullptr, 2, "192.0.2.1", 1, Admission::kAccept},
      {nullptr, 2, "192.0.2.1", 2, Admission::kTooMany},
      {nullptr, 1, "192.0.2.1", 5, Admission::kTooMany},
      {&local, 1, "127.0.0.2", 5, Admission::kNotAllowed},
      {&local, 1, "127.0.0.1", 1, Admission::kTooMany},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Admit(c.allowed, c.max, c.peer, c.others), c.expected)
        << c.peer << " with " << c.others << " others";
}

TEST(AdmissionTest, IdleAfterTheWholeTimeOut) {
  EXPECT_FALSE(IdleExpired(1000, 1000, 5));
  EXPECT_FALSE(IdleExpired(1000, 5999, 5));
  EXPECT_TRUE(IdleExpired(1000, 6000, 5));
  EXPECT_TRUE(IdleExpired(1000, 100000, 5));
  EXPECT_FALSE(IdleExpired(1000, 100000, 0));  // no time-out
  EXPECT_FALSE(IdleExpired(5000, 1000, 1));    // activity after the clock reading
}

}  // namespace
}  // namespace halv::access::testing
