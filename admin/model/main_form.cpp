// The main window's behaviour: loading and saving the settings, the changed
// state with OK, Cancel and Apply, and the service panel.
#include "main_form.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <exception>
#include <iterator>
#include <string_view>
#include <utility>

#include "auth/auth.h"
#include "halv_error.h"
#include "scm/service_control.h"
#include "protocol_text.h"
#include "str_to_int.h"
#include "user_form.h"

namespace halv::console {

std::string ComboControl::Text() const {
  return index >= 0 && index < static_cast<int>(items.size()) ? items[index] : std::string();
}

std::string StateText(std::uint32_t state) {
  return std::string(WordOf(kConsoleStateWords, state, 1));
}

ServiceButtons ButtonsAfterLoad(std::uint32_t state) {
  switch (state) {
    case kStateStopped:
    case kStateStopPending:
      return {true, false, false};
    case kStateStartPending:
      return {false, true, false};
    case kStateRunning:
    case kStateContinuePending:
    case kStatePausePending:
      return {false, true, true};
    case kStatePaused:
      return {true, false, true};
    default:
      return {false, false, false};
  }
}

ServiceButtons ButtonsAfterAction(std::uint32_t state) {
  switch (state) {
    case kStateStopped:
    case kStateStopPending:
    case kStatePausePending:
    case kStatePaused:
      return {true, false, false};
    case kStateStartPending:
    case kStateRunning:
    case kStateContinuePending:
      return {false, true, true};
    default:
      return {false, false, false};
  }
}

std::string StartTypeText(std::uint32_t start_type) {
  return std::string(WordOf(kStartTypeWords, start_type, 0));
}

namespace {

// The control of each System value: a text box, or a No/Yes list.
struct SystemControl {
  const char* name;
  EditControl TForm1::*edit;    // null for a list
  ComboControl TForm1::*combo;  // null for a text box
  bool single_backslashes;      // a folder: runs of backslashes load as one
};
constexpr SystemControl kSystemControls[] = {
    {config::kStopDependencies, nullptr, &TForm1::cboStopDepend, false},
    {config::kVerboseLogging, nullptr, &TForm1::cboVerbose, false},
    {config::kServiceStopTimeOut, &TForm1::txtTimeOut, nullptr, false},
    {config::kBaseDir, &TForm1::txtBaseDir, nullptr, true},
    {config::kLogDir, &TForm1::txtLogDir, nullptr, true},
    {config::kDumpDir, &TForm1::txtDumpDir, nullptr, true},
    {config::kExecName, &TForm1::txtProgramName, nullptr, false},
    {config::kPort, &TForm1::txtPort, nullptr, false},
};

// The optional values of the System tab, each a list or a text box.
struct LogControl {
  const char* name;
  EditControl TForm1::*edit;    // null for a list
  ComboControl TForm1::*combo;  // null for a text box
};
constexpr LogControl kLogControls[] = {
    {config::kAuditLog, nullptr, &TForm1::cboAuditLog},
    {config::kAuditMaxBytes, &TForm1::txtAuditMaxBytes, nullptr},
    {config::kAuditMaxFiles, &TForm1::txtAuditMaxFiles, nullptr},
    {config::kLogTimestamps, nullptr, &TForm1::cboLogTimestamps},
    {config::kLogMaxFiles, &TForm1::txtLogMaxFiles, nullptr},
};

// The list of each default permission on the Security tab.
struct PermissionControl {
  const char* name;
  ComboControl TForm1::*combo;
};
constexpr PermissionControl kPermissionControls[] = {
    {config::kAllowList, &TForm1::cboAllowList},
    {config::kAllowStatus, &TForm1::cboAllowStatus},
    {config::kAllowStart, &TForm1::cboAllowStart},
    {config::kAllowStop, &TForm1::cboAllowStop},
    {config::kAllowRestart, &TForm1::cboAllowRestart},
    {config::kAllowUpdate, &TForm1::cboAllowUpdate},
};

// The control entry named `name`; raises for a value the window has no
// control for (a table row without its control here).
template <typename Control, std::size_t N>
const Control& ControlOf(const Control (&controls)[N], std::string_view name) {
  for (const Control& control : controls)
    if (name == control.name) return control;
  throw Error("The console has no control for " + std::string(name));
}

}  // namespace

TForm1::TForm1(SettingsStore& registry, ServiceManager& scm, ConsoleUi& ui)
    : registry_(registry), scm_(scm), ui_(ui) {
  // Text boxes start with what a missing value reads as; lists unselected.
  for (const config::ValueDef& value : config::kSystemValues) {
    const SystemControl& control = ControlOf(kSystemControls, value.name);
    if (control.edit != nullptr && value.missing == config::Missing::kDefault)
      (this->*control.edit).text = value.default_text;
  }
}

std::string TForm1::VersionKey() const { return config::VersionKey(editedVersion); }
std::string TForm1::SystemKey() const { return config::SystemKey(editedVersion); }
std::string TForm1::DefaultsKey() const { return config::DefaultsKey(editedVersion); }
std::string TForm1::UsersKey() const { return config::UsersKey(editedVersion); }

template <typename Body>
void TForm1::Guarded(Body&& body) {
  try {
    std::forward<Body>(body)();
  } catch (const std::exception& e) {
    ui_.ShowError(e.what());
  }
}

std::string TForm1::RemoveSlash(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '\\' && !out.empty() && out.back() == '\\') continue;
    out.push_back(c);
  }
  return out;
}

