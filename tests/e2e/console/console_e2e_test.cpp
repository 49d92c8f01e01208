// halvexaadmin.exe end to end: the real program under Wine and Xvfb, with a
// configuration in the registry and halv_test_service registered in Wine's
// manager as the configured service, driven through window messages.
#include <gtest/gtest.h>
#include <windows.h>
// commctrl.h needs the types of windows.h.
#include <commctrl.h>

#include <string>
#include <vector>

#include "auth/auth.h"
#include "config_schema.h"
#include "console_driver.h"
#include "resource.h"
#include "service_harness.h"
#include "win/registry.h"

namespace halv::console::e2e {
namespace {

constexpr const char* kProductKey = config::kProductKey;
const std::string& kSystemKey = config::kSystemKey;
const std::string& kDefaultsKey = config::kDefaultsKey;
constexpr char kServiceName[] = "HalvConsoleSvc";
constexpr char kDisplayName[] = "Halvexa Console Test Service";
constexpr char kNotFound[] =
    "Unable to find service.  This tool must be used\non the server that is running the Halvexa "
    "Service.";

DWORD ServiceState() { return halv::e2e::ServiceState(kServiceName); }

// The configuration an installation writes, naming the test service.
void WriteConfiguration(const std::string& exec_name) {
  DeleteTree(kProductKey);
  ASSERT_TRUE(SetRegString(kSystemKey, "StopDependencies", "0"));
  ASSERT_TRUE(SetRegString(kSystemKey, "VerboseLogging", "0"));
  ASSERT_TRUE(SetRegString(kSystemKey, "ServiceStopTimeOut", "20000"));
  ASSERT_TRUE(SetRegString(kSystemKey, "BaseDir", "C:\\\\Halvexa"));
  ASSERT_TRUE(SetRegString(kSystemKey, "LogDir", "C:\\Halvexa\\logs"));
  ASSERT_TRUE(SetRegString(kSystemKey, "DumpDir", "C:\\Halvexa\\dump"));
  ASSERT_TRUE(SetRegString(kSystemKey, "ExecName", exec_name));
  ASSERT_TRUE(SetRegString(kSystemKey, "Port", "9007"));
  const char* const names[] = {"AllowList", "AllowStatus",  "AllowStart",
                               "AllowStop", "AllowRestart", "AllowUpdate"};
  for (const char* name : names) ASSERT_TRUE(SetRegString(kDefaultsKey, name, "1"));
}

class ConsoleE2eTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(halv::e2e::InstallTestService(kServiceName, kDisplayName, SERVICE_AUTO_START));
  }
  static void TearDownTestSuite() {
    EXPECT_TRUE(halv::e2e::RemoveTestService(kServiceName));
    DeleteTree(kProductKey);
  }

  void SetUp() override { WriteConfiguration(std::string(kServiceName) + ".exe"); }

  static void StartTestService() {
    if (ServiceState() != SERVICE_RUNNING) halv::e2e::StartAndWait(kServiceName);
    ASSERT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
  }

  // Waits for the main window and follows the splash over it until the
  // splash closes; checks the main window is unusable meanwhile.
  static void WaitThroughSplash(AdminProcess& admin) {
    HWND main = nullptr;
    ASSERT_TRUE(WaitFor(
        [&] {
          main = admin.Main();
          return main != nullptr && IsWindowVisible(main);
        },
        30000));
    HWND splash = nullptr;
    ASSERT_TRUE(WaitFor(
        [&] {
          splash = admin.FindTopWindow("TfrmSplash", nullptr);
          return splash != nullptr && IsWindowVisible(splash);
        },
        10000));
    const DWORD shown = GetTickCount();
    RECT rc;
    GetClientRect(splash, &rc);
    EXPECT_EQ(rc.right, 392);
    EXPECT_EQ(rc.bottom, 223);
    EXPECT_FALSE(IsWindowEnabled(main));
    ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(splash); }, 15000));
    const DWORD lasted = GetTickCount() - shown;
    EXPECT_GE(lasted, 2000u);
    EXPECT_LE(lasted, 6000u);
    EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(main) != FALSE; }, 2000));
  }
};

