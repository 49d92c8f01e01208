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

TEST_F(UsersTest, DisableAccountIsStoredAsTheServiceReadsIt) {
  // Ticked: "1". Not ticked: nothing for a new user, "0" over a value that
  // disables, the value left alone when it already enables.
  const struct {
    const char* before;  // the user's Disabled value before; nullptr: none
    bool ticked;
    const char* after;  // nullptr: still none
  } cases[] = {
      {nullptr, true, "1"}, {nullptr, false, nullptr}, {"1", false, "0"},
      {"yes", false, "0"},  {"0", false, "0"},         {"0", true, "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.before ? c.before : "(none)") + (c.ticked ? " ticked" : ""));
    MemoryStore store;
    Install(store, "3.5.1");
    const std::string key = kUsersKey + "\\erin";
    if (c.before != nullptr) store.Set(key, "Disabled", c.before);
    FakeUi box;
    TForm1 f(store, scm, box);
    f.FormCreate();
    f.FormShow();
    box.answers = {Answer::kYes};  // replacing an existing user is confirmed
    box.user_dialog = [&](TfrmUser& d) {
      d.cbxDisable = c.ticked;
      return Type("erin", "pw", "pw")(d);
    };
    f.btnAddClick();
    EXPECT_EQ(store.Get(key, "Disabled"), c.after ? c.after : "<missing>");
    EXPECT_EQ(store.Get(key, "Auth"), auth::AuthFromPassword("pw"));
    EXPECT_TRUE(box.errors.empty());
  }
}

TEST_F(UsersTest, AMismatchWritesNothingAndKeepsTheDialogOpen) {
  Start();
  registry.writes.clear();
  bool first_ok = true;
  ui.user_dialog = [&](TfrmUser& d) {
    d.cbxDisable = true;
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
    EXPECT_FALSE(d.cbxDisable);
    d.txtUser = "x";
    d.txtUserChange();
    EXPECT_TRUE(d.okEnabled);
    d.txtUser = "";
    d.txtUserChange();
    EXPECT_FALSE(d.okEnabled);
    d.cbxDisable = true;
    d.CancelBtnClick();
    return false;
  };
  form.btnAddClick();
  form.Button1Click();  // shown again: cleared again
  EXPECT_EQ(ui.user_dialogs_shown, 2);
  EXPECT_EQ(form.lvUsers.size(), 3u);
}

TEST_F(UsersTest, EditOpensTheDialogFilledWithTheSelectedUser) {
  registry.Set(kOperatorKey, "Disabled", "1");
  Start();
  for (const int index : {2, 0}) {
    form.SelectUser(index);
    ui.user_dialog = [&](TfrmUser& d) {
      EXPECT_EQ(d.txtUser, index == 2 ? "operator" : "Admin");
      EXPECT_EQ(d.cbxDisable, index == 2);
      EXPECT_TRUE(d.okEnabled);
      EXPECT_EQ(d.txtPass, "");
      d.CancelBtnClick();
      return false;
    };
    form.Button1Click();
  }
  // Add opens it empty whatever is selected.
  form.SelectUser(2);
  ui.user_dialog = [&](TfrmUser& d) {
    EXPECT_EQ(d.txtUser, "");
    EXPECT_FALSE(d.cbxDisable);
    EXPECT_FALSE(d.okEnabled);
    return false;
  };
  form.btnAddClick();
  EXPECT_EQ(ui.user_dialogs_shown, 3);
}

TEST_F(UsersTest, EditingAUserChangesOnlyWhatTheOperatorChanged) {
  const std::string kAdminKey = kUsersKey + "\\Admin";
  const struct {
    const char* what;
    int index;                   // the user selected
    const char* disabled;        // its Disabled value before; nullptr: none
    const char* pass;            // typed twice; "" keeps the stored password
    bool tick;                   // "Disable Account" on OK
    const char* auth_after;      // nullptr: the stored one kept
    const char* disabled_after;  // nullptr: still none
  } cases[] = {
      {"password only", 2, nullptr, "abc", false, kAbcAuth.c_str(), nullptr},
      {"Admin's password", 0, nullptr, "abc", false, kAbcAuth.c_str(), nullptr},
      {"disable only", 2, nullptr, "", true, nullptr, "1"},
      {"enable again", 2, "1", "", false, nullptr, "0"},
      {"nothing", 2, "0", "", false, nullptr, "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryStore store;
    Install(store, "3.5.1");
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"Auth", "0ff1ce"}, {"AllowList", "1"}, {"AllowStart", "1"}, {"Extra", "kept"}})
      store.Set(kOperatorKey, name, value);
    const std::string key = c.index == 0 ? kAdminKey : kOperatorKey;
    if (c.disabled != nullptr) store.Set(key, "Disabled", c.disabled);
    FakeUi box;
    TForm1 f(store, scm, box);
    f.FormCreate();
    f.FormShow();
    f.SelectUser(c.index);
    // Every value but Auth and Disabled, as before the edit.
    std::vector<std::pair<std::string, std::string>> kept;
    for (const auto& name : store.ListRegValueNames(key))
      if (name != "Auth" && name != "Disabled") kept.emplace_back(name, store.Get(key, name));
    const std::string auth_before = store.Get(key, "Auth");
    box.user_dialog = [&](TfrmUser& d) {
      d.cbxDisable = c.tick;
      d.txtPass = d.txtConfirm = c.pass;
      return d.OKBtnClick();
    };
    f.Button1Click();
    EXPECT_EQ(store.Get(key, "Auth"), c.auth_after ? c.auth_after : auth_before);
    EXPECT_EQ(store.Get(key, "Disabled"), c.disabled_after ? c.disabled_after : "<missing>");
    for (const auto& [name, value] : kept) EXPECT_EQ(store.Get(key, name), value) << name;
    EXPECT_EQ(store.ListRegValueNames(key).size(),
              kept.size() + 1 + (c.disabled_after ? 1 : 0));  // nothing added but Disabled
    EXPECT_TRUE(box.questions.empty());
    EXPECT_TRUE(box.errors.empty());
    EXPECT_EQ(f.selectedUser, -1);
  }
}

