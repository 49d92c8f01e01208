// The main window's Win32 side: resources, tab pages, control bindings to
// the model, and the message boxes, cursor and shell calls the model asks for.
#include "main_window.h"

#include <commctrl.h>
#include <shellapi.h>
#include <uxtheme.h>

#include <exception>
#include <string>
#include <vector>

#include "resource.h"
#include "user_form.h"

namespace halv::console {
namespace {

constexpr char kClassName[] = "TForm1";

struct EditBinding {
  int id;
  EditControl TForm1::*field;
  void (TForm1::*change)();  // null for read-only fields
};

struct ComboBinding {
  int id;
  ComboControl TForm1::*field;
  void (TForm1::*change)();
};

struct ButtonBinding {
  int id;
  ButtonControl TForm1::*field;  // null for buttons that are always enabled
  void (TForm1::*click)();
};

const EditBinding kEdits[] = {
    {IDC_TXTSERVICENAME, &TForm1::txtServiceName, nullptr},
    {IDC_TXTNAME, &TForm1::txtName, &TForm1::txtNameChange},
    {IDC_TXTRUNAS, &TForm1::txtRunAs, nullptr},
    {IDC_TXTBASEDIR, &TForm1::txtBaseDir, &TForm1::txtBaseDirChange},
    {IDC_TXTDUMPDIR, &TForm1::txtDumpDir, &TForm1::txtDumpDirChange},
    {IDC_TXTLOGDIR, &TForm1::txtLogDir, &TForm1::txtLogDirChange},
    {IDC_TXTPROGRAMNAME, &TForm1::txtProgramName, &TForm1::txtProgramNameChange},
    {IDC_TXTPORT, &TForm1::txtPort, &TForm1::txtPortChange},
    {IDC_TXTTIMEOUT, &TForm1::txtTimeOut, &TForm1::txtTimeOutChange},
    {IDC_TXTAUDITMAXBYTES, &TForm1::txtAuditMaxBytes, &TForm1::txtAuditMaxBytesChange},
    {IDC_TXTAUDITMAXFILES, &TForm1::txtAuditMaxFiles, &TForm1::txtAuditMaxFilesChange},
    {IDC_TXTLOGMAXFILES, &TForm1::txtLogMaxFiles, &TForm1::txtLogMaxFilesChange},
};

const ComboBinding kCombos[] = {
    {IDC_CBOVERSION, &TForm1::cboVersion, &TForm1::cboVersionChange},
    {IDC_CBOSTARTUPTYPE, &TForm1::cboStartupType, &TForm1::cboStartupTypeChange},
    {IDC_CBOSTOPDEPEND, &TForm1::cboStopDepend, &TForm1::cboStopDependChange},
    {IDC_CBOVERBOSE, &TForm1::cboVerbose, &TForm1::cboVerboseChange},
    {IDC_CBOAUDITLOG, &TForm1::cboAuditLog, &TForm1::cboAuditLogChange},
    {IDC_CBOLOGTIMESTAMPS, &TForm1::cboLogTimestamps, &TForm1::cboLogTimestampsChange},
    {IDC_CBOALLOWLIST, &TForm1::cboAllowList, &TForm1::cboAllowListChange},
    {IDC_CBOALLOWRESTART, &TForm1::cboAllowRestart, &TForm1::cboAllowRestartChange},
    {IDC_CBOALLOWSTART, &TForm1::cboAllowStart, &TForm1::cboAllowStartChange},
    {IDC_CBOALLOWSTATUS, &TForm1::cboAllowStatus, &TForm1::cboAllowStatusChange},
    {IDC_CBOALLOWSTOP, &TForm1::cboAllowStop, &TForm1::cboAllowStopChange},
    {IDC_CBOALLOWUPDATE, &TForm1::cboAllowUpdate, &TForm1::cboAllowUpdateChange},
    {IDC_CBOREQUIREAUTH, &TForm1::cboRequireAuth, &TForm1::cboRequireAuthChange},
};

const ButtonBinding kButtons[] = {
    {IDC_BTNOK, nullptr, &TForm1::btnOKClick},
    {IDC_BTNCANCEL, nullptr, &TForm1::btnCancelClick},
    {IDC_BTNAPPLY, &TForm1::btnApply, &TForm1::btnApplyClick},
    {IDC_BTNVIEW, &TForm1::btnView, &TForm1::btnViewClick},
    {IDC_BTNSTART, &TForm1::btnStart, &TForm1::btnStartClick},
    {IDC_BTNSTOP, &TForm1::btnStop, &TForm1::btnStopClick},
    {IDC_BTNRESTART, &TForm1::btnRestart, &TForm1::btnRestartClick},
    {IDC_BTNADD, nullptr, &TForm1::btnAddClick},
    {IDC_BUTTON1, nullptr, &TForm1::Button1Click},
    {IDC_BTNREMOVE, &TForm1::btnRemove, &TForm1::btnRemoveClick},
};

const char* const kTabNames[] = {"General", "System", "Security", "Users"};
const int kPageIds[] = {IDD_GENERAL, IDD_SYSTEM, IDD_SECURITY, IDD_USERS};

std::string GetText(HWND control) {
  const int length = GetWindowTextLengthA(control);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int got = GetWindowTextA(control, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(got < 0 ? 0 : got));
  return text;
}

void SetText(HWND control, const std::string& text) {
  if (control != nullptr && GetText(control) != text) SetWindowTextA(control, text.c_str());
}

void SetEnabled(HWND control, bool enabled) {
  if (control != nullptr && (IsWindowEnabled(control) != FALSE) != enabled)
    EnableWindow(control, enabled);
}

void SetCombo(HWND combo, const ComboControl& model) {
  if (combo == nullptr) return;
  const int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
  bool same = count == static_cast<int>(model.items.size());
  for (int i = 0; same && i < count; ++i) {
    char buffer[256] = {};
    if (SendMessageA(combo, CB_GETLBTEXTLEN, i, 0) >= static_cast<LRESULT>(sizeof buffer)) {
      same = false;
      break;
    }
    SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buffer));
    same = model.items[i] == buffer;
  }
  if (!same) {
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    for (const auto& item : model.items)
      SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
  }
  if (SendMessageA(combo, CB_GETCURSEL, 0, 0) != model.index)
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(model.index), 0);
  SetEnabled(combo, model.enabled);
}