TEST_F(ConsoleE2eTest, ShowsTheRunningServiceStopsItAndAppliesAnEdit) {
  StartTestService();
  AdminProcess admin;
  ASSERT_TRUE(admin.started());
  WaitThroughSplash(admin);
  HWND main = admin.Main();
  RECT client;
  GetClientRect(main, &client);
  EXPECT_EQ(client.right, 411);
  EXPECT_EQ(client.bottom, 378);
  EXPECT_EQ(admin.FindTopWindow("#32770", nullptr), nullptr);  // no message box

  // The General tab.
  EXPECT_EQ(Text(admin.Control(IDC_TXTSERVICENAME)), kServiceName);
  EXPECT_EQ(Text(admin.Control(IDC_TXTNAME)), kDisplayName);
  EXPECT_EQ(Text(admin.Control(IDC_CBOSTARTUPTYPE)), "Automatic");
  EXPECT_EQ(Text(admin.Control(IDC_TXTRUNAS)), "LocalSystem");
  EXPECT_EQ(Text(admin.Control(IDC_TXTSERVICESTATUS)), "Running");
  EXPECT_FALSE(IsWindowEnabled(admin.Control(IDC_BTNSTART)));
  EXPECT_TRUE(IsWindowEnabled(admin.Control(IDC_BTNSTOP)));
  EXPECT_TRUE(IsWindowEnabled(admin.Control(IDC_BTNRESTART)));
  EXPECT_FALSE(IsWindowEnabled(admin.Control(IDC_BTNAPPLY)));
  // The System tab shows the stored paths with single backslashes.
  EXPECT_EQ(Text(admin.Control(IDC_TXTBASEDIR)), "C:\\Halvexa");

  // Stop.
  Click(admin.Control(IDC_BTNSTOP));
  EXPECT_EQ(Text(admin.Control(IDC_TXTSERVICESTATUS)), "Stopped");
  EXPECT_TRUE(IsWindowEnabled(admin.Control(IDC_BTNSTART)));
  EXPECT_FALSE(IsWindowEnabled(admin.Control(IDC_BTNSTOP)));
  EXPECT_FALSE(IsWindowEnabled(admin.Control(IDC_BTNRESTART)));
  EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_STOPPED));

  // An edit on the System tab and a choice on the Security tab, then Apply.
  SetText(admin.Control(IDC_TXTPORT), "9123");
  EXPECT_TRUE(IsWindowEnabled(admin.Control(IDC_BTNAPPLY)));
  Choose(admin.Control(IDC_CBOALLOWSTOP), 0);
  EXPECT_EQ(GetRegString(kSystemKey, "Port"), "9007");
  Click(admin.Control(IDC_BTNAPPLY));
  EXPECT_EQ(GetRegString(kSystemKey, "Port"), "9123");
  EXPECT_EQ(GetRegString(kDefaultsKey, "AllowStop"), "0");
  EXPECT_EQ(GetRegString(kDefaultsKey, "AllowStart"), "1");
  EXPECT_EQ(GetRegString(kSystemKey, "BaseDir"), "C:\\Halvexa");
  EXPECT_FALSE(IsWindowEnabled(admin.Control(IDC_BTNAPPLY)));

  // The audit and log values: missing ones show No and an empty box; a
  // choice and a number are written by Apply, the untouched ones stay missing.
  EXPECT_EQ(Text(admin.Control(IDC_TXTAUDITMAXFILES)), "");
  Choose(admin.Control(IDC_CBOAUDITLOG), 1);
  SetText(admin.Control(IDC_TXTAUDITMAXFILES), "4");
  Click(admin.Control(IDC_BTNAPPLY));
  EXPECT_EQ(GetRegString(kSystemKey, "AuditLog"), "1");
  EXPECT_EQ(GetRegString(kSystemKey, "AuditMaxFiles"), "4");
  EXPECT_EQ(GetRegString(kSystemKey, "LogTimestamps"), "<missing>");
  EXPECT_EQ(GetRegString(kSystemKey, "LogMaxFiles"), "<missing>");

  // Start again.
  Click(admin.Control(IDC_BTNSTART));
  EXPECT_EQ(Text(admin.Control(IDC_TXTSERVICESTATUS)), "Running");
  EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));

  // The close box ends the program without a question.
  PostMessageA(main, WM_CLOSE, 0, 0);
  EXPECT_TRUE(admin.WaitExit(10000));
}

