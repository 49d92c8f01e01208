// Drives a running halvexaadmin.exe from another process through window
// messages: finds its windows by class and caption, its controls by the IDs
// of its resource header, reads and sets texts, clicks buttons, picks list
// entries and answers message boxes. Also starts and ends the program.
#ifndef HALV_TESTS_E2E_CONSOLE_CONSOLE_DRIVER_H_
#define HALV_TESTS_E2E_CONSOLE_CONSOLE_DRIVER_H_

#include <windows.h>

#include <functional>
#include <string>

namespace halv::console::e2e {

// The folder of the running test program, with a trailing backslash.
std::string ProgramFolder();

// Polls `done` every 50 ms for up to `timeout_ms`; true once it holds.
bool WaitFor(const std::function<bool()>& done, DWORD timeout_ms);

// A started halvexaadmin.exe; ended (closed, or terminated after 5 s) when
// the object goes.
class AdminProcess {
 public:
  AdminProcess();
  AdminProcess(const AdminProcess&) = delete;
  AdminProcess& operator=(const AdminProcess&) = delete;
  ~AdminProcess();

  bool started() const { return info_.hProcess != nullptr; }
  // Waits up to `timeout_ms` for the program to end by itself.
  bool WaitExit(DWORD timeout_ms);
  DWORD pid() const { return info_.dwProcessId; }

  // A top-level window of this process with the class and caption (either
  // may be null), or null.
  HWND FindTopWindow(const char* class_name, const char* caption) const;
  // The main window (class "TForm1"), or null.
  HWND Main() const { return FindTopWindow("TForm1", "Halvexa Administrator"); }
  // A control of the main window (on any tab page) by its ID, or null.
  HWND Control(int id) const;

 private:
  PROCESS_INFORMATION info_ = {};
};

// A descendant of `parent` with the control ID, or null.
HWND FindControl(HWND parent, int id);

std::string Text(HWND window);
void SetText(HWND edit, const std::string& text);
// BM_CLICK, waiting until the program has handled it (up to 60 s).
void Click(HWND button);
// Selects entry `index` of a drop-down list as an operator would (the
// selection and the notification that goes with it).
void Choose(HWND combo, int index);
// Moves the tab control's selection one tab right (as the arrow key does).
void NextTab(HWND tabs);
// List-view items. The messages that carry pointers use memory allocated
// in the program's process.
int ListCount(HWND list);
std::string ListItemText(HWND list, int item, int subitem);
// LVM_SETITEMSTATE, as a click would change the item (selection, tick).
void SetListItemState(HWND list, int item, UINT state, UINT mask);
bool ListItemChecked(HWND list, int item);
// The index of the item with that caption, or -1.
int FindListItem(HWND list, const std::string& caption);

// The message text of a message box.
std::string MessageBoxText(HWND box);

// Registry helpers on HKEY_LOCAL_MACHINE. SetRegString creates the key when
// missing and writes a REG_SZ value; false when either step fails.
bool SetRegString(const std::string& key, const std::string& name, const std::string& value);
std::string GetRegString(const std::string& key, const std::string& name);
void DeleteTree(const std::string& key);

}  // namespace halv::console::e2e

#endif  // HALV_TESTS_E2E_CONSOLE_CONSOLE_DRIVER_H_