void TForm1::FormCreate() {
  Guarded([this] {
    {
      HourglassCursor hourglass(ui_);
      cboVersion.items = registry_.ListRegSubKeys(kProductKey);
      // The window edits the version it shows: the last one listed.
      editedVersion = cboVersion.items.empty() ? std::string() : cboVersion.items.back();
      cboVersion.Select(static_cast<int>(cboVersion.items.size()) - 1);
    }
    if (!cboVersion.Text().empty()) LoadSettings();
    SetDirty(false);
  });
}

void TForm1::FormShow() {
  SetDirty(false);
  dirtyBeforeRefresh = false;
  ui_.ShowSplashModal();
}

void TForm1::cboVersionChange() {
  Guarded([this] {
    if (!cboVersion.Text().empty()) {
      editedVersion = cboVersion.Text();
      LoadSettings();
    }
    SetDirty(false);
  });
}

void TForm1::LoadChoice(ComboControl& combo, const std::string& key, const std::string& name) {
  combo.Select(config::NoYesIndex(registry_.ReadRegString(key, name)));
}

void TForm1::SaveChoice(const ComboControl& combo, const std::string& key,
                        const std::string& name) {
  registry_.WriteRegString(key, name, config::NoYesText(combo.index));
}

void TForm1::SaveRequireAuth() {
  if (!requireAuthStored_ && cboRequireAuth.index == 0) return;
  SaveChoice(cboRequireAuth, SystemKey(), config::kRequireAuth);
  requireAuthStored_ = true;
}

void TForm1::LoadLogValues() {
  static_assert(std::size(kLogControls) == std::tuple_size_v<decltype(logStored_)>);
  const std::string sys = SystemKey();
  for (std::size_t i = 0; i < std::size(kLogControls); ++i) {
    const LogControl& control = kLogControls[i];
    const std::string text = registry_.ReadRegString(sys, control.name);
    logStored_[i] = !text.empty();
    if (control.combo != nullptr)
      (this->*control.combo).Select(text.empty() ? 0 : config::NoYesIndex(text));
    else
      (this->*control.edit).text = text;
  }
}

void TForm1::CheckLogValues() const {
  for (const LogControl& control : kLogControls) {
    if (control.edit == nullptr) continue;
    const std::string& text = (this->*control.edit).text;
    if (!text.empty()) config::BoundedWholeNumber(config::SystemValue(control.name), text);
  }
}

void TForm1::SaveLogValues() {
  const std::string sys = SystemKey();
  for (std::size_t i = 0; i < std::size(kLogControls); ++i) {
    const LogControl& control = kLogControls[i];
    std::string text;
    if (control.combo != nullptr) {
      const int index = (this->*control.combo).index;
      // A stored value that is no choice (-1) is left as it is.
      if (index < 0 || (!logStored_[i] && index == 0)) continue;
      text = config::NoYesText(index);
    } else {
      text = (this->*control.edit).text;
      if (!logStored_[i] && text.empty()) continue;
    }
    registry_.WriteRegString(sys, control.name, text);
    logStored_[i] = true;
  }
}