TEST_F(ConsoleE2eTest, CancelWithChangesAsksAndCancelKeepsTheWindow) {
  AdminProcess admin;
  ASSERT_TRUE(admin.started());
  WaitThroughSplash(admin);
  SetText(admin.Control(IDC_TXTTIMEOUT), "5000");
  PostMessageA(admin.Control(IDC_BTNCANCEL), BM_CLICK, 0, 0);
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor(
      [&] { return (box = admin.FindTopWindow("#32770", "Halvexa Administrator")) != nullptr; },
      10000));
  EXPECT_EQ(MessageBoxText(box), "Would you like to save your changes?");
  EXPECT_NE(GetDlgItem(box, IDYES), nullptr);
  EXPECT_NE(GetDlgItem(box, IDNO), nullptr);
  Click(GetDlgItem(box, IDCANCEL));
  ASSERT_TRUE(WaitFor([&] { return admin.FindTopWindow("#32770", nullptr) == nullptr; }, 5000));
  EXPECT_FALSE(admin.WaitExit(500));
  EXPECT_TRUE(IsWindowEnabled(admin.Control(IDC_BTNAPPLY)));
  EXPECT_EQ(GetRegString(kSystemKey, "ServiceStopTimeOut"), "20000");

  // OK saves and ends the program.
  Click(admin.Control(IDC_BTNOK));
  EXPECT_TRUE(admin.WaitExit(10000));
  EXPECT_EQ(GetRegString(kSystemKey, "ServiceStopTimeOut"), "5000");
}

// "Require Login:" on the Security tab: No for an installation without the
// value, which saving leaves absent; Yes is saved as "1".
TEST_F(ConsoleE2eTest, RequireLoginShowsNoWhenMissingAndSavesYes) {
  AdminProcess admin;
  ASSERT_TRUE(admin.started());
  WaitThroughSplash(admin);
  EXPECT_EQ(Text(admin.Control(IDC_CBOREQUIREAUTH)), "No");
  Click(admin.Control(IDC_BTNAPPLY));  // disabled: nothing changed
  SetText(admin.Control(IDC_TXTTIMEOUT), "5000");
  Click(admin.Control(IDC_BTNAPPLY));
  EXPECT_EQ(GetRegString(kSystemKey, "ServiceStopTimeOut"), "5000");
  EXPECT_EQ(GetRegString(kSystemKey, "RequireAuth"), "<missing>");
  Choose(admin.Control(IDC_CBOREQUIREAUTH), 1);
  EXPECT_TRUE(IsWindowEnabled(admin.Control(IDC_BTNAPPLY)));
  Click(admin.Control(IDC_BTNOK));
  EXPECT_TRUE(admin.WaitExit(10000));
  EXPECT_EQ(GetRegString(kSystemKey, "RequireAuth"), "1");
}

TEST_F(ConsoleE2eTest, AProgramNameOfNoServiceShowsTheMessageBeforeAnyWindow) {
  ASSERT_NO_FATAL_FAILURE(WriteConfiguration("NoSuchHalvService.exe"));
  AdminProcess admin;
  ASSERT_TRUE(admin.started());
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor(
      [&] { return (box = admin.FindTopWindow("#32770", "Halvexa Administrator")) != nullptr; },
      30000));
  EXPECT_EQ(MessageBoxText(box), kNotFound);
  HWND main = admin.Main();
  ASSERT_NE(main, nullptr);
  EXPECT_FALSE(IsWindowVisible(main));
  Click(GetDlgItem(box, IDOK));
  WaitThroughSplash(admin);
  EXPECT_EQ(Text(admin.Control(IDC_TXTSERVICESTATUS)), "Unknown");
  EXPECT_FALSE(IsWindowEnabled(admin.Control(IDC_BTNSTART)));
  EXPECT_FALSE(IsWindowEnabled(admin.Control(IDC_BTNSTOP)));
  EXPECT_FALSE(IsWindowEnabled(admin.Control(IDC_BTNRESTART)));
  EXPECT_EQ(Text(admin.Control(IDC_TXTPROGRAMNAME)), "NoSuchHalvService.exe");
}

