// The Users tab and the user dialog: the lists, selection with the save
// question, Remove's state, adding, editing and removing users.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "auth/auth.h"
#include "console_fixture.h"
#include "user_form.h"

namespace halv::console::testing {
namespace {

const std::string kOperatorKey = kUsersKey + "\\operator";
const std::string kAbcAuth = "c5fe2077faf81cc9a762e8cd8ec5af59bdbf3d22ab4b31328503eca3e6e49258";

class UsersTest : public ConsoleTest {
 protected:
  UsersTest() {
    registry.Set(kOperatorKey, "Auth", "0ff1ce");
    registry.Set(kOperatorKey, "AllowList", "1");
    registry.Set(kOperatorKey, "AllowStart", "1");
    registry.Set(kOperatorKey, "AllowRestart", "1");
    registry.Set(kOperatorKey, "Extra", "kept");
  }

  std::vector<bool> Ticks() const {
    std::vector<bool> ticks;
    for (const auto& p : form.lvPermissions) ticks.push_back(p.checked);
    return ticks;
  }

  // The operator types into the dialog and presses OK once.
  static std::function<bool(TfrmUser&)> Type(std::string user, std::string pass,
                                             std::string confirm) {
    return [=](TfrmUser& d) {
      d.txtUser = user;
      d.txtUserChange();
      d.txtPass = pass;
      d.txtConfirm = confirm;
      if (!d.okEnabled) return false;
      if (d.OKBtnClick()) return true;
      d.CancelBtnClick();
      return false;
    };
  }
};

TEST_F(UsersTest, ListsShowEveryUserAndTheFirstUsersTicks) {
  Start();
  ASSERT_EQ(form.lvUsers.size(), 3u);
  EXPECT_EQ(form.lvUsers[2].name, "operator");
  EXPECT_EQ(form.lvUsers[2].auth, "0ff1ce");
  EXPECT_EQ(form.selectedUser, -1);
  EXPECT_FALSE(form.btnRemove.enabled);
  std::vector<std::string> names;
  for (const auto& p : form.lvPermissions) names.push_back(p.name);
  EXPECT_EQ(names, (std::vector<std::string>{"AllowList", "AllowStatus", "AllowStart", "AllowStop",
                                             "AllowRestart", "AllowUpdate"}));
  // Admin's values: AllowList "1", AllowStop "1", the rest missing.
  EXPECT_EQ(Ticks(), (std::vector<bool>{true, false, false, true, false, false}));
}

TEST_F(UsersTest, OnlyExactlyOneOfTheTwoBuiltInNamesKeepsRemoveDisabled) {
  registry.Set(kUsersKey + "\\admin", "Auth", "1");
  Start();
  const struct {
    std::string name;
    bool removable;
  } cases[] = {{"Admin", false}, {"Anonymous", false}, {"operator", true}, {"admin", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int index = -1;
    for (std::size_t i = 0; i < form.lvUsers.size(); ++i)
      if (form.lvUsers[i].name == c.name) index = static_cast<int>(i);
    ASSERT_GE(index, 0);
    form.SelectUser(index);
    EXPECT_EQ(form.btnRemove.enabled, c.removable);
    EXPECT_FALSE(form.btnApply.enabled);  // the refill is no change
  }
  form.SelectUser(-1);
  EXPECT_FALSE(form.btnRemove.enabled);
}

TEST_F(UsersTest, SelectingAUserShowsItsTicksExactlyOne) {
  registry.Set(kOperatorKey, "AllowStatus", "yes");
  registry.Set(kOperatorKey, "AllowStop", "01");
  Start();
  form.SelectUser(2);
  EXPECT_EQ(Ticks(), (std::vector<bool>{true, false, true, false, true, false}));
}

TEST_F(UsersTest, LeavingAUserWithUnsavedTicksFollowsTheAnswer) {
  const struct {
    const char* name;
    Answer answer;
    std::string admin_stop_after;  // what Admin's AllowStop holds afterwards
    bool dirty_after;
  } cases[] = {
      {"yes", Answer::kYes, "0", false},
      {"no", Answer::kNo, "1", false},
      {"cancel", Answer::kCancel, "1", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryStore store;
    Install(store, "3.5.1");
    store.Set(kOperatorKey, "AllowStart", "1");
    FakeUi box;
    TForm1 f(store, scm, box);
    f.FormCreate();
    f.FormShow();
    f.SelectUser(0);                     // Admin
    f.lvPermissions[3].checked = false;  // AllowStop
    f.lvPermissionsChange();
    box.answers = {c.answer};
    f.SelectUser(2);  // operator
    EXPECT_EQ(box.questions,
              std::vector<std::string>{"Would you like to save your changes? [YNC]"});
    EXPECT_EQ(store.Get(kUsersKey + "\\Admin", "AllowStop"), c.admin_stop_after);
    EXPECT_EQ(f.selectedUser, 2);             // the selection moves in every case
    EXPECT_TRUE(f.lvPermissions[2].checked);  // operator's ticks are shown
    EXPECT_EQ(f.dirty, c.dirty_after);
    EXPECT_EQ(f.btnApply.enabled, c.dirty_after);
    EXPECT_EQ(store.Get(kOperatorKey, "AllowStop"), "<missing>");
  }
}

TEST_F(UsersTest, AddingAUserCopiesTheSavedDefaultsAndStoresTheAuthText) {
  const struct {
    std::string user, pass;
    std::string auth;
  } cases[] = {
      {"alice", "abc", kAbcAuth},
      {"abc", "", kAbcAuth},  // an empty password stores the form of the user name
      {"bob", "Abc", auth::AuthFromPassword("Abc")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.user);
    MemoryStore store;
    Install(store, "3.5.1");
    FakeUi box;
    TForm1 f(store, scm, box);
    f.FormCreate();
    f.FormShow();
    // Unsaved Security edits do not reach the new user.
    f.cboAllowUpdate.index = 1;
    f.cboAllowUpdateChange();
    box.user_dialog = Type(c.user, c.pass, c.pass);
    f.btnAddClick();
    const std::string key = kUsersKey + "\\" + c.user;
    EXPECT_EQ(store.Get(key, "Auth"), c.auth);
    EXPECT_EQ(store.ListRegValueNames(key),
              (std::vector<std::string>{"AllowList", "AllowStatus", "AllowStart", "AllowStop",
                                        "AllowRestart", "AllowUpdate", "Auth"}));
    EXPECT_EQ(store.Get(key, "AllowList"), "1");
    EXPECT_EQ(store.Get(key, "AllowUpdate"), "0");
    ASSERT_EQ(f.lvUsers.size(), 3u);
    EXPECT_EQ(f.lvUsers[2].name, c.user);
    EXPECT_EQ(f.lvUsers[2].auth, c.auth);
    EXPECT_EQ(f.selectedUser, -1);
    EXPECT_TRUE(f.btnApply.enabled);  // the refill leaves the window changed
    EXPECT_TRUE(box.errors.empty());
  }
}

TEST_F(UsersTest, AMismatchWritesNothingAndKeepsTheDialogOpen) {
  Start();
  registry.writes.clear();
  bool first_ok = true;
  ui.user_dialog = [&](TfrmUser& d) {
    d.cbxDisable = d.cbxNoReset = true;
    d.txtUser = "carol";
    d.txtUserChange();
    d.txtPass = "secret1";
    d.txtConfirm = "secret2";
    first_ok = d.OKBtnClick();
    EXPECT_EQ(ui.notices, std::vector<std::string>{"Your password and confirmation do not match.  "
                                                   "Please re-enter your password."});
    EXPECT_EQ(d.txtPass, "");
    EXPECT_EQ(d.txtConfirm, "");
    EXPECT_TRUE(d.focusPassword);
    EXPECT_EQ(d.txtUser, "carol");
    EXPECT_EQ(form.pendingUserName, "");
    d.CancelBtnClick();
    return false;
  };
  form.btnAddClick();
  EXPECT_FALSE(first_ok);
  EXPECT_TRUE(registry.writes.empty());
  EXPECT_FALSE(registry.HasKey(kUsersKey + "\\carol"));
  EXPECT_EQ(form.lvUsers.size(), 3u);
}

TEST_F(UsersTest, TheDialogStartsEmptyAndOkNeedsAUserName) {
  Start();
  ui.user_dialog = [&](TfrmUser& d) {
    EXPECT_FALSE(d.okEnabled);
    EXPECT_EQ(d.txtUser, "");
    EXPECT_FALSE(d.cbxDisable || d.cbxForcePasswd || d.cbxNoReset);
    d.txtUser = "x";
    d.txtUserChange();
    EXPECT_TRUE(d.okEnabled);
    d.txtUser = "";
    d.txtUserChange();
    EXPECT_FALSE(d.okEnabled);
    d.cbxForcePasswd = true;
    d.CancelBtnClick();
    return false;
  };
  form.btnAddClick();
  form.Button1Click();  // shown again: cleared again
  EXPECT_EQ(ui.user_dialogs_shown, 2);
  EXPECT_EQ(form.lvUsers.size(), 3u);
}

TEST_F(UsersTest, EditingAUserResetsItsPermissionsToTheSavedDefaultsAndReplacesAuth) {
  Start();
  form.SelectUser(2);
  ui.user_dialog = Type("operator", "abc", "abc");
  form.Button1Click();
  EXPECT_EQ(registry.Get(kOperatorKey, "Auth"), kAbcAuth);
  const char* const expected[][2] = {{"AllowList", "1"},    {"AllowStatus", "1"},
                                     {"AllowStart", "0"},   {"AllowStop", "0"},
                                     {"AllowRestart", "0"}, {"AllowUpdate", "0"}};
  for (const auto& e : expected) EXPECT_EQ(registry.Get(kOperatorKey, e[0]), e[1]) << e[0];
  EXPECT_EQ(registry.Get(kOperatorKey, "Extra"), "kept");
  EXPECT_EQ(form.selectedUser, -1);
}

TEST_F(UsersTest, RemovingAUserDeletesItsWholeKeyAfterYes) {
  registry.Set(kOperatorKey + "\\Sessions\\1", "From", "127.0.0.1");
  Start();
  form.SelectUser(2);
  ASSERT_TRUE(form.btnRemove.enabled);

  ui.answers = {Answer::kNo};
  form.btnRemoveClick();
  EXPECT_TRUE(registry.HasKey(kOperatorKey));
  EXPECT_EQ(ui.questions,
            std::vector<std::string>{"Are you sure you want to remove this user? [YN]"});

  ui.answers = {Answer::kYes};
  form.btnRemoveClick();
  EXPECT_FALSE(registry.HasKey(kOperatorKey));
  EXPECT_FALSE(registry.HasKey(kOperatorKey + "\\Sessions\\1"));
  EXPECT_EQ(form.lvUsers.size(), 2u);
  EXPECT_EQ(form.selectedUser, -1);
  EXPECT_FALSE(form.btnRemove.enabled);
}

// The refill after Add or Edit leaves no user selected, so Remove is disabled
// as it is for any selection of nobody.
TEST_F(UsersTest, AddAndEditLeaveNothingSelectedAndRemoveDisabled) {
  for (const bool edit : {false, true}) {
    SCOPED_TRACE(edit ? "edit" : "add");
    Start();
    form.SelectUser(2);
    ASSERT_TRUE(form.btnRemove.enabled);
    ui.user_dialog = Type("carol", "pw", "pw");
    if (edit)
      form.Button1Click();
    else
      form.btnAddClick();
    EXPECT_EQ(form.selectedUser, -1);
    EXPECT_FALSE(form.btnRemove.enabled);
  }
}

TEST_F(UsersTest, WithNoUserLeftThePermissionListIsEmpty) {
  Start();
  for (const char* name : {"Admin", "Anonymous", "operator"}) form.RemoveUser(name);
  form.RefreshUser();
  EXPECT_TRUE(form.lvUsers.empty());
  EXPECT_TRUE(form.lvPermissions.empty());
  form.btnApplyClick();
  EXPECT_TRUE(ui.errors.empty());
}

TEST_F(UsersTest, AFailedWriteWhileAddingIsShownAndStops) {
  Start();
  registry.fail_writes = {"Auth"};
  ui.user_dialog = Type("dave", "pw", "pw");
  form.btnAddClick();
  EXPECT_EQ(ui.errors, std::vector<std::string>{"Failed to set data for 'Auth'"});
  EXPECT_EQ(registry.Get(kUsersKey + "\\dave", "AllowList"), "1");  // written before the failure
}

}  // namespace
}  // namespace halv::console::testing