void TForm1::LoadSettings() {
  HourglassCursor hourglass(ui_);
  const std::string sys = SystemKey();
  for (const config::ValueDef& value : config::kSystemValues) {
    const SystemControl& control = ControlOf(kSystemControls, value.name);
    if (control.combo != nullptr) {
      LoadChoice(this->*control.combo, sys, value.name);
      continue;
    }
    const std::string text = registry_.ReadRegString(sys, value.name);
    (this->*control.edit).text = control.single_backslashes ? RemoveSlash(text) : text;
    if (value.name == std::string_view(config::kExecName)) {
      // The service is named after the program file without its ".exe".
      if (txtProgramName.text.size() < 4) throw Error("Range check error");
      serviceName = txtProgramName.text.substr(0, txtProgramName.text.size() - 4);
    }
  }

  const std::string defaults = DefaultsKey();
  for (const config::ValueDef& value : config::kDefaultPermissions)
    LoadChoice(this->*ControlOf(kPermissionControls, value.name).combo, defaults, value.name);
  // Installations from before logins existed have no value: No.
  const std::string require_auth = registry_.ReadRegString(sys, config::kRequireAuth);
  requireAuthStored_ = !require_auth.empty();
  cboRequireAuth.Select(requireAuthStored_ ? config::NoYesIndex(require_auth) : 0);
  // "Allow Update" means something only where the service carries out
  // UPDATE: the box is greyed out unless UpdateEnabled reads as Yes, as the
  // service reads it (a value it would refuse leaves the box greyed).
  cboAllowUpdate.enabled = false;
  try {
    const std::string update_enabled = registry_.ReadRegString(sys, config::kUpdateEnabled);
    cboAllowUpdate.enabled = !update_enabled.empty() && config::NoYesIndex(update_enabled) == 1;
  } catch (const std::exception&) {
  }
  LoadLogValues();

  RefreshUser();
  ShowService();
}

void TForm1::SaveSettings() {
  HourglassCursor hourglass(ui_);
  CheckLogValues();
  if (editedVersion.empty()) {
    // Nothing is installed yet: create the version that the service reads.
    editedVersion = kProductVersion;
    cboVersion.items.push_back(editedVersion);
    cboVersion.Select(static_cast<int>(cboVersion.items.size()) - 1);
  }
  const std::string sys = SystemKey();
  for (const config::ValueDef& value : config::kSystemValues) {
    const SystemControl& control = ControlOf(kSystemControls, value.name);
    if (control.combo != nullptr)
      SaveChoice(this->*control.combo, sys, value.name);
    else
      registry_.WriteRegString(sys, value.name, (this->*control.edit).text);
  }

  const std::string defaults = DefaultsKey();
  for (const config::ValueDef& value : config::kDefaultPermissions)
    SaveChoice(this->*ControlOf(kPermissionControls, value.name).combo, defaults, value.name);
  SaveRequireAuth();
  SaveLogValues();

  if (selectedUser >= 0 && selectedUser < static_cast<int>(lvUsers.size())) {
    const std::string user_key = UsersKey() + "\\" + lvUsers[selectedUser].name;
    for (const auto& entry : lvPermissions)
      registry_.WriteRegString(user_key, entry.name, entry.checked ? "1" : "0");
  }
  SetDirty(false);
  dirtyBeforeRefresh = false;
}

void TForm1::btnOKClick() {
  Guarded([this] {
    SaveSettings();
    ui_.CloseMainWindow();
  });
}

void TForm1::btnApplyClick() {
  Guarded([this] {
    SaveSettings();
    SetDirty(false);
  });
}

void TForm1::btnCancelClick() {
  Guarded([this] {
    if (dirty) {
      switch (ui_.Ask(kSaveQuestion, true)) {
        case Answer::kCancel:
          return;
        case Answer::kYes:
          SaveSettings();
          SetDirty(false);
          break;
        case Answer::kNo:
          break;
      }
    }
    ui_.CloseMainWindow();
  });
}

void TForm1::CloseBoxClick() { ui_.CloseMainWindow(); }

void TForm1::RefreshUser() {
  const std::string users = UsersKey();
  const std::vector<std::string> names = registry_.ListRegSubKeys(users);
  lvUsers.clear();
  selectedUser = -1;
  btnRemove.enabled = false;  // nothing is selected after a refill
  for (const auto& name : names)
    lvUsers.push_back({name, registry_.ReadRegString(users + "\\" + name, config::kAuth)});
  if (names.empty()) {
    // No user is left: no ticks belong to anyone.
    lvPermissions.clear();
  } else {
    FillPermissions(names.front());
  }
}

void TForm1::SelectUser(int index) {
  if (index < 0 || index >= static_cast<int>(lvUsers.size())) index = -1;
  if (index == selectedUser) return;
  lvUsersChanging();
  selectedUser = index;
  lvUsersChange();
}

