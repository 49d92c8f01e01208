// The permission each command needs, checked against users whose values are
// granted ("1"), missing, or anything else.
#include "permissions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "memory_accounts.h"

namespace halv::access::testing {
namespace {

using halv::testing::MemoryAccounts;

struct CommandCase {
  std::string command;
  Permission needed;
};

// Every command of the language, in its order of matching.
const std::vector<CommandCase> kCommands = {
    {"open", Permission::kNone},          {"auth", Permission::kNone},
    {"start", Permission::kAllowStart},   {"cycle", Permission::kAdminUser},
    {"stop", Permission::kAllowStop},     {"rstrt", Permission::kAllowRestart},
    {"who", Permission::kNone},           {"init", Permission::kAdminUser},
    {"stime", Permission::kNone},         {"display", Permission::kAllowList},
    {"view", Permission::kAdminUser},     {"list", Permission::kAllowList},
    {"update", Permission::kAllowUpdate}, {"quit", Permission::kNone},
    {"status", Permission::kAllowStatus}, {"help", Permission::kNone},
};

const std::vector<std::string> kValueNames = {"AllowList", "AllowStatus",  "AllowStart",
                                              "AllowStop", "AllowRestart", "AllowUpdate"};

TEST(PermissionTableTest, EachCommandNeedsItsPermissionInAnyLetterCase) {
  for (const CommandCase& c : kCommands) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(RequiredPermission(c.command), c.needed);
    EXPECT_EQ(RequiredPermission(UpperCase(c.command)), c.needed);
    std::string mixed = c.command;
    mixed[0] = static_cast<char>(mixed[0] - 'a' + 'A');
    EXPECT_EQ(RequiredPermission(mixed), c.needed);
  }
  // Words that are no command (or only part of one) need nothing: they get
  // the unknown-command reply.
  for (const char* word : {"sto", "stopp", "xyz", "", "auth2"})
    EXPECT_EQ(RequiredPermission(word), Permission::kNone) << word;
}

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

// Every command against a user holding exactly its value "1", a user whose
// value is missing, and users whose value is something other than "1".
TEST(PermissionTableTest, EveryCommandAgainstGrantedMissingAndOtherValues) {
  const std::vector<std::string> not_granted = {"0",  "",   "yes", "true", " 1",
                                                "1 ", "01", "+1",  "-1",   "2"};
  for (const CommandCase& c : kCommands) {
    SCOPED_TRACE(c.command);
    const Permission needed = RequiredPermission(c.command);
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