TEST_F(ConsoleE2eTest, LoadErrorsShowInTheStandardErrorBox) {
  ASSERT_TRUE(SetRegString(kSystemKey, "ExecName", "abc"));
  AdminProcess admin;
  ASSERT_TRUE(admin.started());
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor(
      [&] { return (box = admin.FindTopWindow("#32770", "Halvexa351 Administrator")) != nullptr; },
      30000));
  EXPECT_EQ(MessageBoxText(box), "Range check error");
  Click(GetDlgItem(box, IDOK));
  WaitThroughSplash(admin);
  EXPECT_EQ(Text(admin.Control(IDC_TXTPROGRAMNAME)), "abc");
}

TEST_F(ConsoleE2eTest, AUserAddedThroughTheDialogGetsTheDefaultsAndItsAuth) {
  const std::string users = config::kUsersKey + "\\";
  ASSERT_TRUE(SetRegString(users + "Admin", "Auth", "0"));
  ASSERT_TRUE(SetRegString(users + "Anonymous", "Auth", "0"));
  ASSERT_TRUE(SetRegString(kDefaultsKey, "AllowStop", "0"));
  AdminProcess admin;
  ASSERT_TRUE(admin.started());
  WaitThroughSplash(admin);
  for (int i = 0; i < 3; ++i) NextTab(admin.Control(IDC_TABS));
  HWND list = admin.Control(IDC_LVUSERS);
  HWND ticks = admin.Control(IDC_LVPERMISSIONS);
  EXPECT_EQ(ListCount(list), 2);
  EXPECT_FALSE(IsWindowEnabled(admin.Control(IDC_BTNREMOVE)));

  // A mismatch first: the message, then the dialog stays open with the fields emptied.
  PostMessageA(admin.Control(IDC_BTNADD), BM_CLICK, 0, 0);
  HWND dialog = nullptr;
  ASSERT_TRUE(WaitFor(
      [&] { return (dialog = admin.FindTopWindow("#32770", "User Information")) != nullptr; },
      10000));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_OKBTN)));
  // At most 15 characters can be typed into a password field.
  for (int i = 0; i < 20; ++i) SendMessageA(GetDlgItem(dialog, IDC_TXTPASS), WM_CHAR, 'x', 0);
  EXPECT_EQ(Text(GetDlgItem(dialog, IDC_TXTPASS)), std::string(15, 'x'));
  SetText(GetDlgItem(dialog, IDC_TXTUSER), "alice");
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_OKBTN)));
  SetText(GetDlgItem(dialog, IDC_TXTPASS), "abc");
  SetText(GetDlgItem(dialog, IDC_TXTCONFIRM), "abd");
  PostMessageA(GetDlgItem(dialog, IDC_OKBTN), BM_CLICK, 0, 0);
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor(
      [&] { return (box = admin.FindTopWindow("#32770", "Halvexa Administrator")) != nullptr; },
      10000));
  EXPECT_EQ(MessageBoxText(box),
            "Your password and confirmation do not match.  Please re-enter your password.");
  Click(GetDlgItem(box, IDOK));
  ASSERT_TRUE(WaitFor([&] { return Text(GetDlgItem(dialog, IDC_TXTPASS)).empty(); }, 5000));
  EXPECT_EQ(Text(GetDlgItem(dialog, IDC_TXTCONFIRM)), "");
  EXPECT_EQ(GetRegString(users + "alice", "Auth"), "<missing>");

  // Then equal texts: the user is written with the defaults and the stored form.
  SetText(GetDlgItem(dialog, IDC_TXTPASS), "abc");
  SetText(GetDlgItem(dialog, IDC_TXTCONFIRM), "abc");
  Click(GetDlgItem(dialog, IDC_OKBTN));
  ASSERT_TRUE(WaitFor([&] { return ListCount(list) == 3; }, 10000));
  EXPECT_EQ(GetRegString(users + "alice", "Auth"),
            "c5fe2077faf81cc9a762e8cd8ec5af59bdbf3d22ab4b31328503eca3e6e49258");
  EXPECT_EQ(GetRegString(users + "alice", "AllowList"), "1");
  EXPECT_EQ(GetRegString(users + "alice", "AllowStop"), "0");
  const int alice = FindListItem(list, "alice");
  ASSERT_GE(alice, 0);

  // Selecting the user shows its ticks; ticking AllowStop and Apply writes "1".
  SetListItemState(list, alice, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  EXPECT_TRUE(IsWindowEnabled(admin.Control(IDC_BTNREMOVE)));
  ASSERT_EQ(ListCount(ticks), 6);
  EXPECT_EQ(ListItemText(ticks, 3, 1), "AllowStop");
  EXPECT_TRUE(ListItemChecked(ticks, 0));
  EXPECT_FALSE(ListItemChecked(ticks, 3));
  SetListItemState(ticks, 3, INDEXTOSTATEIMAGEMASK(2), LVIS_STATEIMAGEMASK);
  EXPECT_TRUE(IsWindowEnabled(admin.Control(IDC_BTNAPPLY)));
  Click(admin.Control(IDC_BTNAPPLY));
  EXPECT_EQ(GetRegString(users + "alice", "AllowStop"), "1");

  // The built-in accounts cannot be removed.
  SetListItemState(list, FindListItem(list, "Admin"), LVIS_SELECTED | LVIS_FOCUSED,
                   LVIS_SELECTED | LVIS_FOCUSED);
  EXPECT_FALSE(IsWindowEnabled(admin.Control(IDC_BTNREMOVE)));
}