// The bytes of a password field for the transform: the system code page
// when it holds every character typed (as stored forms have always been
// made), otherwise UTF-8, so that no character is lost or replaced.
std::string PasswordBytes(HWND edit) {
  const int length = GetWindowTextLengthW(edit);
  std::wstring wide(static_cast<std::size_t>(length) + 1, L'\0');
  wide.resize(static_cast<std::size_t>(GetWindowTextW(edit, wide.data(), length + 1)));
  if (wide.empty()) return {};
  const int count = static_cast<int>(wide.size());
  BOOL lossy = FALSE;
  int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), count, nullptr, 0,
                                 nullptr, &lossy);
  UINT code_page = CP_ACP;
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  if (size <= 0 || lossy) {
    code_page = CP_UTF8;
    flags = 0;
    size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), count, nullptr, 0, nullptr, nullptr);
  }
  std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0)
    WideCharToMultiByte(code_page, flags, wide.data(), count, bytes.data(), size, nullptr, nullptr);
  SecureZeroMemory(wide.data(), wide.size() * sizeof(wchar_t));
  return bytes;
}

// Whether the control's text can be written in the system code page without
// a replacement character: user names become registry key names, and two
// names turned into the same "???" would share one key.
bool FitsCodePage(HWND edit) {
  const int length = GetWindowTextLengthW(edit);
  std::wstring wide(static_cast<std::size_t>(length) + 1, L'\0');
  wide.resize(static_cast<std::size_t>(GetWindowTextW(edit, wide.data(), length + 1)));
  if (wide.empty()) return true;
  BOOL lossy = FALSE;
  const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                       static_cast<int>(wide.size()), nullptr, 0, nullptr, &lossy);
  return size > 0 && !lossy;
}

void AddColumn(HWND list, int index, const char* title, int width) {
  LVCOLUMNA column = {};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
  column.pszText = const_cast<char*>(title);
  column.cx = width;
  column.iSubItem = index;
  ListView_InsertColumn(list, index, &column);
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, SettingsStore& registry, ServiceManager& scm)
    : instance_(instance), form_(registry, scm, *this) {}

MainWindow::~MainWindow() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  if (bold_font_ != nullptr) DeleteObject(bold_font_);
}

