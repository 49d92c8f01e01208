// Window-message driving of halvexaadmin.exe for the end-to-end tests.
#include "console_driver.h"

#include <commctrl.h>

#include <vector>

namespace halv::console::e2e {

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path, n);
  dir.erase(dir.find_last_of("\\/") + 1);
  return dir;
}

bool WaitFor(const std::function<bool()>& done, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start >= timeout_ms) return false;
    Sleep(50);
  }
}

AdminProcess::AdminProcess() {
  std::string command = "\"" + ProgramFolder() + "halvexaadmin.exe\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info_)) {
    info_ = {};
  }
}

AdminProcess::~AdminProcess() {
  if (info_.hProcess == nullptr) return;
  if (HWND main = Main()) PostMessageA(main, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(info_.hProcess, 5000) != WAIT_OBJECT_0) {
    TerminateProcess(info_.hProcess, 1);
    WaitForSingleObject(info_.hProcess, 5000);
  }
  CloseHandle(info_.hThread);
  CloseHandle(info_.hProcess);
}

bool AdminProcess::WaitExit(DWORD timeout_ms) {
  return WaitForSingleObject(info_.hProcess, timeout_ms) == WAIT_OBJECT_0;
}

HWND AdminProcess::FindTopWindow(const char* class_name, const char* caption) const {
  HWND window = nullptr;
  while ((window = FindWindowExA(nullptr, window, class_name, caption)) != nullptr) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == info_.dwProcessId) return window;
  }
  return nullptr;
}

HWND AdminProcess::Control(int id) const {
  HWND main = Main();
  return main == nullptr ? nullptr : FindControl(main, id);
}

HWND FindControl(HWND parent, int id) {
  struct Search {
    int id;
    HWND found;
  } search = {id, nullptr};
  EnumChildWindows(
      parent,
      [](HWND child, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        if (GetDlgCtrlID(child) != s->id) return TRUE;
        s->found = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string Text(HWND window) {
  char buffer[1024] = {};
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                      SMTO_ABORTIFHUNG, 10000, &result);
  return std::string(buffer, result);
}

void SetText(HWND edit, const std::string& text) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), 0, 10000,
                      &result);
}

void Click(HWND button) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(button, BM_CLICK, 0, 0, 0, 60000, &result);
}

void Choose(HWND combo, int index) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0, 0, 10000, &result);
  SendMessageTimeoutA(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                      reinterpret_cast<LPARAM>(combo), 0, 60000, &result);
}

void NextTab(HWND tabs) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(tabs, WM_KEYDOWN, VK_RIGHT, 0, 0, 10000, &result);
}

namespace {

// A block of memory in the process that owns a window, freed on scope exit.
class RemoteMemory {
 public:
  RemoteMemory(HWND window, std::size_t size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_ != nullptr)
      address_ = static_cast<char*>(
          VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  }
  RemoteMemory(const RemoteMemory&) = delete;
  RemoteMemory& operator=(const RemoteMemory&) = delete;
  ~RemoteMemory() {
    if (address_ != nullptr) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_ != nullptr) CloseHandle(process_);
  }
  bool ok() const { return address_ != nullptr; }
  char* at(std::size_t offset) const { return address_ + offset; }
  void Write(std::size_t offset, const void* data, std::size_t size) {
    WriteProcessMemory(process_, address_ + offset, data, size, nullptr);
  }
  void Read(std::size_t offset, void* data, std::size_t size) {
    ReadProcessMemory(process_, address_ + offset, data, size, nullptr);
  }

 private:
  HANDLE process_ = nullptr;
  char* address_ = nullptr;
};

LRESULT Send(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, msg, wparam, lparam, 0, 60000, &result);
  return static_cast<LRESULT>(result);
}

}  // namespace

int ListCount(HWND list) { return static_cast<int>(Send(list, LVM_GETITEMCOUNT, 0, 0)); }

std::string ListItemText(HWND list, int item, int subitem) {
  constexpr std::size_t kText = 256;
  RemoteMemory memory(list, sizeof(LVITEMA) + kText);
  if (!memory.ok()) return "<no memory>";
  LVITEMA lv = {};
  lv.iSubItem = subitem;
  lv.pszText = memory.at(sizeof(LVITEMA));
  lv.cchTextMax = kText;
  memory.Write(0, &lv, sizeof lv);
  const auto length = Send(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(item),
                           reinterpret_cast<LPARAM>(memory.at(0)));
  std::string text(kText, '\0');
  memory.Read(sizeof(LVITEMA), text.data(), kText);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

void SetListItemState(HWND list, int item, UINT state, UINT mask) {
  RemoteMemory memory(list, sizeof(LVITEMA));
  if (!memory.ok()) return;
  LVITEMA lv = {};
  lv.state = state;
  lv.stateMask = mask;
  memory.Write(0, &lv, sizeof lv);
  Send(list, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(memory.at(0)));
}

bool ListItemChecked(HWND list, int item) {
  const auto state = static_cast<UINT>(
      Send(list, LVM_GETITEMSTATE, static_cast<WPARAM>(item), LVIS_STATEIMAGEMASK));
  return (state >> 12) == 2;
}

int FindListItem(HWND list, const std::string& caption) {
  const int count = ListCount(list);
  for (int i = 0; i < count; ++i)
    if (ListItemText(list, i, 0) == caption) return i;
  return -1;
}

std::string MessageBoxText(HWND box) {
  // The text is the box's static control with the ID 0xFFFF.
  HWND text = GetDlgItem(box, 0xFFFF);
  return text == nullptr ? std::string() : Text(text);
}

bool SetRegString(const std::string& key, const std::string& name, const std::string& value) {
  HKEY h = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                      nullptr) != ERROR_SUCCESS)
    return false;
  const LONG written =
      RegSetValueExA(h, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
  RegCloseKey(h);
  return written == ERROR_SUCCESS;
}

std::string GetRegString(const std::string& key, const std::string& name) {
  char buffer[1024] = {};
  DWORD size = sizeof buffer;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, buffer,
                   &size) != ERROR_SUCCESS)
    return "<missing>";
  return buffer;
}

void DeleteTree(const std::string& key) {
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
}

}  // namespace halv::console::e2e
