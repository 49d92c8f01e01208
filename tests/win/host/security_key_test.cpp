// The Security key's access rules under Wine: RestrictSecurityKey creates a
// missing Security key and its Users key with access for Administrators and
// SYSTEM only, and restricts keys that were already there, subkeys included.
#include <windows.h>
// aclapi.h and sddl.h need the types of windows.h.
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config_schema.h"
#include "install_registry.h"

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

// The allowed entries of the key's access list as "SID:full" (full: 1 when
// the mask is full control), in order; {"unreadable"} when it cannot be read.
std::vector<std::string> Grants(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL, &key) != ERROR_SUCCESS)
    return {"unreadable"};
  DWORD size = 0;
  RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
  std::vector<BYTE> buffer(size ? size : 1);
  const LONG status = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, buffer.data(), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return {"unreadable"};
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(buffer.data(), &present, &dacl, &defaulted) || !present ||
      dacl == nullptr)
    return {"no list"};
  std::vector<std::string> grants;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    char* sid = nullptr;
    ConvertSidToStringSidA(&ace->SidStart, &sid);
    grants.push_back(std::string(sid ? sid : "?") + ":" +
                     std::to_string(ace->Mask == KEY_ALL_ACCESS ? 1 : 0));
    LocalFree(sid);
  }
  return grants;
}

const std::vector<std::string> kOnlyAdministratorsAndSystem = {"S-1-5-32-544:1", "S-1-5-18:1"};

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
  EXPECT_EQ(Grants(kSecurity), kOnlyAdministratorsAndSystem);
  EXPECT_EQ(Grants(kSecurity + "\\Users"), kOnlyAdministratorsAndSystem);
  // Run again over what it made: the same.
  ASSERT_EQ(halv::RestrictSecurityKey(kSecurity), 0u);
  EXPECT_EQ(Grants(kSecurity + "\\Users"), kOnlyAdministratorsAndSystem);
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
  ASSERT_NE(Grants(kSecurity + "\\Users\\bob"), kOnlyAdministratorsAndSystem);
  ASSERT_EQ(halv::RestrictSecurityKey(kSecurity), 0u);
  for (const std::string& path :
       {kSecurity, kSecurity + "\\Default", kSecurity + "\\Users", kSecurity + "\\Users\\bob"})
    EXPECT_EQ(Grants(path), kOnlyAdministratorsAndSystem) << path;
}

}  // namespace