bool MainWindow::Create() {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefDlgProcA;
  wc.cbWndExtra = DLGWINDOWEXTRA;
  wc.hInstance = instance_;
  wc.hIcon = LoadIconA(instance_, MAKEINTRESOURCEA(IDI_APP));
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  if (RegisterClassExA(&wc) == 0) return false;
  return CreateDialogParamA(instance_, MAKEINTRESOURCEA(IDD_MAIN), nullptr, DlgProc,
                            reinterpret_cast<LPARAM>(this)) != nullptr;
}

void MainWindow::Show(TfrmSplash& splash) {
  splash_ = &splash;
  ShowWindow(hwnd_, SW_SHOW);
  UpdateWindow(hwnd_);
  form_.FormShow();
  AfterHandler();
}

bool MainWindow::PreTranslate(MSG& msg) {
  return hwnd_ != nullptr && IsDialogMessageA(hwnd_, &msg) != FALSE;
}

HWND MainWindow::MessageOwner() const {
  if (user_dialog_ != nullptr) return user_dialog_;
  return hwnd_ != nullptr && IsWindowVisible(hwnd_) ? hwnd_ : nullptr;
}

void MainWindow::ShowError(const std::string& text) {
  MessageBoxA(MessageOwner(), text.c_str(), kAppTitle, MB_OK | MB_ICONSTOP);
}

void MainWindow::ShowPlainMessage(const std::string& text) {
  MessageBoxA(MessageOwner(), text.c_str(), kAppTitle, MB_OK);
}

void MainWindow::ShowNotice(const std::string& text) {
  MessageBoxA(MessageOwner(), text.c_str(), kFormCaption, MB_OK);
}

Answer MainWindow::Ask(const std::string& text, bool with_cancel) {
  switch (MessageBoxA(MessageOwner(), text.c_str(), kFormCaption,
                      with_cancel ? MB_YESNOCANCEL : MB_YESNO)) {
    case IDYES:
      return Answer::kYes;
    case IDNO:
      return Answer::kNo;
    default:
      return Answer::kCancel;
  }
}

std::uintptr_t MainWindow::ShowHourglass() {
  return reinterpret_cast<std::uintptr_t>(SetCursor(LoadCursor(nullptr, IDC_WAIT)));
}

void MainWindow::RestoreCursor(std::uintptr_t token) {
  SetCursor(reinterpret_cast<HCURSOR>(token));
}

std::intptr_t MainWindow::ShellOpen(const std::string& path) {
  return reinterpret_cast<std::intptr_t>(
      ShellExecuteA(nullptr, "open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
}

namespace {

struct UserDialogContext {
  MainWindow* window;
  TfrmUser* dialog;
  HWND* current;  // the window's record of the dialog shown
};

}  // namespace

bool MainWindow::ShowUserDialog(TfrmUser& dialog) {
  UserDialogContext context = {this, &dialog, &user_dialog_};
  const INT_PTR result = DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_USER), hwnd_, UserDlgProc,
                                         reinterpret_cast<LPARAM>(&context));
  user_dialog_ = nullptr;
  return result == IDOK;
}