void TForm1::lvUsersChanging() {
  Guarded([this] {
    if (selectedUser < 0) {
      btnRemove.enabled = false;
      return;
    }
    dirtyBeforeRefresh = dirty;
    if (!dirty) return;
    switch (ui_.Ask(kSaveQuestion, true)) {
      case Answer::kYes:
        SaveSettings();  // writes the ticks of the user still selected
        break;
      case Answer::kNo:
        SetDirty(false);
        dirtyBeforeRefresh = false;
        break;
      case Answer::kCancel:
        break;
    }
  });
}

void TForm1::lvUsersChange() {
  Guarded([this] {
    if (selectedUser < 0) {
      btnRemove.enabled = false;
      return;
    }
    HourglassCursor hourglass(ui_);
    dirtyBeforeRefresh = dirty;
    const std::string& name = lvUsers[selectedUser].name;
    btnRemove.enabled = name != config::kAdminUser && name != config::kAnonymousUser;
    FillPermissions(name);
    // The refill is not an operator's change.
    SetDirty(dirtyBeforeRefresh);
  });
}

void TForm1::EditUserWithDialog(bool update) {
  Guarded([this, update] {
    TfrmUser frmUser(*this, ui_);
    editedUserName.clear();
    if (update && selectedUser >= 0 && selectedUser < static_cast<int>(lvUsers.size())) {
      HourglassCursor hourglass(ui_);
      editedUserName = lvUsers[selectedUser].name;
      frmUser.Prefill(editedUserName, config::DisablesAccount(registry_.ReadRegString(
                                          UsersKey() + "\\" + editedUserName, config::kDisabled)));
    }
    if (!ui_.ShowUserDialog(frmUser)) return;
    HourglassCursor hourglass(ui_);
    if (update) {
      UpdateUser();
    } else {
      AddUser();
    }
    RefreshUser();
  });
}

void TForm1::btnAddClick() { EditUserWithDialog(false); }

void TForm1::Button1Click() { EditUserWithDialog(true); }

void TForm1::btnRemoveClick() {
  Guarded([this] {
    if (selectedUser < 0 || selectedUser >= static_cast<int>(lvUsers.size())) return;
    if (ui_.Ask(kRemoveQuestion, false) != Answer::kYes) return;
    HourglassCursor hourglass(ui_);
    RemoveUser(lvUsers[selectedUser].name);
    RefreshUser();
    btnRemove.enabled = false;
  });
}

void TForm1::AddUser() {
  const std::string defaults = DefaultsKey();
  const std::string user_key = UsersKey() + "\\" + pendingUserName;
  for (const auto& name : registry_.ListRegValueNames(defaults))
    registry_.WriteRegString(user_key, name, registry_.ReadRegString(defaults, name));
  registry_.WriteRegString(user_key, config::kAuth, pendingAuth);
  if (pendingDisabled) {
    registry_.WriteRegString(user_key, config::kDisabled, "1");
  } else if (config::DisablesAccount(registry_.ReadRegString(user_key, config::kDisabled))) {
    registry_.WriteRegString(user_key, config::kDisabled, "0");
  }
}

namespace {

// Registry key names compare without regard to ASCII letter case.
bool SameKeyName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

bool IsBuiltInUser(const std::string& name) {
  return name == config::kAdminUser || name == config::kAnonymousUser;
}

}  // namespace

std::string ReplaceUserQuestion(const std::string& name) {
  return "A user named '" + name + "' already exists.  Do you want to replace it?";
}

bool TForm1::AcceptUserName(const std::string& name) {
  const bool editing = !editedUserName.empty();
  if (editing && SameKeyName(name, editedUserName)) return true;
  if (editing && IsBuiltInUser(editedUserName)) {
    ui_.ShowNotice(kBuiltInRename);
    return false;
  }
  bool exists = false;
  {
    HourglassCursor hourglass(ui_);
    for (const auto& existing : registry_.ListRegSubKeys(UsersKey()))
      exists = exists || SameKeyName(existing, name);
  }
  return !exists || ui_.Ask(ReplaceUserQuestion(name), false) == Answer::kYes;
}