TEST_F(ConsoleE2eTest, EditOfAdminSetsItsPasswordAndKeepsItsPermissions) {
  const std::string admin_key = config::kUsersKey + "\\Admin";
  const char* const names[] = {"AllowList", "AllowStatus",  "AllowStart",
                               "AllowStop", "AllowRestart", "AllowUpdate"};
  for (const char* name : names) {
    ASSERT_TRUE(SetRegString(admin_key, name, "1"));
    ASSERT_TRUE(SetRegString(kDefaultsKey, name, "0"));  // what a reset would give
  }
  ASSERT_TRUE(SetRegString(admin_key, "Auth", "0"));
  ASSERT_TRUE(SetRegString(config::kUsersKey + "\\Anonymous", "Auth", "0"));
  AdminProcess admin;
  ASSERT_TRUE(admin.started());
  WaitThroughSplash(admin);
  for (int i = 0; i < 3; ++i) NextTab(admin.Control(IDC_TABS));
  HWND list = admin.Control(IDC_LVUSERS);
  const int index = FindListItem(list, "Admin");
  ASSERT_GE(index, 0);
  SetListItemState(list, index, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);

  PostMessageA(admin.Control(IDC_BUTTON1), BM_CLICK, 0, 0);
  HWND dialog = nullptr;
  ASSERT_TRUE(WaitFor(
      [&] { return (dialog = admin.FindTopWindow("#32770", "User Information")) != nullptr; },
      10000));
  // Filled with the selected user, ready for OK.
  EXPECT_EQ(Text(GetDlgItem(dialog, IDC_TXTUSER)), "Admin");
  EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_CBXDISABLE), static_cast<UINT>(BST_UNCHECKED));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_OKBTN)));
  SetText(GetDlgItem(dialog, IDC_TXTPASS), "abc");
  SetText(GetDlgItem(dialog, IDC_TXTCONFIRM), "abc");
  PostMessageA(GetDlgItem(dialog, IDC_OKBTN), BM_CLICK, 0, 0);
  ASSERT_TRUE(
      WaitFor([&] { return admin.FindTopWindow("#32770", "User Information") == nullptr; }, 10000));
  ASSERT_TRUE(WaitFor(
      [&] {
        return GetRegString(admin_key, "Auth") ==
               "c5fe2077faf81cc9a762e8cd8ec5af59bdbf3d22ab4b31328503eca3e6e49258";
      },
      10000));
  for (const char* name : names) EXPECT_EQ(GetRegString(admin_key, name), "1") << name;
  EXPECT_EQ(GetRegString(admin_key, "Disabled"), "<missing>");
  EXPECT_EQ(ListCount(list), 2);
}

// The bytes the console hashes for a typed password: the system code page
// when it holds every character, else UTF-8.
std::string PasswordBytes(const std::wstring& password) {
  BOOL lossy = FALSE;
  char acp[64] = {};
  const int n =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, password.c_str(),
                          static_cast<int>(password.size()), acp, sizeof acp, nullptr, &lossy);
  if (n > 0 && !lossy) return std::string(acp, n);
  char utf8[64] = {};
  const int m = WideCharToMultiByte(CP_UTF8, 0, password.c_str(), static_cast<int>(password.size()),
                                    utf8, sizeof utf8, nullptr, nullptr);
  return std::string(utf8, m);
}

