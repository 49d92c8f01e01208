// In-memory stand-ins for the console model's registry (the shared registry
// fake) and user interface, recording what the model does and answering its
// questions. (Service work runs against the simulated manager.)
#ifndef HALV_TESTS_UNIT_CONSOLE_CONSOLE_FAKES_H_
#define HALV_TESTS_UNIT_CONSOLE_CONSOLE_FAKES_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "console_ports.h"
#include "memory_registry.h"
#include "user_form.h"

namespace halv::console::testing {

// The registry in memory, shared with the service's tests.
using MemoryStore = ::halv::testing::MemoryRegistry;

// Records every box, question, cursor change and shell request; answers
// questions and shell requests from queues set by the test.
class FakeUi : public ConsoleUi {
 public:
  static constexpr std::uintptr_t kArrow = 1;
  static constexpr std::uintptr_t kHourglass = 2;

  std::vector<std::string> errors, plain_messages, notices, questions;
  std::deque<Answer> answers;               // empty: questions are answered Cancel
  std::deque<std::intptr_t> shell_results;  // empty: the shell succeeds (42)
  std::vector<std::string> shell_paths;
  std::uintptr_t cursor = kArrow;
  int hourglass_shown = 0;
  int splash_shown = 0;
  bool closed = false;
  // Cursor at each box or question, to see that errors come after the restore.
  std::vector<std::uintptr_t> cursor_at_error;

  void ShowError(const std::string& text) override {
    errors.push_back(text);
    cursor_at_error.push_back(cursor);
  }
  void ShowPlainMessage(const std::string& text) override { plain_messages.push_back(text); }
  void ShowNotice(const std::string& text) override { notices.push_back(text); }
  Answer Ask(const std::string& text, bool with_cancel) override {
    questions.push_back(text + (with_cancel ? " [YNC]" : " [YN]"));
    if (answers.empty()) return Answer::kCancel;
    Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  std::uintptr_t ShowHourglass() override {
    ++hourglass_shown;
    return std::exchange(cursor, kHourglass);
  }
  void RestoreCursor(std::uintptr_t token) override { cursor = token; }
  std::intptr_t ShellOpen(const std::string& path) override {
    shell_paths.push_back(path);
    if (shell_results.empty()) return 42;
    std::intptr_t r = shell_results.front();
    shell_results.pop_front();
    return r;
  }
  // Plays the operator's part in the user dialog: fills `dialog` through its
  // handlers and returns its result; unset, the dialog is cancelled.
  std::function<bool(TfrmUser&)> user_dialog;
  int user_dialogs_shown = 0;
  bool ShowUserDialog(TfrmUser& dialog) override {
    ++user_dialogs_shown;
    dialog.FormShow();
    if (user_dialog) return user_dialog(dialog);
    dialog.CancelBtnClick();
    return false;
  }
  void ShowSplashModal() override { ++splash_shown; }
  void CloseMainWindow() override { closed = true; }
};

}  // namespace halv::console::testing

#endif  // HALV_TESTS_UNIT_CONSOLE_CONSOLE_FAKES_H_
