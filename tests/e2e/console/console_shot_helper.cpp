// console_shot_helper: a small tool for scripts/screenshots. Commands:
//   setup      writes a sample configuration and registers and starts the
//              service (halv_test_service.exe beside this program)
//   splash     waits for the console's splash window; prints its geometry
//   ready      waits until the splash has closed; prints the main window's
//   tab N      shows tab N (0..3) of the main window; prints its geometry
//   select U   selects user U on the Users tab
//   user-dialog opens the user dialog with a name and password typed in;
//              prints the dialog's geometry
//   cancel-dialog  closes the user dialog with Cancel
//   close      closes the main window
// Geometry (the client area) is printed as ImageMagick's WxH+X+Y. Exit code 1 on a timeout.
#include <windows.h>
// commctrl.h needs the types of windows.h.
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config_schema.h"
#include "console_driver.h"
#include "resource.h"

namespace {

using namespace halv::console::e2e;

HWND FindTop(const char* class_name, const char* caption) {
  return FindWindowExA(nullptr, nullptr, class_name, caption);
}

// Prints the window's client area in screen coordinates.
int PrintGeometry(HWND window) {
  RECT rc;
  GetClientRect(window, &rc);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  std::printf("%ldx%ld+%ld+%ld\n", rc.right, rc.bottom, origin.x, origin.y);
  return 0;
}

HWND Main() { return FindTop("TForm1", "Halvexa Administrator"); }

int Setup() {
  const std::string sys = halv::config::kSystemKey;
  SetRegString(sys, "StopDependencies", "1");
  SetRegString(sys, "VerboseLogging", "0");
  SetRegString(sys, "ServiceStopTimeOut", "30000");
  SetRegString(sys, "BaseDir", "C:\\Program Files\\Tenmark\\Halvexa");
  SetRegString(sys, "LogDir", "C:\\Program Files\\Tenmark\\Halvexa\\logs");
  SetRegString(sys, "DumpDir", "C:\\Program Files\\Tenmark\\Halvexa\\dump");
  SetRegString(sys, "ExecName", "halvexa351.exe");
  SetRegString(sys, "Port", "9007");
  const std::string defaults = halv::config::kDefaultsKey;
  const char* const names[] = {"AllowList", "AllowStatus",  "AllowStart",
                               "AllowStop", "AllowRestart", "AllowUpdate"};
  const char* const default_values[] = {"1", "1", "0", "0", "0", "0"};
  for (int i = 0; i < 6; ++i) SetRegString(defaults, names[i], default_values[i]);
  const std::string users = halv::config::kUsersKey + "\\";
  const char* const user_names[] = {"Admin", "Anonymous", "operator"};
  const char* const ticks[] = {"111111", "110000", "111110"};
  for (int u = 0; u < 3; ++u) {
    SetRegString(users + user_names[u], "Auth", "0");
    for (int i = 0; i < 6; ++i)
      SetRegString(users + user_names[u], names[i], ticks[u][i] == '1' ? "1" : "0");
  }

  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return 1;
  const std::string path = "\"" + ProgramFolder() + "halv_test_service.exe\"";
  SC_HANDLE service = OpenServiceA(manager, "Halvexa351", SERVICE_ALL_ACCESS);
  if (service == nullptr)
    service =
        CreateServiceA(manager, "Halvexa351", "Tenmark Halvexa Service 3.5.1", SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                       path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  int rc = 1;
  if (service != nullptr) {
    StartServiceA(service, 0, nullptr);
    SERVICE_STATUS status = {};
    const bool running = WaitFor(
        [&] {
          return QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING;
        },
        15000);
    rc = running ? 0 : 1;
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string command = argv[1];
  if (command == "setup") return Setup();
  if (command == "splash") {
    HWND splash = nullptr;
    if (!WaitFor(
            [&] {
              splash = FindTop("TfrmSplash", nullptr);
              return splash != nullptr && IsWindowVisible(splash);
            },
            30000))
      return 1;
    return PrintGeometry(splash);
  }
  if (command == "ready") {
    if (!WaitFor(
            [] {
              HWND main = Main();
              return main != nullptr && IsWindowVisible(main) && IsWindowEnabled(main);
            },
            30000))
      return 1;
    return PrintGeometry(Main());
  }
  if (command == "tab" && argc == 3) {
    HWND main = Main();
    if (main == nullptr) return 1;
    HWND tabs = GetDlgItem(main, IDC_TABS);
    const int wanted = std::atoi(argv[2]);
    for (int i = 0; i < 8; ++i) {
      const int current = static_cast<int>(SendMessageA(tabs, TCM_GETCURSEL, 0, 0));
      if (current == wanted) return PrintGeometry(main);
      SendMessageA(tabs, WM_KEYDOWN, current < wanted ? VK_RIGHT : VK_LEFT, 0);
    }
    return 1;
  }
  if (command == "select" && argc == 3) {
    HWND main = Main();
    HWND list = main == nullptr ? nullptr : FindControl(main, IDC_LVUSERS);
    const int item = list == nullptr ? -1 : FindListItem(list, argv[2]);
    if (item < 0) return 1;
    SetListItemState(list, item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    return 0;
  }
  if (command == "user-dialog") {
    HWND main = Main();
    if (main == nullptr) return 1;
    PostMessageA(FindControl(main, IDC_BTNADD), BM_CLICK, 0, 0);
    HWND dialog = nullptr;
    if (!WaitFor([&] { return (dialog = FindTop("#32770", "User Information")) != nullptr; },
                 10000))
      return 1;
    SetText(GetDlgItem(dialog, IDC_TXTUSER), "backup-operator");
    SetText(GetDlgItem(dialog, IDC_TXTPASS), "correct horse");
    SetText(GetDlgItem(dialog, IDC_TXTCONFIRM), "correct horse");
    return PrintGeometry(dialog);
  }
  if (command == "cancel-dialog") {
    HWND dialog = FindTop("#32770", "User Information");
    if (dialog == nullptr) return 1;
    PostMessageA(GetDlgItem(dialog, IDC_CANCELBTN), BM_CLICK, 0, 0);
    return 0;
  }
  if (command == "close") {
    if (HWND main = Main()) PostMessageA(main, WM_CLOSE, 0, 0);
    return 0;
  }
  return 2;
}
