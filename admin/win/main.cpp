// Entry point of halvexaadmin: sets up the common controls, creates the main
// window (whose creation handler loads the settings), then the splash window
// hidden, shows the main window with the splash over it and runs the message
// loop until the main window is closed. Always returns 0.
#include <windows.h>
// commctrl.h needs the types of windows.h.
#include <commctrl.h>
#include <objbase.h>

#include <exception>
#include <string>

#include "halv_error.h"
#include "install_registry.h"
#include "main_window.h"
#include "secured_store.h"
#include "splash_window.h"
#include "win/registry.h"
#include "win/system_service_manager.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  using namespace halv::console;
  // The shell's "open" verb may hand the log file to COM-based handlers.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  try {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    halv::WinRegistry system_registry;
    // The accounts branch is created private (Administrators and SYSTEM)
    // before the first account is written into it.
    SecuredStore registry(system_registry, [](const std::string& security_key) {
      if (const DWORD error = halv::RestrictSecurityKey(security_key); error != 0)
        throw halv::Error("Unable to limit the access to '" + security_key +
                          "' to Administrators and SYSTEM (error " + std::to_string(error) + ")");
    });
    MainWindow form1(instance, registry, halv::SystemServiceManager());
    if (!form1.Create()) return 0;
    TfrmSplash frm_splash;
    frm_splash.Create(instance, form1.hwnd());
    form1.Show(frm_splash);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      if (form1.PreTranslate(msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  } catch (const std::exception& e) {
    MessageBoxA(nullptr, e.what(), kAppTitle, MB_OK | MB_ICONSTOP);
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}
