// The Win32 main window `TForm1`: a thin view over the model of the same
// name. It copies the model's values into the controls after every handler,
// hands the operator's edits, choices and clicks to the model's handlers, and
// answers the model's requests for message boxes, the cursor, the shell and
// the splash window. User-interface thread only.
#ifndef HALV_ADMIN_WINDOW_MAIN_WINDOW_H_
#define HALV_ADMIN_WINDOW_MAIN_WINDOW_H_

#include <windows.h>

#include <array>
#include <string>

#include "main_form.h"
#include "splash_window.h"

namespace halv::console {

class MainWindow final : public ConsoleUi {
 public:
  static constexpr int kClientWidth = 411;
  static constexpr int kClientHeight = 378;

  MainWindow(HINSTANCE instance, SettingsStore& registry, ServiceManager& scm);
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;
  ~MainWindow() override;

  // Creates the window hidden; its creation handler (FormCreate) runs now,
  // so message boxes it raises appear before any window. False on failure.
  bool Create();
  // Shows the window and runs its show handler, which shows `splash` modally.
  void Show(TfrmSplash& splash);
  // Lets the dialog manager handle keyboard navigation; true when it did.
  bool PreTranslate(MSG& msg);
  HWND hwnd() const { return hwnd_; }

  // ConsoleUi
  void ShowError(const std::string& text) override;
  void ShowPlainMessage(const std::string& text) override;
  void ShowNotice(const std::string& text) override;
  Answer Ask(const std::string& text, bool with_cancel) override;
  std::uintptr_t ShowHourglass() override;
  void RestoreCursor(std::uintptr_t token) override;
  std::intptr_t ShellOpen(const std::string& path) override;
  bool ShowUserDialog(TfrmUser& dialog) override;
  void ShowSplashModal() override;
  void CloseMainWindow() override;

 private:
  static INT_PTR CALLBACK DlgProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  static INT_PTR CALLBACK PageProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  static INT_PTR CALLBACK UserDlgProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  INT_PTR Handle(UINT msg, WPARAM wparam, LPARAM lparam);
  void InitDialog();
  void Layout();
  void SelectTab(int index);
  void OnCommand(int id, int code);
  void OnNotify(const NMHDR& header);
  // After a model handler: close when asked, else bring the controls up to date.
  void AfterHandler();
  // Copies every value of the model into its control.
  void Push();
  void PushUsers();
  HWND Item(int id) const;
  HWND MessageOwner() const;

  HINSTANCE instance_;
  TForm1 form_;
  HWND hwnd_ = nullptr;
  HWND tabs_ = nullptr;
  std::array<HWND, 4> pages_ = {};
  HFONT bold_font_ = nullptr;
  TfrmSplash* splash_ = nullptr;
  HWND user_dialog_ = nullptr;  // the user dialog while it is shown
  bool updating_ = false;       // controls are being filled by program code
  bool close_requested_ = false;
};

}  // namespace halv::console

#endif  // HALV_ADMIN_WINDOW_MAIN_WINDOW_H_
