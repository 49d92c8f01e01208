// The Security key's access rules under Wine: RestrictSecurityKey creates a
// missing Security key and its Users key with access for Administrators and
// SYSTEM only, and restricts keys that were already there, subkeys included.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config_schema.h"
#include "install_registry.h"
#include "service_harness.h"

namespace {

// A version of its own, so the test touches no installed configuration.
const std::string kVersionKey = std::string(halv::config::kProductKey) + "\\0.0.acltest";
const std::string kSecurity = kVersionKey + "\\Security";

void DeleteVersionKey() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kVersionKey.c_str()); }

bool KeyExists(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

using halv::e2e::KeyGrants;
using halv::e2e::kOnlyAdministratorsAndSystem;

class SecurityKeyTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteVersionKey(); }
  void TearDown() override { DeleteVersionKey(); }
};

TEST_F(SecurityKeyTest, AMissingKeyIsCreatedWithItsUsersKeyAlreadyRestricted) {
  ASSERT_FALSE(KeyExists(kSecurity));
  ASSERT_EQ(halv::RestrictSecurityKey(kSecurity), 0u);
  ASSERT_TRUE(KeyExists(kSecurity));
  ASSERT_TRUE(KeyExists(kSecurity + "\\Users"));
  EXPECT_EQ(KeyGrants(kSecurity), kOnlyAdministratorsAndSystem);
  EXPECT_EQ(KeyGrants(kSecurity + "\\Users"), kOnlyAdministratorsAndSystem);
  // Run again over what it made: the same.
  ASSERT_EQ(halv::RestrictSecurityKey(kSecurity), 0u);
  EXPECT_EQ(KeyGrants(kSecurity + "\\Users"), kOnlyAdministratorsAndSystem);
}

TEST_F(SecurityKeyTest, KeysThatWereThereAreRestrictedToo) {
  // Made the ordinary way, with the access list inherited from above.
  for (const std::string& path : {kSecurity + "\\Default", kSecurity + "\\Users\\bob"}) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  ASSERT_NE(KeyGrants(kSecurity + "\\Users\\bob"), kOnlyAdministratorsAndSystem);
  ASSERT_EQ(halv::RestrictSecurityKey(kSecurity), 0u);
  for (const std::string& path :
       {kSecurity, kSecurity + "\\Default", kSecurity + "\\Users", kSecurity + "\\Users\\bob"})
    EXPECT_EQ(KeyGrants(path), kOnlyAdministratorsAndSystem) << path;
}

}  // namespace