TEST_F(UsersTest, RenamingMovesTheUsersValuesToTheNewName) {
  registry.Set(kOperatorKey, "Disabled", "1");
  Start();
  form.SelectUser(2);
  ui.user_dialog = [&](TfrmUser& d) {
    d.txtUser = "ops";
    d.txtUserChange();
    return d.OKBtnClick();  // no password typed, the box left ticked
  };
  form.Button1Click();
  const std::string ops = kUsersKey + "\\ops";
  EXPECT_FALSE(registry.HasKey(kOperatorKey));
  for (const auto& [name, value] :
       std::vector<std::pair<std::string, std::string>>{{"Auth", "0ff1ce"},
                                                        {"AllowList", "1"},
                                                        {"AllowStart", "1"},
                                                        {"AllowRestart", "1"},
                                                        {"Extra", "kept"},
                                                        {"Disabled", "1"}})
    EXPECT_EQ(registry.Get(ops, name), value) << name;
  EXPECT_EQ(registry.Get(ops, "AllowStop"), "<missing>");
  EXPECT_TRUE(ui.questions.empty());
  ASSERT_EQ(form.lvUsers.size(), 3u);
  EXPECT_EQ(form.lvUsers[2].name, "ops");
}

TEST_F(UsersTest, RenamingOntoAnotherUserAsksAndNoKeepsTheDialog) {
  Start();
  form.SelectUser(2);
  int ok_presses = 0;
  ui.answers = {Answer::kNo, Answer::kYes};
  ui.user_dialog = [&](TfrmUser& d) {
    d.txtUser = "Anonymous";
    d.txtUserChange();
    d.txtPass = d.txtConfirm = "abc";
    ++ok_presses;
    EXPECT_FALSE(d.OKBtnClick());  // No: the dialog stays, nothing written
    EXPECT_EQ(d.txtUser, "Anonymous");
    EXPECT_EQ(d.txtPass, "abc");
    EXPECT_EQ(registry.Get(kUsersKey + "\\Anonymous", "Auth"), "0badf0");
    EXPECT_TRUE(registry.HasKey(kOperatorKey));
    ++ok_presses;
    return d.OKBtnClick();  // Yes: Anonymous is replaced by operator
  };
  form.Button1Click();
  EXPECT_EQ(ok_presses, 2);
  EXPECT_EQ(ui.questions,
            (std::vector<std::string>{
                "A user named 'Anonymous' already exists.  Do you want to replace it? [YN]",
                "A user named 'Anonymous' already exists.  Do you want to replace it? [YN]"}));
  const std::string anonymous = kUsersKey + "\\Anonymous";
  EXPECT_FALSE(registry.HasKey(kOperatorKey));
  EXPECT_EQ(registry.Get(anonymous, "Auth"), kAbcAuth);
  EXPECT_EQ(registry.Get(anonymous, "AllowStart"), "1");
  EXPECT_EQ(registry.Get(anonymous, "Extra"), "kept");
}

TEST_F(UsersTest, AddingUnderAnExistingNameAsksFirst) {
  Start();
  ui.answers = {Answer::kNo};
  ui.user_dialog = [&](TfrmUser& d) {
    if (Type("operator", "abc", "abc")(d)) return true;
    return false;
  };
  form.btnAddClick();
  EXPECT_EQ(ui.questions,
            std::vector<std::string>{
                "A user named 'operator' already exists.  Do you want to replace it? [YN]"});
  EXPECT_EQ(registry.Get(kOperatorKey, "Auth"), "0ff1ce");
  EXPECT_EQ(registry.Get(kOperatorKey, "AllowStart"), "1");
}

TEST_F(UsersTest, BuiltInUsersCannotBeRenamedAndLetterCaseIsTheSameUser) {
  Start();
  form.SelectUser(0);
  ui.user_dialog = [&](TfrmUser& d) {
    d.txtUser = "Root";
    d.txtUserChange();
    EXPECT_FALSE(d.OKBtnClick());
    d.CancelBtnClick();
    return false;
  };
  form.Button1Click();
  EXPECT_EQ(ui.notices,
            std::vector<std::string>{"The built-in users Admin and Anonymous cannot be renamed."});
  EXPECT_FALSE(registry.HasKey(kUsersKey + "\\Root"));
  EXPECT_TRUE(registry.HasKey(kUsersKey + "\\Admin"));
  // A name that differs in letter case only names the same key: nothing moves.
  form.SelectUser(2);
  ui.user_dialog = Type("OPERATOR", "abc", "abc");
  form.Button1Click();
  EXPECT_EQ(registry.Get(kOperatorKey, "Auth"), kAbcAuth);
  EXPECT_EQ(registry.Get(kOperatorKey, "AllowStart"), "1");
  EXPECT_FALSE(registry.HasKey(kUsersKey + "\\OPERATOR"));
  EXPECT_TRUE(ui.questions.empty());
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
    // A new name each time: the second would otherwise ask to replace the first.
    ui.user_dialog = Type(edit ? "dave" : "carol", "pw", "pw");
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
