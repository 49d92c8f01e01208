// The registry store against Wine's registry, in a scratch key of its own.
// The behaviour every caller relies on runs against both the Win32 store and
// the in-memory fake, so the fake the portable tests use answers as the real
// registry does; the value types and the write without key creation run
// against the real operations alone.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "halv_error.h"
#include "memory_registry.h"
#include "win/handles.h"
#include "win/registry.h"

namespace {

using halv::RegistryStore;
using halv::WinRegistry;
using halv::testing::MemoryRegistry;

const std::string kParent = "SOFTWARE\\HalvexaTests";
const std::string kRoot = kParent + "\\Registry";

template <typename Store>
class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { store_.DeleteRegKeyTree(kParent, "Registry"); }
  void TearDown() override { store_.DeleteRegKeyTree(kParent, "Registry"); }
  Store store_;
  RegistryStore& store = store_;
};

using Stores = ::testing::Types<WinRegistry, MemoryRegistry>;
TYPED_TEST_SUITE(RegistryStoreTest, Stores);

TYPED_TEST(RegistryStoreTest, WriteThenReadRoundTrips) {
  this->store.WriteRegString(kRoot + "\\A\\B", "Port", "9010");
  EXPECT_EQ(this->store.ReadRegString(kRoot + "\\A\\B", "Port"), "9010");
  this->store.WriteRegString(kRoot + "\\A\\B", "Port", "");
  EXPECT_EQ(this->store.ReadRegString(kRoot + "\\A\\B", "Port"), "");
  // The keys above were created on the way.
  EXPECT_EQ(this->store.ListRegSubKeys(kRoot), std::vector<std::string>{"A"});
}

TYPED_TEST(RegistryStoreTest, MissingKeyOrValueReadsEmpty) {
  EXPECT_EQ(this->store.ReadRegString(kRoot + "\\Nowhere", "Port"), "");
  this->store.WriteRegString(kRoot, "Other", "x");
  EXPECT_EQ(this->store.ReadRegString(kRoot, "Port"), "");
}

TYPED_TEST(RegistryStoreTest, LongValueIsReadWhole) {
  const std::string long_text(5000, 'x');
  this->store.WriteRegString(kRoot, "Long", long_text);
  EXPECT_EQ(this->store.ReadRegString(kRoot, "Long"), long_text);
}

TYPED_TEST(RegistryStoreTest, ListsInEnumerationOrder) {
  EXPECT_TRUE(this->store.ListRegSubKeys(kRoot + "\\Missing").empty());
  EXPECT_TRUE(this->store.ListRegValueNames(kRoot + "\\Missing").empty());

  this->store.WriteRegString(kRoot + "\\3.5.1", "x", "1");
  this->store.WriteRegString(kRoot + "\\3.6.0", "x", "1");
  this->store.WriteRegString(kRoot, "AllowList", "1");
  this->store.WriteRegString(kRoot, "AllowStop", "0");
  EXPECT_EQ(this->store.ListRegSubKeys(kRoot), (std::vector<std::string>{"3.5.1", "3.6.0"}));
  EXPECT_EQ(this->store.ListRegValueNames(kRoot),
            (std::vector<std::string>{"AllowList", "AllowStop"}));
}

TYPED_TEST(RegistryStoreTest, DeleteTreeRemovesNestedKeys) {
  this->store.WriteRegString(kRoot + "\\Users\\bob", "Auth", "ab");
  this->store.WriteRegString(kRoot + "\\Users\\bob\\Sub\\Deeper", "x", "1");
  this->store.WriteRegString(kRoot + "\\Users\\amy", "Auth", "cd");
  this->store.DeleteRegKeyTree(kRoot + "\\Users", "bob");
  EXPECT_EQ(this->store.ListRegSubKeys(kRoot + "\\Users"), std::vector<std::string>{"amy"});
  EXPECT_EQ(this->store.ReadRegString(kRoot + "\\Users\\bob", "Auth"), "");
  EXPECT_EQ(this->store.ReadRegString(kRoot + "\\Users\\bob\\Sub\\Deeper", "x"), "");
  // A missing key is passed over silently.
  this->store.DeleteRegKeyTree(kRoot + "\\Users", "nobody");
  EXPECT_EQ(this->store.ListRegSubKeys(kRoot + "\\Users"), std::vector<std::string>{"amy"});
}

// The Win32 operations alone: values of every type, written past the store.
class WinRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { registry.DeleteRegKeyTree(kParent, "Registry"); }
  void TearDown() override { registry.DeleteRegKeyTree(kParent, "Registry"); }

  // Stores a value of any type, for the cases the store itself never writes.
  static void RawSet(const std::string& key, const std::string& name, DWORD type, const void* data,
                     DWORD size) {
    halv::win::RegKey h;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, h.Out(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(h.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
  }

  WinRegistry registry;
};

TEST_F(WinRegistryTest, ValueTypes) {
  const char expand[] = "%SystemRoot%\\x";
  RawSet(kRoot, "Expand", REG_EXPAND_SZ, expand, sizeof expand);
  EXPECT_EQ(registry.ReadRegString(kRoot, "Expand"), "%SystemRoot%\\x");  // not expanded

  const char no_zero[] = {'9', '0', '1', '0'};
  RawSet(kRoot, "NoZero", REG_SZ, no_zero, sizeof no_zero);
  EXPECT_EQ(registry.ReadRegString(kRoot, "NoZero"), "9010");

  const DWORD dword = 9010;
  RawSet(kRoot, "Port", REG_DWORD, &dword, sizeof dword);
  try {
    registry.ReadRegString(kRoot, "Port");
    FAIL() << "a REG_DWORD was read as text";
  } catch (const halv::Error& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'Port'");
  }
  const char multi[] = "a\0b\0";
  RawSet(kRoot, "Multi", REG_MULTI_SZ, multi, sizeof multi);
  EXPECT_THROW(registry.ReadRegString(kRoot, "Multi"), halv::Error);
}

// The fake raises the same text for its value of another type.
TEST_F(WinRegistryTest, TheFakesValueOfAnotherTypeReadsAsADwordDoes) {
  MemoryRegistry fake;
  fake.SetNonString(kRoot, "Port");
  try {
    fake.ReadRegString(kRoot, "Port");
    FAIL() << "the fake's non-string value was read as text";
  } catch (const halv::Error& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'Port'");
  }
}

TEST_F(WinRegistryTest, WriteWithoutCreateToMissingKeyFails) {
  try {
    halv::WriteRegString(kRoot + "\\Missing", "BaseDir", "c:\\x", /*create=*/false);
    FAIL() << "write to a missing key without the create flag succeeded";
  } catch (const halv::Error& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'BaseDir'");
  }
  EXPECT_TRUE(registry.ListRegSubKeys(kRoot).empty());
}

}  // namespace
