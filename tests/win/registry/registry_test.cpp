// The registry operations against Wine's registry, in a scratch key of their own.
#include "registry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

const std::string kRoot = "SOFTWARE\\HalvexaTests\\Registry";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  static void Clean() { halv::DeleteRegKeyTree("SOFTWARE\\HalvexaTests", "Registry"); }

  // Stores a value of any type, for the cases the operations themselves never write.
  static void RawSet(const std::string& key, const std::string& name, DWORD type, const void* data,
                     DWORD size) {
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &h, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(h, name.c_str(), 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    RegCloseKey(h);
  }
};

TEST_F(RegistryTest, WriteThenReadRoundTrips) {
  halv::WriteRegString(kRoot + "\\A\\B", "Port", "9010", true);
  EXPECT_EQ(halv::ReadRegString(kRoot + "\\A\\B", "Port"), "9010");
  halv::WriteRegString(kRoot + "\\A\\B", "Port", "", true);
  EXPECT_EQ(halv::ReadRegString(kRoot + "\\A\\B", "Port"), "");
}

TEST_F(RegistryTest, MissingKeyOrValueReadsEmpty) {
  EXPECT_EQ(halv::ReadRegString(kRoot + "\\Nowhere", "Port"), "");
  halv::WriteRegString(kRoot, "Other", "x", true);
  EXPECT_EQ(halv::ReadRegString(kRoot, "Port"), "");
}

TEST_F(RegistryTest, ValueTypes) {
  const char expand[] = "%SystemRoot%\\x";
  RawSet(kRoot, "Expand", REG_EXPAND_SZ, expand, sizeof expand);
  EXPECT_EQ(halv::ReadRegString(kRoot, "Expand"), "%SystemRoot%\\x");  // not expanded

  const char no_zero[] = {'9', '0', '1', '0'};
  RawSet(kRoot, "NoZero", REG_SZ, no_zero, sizeof no_zero);
  EXPECT_EQ(halv::ReadRegString(kRoot, "NoZero"), "9010");

  const DWORD dword = 9010;
  RawSet(kRoot, "Port", REG_DWORD, &dword, sizeof dword);
  try {
    halv::ReadRegString(kRoot, "Port");
    FAIL() << "a REG_DWORD was read as text";
  } catch (const halv::Error& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'Port'");
  }
  const char multi[] = "a\0b\0";
  RawSet(kRoot, "Multi", REG_MULTI_SZ, multi, sizeof multi);
  EXPECT_THROW(halv::ReadRegString(kRoot, "Multi"), halv::Error);
}

TEST_F(RegistryTest, LongValueIsReadWhole) {
  const std::string long_text(5000, 'x');
  halv::WriteRegString(kRoot, "Long", long_text, true);
  EXPECT_EQ(halv::ReadRegString(kRoot, "Long"), long_text);
}

TEST_F(RegistryTest, WriteWithoutCreateToMissingKeyFails) {
  try {
    halv::WriteRegString(kRoot + "\\Missing", "BaseDir", "c:\\x", false);
    FAIL() << "write to a missing key without the create flag succeeded";
  } catch (const halv::Error& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'BaseDir'");
  }
}

TEST_F(RegistryTest, ListsInEnumerationOrder) {
  std::vector<std::string> list = {"stale"};
  halv::ListRegSubKeys(kRoot + "\\Missing", list);
  EXPECT_TRUE(list.empty());
  list = {"stale"};
  halv::ListRegValueNames(kRoot + "\\Missing", list);
  EXPECT_TRUE(list.empty());

  halv::WriteRegString(kRoot + "\\3.5.1", "x", "1", true);
  halv::WriteRegString(kRoot + "\\3.6.0", "x", "1", true);
  halv::WriteRegString(kRoot, "AllowList", "1", true);
  halv::WriteRegString(kRoot, "AllowStop", "0", true);
  halv::ListRegSubKeys(kRoot, list);
  EXPECT_EQ(list, (std::vector<std::string>{"3.5.1", "3.6.0"}));
  halv::ListRegValueNames(kRoot, list);
  EXPECT_EQ(list, (std::vector<std::string>{"AllowList", "AllowStop"}));
}

TEST_F(RegistryTest, DeleteTreeRemovesNestedKeys) {
  halv::WriteRegString(kRoot + "\\Users\\bob", "Auth", "ab", true);
  halv::WriteRegString(kRoot + "\\Users\\bob\\Sub\\Deeper", "x", "1", true);
  halv::WriteRegString(kRoot + "\\Users\\amy", "Auth", "cd", true);
  halv::DeleteRegKeyTree(kRoot + "\\Users", "bob");
  std::vector<std::string> users;
  halv::ListRegSubKeys(kRoot + "\\Users", users);
  EXPECT_EQ(users, std::vector<std::string>{"amy"});
  // A missing key is passed over silently.
  halv::DeleteRegKeyTree(kRoot + "\\Users", "nobody");
  halv::ListRegSubKeys(kRoot + "\\Users", users);
  EXPECT_EQ(users, std::vector<std::string>{"amy"});
}

}  // namespace
