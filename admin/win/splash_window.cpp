// The splash window: its generated picture band, title, logo and notice, and
// the modal show that ends when Timer1 fires.
#include "splash_window.h"

#include <cmath>
#include <cstdint>

#include "resource.h"

namespace halv::console {
namespace {

constexpr char kClassName[] = "TfrmSplash";
constexpr UINT_PTR kTimer1 = 1;
constexpr int kBandWidth = 388;
constexpr int kBandHeight = 82;
constexpr COLORREF kNavy = RGB(0x00, 0x00, 0x80);
constexpr COLORREF kSilver = RGB(0xC0, 0xC0, 0xC0);
constexpr char kTitle[] = "Halvexa Administrator";
constexpr char kNotice[] =
    "Halvexa Server 3.5.1 administration console. Configures the Halvexa remote service-control "
    "service on this server and starts, stops and restarts it.";

std::uint8_t Channel(double v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

}  // namespace

TfrmSplash::~TfrmSplash() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  if (picture_ != nullptr) DeleteObject(picture_);
  if (logo_ != nullptr) DeleteObject(logo_);
  if (title_font_ != nullptr) DeleteObject(title_font_);
  if (notice_font_ != nullptr) DeleteObject(notice_font_);
}

bool TfrmSplash::Create(HINSTANCE instance, HWND owner) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WndProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = kClassName;
  RegisterClassExA(&wc);

  owner_ = owner;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2;
  hwnd_ = CreateWindowExA(WS_EX_TOOLWINDOW, kClassName, "", WS_POPUP, x, y, kWidth, kHeight, owner,
                          nullptr, instance, this);
  if (hwnd_ == nullptr) return false;
  logo_ = static_cast<HBITMAP>(
      LoadImageA(instance, MAKEINTRESOURCEA(IDB_LOGO), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
  title_font_ = CreateFontA(-29, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                            VARIABLE_PITCH | FF_SWISS, "Trebuchet MS");
  notice_font_ = CreateFontA(-9, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                             VARIABLE_PITCH | FF_SWISS, "Trebuchet MS");
  return true;
}

bool TfrmSplash::ShowModal() {
  if (hwnd_ == nullptr) return true;
  if (owner_ != nullptr) EnableWindow(owner_, FALSE);
  showing_ = true;
  ShowWindow(hwnd_, SW_SHOW);
  UpdateWindow(hwnd_);
  FormShow();
  bool quit = false;
  MSG msg;
  while (showing_) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got <= 0) {
      quit = true;
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (owner_ != nullptr) {
    EnableWindow(owner_, TRUE);
    SetForegroundWindow(owner_);
  }
  if (quit) PostQuitMessage(static_cast<int>(msg.wParam));
  return !quit;
}

void TfrmSplash::FormShow() { SetTimer(hwnd_, kTimer1, kTimer1Interval, nullptr); }

void TfrmSplash::Timer1Timer() {
  KillTimer(hwnd_, kTimer1);
  ShowWindow(hwnd_, SW_HIDE);
  showing_ = false;
}

// A generated picture: a navy-to-teal sky crossed by light waves, with a row
// of small server lights along the bottom.
void TfrmSplash::MakePicture(HDC dc) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = kBandWidth;
  info.bmiHeader.biHeight = -kBandHeight;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  picture_ = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (picture_ == nullptr) return;
  auto* px = static_cast<std::uint32_t*>(bits);
  for (int y = 0; y < kBandHeight; ++y) {
    for (int x = 0; x < kBandWidth; ++x) {
      const double u = static_cast<double>(x) / kBandWidth;
      const double v = static_cast<double>(y) / kBandHeight;
      double r = 0x12 + (0x17 - 0x12) * u;
      double g = 0x2B + (0x8F - 0x2B) * u;
      double b = 0x55 + (0x8A - 0x55) * u;
      // Three soft waves.
      double glow = 0;
      for (int k = 0; k < 3; ++k) {
        const double crest = 0.35 + 0.18 * k + 0.12 * std::sin(u * 6.28318 * (1.0 + 0.5 * k) + k);
        const double d = std::fabs(v - crest);
        glow += std::exp(-d * d * 900.0) * (0.55 - 0.12 * k);
      }
      r += glow * 200;
      g += glow * 220;
      b += glow * 230;
      // Lights along the bottom edge, one amber in eight.
      const int cell = x / 12;
      const double lx = x % 12 - 6.0, ly = y - (kBandHeight - 8.0);
      if (lx * lx + ly * ly < 5.0) {
        const bool amber = cell % 8 == 3;
        r = amber ? 0xF5 : 0x9F;
        g = amber ? 0xA6 : 0xE8;
        b = amber ? 0x23 : 0xE0;
      }
      px[y * kBandWidth + x] = (Channel(r) << 16) | (Channel(g) << 8) | Channel(b);
    }
  }
}

void TfrmSplash::Paint(HDC dc) {
  RECT client;
  GetClientRect(hwnd_, &client);
  // The frame shape filling the whole window.
  HPEN navy_pen = CreatePen(PS_SOLID, 1, kNavy);
  HGDIOBJ old_pen = SelectObject(dc, navy_pen);
  HGDIOBJ old_brush = SelectObject(dc, GetStockObject(WHITE_BRUSH));
  Rectangle(dc, 0, 0, client.right, client.bottom);

  // The picture band, centred at the top.
  if (picture_ == nullptr) MakePicture(dc);
  if (picture_ != nullptr) {
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, picture_);
    BitBlt(dc, (client.right - kBandWidth) / 2, 2, kBandWidth, kBandHeight, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
  }

  // The product title on the white band.
  SetBkMode(dc, TRANSPARENT);
  HGDIOBJ old_font = SelectObject(dc, title_font_);
  SetTextColor(dc, RGB(0x12, 0x2B, 0x55));
  RECT title = {2, 92, client.right - 2, 136};
  DrawTextA(dc, kTitle, -1, &title, DT_CENTER | DT_VCENTER | DT_SINGLELINE);

  // The logo beside the small print.
  if (logo_ != nullptr) {
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, logo_);
    BitBlt(dc, 16, 150, 40, 40, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
  }
  SelectObject(dc, notice_font_);
  SetTextColor(dc, RGB(0x40, 0x40, 0x40));
  RECT notice = {68, 152, client.right - 16, 206};
  DrawTextA(dc, kNotice, -1, &notice, DT_LEFT | DT_WORDBREAK);

  // The strip along the bottom edge.
  HBRUSH silver = CreateSolidBrush(kSilver);
  SelectObject(dc, silver);
  Rectangle(dc, 0, client.bottom - 8, client.right, client.bottom);

  SelectObject(dc, old_font);
  SelectObject(dc, old_brush);
  SelectObject(dc, old_pen);
  DeleteObject(silver);
  DeleteObject(navy_pen);
}

LRESULT CALLBACK TfrmSplash::WndProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TfrmSplash*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      if (self != nullptr) self->Paint(dc);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_TIMER:
      if (self != nullptr && wparam == kTimer1) self->Timer1Timer();
      return 0;
    case WM_CLOSE:  // only Timer1 closes the splash
      return 0;
    case WM_NCDESTROY:
      if (self != nullptr) self->hwnd_ = nullptr;
      break;
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

}  // namespace halv::console