// The user dialog: a Unicode window, so that the password fields keep every
// character typed. Its handlers run on the TfrmUser model.
INT_PTR CALLBACK MainWindow::UserDlgProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_INITDIALOG) {
    SetWindowLongPtrW(hwnd, DWLP_USER, lparam);
    auto* context = reinterpret_cast<UserDialogContext*>(lparam);
    *context->current = hwnd;
    SendDlgItemMessageW(hwnd, IDC_TXTPASS, EM_LIMITTEXT, kPasswordMaxChars, 0);
    SendDlgItemMessageW(hwnd, IDC_TXTCONFIRM, EM_LIMITTEXT, kPasswordMaxChars, 0);
    SendDlgItemMessageW(hwnd, IDC_TXTPASS, EM_SETPASSWORDCHAR, L'*', 0);
    SendDlgItemMessageW(hwnd, IDC_TXTCONFIRM, EM_SETPASSWORDCHAR, L'*', 0);
    TfrmUser& d = *context->dialog;
    d.FormShow();
    SetWindowTextA(GetDlgItem(hwnd, IDC_TXTUSER), d.txtUser.c_str());
    SetDlgItemTextW(hwnd, IDC_TXTPASS, L"");
    SetDlgItemTextW(hwnd, IDC_TXTCONFIRM, L"");
    CheckDlgButton(hwnd, IDC_CBXDISABLE, d.cbxDisable ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(GetDlgItem(hwnd, IDC_OKBTN), d.okEnabled);
    return TRUE;
  }
  auto* context = reinterpret_cast<UserDialogContext*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (context == nullptr || msg != WM_COMMAND) return FALSE;
  TfrmUser& d = *context->dialog;
  const int id = LOWORD(wparam);
  const int code = HIWORD(wparam);
  switch (id) {
    case IDC_TXTUSER:
      if (code == EN_CHANGE) {
        d.txtUser = GetText(GetDlgItem(hwnd, IDC_TXTUSER));
        d.txtUserChange();
        EnableWindow(GetDlgItem(hwnd, IDC_OKBTN), d.okEnabled);
      }
      return TRUE;
    case IDOK:
    case IDC_OKBTN: {
      if (code != BN_CLICKED || !d.okEnabled) return TRUE;
      if (!FitsCodePage(GetDlgItem(hwnd, IDC_TXTUSER))) {
        context->window->ShowNotice(
            "The user name can hold only characters of the system code page.");
        SetFocus(GetDlgItem(hwnd, IDC_TXTUSER));
        return TRUE;
      }
      d.cbxDisable = IsDlgButtonChecked(hwnd, IDC_CBXDISABLE) == BST_CHECKED;
      d.txtPass = PasswordBytes(GetDlgItem(hwnd, IDC_TXTPASS));
      d.txtConfirm = PasswordBytes(GetDlgItem(hwnd, IDC_TXTCONFIRM));
      bool closes = false;
      try {
        closes = d.OKBtnClick();
      } catch (const std::exception& e) {
        context->window->ShowError(e.what());
      }
      SecureZeroMemory(d.txtPass.data(), d.txtPass.size());
      SecureZeroMemory(d.txtConfirm.data(), d.txtConfirm.size());
      if (closes) {
        EndDialog(hwnd, IDOK);
      } else if (d.focusPassword) {
        // A mismatch: both password fields are typed again.
        SetDlgItemTextW(hwnd, IDC_TXTPASS, L"");
        SetDlgItemTextW(hwnd, IDC_TXTCONFIRM, L"");
        SendMessageW(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(hwnd, IDC_TXTPASS)),
                     TRUE);
      } else {
        // The name was not accepted: the operator changes it or cancels.
        SendMessageW(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(hwnd, IDC_TXTUSER)),
                     TRUE);
      }
      return TRUE;
    }
    case IDCANCEL:
    case IDC_CANCELBTN:
      if (code != BN_CLICKED) return TRUE;
      d.CancelBtnClick();
      EndDialog(hwnd, IDCANCEL);
      return TRUE;
  }
  return FALSE;
}

void MainWindow::ShowSplashModal() {
  if (splash_ != nullptr) splash_->ShowModal();
}

void MainWindow::CloseMainWindow() { close_requested_ = true; }

INT_PTR CALLBACK MainWindow::DlgProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_INITDIALOG) {
    auto* self = reinterpret_cast<MainWindow*>(lparam);
    SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
    self->hwnd_ = hwnd;
    self->InitDialog();
    return FALSE;
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (self == nullptr) return FALSE;
  if (msg == WM_NCDESTROY) {
    self->hwnd_ = nullptr;
    return FALSE;
  }
  return self->Handle(msg, wparam, lparam);
}

// Tab pages pass their controls' notifications on to the main window.
INT_PTR CALLBACK MainWindow::PageProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_INITDIALOG:
      EnableThemeDialogTexture(hwnd, ETDT_ENABLETAB);
      return FALSE;
    case WM_COMMAND:
    case WM_NOTIFY:
      SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, SendMessageA(GetParent(hwnd), msg, wparam, lparam));
      return TRUE;
  }
  return FALSE;
}