void TForm1::UpdateUser() {
  if (editedUserName.empty()) {
    AddUser();
    return;
  }
  const std::string users = UsersKey();
  const std::string old_key = users + "\\" + editedUserName;
  const bool rename = !SameKeyName(pendingUserName, editedUserName);
  const std::string key = rename ? users + "\\" + pendingUserName : old_key;
  if (rename) {
    for (const auto& existing : registry_.ListRegSubKeys(users)) {
      if (SameKeyName(existing, pendingUserName)) registry_.DeleteRegKeyTree(users, existing);
    }
    for (const auto& name : registry_.ListRegValueNames(old_key))
      registry_.WriteRegString(key, name, registry_.ReadRegString(old_key, name));
  }
  if (pendingPasswordTyped) registry_.WriteRegString(key, config::kAuth, pendingAuth);
  if (config::DisablesAccount(registry_.ReadRegString(key, config::kDisabled)) != pendingDisabled)
    registry_.WriteRegString(key, config::kDisabled, pendingDisabled ? "1" : "0");
  if (rename) registry_.DeleteRegKeyTree(users, editedUserName);
}

void TForm1::RemoveUser(const std::string& name) { registry_.DeleteRegKeyTree(UsersKey(), name); }

void TForm1::setOther(const std::string& text) { pendingAuth = auth::AuthFromPassword(text); }

void TForm1::FillPermissions(const std::string& user) {
  const std::string user_key = UsersKey() + "\\" + user;
  lvPermissions.clear();
  for (const char* name : kPermissionNames) {
    lvPermissions.push_back({name, registry_.ReadRegString(user_key, name) == "1"});
    // Each added entry raises the list's change notification, as a tick does.
    lvPermissionsChange();
  }
}

void TForm1::ShowService() {
  const std::uint32_t state = halv::QueryServiceState(scm_, serviceName);
  txtServiceStatus = StateText(state);
  const ServiceButtons buttons = ButtonsAfterLoad(state);
  btnStart.enabled = buttons.start;
  btnStop.enabled = buttons.stop;
  btnRestart.enabled = buttons.restart;

  std::uint32_t bytes = 0;
  halv::QueryServiceConfiguration(scm_, serviceName, nullptr, &bytes);
  ServiceConfigInfo config;
  if (bytes == 0 || halv::QueryServiceConfiguration(scm_, serviceName, &config, &bytes) != 0) {
    ui_.ShowNotice(kServiceNotFound);
    return;
  }
  txtServiceName.text = serviceName;
  txtName.text = config.display_name;
  txtRunAs.text = config.service_start_name;
  cboStartupType.items.clear();
  cboStartupType.index = -1;
  for (std::uint32_t t = 0; t <= 5; ++t) cboStartupType.items.push_back(StartTypeText(t));
  cboStartupType.Select(config.start_type <= 4 ? static_cast<int>(config.start_type) : 5);
}

void TForm1::RefreshState() {
  const std::uint32_t state = halv::QueryServiceState(scm_, serviceName);
  const ServiceButtons buttons = ButtonsAfterAction(state);
  btnStart.enabled = buttons.start;
  btnStop.enabled = buttons.stop;
  btnRestart.enabled = buttons.restart;
  txtServiceStatus = StateText(state);
}

void TForm1::StopWithStoredSettings() {
  // What counts is what is saved, not what is typed on the System tab.
  const std::string sys = SystemKey();
  const bool stop_dependencies =
      StrToInt(registry_.ReadRegString(sys, config::kStopDependencies)) != 0;
  const std::int32_t timeout = StrToInt(registry_.ReadRegString(sys, config::kServiceStopTimeOut));
  // A negative time-out would wrap to a wait of weeks: it means no waiting.
  halv::StopServiceAndDependents(scm_, serviceName, stop_dependencies,
                                 timeout < 0 ? 0u : static_cast<std::uint32_t>(timeout));
}

void TForm1::btnStartClick() {
  Guarded([this] {
    HourglassCursor hourglass(ui_);
    halv::StartServiceAndWait(scm_, serviceName);
    RefreshState();
  });
}

void TForm1::btnStopClick() {
  Guarded([this] {
    HourglassCursor hourglass(ui_);
    StopWithStoredSettings();
    RefreshState();
  });
}

void TForm1::btnRestartClick() {
  Guarded([this] {
    HourglassCursor hourglass(ui_);
    StopWithStoredSettings();
    halv::StartServiceAndWait(scm_, serviceName);
    RefreshState();
  });
}

void TForm1::btnViewClick() {
  Guarded([this] {
    bool opened = false;
    {
      HourglassCursor hourglass(ui_);
      const std::string path =
          registry_.ReadRegString(SystemKey(), config::kLogDir) + "\\" + config::kServerLogFile;
      // One retry: the shell sometimes fails the first request while it starts up.
      opened = ui_.ShellOpen(path) > 32 || ui_.ShellOpen(path) > 32;
    }
    if (!opened) ui_.ShowPlainMessage(kNoAssociation);
  });
}

}  // namespace halv::console
