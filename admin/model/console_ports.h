// The narrow interfaces through which the console's main-window model reaches
// the registry and the user interface. (Service work goes through the shared
// ServiceManager interface and the service-control operations.)
//
// The real console gives the model the Win32 registry store and implements
// the user interface with message boxes and cursors; the model tests use the
// registry in memory and a user interface that answers the questions itself.
// All calls happen on the user-interface thread.
#ifndef HALV_ADMIN_MODEL_CONSOLE_PORTS_H_
#define HALV_ADMIN_MODEL_CONSOLE_PORTS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "registry_store.h"

namespace halv::console {

class TfrmUser;

// The registry under HKEY_LOCAL_MACHINE: the shared registry store
// (common/registry_store.h), whose absence reads as "" and whose failures
// raise halv::Error with the product's texts ("Invalid data type for '%s'",
// "Failed to set data for '%s'").
using SettingsStore = RegistryStore;

// An answer to a Yes/No/Cancel or Yes/No question.
enum class Answer { kYes, kNo, kCancel };

// What the model asks of the window system.
class ConsoleUi {
 public:
  virtual ~ConsoleUi() = default;
  // The application's standard error box: title "Halvexa351 Administrator",
  // the text, an OK button and the stop icon.
  virtual void ShowError(const std::string& text) = 0;
  // The framework's plain message box: title "Halvexa351 Administrator", OK, no icon.
  virtual void ShowPlainMessage(const std::string& text) = 0;
  // A notice captioned "Halvexa Administrator" with an OK button and no icon.
  virtual void ShowNotice(const std::string& text) = 0;
  // A question captioned "Halvexa Administrator", no icon. With `with_cancel`
  // the buttons are Yes, No and Cancel, otherwise Yes and No.
  virtual Answer Ask(const std::string& text, bool with_cancel) = 0;
  // Shows the hourglass cursor and returns a token for the cursor it replaced.
  virtual std::uintptr_t ShowHourglass() = 0;
  // Puts back the cursor that ShowHourglass replaced.
  virtual void RestoreCursor(std::uintptr_t token) = 0;
  // The shell's "open" verb on `path` (no parameters, no directory, no
  // owner, shown normally); returns the shell's result, success when > 32.
  virtual std::intptr_t ShellOpen(const std::string& path) = 0;
  // Shows the user dialog modally over the main window; true when it closed
  // with the OK result. The dialog's handlers run on `dialog` meanwhile.
  virtual bool ShowUserDialog(TfrmUser& dialog) = 0;
  // Shows the splash window modally over the main window.
  virtual void ShowSplashModal() = 0;
  // Closes the main window, which ends the program.
  virtual void CloseMainWindow() = 0;
};

// Shows the hourglass for the lifetime of the object and restores the
// previous cursor on every way out, exceptions included.
class HourglassCursor {
 public:
  explicit HourglassCursor(ConsoleUi& ui) : ui_(ui), saved_(ui.ShowHourglass()) {}
  HourglassCursor(const HourglassCursor&) = delete;
  HourglassCursor& operator=(const HourglassCursor&) = delete;
  ~HourglassCursor() { ui_.RestoreCursor(saved_); }

 private:
  ConsoleUi& ui_;
  std::uintptr_t saved_;
};

}  // namespace halv::console

#endif  // HALV_ADMIN_MODEL_CONSOLE_PORTS_H_