TEST_F(ConsoleE2eTest, PasswordsOutsideTheCodePageAreHashedWithoutLoss) {
  const std::string users = config::kUsersKey + "\\";
  AdminProcess admin;
  ASSERT_TRUE(admin.started());
  WaitThroughSplash(admin);
  const struct {
    const char* user;
    std::wstring password;
  } cases[] = {{"ascii", L"abc"},
               {"latin", L"caf\u00e9"},
               {"cyrillic", L"\u043f\u0430\u0440\u043e\u043b\u044c"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.user);
    PostMessageA(admin.Control(IDC_BTNADD), BM_CLICK, 0, 0);
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitFor(
        [&] { return (dialog = admin.FindTopWindow("#32770", "User Information")) != nullptr; },
        10000));
    SetText(GetDlgItem(dialog, IDC_TXTUSER), c.user);
    for (int id : {IDC_TXTPASS, IDC_TXTCONFIRM}) {
      DWORD_PTR result = 0;
      SendMessageTimeoutW(GetDlgItem(dialog, id), WM_SETTEXT, 0,
                          reinterpret_cast<LPARAM>(c.password.c_str()), 0, 10000, &result);
    }
    Click(GetDlgItem(dialog, IDC_OKBTN));
    const std::string expected = auth::AuthFromPassword(PasswordBytes(c.password));
    EXPECT_TRUE(WaitFor([&] { return GetRegString(users + c.user, "Auth") == expected; }, 10000))
        << GetRegString(users + c.user, "Auth");
  }
  // The console made the Security and Users keys, open to Administrators
  // and SYSTEM alone, before it wrote the first user.
  EXPECT_EQ(halv::e2e::KeyGrants(config::kSecurityKey), halv::e2e::kOnlyAdministratorsAndSystem);
  EXPECT_EQ(halv::e2e::KeyGrants(config::kUsersKey), halv::e2e::kOnlyAdministratorsAndSystem);
  EXPECT_EQ(halv::e2e::KeyGrants(users + "ascii"), halv::e2e::kOnlyAdministratorsAndSystem);
  // Two different passwords outside the code page never share a stored form.
  EXPECT_NE(auth::AuthFromPassword(PasswordBytes(L"\u043f\u0430\u0440\u043e\u043b\u044c")),
            auth::AuthFromPassword(PasswordBytes(L"\u0436\u0436\u0436\u0436\u0436\u0436")));
}

TEST_F(ConsoleE2eTest, AUserNameOutsideTheCodePageIsRefused) {
  const std::string users = config::kUsersKey;
  AdminProcess admin;
  ASSERT_TRUE(admin.started());
  WaitThroughSplash(admin);
  PostMessageA(admin.Control(IDC_BTNADD), BM_CLICK, 0, 0);
  HWND dialog = nullptr;
  ASSERT_TRUE(WaitFor(
      [&] { return (dialog = admin.FindTopWindow("#32770", "User Information")) != nullptr; },
      10000));
  const std::wstring name = L"\u0438\u0432\u0430\u043d";  // would become "????"
  DWORD_PTR result = 0;
  SendMessageTimeoutW(GetDlgItem(dialog, IDC_TXTUSER), WM_SETTEXT, 0,
                      reinterpret_cast<LPARAM>(name.c_str()), 0, 10000, &result);
  PostMessageA(GetDlgItem(dialog, IDC_OKBTN), BM_CLICK, 0, 0);
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor(
      [&] { return (box = admin.FindTopWindow("#32770", "Halvexa Administrator")) != nullptr; },
      10000));
  EXPECT_EQ(MessageBoxText(box), "The user name can hold only characters of the system code page.");
  Click(GetDlgItem(box, IDOK));
  // The dialog stays open and nothing is written.
  EXPECT_TRUE(IsWindow(dialog));
  PostMessageA(GetDlgItem(dialog, IDC_CANCELBTN), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); }, 10000));
  std::vector<std::string> names;
  halv::ListRegSubKeys(users, names);
  for (const auto& n : names) EXPECT_EQ(n.find('?'), std::string::npos) << n;
}

}  // namespace
}  // namespace halv::console::e2e