void MainWindow::InitDialog() {
  tabs_ = GetDlgItem(hwnd_, IDC_TABS);
  for (int i = 0; i < 4; ++i) {
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(kTabNames[i]);
    TabCtrl_InsertItem(tabs_, i, &item);
    pages_[i] = CreateDialogParamA(instance_, MAKEINTRESOURCEA(kPageIds[i]), hwnd_, PageProc, 0);
  }
  Layout();

  HWND users = Item(IDC_LVUSERS);
  HWND permissions = Item(IDC_LVPERMISSIONS);
  ListView_SetExtendedListViewStyle(users, LVS_EX_FULLROWSELECT);
  ListView_SetExtendedListViewStyle(permissions, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  RECT rc;
  GetClientRect(users, &rc);
  AddColumn(users, 0, "Name", rc.right - GetSystemMetrics(SM_CXVSCROLL));
  GetClientRect(permissions, &rc);
  AddColumn(permissions, 0, "Allow", 24);
  AddColumn(permissions, 1, "Permissions", rc.right - 24 - GetSystemMetrics(SM_CXVSCROLL));
  LOGFONTA font = {};
  if (GetObjectA(reinterpret_cast<HFONT>(SendMessageA(users, WM_GETFONT, 0, 0)), sizeof font,
                 &font) != 0) {
    font.lfWeight = FW_BOLD;
    bold_font_ = CreateFontIndirectA(&font);
    SendMessageA(users, WM_SETFONT, reinterpret_cast<WPARAM>(bold_font_), FALSE);
  }
  SendMessageA(Item(IDC_TXTPASS), EM_LIMITTEXT, 15, 0);

  SelectTab(0);
  form_.FormCreate();
  Push();
}

// Client area of exactly 411 by 378 pixels, centred on the desktop; the tab
// control above the three buttons; each page over the tab's display area.
void MainWindow::Layout() {
  RECT frame = {0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrA(hwnd_, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrA(hwnd_, GWL_EXSTYLE)));
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT work;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - width) / 2,
               work.top + (work.bottom - work.top - height) / 2, width, height,
               SWP_NOZORDER | SWP_NOACTIVATE);

  constexpr int kMargin = 6, kButtonWidth = 75, kButtonHeight = 25;
  const int buttons_top = kClientHeight - kMargin - kButtonHeight;
  MoveWindow(tabs_, kMargin, kMargin, kClientWidth - 2 * kMargin, buttons_top - 2 * kMargin, FALSE);
  const int ids[] = {IDC_BTNOK, IDC_BTNCANCEL, IDC_BTNAPPLY};
  for (int i = 0; i < 3; ++i) {
    const int left = kClientWidth - kMargin - (3 - i) * kButtonWidth - (2 - i) * kMargin;
    MoveWindow(GetDlgItem(hwnd_, ids[i]), left, buttons_top, kButtonWidth, kButtonHeight, FALSE);
  }
  RECT display = {kMargin, kMargin, kClientWidth - kMargin, buttons_top - kMargin};
  TabCtrl_AdjustRect(tabs_, FALSE, &display);
  for (HWND page : pages_)
    SetWindowPos(page, HWND_TOP, display.left, display.top, display.right - display.left,
                 display.bottom - display.top, SWP_NOACTIVATE);
}

void MainWindow::SelectTab(int index) {
  TabCtrl_SetCurSel(tabs_, index);
  for (int i = 0; i < 4; ++i) ShowWindow(pages_[i], i == index ? SW_SHOW : SW_HIDE);
}

HWND MainWindow::Item(int id) const {
  if (HWND found = GetDlgItem(hwnd_, id)) return found;
  for (HWND page : pages_)
    if (HWND found = GetDlgItem(page, id)) return found;
  return nullptr;
}

INT_PTR MainWindow::Handle(UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case WM_NOTIFY:
      OnNotify(*reinterpret_cast<const NMHDR*>(lparam));
      return TRUE;
    case WM_CLOSE:
      form_.CloseBoxClick();
      AfterHandler();
      return TRUE;
    case WM_DESTROY:
      PostQuitMessage(0);
      return TRUE;
  }
  return FALSE;
}

void MainWindow::OnCommand(int id, int code) {
  if (updating_) return;
  for (const auto& b : kEdits) {
    if (b.id != id || code != EN_CHANGE || b.change == nullptr) continue;
    (form_.*b.field).text = GetText(Item(id));
    (form_.*b.change)();
    AfterHandler();
    return;
  }
  for (const auto& b : kCombos) {
    if (b.id != id || code != CBN_SELCHANGE) continue;
    (form_.*b.field).Select(static_cast<int>(SendMessageA(Item(id), CB_GETCURSEL, 0, 0)));
    (form_.*b.change)();
    AfterHandler();
    return;
  }
  for (const auto& b : kButtons) {
    if (b.id != id || code != BN_CLICKED || b.click == nullptr) continue;
    if (b.field != nullptr && !(form_.*b.field).enabled) return;
    (form_.*b.click)();
    AfterHandler();
    return;
  }
  // IDOK and IDCANCEL from Enter and Esc do nothing: only the buttons save or close.
}

