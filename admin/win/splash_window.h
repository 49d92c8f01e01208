// The splash window `TfrmSplash`: a borderless 392 by 223 picture centred on
// the desktop that closes itself 3000 ms after it is shown.
#ifndef HALV_ADMIN_WINDOW_SPLASH_WINDOW_H_
#define HALV_ADMIN_WINDOW_SPLASH_WINDOW_H_

#include <windows.h>

namespace halv::console {

class TfrmSplash {
 public:
  static constexpr int kWidth = 392;
  static constexpr int kHeight = 223;
  static constexpr UINT kTimer1Interval = 3000;

  TfrmSplash() = default;
  TfrmSplash(const TfrmSplash&) = delete;
  TfrmSplash& operator=(const TfrmSplash&) = delete;
  ~TfrmSplash();

  // Creates the window hidden, owned by `owner`. False when it cannot be created.
  bool Create(HINSTANCE instance, HWND owner);
  // Shows the window over its owner, which stays disabled until the timer
  // closes the splash; returns then. False when WM_QUIT arrived meanwhile
  // (it is posted again for the caller's loop).
  bool ShowModal();
  HWND hwnd() const { return hwnd_; }

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  void FormShow();
  void Timer1Timer();
  void Paint(HDC dc);
  void MakePicture(HDC dc);

  HWND hwnd_ = nullptr;
  HWND owner_ = nullptr;
  HBITMAP picture_ = nullptr;  // the generated band at the top
  HBITMAP logo_ = nullptr;     // the logo resource
  HFONT title_font_ = nullptr;
  HFONT notice_font_ = nullptr;
  bool showing_ = false;
};

}  // namespace halv::console

#endif  // HALV_ADMIN_WINDOW_SPLASH_WINDOW_H_
