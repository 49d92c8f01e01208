// Each permission a command can need, checked against users whose values
// are granted ("1"), missing, or anything else. Which command needs which
// is checked with the command table (tests/unit/cmdlang).
#include "permissions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "memory_accounts.h"

namespace halv::access::testing {
namespace {

using halv::testing::MemoryAccounts;

// Every permission a command of the language can need.
const std::vector<Permission> kPermissions = {
    Permission::kNone,        Permission::kAllowList, Permission::kAllowStatus,
    Permission::kAllowStart,  Permission::kAllowStop, Permission::kAllowRestart,
    Permission::kAllowUpdate, Permission::kAdminUser,
};

const std::vector<std::string> kValueNames = {"AllowList", "AllowStatus",  "AllowStart",
                                              "AllowStop", "AllowRestart", "AllowUpdate"};

TEST(PermissionTableTest, ValueNamesAreTheConsoles) {
  EXPECT_EQ(PermissionValueName(Permission::kAllowList), "AllowList");
  EXPECT_EQ(PermissionValueName(Permission::kAllowStatus), "AllowStatus");
  EXPECT_EQ(PermissionValueName(Permission::kAllowStart), "AllowStart");
  EXPECT_EQ(PermissionValueName(Permission::kAllowStop), "AllowStop");
  EXPECT_EQ(PermissionValueName(Permission::kAllowRestart), "AllowRestart");
  EXPECT_EQ(PermissionValueName(Permission::kAllowUpdate), "AllowUpdate");
  EXPECT_EQ(PermissionValueName(Permission::kNone), "");
  EXPECT_EQ(PermissionValueName(Permission::kAdminUser), "");
}

// Every permission against a user holding exactly its value "1", a user
// whose value is missing, and users whose value is something other than "1".
TEST(PermissionTableTest, EveryPermissionAgainstGrantedMissingAndOtherValues) {
  const std::vector<std::string> not_granted = {"0",  "",   "yes", "true", " 1",
                                                "1 ", "01", "+1",  "-1",   "2"};
  for (const Permission needed : kPermissions) {
    SCOPED_TRACE(static_cast<int>(needed));
    MemoryAccounts accounts;
    // "granted" holds every permission; "missing" has a key and no values.
    for (const std::string& name : kValueNames) accounts.Set("granted", name, "1");
    accounts.Set("missing", "Auth", "abc");
    const bool open_to_all = needed == Permission::kNone;
    const bool admin_only = needed == Permission::kAdminUser;
    EXPECT_EQ(HoldsPermission(accounts, "granted", needed), !admin_only);
    EXPECT_EQ(HoldsPermission(accounts, "missing", needed), open_to_all);
    EXPECT_EQ(HoldsPermission(accounts, "nobody", needed), open_to_all);
    EXPECT_EQ(HoldsPermission(accounts, kAnonymousUser, needed), open_to_all);
    for (const std::string& value : not_granted) {
      MemoryAccounts other;
      for (const std::string& name : kValueNames) other.Set("user", name, value);
      for (const std::string& name : kValueNames) other.Set(kAdminUser, name, value);
      EXPECT_EQ(HoldsPermission(other, "user", needed), open_to_all) << "value '" << value << "'";
      // The user named Admin passes Admin's commands whatever its values say.
      EXPECT_EQ(HoldsPermission(other, kAdminUser, needed), open_to_all || admin_only)
          << "value '" << value << "'";
    }
    // Only the command's own value grants it: every other value set to "1"
    // does not.
    if (!open_to_all && !admin_only) {
      const std::string own(PermissionValueName(needed));
      MemoryAccounts others_only;
      for (const std::string& name : kValueNames)
        if (name != own) others_only.Set("user", name, "1");
      EXPECT_FALSE(HoldsPermission(others_only, "user", needed));
      others_only.Set("user", own, "1");
      EXPECT_TRUE(HoldsPermission(others_only, "user", needed));
    }
  }
}

// WHO's permission: a login as anyone but Anonymous, or AllowList exactly "1".
TEST(PermissionTableTest, LoginOrAllowListAgainstUsersAndValues) {
  const struct {
    std::string user;
    const char* allow_list;  // null: no value
    bool holds;
  } cases[] = {
      {"Anonymous", nullptr, false}, {"Anonymous", "0", false}, {"Anonymous", "yes", false},
      {"Anonymous", " 1", false},    {"Anonymous", "1", true},  {"anonymous", nullptr, true},
      {"bob", nullptr, true},        {"bob", "0", true},        {"Admin", "0", true},
  };
  for (const auto& c : cases) {
    MemoryAccounts accounts;
    accounts.Set(c.user, "Auth", "abc");
    if (c.allow_list != nullptr) accounts.Set(c.user, "AllowList", c.allow_list);
    EXPECT_EQ(HoldsPermission(accounts, c.user, Permission::kLoginOrAllowList), c.holds)
        << c.user << " " << (c.allow_list ? c.allow_list : "(none)");
  }
  EXPECT_EQ(PermissionValueName(Permission::kLoginOrAllowList), "AllowList");
  EXPECT_EQ(RefusalText("who", Permission::kLoginOrAllowList),
            "550-Permission denied: WHO needs a login or AllowList\n\r");
}

TEST(PermissionTableTest, AdminIsMatchedExactly) {
  MemoryAccounts accounts;
  for (const char* name : {"Admin", "admin", "ADMIN", "Admin ", "Administrator"})
    EXPECT_EQ(HoldsPermission(accounts, name, Permission::kAdminUser), std::string(name) == "Admin")
        << name;
}

TEST(PermissionTableTest, ValuesAreReadAtEachCheckSoChangesApplyAtOnce) {
  MemoryAccounts accounts;
  EXPECT_FALSE(HoldsPermission(accounts, "bob", Permission::kAllowStop));
  accounts.Set("bob", "AllowStop", "1");
  EXPECT_TRUE(HoldsPermission(accounts, "bob", Permission::kAllowStop));
  accounts.Set("bob", "AllowStop", "0");
  EXPECT_FALSE(HoldsPermission(accounts, "bob", Permission::kAllowStop));
  accounts.Set("bob", "AllowStop", "1");
  accounts.Remove("bob");
  EXPECT_FALSE(HoldsPermission(accounts, "bob", Permission::kAllowStop));
  EXPECT_EQ(accounts.reads(), 4);
}

TEST(PermissionTableTest, AnUnreadableValueGrantsNothing) {
  MemoryAccounts accounts;
  accounts.SetUnreadable("bob", "AllowStop");
  EXPECT_FALSE(HoldsPermission(accounts, "bob", Permission::kAllowStop));
}

TEST(PermissionTableTest, RefusalNamesTheCommandAndWhatItNeeds) {
  EXPECT_EQ(RefusalText("stop", Permission::kAllowStop),
            "550-Permission denied: STOP needs AllowStop\n\r");
  EXPECT_EQ(RefusalText("Rstrt", Permission::kAllowRestart),
            "550-Permission denied: RSTRT needs AllowRestart\n\r");
  EXPECT_EQ(RefusalText("view", Permission::kAdminUser),
            "550-Permission denied: VIEW needs the user Admin\n\r");
}

}  // namespace
}  // namespace halv::access::testing