void MainWindow::OnNotify(const NMHDR& header) {
  if (header.idFrom == IDC_TABS && header.code == TCN_SELCHANGE) {
    SelectTab(TabCtrl_GetCurSel(tabs_));
    return;
  }
  if (updating_ || header.code != LVN_ITEMCHANGED) return;
  const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
  if (header.idFrom == IDC_LVPERMISSIONS && (change.uChanged & LVIF_STATE) != 0 &&
      ((change.uNewState ^ change.uOldState) & LVIS_STATEIMAGEMASK) != 0 && change.iItem >= 0 &&
      change.iItem < static_cast<int>(form_.lvPermissions.size())) {
    form_.lvPermissions[change.iItem].checked =
        ListView_GetCheckState(header.hwndFrom, change.iItem) != FALSE;
    form_.lvPermissionsChange();
    AfterHandler();
  } else if (header.idFrom == IDC_LVUSERS && (change.uChanged & LVIF_STATE) != 0 &&
             ((change.uNewState ^ change.uOldState) & LVIS_SELECTED) != 0) {
    const int selected = ListView_GetNextItem(header.hwndFrom, -1, LVNI_SELECTED);
    if (selected != form_.selectedUser) {
      form_.SelectUser(selected);
      AfterHandler();
    }
  }
}

void MainWindow::AfterHandler() {
  if (close_requested_) {
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
    return;
  }
  Push();
}

void MainWindow::Push() {
  if (hwnd_ == nullptr) return;
  updating_ = true;
  for (const auto& b : kEdits) {
    HWND control = Item(b.id);
    SetText(control, (form_.*b.field).text);
    SetEnabled(control, (form_.*b.field).enabled);
  }
  for (const auto& b : kCombos) SetCombo(Item(b.id), form_.*b.field);
  for (const auto& b : kButtons)
    if (b.field != nullptr) SetEnabled(Item(b.id), (form_.*b.field).enabled);
  SetText(Item(IDC_TXTSERVICESTATUS), form_.txtServiceStatus);
  PushUsers();
  updating_ = false;
}

void MainWindow::PushUsers() {
  HWND users = Item(IDC_LVUSERS);
  const int count = ListView_GetItemCount(users);
  bool same = count == static_cast<int>(form_.lvUsers.size());
  for (int i = 0; same && i < count; ++i) {
    char name[256] = {};
    ListView_GetItemText(users, i, 0, name, sizeof name);
    same = form_.lvUsers[i].name == name;
  }
  if (!same) {
    ListView_DeleteAllItems(users);
    for (std::size_t i = 0; i < form_.lvUsers.size(); ++i) {
      LVITEMA item = {};
      item.mask = LVIF_TEXT;
      item.iItem = static_cast<int>(i);
      item.pszText = const_cast<char*>(form_.lvUsers[i].name.c_str());
      ListView_InsertItem(users, &item);
    }
  }
  const int selected = ListView_GetNextItem(users, -1, LVNI_SELECTED);
  if (selected != form_.selectedUser) {
    ListView_SetItemState(users, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (form_.selectedUser >= 0)
      ListView_SetItemState(users, form_.selectedUser, LVIS_SELECTED | LVIS_FOCUSED,
                            LVIS_SELECTED | LVIS_FOCUSED);
  }

  HWND permissions = Item(IDC_LVPERMISSIONS);
  if (ListView_GetItemCount(permissions) != static_cast<int>(form_.lvPermissions.size())) {
    ListView_DeleteAllItems(permissions);
    for (std::size_t i = 0; i < form_.lvPermissions.size(); ++i) {
      LVITEMA item = {};
      item.mask = LVIF_TEXT;
      item.iItem = static_cast<int>(i);
      item.pszText = const_cast<char*>("");
      ListView_InsertItem(permissions, &item);
    }
  }
  for (std::size_t i = 0; i < form_.lvPermissions.size(); ++i) {
    const int row = static_cast<int>(i);
    ListView_SetItemText(permissions, row, 1,
                         const_cast<char*>(form_.lvPermissions[i].name.c_str()));
    if ((ListView_GetCheckState(permissions, row) != FALSE) != form_.lvPermissions[i].checked)
      ListView_SetCheckState(permissions, row, form_.lvPermissions[i].checked);
  }
  SetEnabled(Item(IDC_BTNREMOVE), form_.btnRemove.enabled);
}

}  // namespace halv::console
