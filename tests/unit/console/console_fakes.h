// In-memory stand-ins for the console model's registry and user interface,
// recording what the model does and answering its questions. (Service work
// runs against the simulated manager.)
#ifndef HALV_TESTS_UNIT_CONSOLE_CONSOLE_FAKES_H_
#define HALV_TESTS_UNIT_CONSOLE_CONSOLE_FAKES_H_

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "console_ports.h"
#include "halv_error.h"
#include "user_form.h"

namespace halv::console::testing {

// A registry of keys (kept in creation order, as enumeration returns them)
// holding string values and values of other types.
class MemoryStore : public SettingsStore {
 public:
  struct Write {
    std::string key, name, value;
    bool operator==(const Write&) const = default;
  };

  void Set(const std::string& key, const std::string& name, const std::string& value) {
    Put(key, name, {true, value});
  }
  // A value of a non-string type (REG_DWORD, say).
  void SetBinary(const std::string& key, const std::string& name) { Put(key, name, {false, ""}); }
  bool Has(const std::string& key, const std::string& name) const {
    auto k = values_.find(key);
    if (k == values_.end()) return false;
    return std::any_of(k->second.begin(), k->second.end(),
                       [&](const auto& v) { return v.first == name; });
  }
  std::string Get(const std::string& key, const std::string& name) const {
    auto k = values_.find(key);
    if (k != values_.end())
      for (const auto& [n, v] : k->second)
        if (n == name) return v.text;
    return "<missing>";
  }
  bool HasKey(const std::string& key) const {
    return std::find(keys_.begin(), keys_.end(), key) != keys_.end();
  }

  std::set<std::string> fail_writes;  // value names whose writes fail
  std::vector<Write> writes;          // every successful write, in order
  std::vector<Write> reads;           // every read (value empty), in order
  std::function<void()> on_access;    // called at every operation

  std::string ReadRegString(const std::string& key, const std::string& name) override {
    Touch();
    reads.push_back({key, name, ""});
    auto k = values_.find(key);
    if (k == values_.end()) return "";
    for (const auto& [n, v] : k->second) {
      if (n != name) continue;
      if (!v.is_string) throw Error(FormatMessageText("Invalid data type for '%s'", name));
      return v.text;
    }
    return "";
  }
  void WriteRegString(const std::string& key, const std::string& name,
                      const std::string& value) override {
    Touch();
    if (fail_writes.count(name))
      throw Error(FormatMessageText("Failed to set data for '%s'", name));
    Set(key, name, value);
    writes.push_back({key, name, value});
  }
  std::vector<std::string> ListRegSubKeys(const std::string& key) override {
    Touch();
    std::vector<std::string> out;
    const std::string prefix = key + "\\";
    for (const auto& k : keys_) {
      if (k.compare(0, prefix.size(), prefix) != 0) continue;
      const std::string rest = k.substr(prefix.size());
      if (rest.find('\\') == std::string::npos) out.push_back(rest);
    }
    return out;
  }
  std::vector<std::string> ListRegValueNames(const std::string& key) override {
    Touch();
    std::vector<std::string> out;
    auto k = values_.find(key);
    if (k != values_.end())
      for (const auto& v : k->second) out.push_back(v.first);
    return out;
  }
  void DeleteRegKeyTree(const std::string& parent, const std::string& subkey) override {
    Touch();
    const std::string path = parent + "\\" + subkey;
    std::erase_if(keys_, [&](const std::string& k) {
      return k == path || k.compare(0, path.size() + 1, path + "\\") == 0;
    });
    std::erase_if(values_, [&](const auto& kv) {
      return kv.first == path || kv.first.compare(0, path.size() + 1, path + "\\") == 0;
    });
  }

 private:
  void Touch() {
    if (on_access) on_access();
  }
  struct Value {
    bool is_string;
    std::string text;
  };
  void CreateKey(const std::string& key) {
    for (std::size_t at = key.find('\\'); at != std::string::npos; at = key.find('\\', at + 1))
      AddKey(key.substr(0, at));
    AddKey(key);
  }
  void AddKey(const std::string& key) {
    if (!HasKey(key)) keys_.push_back(key);
  }
  void Put(const std::string& key, const std::string& name, Value value) {
    CreateKey(key);
    auto& list = values_[key];
    for (auto& [n, v] : list)
      if (n == name) {
        v = std::move(value);
        return;
      }
    list.emplace_back(name, std::move(value));
  }

  std::vector<std::string> keys_;
  std::map<std::string, std::vector<std::pair<std::string, Value>>> values_;
};

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
