// The console's registry keeps the accounts branch private: the restriction
// runs once per version's Security key, before the first write below it,
// and a failed restriction stops the write.
#include "secured_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "halv_error.h"
#include "memory_registry.h"

namespace halv::console::testing {
namespace {

const std::string kProduct = std::string(config::kProductKey);

TEST(SecuredStoreTest, TheSecurityKeyOfAKey) {
  const struct {
    std::string key;
    std::string security;
  } cases[] = {
      {kProduct + "\\3.5.1\\Security", kProduct + "\\3.5.1\\Security"},
      {kProduct + "\\3.5.1\\Security\\Users\\bob", kProduct + "\\3.5.1\\Security"},
      {kProduct + "\\3.5.1\\security\\Default", kProduct + "\\3.5.1\\security"},
      {kProduct + "\\2.0\\Security\\Users", kProduct + "\\2.0\\Security"},
      {kProduct + "\\3.5.1\\System", ""},
      {kProduct + "\\3.5.1\\SecurityX", ""},
      {kProduct + "\\3.5.1", ""},
      {"SOFTWARE\\Other\\3.5.1\\Security", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(SecuredStore::SecurityKeyOf(c.key), c.security) << c.key;
}

TEST(SecuredStoreTest, RestrictsBeforeTheFirstWriteBelowSecurityAndAfterEachNewKey) {
  halv::testing::MemoryRegistry registry;
  std::vector<std::string> calls;
  std::size_t writes_at_first_call = 99;
  SecuredStore store(registry, [&](const std::string& key) {
    if (calls.empty()) writes_at_first_call = registry.writes.size();
    calls.push_back(key);
  });
  const std::string v = kProduct + "\\3.5.1";
  store.WriteRegString(v + "\\System", "Port", "9007");
  EXPECT_TRUE(calls.empty());
  store.WriteRegString(v + "\\Security\\Users\\bob", "Auth", "x");
  store.WriteRegString(v + "\\Security\\Default", "AllowList", "1");
  store.WriteRegString(v + "\\SECURITY\\Users\\bob", "AllowStop", "1");
  store.WriteRegString(kProduct + "\\2.0\\Security\\Users\\eve", "Auth", "y");
  // Before the first write below each Security key, and after the first
  // write to each key (letter case aside): Users\bob, Default; 2.0's Users\eve.
  const std::string s1 = v + "\\Security";
  const std::string s2 = kProduct + "\\2.0\\Security";
  EXPECT_EQ(calls, (std::vector<std::string>{s1, s1, s1, s2, s2}));
  EXPECT_EQ(writes_at_first_call, 1u);  // only the System write came before
  EXPECT_EQ(registry.Get(v + "\\Security\\Users\\bob", "Auth"), "x");
}

TEST(SecuredStoreTest, AFailedRestrictionStopsTheWriteAndIsTriedAgain) {
  halv::testing::MemoryRegistry registry;
  int attempts = 0;
  SecuredStore store(registry, [&](const std::string&) {
    if (++attempts == 1) throw Error("Unable to limit the access");
  });
  const std::string key = kProduct + "\\3.5.1\\Security\\Users\\bob";
  EXPECT_THROW(store.WriteRegString(key, "Auth", "x"), Error);
  EXPECT_EQ(registry.Get(key, "Auth"), "<missing>");
  store.WriteRegString(key, "Auth", "x");
  EXPECT_EQ(attempts, 3);  // before and after the write that was made
  EXPECT_EQ(registry.Get(key, "Auth"), "x");
}

}  // namespace
}  // namespace halv::console::testing
