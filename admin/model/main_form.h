// The console's main window `TForm1` as a model: the values of its controls,
// the unsaved-changes tracking and every handler, with no window in sight.
//
// The Win32 window copies these values into its controls after each handler
// and forwards the operator's edits and clicks here; tests drive the same
// handlers and answer the questions through ConsoleUi. Registry work goes
// through SettingsStore, service work through the shared service-control
// operations over a ServiceManager (the system's, or a simulated one in
// tests). Handlers catch
// every error, show it in the standard error box and leave the window open
// with whatever was already done. Single-threaded: user-interface thread only.
#ifndef HALV_ADMIN_MODEL_MAIN_FORM_H_
#define HALV_ADMIN_MODEL_MAIN_FORM_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "config_schema.h"
#include "console_ports.h"
#include "scm/service_manager.h"

namespace halv::console {

// Registry location of the product; each version is a subkey.
inline constexpr const char* kProductKey = config::kProductKey;
// The version this program belongs to, the one the service reads.
inline constexpr const char* kProductVersion = config::kVersion;

inline constexpr char kAppTitle[] = "Halvexa351 Administrator";
inline constexpr char kFormCaption[] = "Halvexa Administrator";
inline constexpr char kSaveQuestion[] = "Would you like to save your changes?";
inline constexpr char kServiceNotFound[] =
    "Unable to find service.  This tool must be used\non the server that is running the Halvexa "
    "Service.";
inline constexpr char kNoAssociation[] = "Unable to start associated application.";
inline constexpr char kRemoveQuestion[] = "Are you sure you want to remove this user?";
inline constexpr char kBuiltInRename[] =
    "The built-in users Admin and Anonymous cannot be renamed.";
// "A user named '<name>' already exists.  Do you want to replace it?"
std::string ReplaceUserQuestion(const std::string& name);

struct EditControl {
  std::string text;
  bool enabled = true;
};

// A drop-down list: its entries, the selected index (-1 for none).
struct ComboControl {
  std::vector<std::string> items;
  int index = -1;
  bool enabled = true;
  // The selected entry's text, "" with no selection.
  std::string Text() const;
  void Select(int i) { index = (i >= 0 && i < static_cast<int>(items.size())) ? i : -1; }
};

struct ButtonControl {
  bool enabled = true;
};

struct UserEntry {
  std::string name;  // caption: the user key's name
  std::string auth;  // second column, not shown: the stored `Auth` text
};

struct PermissionEntry {
  std::string name;  // second column: the value name
  bool checked = false;
};

// The six permission value names, in list order.
inline constexpr const auto& kPermissionNames = config::kPermissionNames;

class TForm1 {
 public:
  // `registry`, `scm` and `ui` must outlive the form. The System tab's text
  // boxes start with the defaults that missing values read as.
  TForm1(SettingsStore& registry, ServiceManager& scm, ConsoleUi& ui);

  // --- General tab
  ComboControl cboVersion;
  EditControl txtServiceName;  // read-only
  EditControl txtName;
  ComboControl cboStartupType{{"Automatic", "Disabled", "Manual"}, -1, false};
  EditControl txtRunAs{"LocalSystem", false};
  std::string txtServiceStatus;  // empty until a state has been read
  ButtonControl btnView;
  ButtonControl btnStart{false};
  ButtonControl btnStop{false};
  ButtonControl btnRestart{false};
  // --- System tab
  EditControl txtBaseDir;
  EditControl txtDumpDir;
  EditControl txtLogDir;
  EditControl txtProgramName;
  EditControl txtPort;     // starts with the default (see the constructor)
  EditControl txtTimeOut;  // the same
  ComboControl cboStopDepend = NoYes();
  ComboControl cboVerbose = NoYes();
  // The audit trail and the server log's form: optional values. A missing
  // choice reads as No and a missing number as an empty box; either stays
  // missing when saved unchanged (an empty box saves as "", which reads as
  // missing).
  ComboControl cboAuditLog = NoYes(true, 0);
  ComboControl cboLogTimestamps = NoYes(true, 0);
  EditControl txtAuditMaxBytes;
  EditControl txtAuditMaxFiles;
  EditControl txtLogMaxFiles;
  // --- Security tab (default user permissions)
  ComboControl cboAllowList = NoYes();
  ComboControl cboAllowRestart = NoYes();
  ComboControl cboAllowStart = NoYes();
  ComboControl cboAllowStatus = NoYes();
  ComboControl cboAllowStop = NoYes();
  ComboControl cboAllowUpdate = NoYes(false);  // enabled when UpdateEnabled is on
  // Whether the service asks its clients to log in (`RequireAuth` of the
  // System key). Unlike the other choices a missing value reads as No.
  ComboControl cboRequireAuth = NoYes(true, 0);
  // --- Users tab
  std::vector<UserEntry> lvUsers;
  int selectedUser = -1;  // index into lvUsers, -1 for none
  std::vector<PermissionEntry> lvPermissions;
  ButtonControl btnRemove{false};
  // --- below the tabs
  ButtonControl btnApply{false};

  // --- fields
  bool dirty = false;
  bool dirtyBeforeRefresh = false;
  std::string editedVersion;
  std::string serviceName;
  std::string pendingUserName;
  std::string pendingAuth;
  // "Disable Account" as the user dialog closed.
  bool pendingDisabled = false;
  // Whether a password was typed (Edit keeps the stored one otherwise).
  bool pendingPasswordTyped = false;
  // The user that Edit opened the dialog with; "" for Add.
  std::string editedUserName;

  // Window creation: lists the versions, selects and loads the edited one.
  void FormCreate();
  // Window shown: clears the changed state, then shows the splash modally.
  void FormShow();
  // Fills every control for `editedVersion`; raises halv::Error and stops at
  // the failing value (what was loaded stays).
  void LoadSettings();
  // Writes the System and Security values and the selected user's ticks;
  // raises halv::Error and stops at the failing value (what was written stays,
  // `dirty` unchanged). Clears `dirty` on success.
  void SaveSettings();
  // Every run of two or more backslashes becomes one.
  static std::string RemoveSlash(const std::string& text);

  // The operator picked an entry of the version list: edit and load that
  // version, discarding unsaved edits.
  void cboVersionChange();

  // Change handlers of the editable controls: mark the window changed.
  void txtNameChange() { MarkChanged(); }
  void txtBaseDirChange() { MarkChanged(); }
  void txtDumpDirChange() { MarkChanged(); }
  void txtLogDirChange() { MarkChanged(); }
  void txtProgramNameChange() { MarkChanged(); }
  void txtPortChange() { MarkChanged(); }
  void txtTimeOutChange() { MarkChanged(); }
  void cboStartupTypeChange() { MarkChanged(); }
  void cboStopDependChange() { MarkChanged(); }
  void cboVerboseChange() { MarkChanged(); }
  void cboAuditLogChange() { MarkChanged(); }
  void cboLogTimestampsChange() { MarkChanged(); }
  void txtAuditMaxBytesChange() { MarkChanged(); }
  void txtAuditMaxFilesChange() { MarkChanged(); }
  void txtLogMaxFilesChange() { MarkChanged(); }
  void cboAllowListChange() { MarkChanged(); }
  void cboAllowRestartChange() { MarkChanged(); }
  void cboAllowStartChange() { MarkChanged(); }
  void cboAllowStatusChange() { MarkChanged(); }
  void cboAllowStopChange() { MarkChanged(); }
  void cboAllowUpdateChange() { MarkChanged(); }
  void cboRequireAuthChange() { MarkChanged(); }
  void lvPermissionsChange() { MarkChanged(); }

  void btnOKClick();
  void btnCancelClick();
  void btnApplyClick();
  // The title bar's close box: closes without asking or saving.
  void CloseBoxClick();

  // Service panel.
  void btnStartClick();
  void btnStopClick();
  void btnRestartClick();
  void btnViewClick();

  // Users tab: refills both lists from the registry; no user is selected
  // after. With no user left the permission list is emptied.
  void RefreshUser();
  // The operator selects entry `index` of the user list (-1: none): runs
  // lvUsersChanging with the old selection, then lvUsersChange with the new.
  void SelectUser(int index);
  // Before the selection leaves a user: offers to save unsaved changes.
  void lvUsersChanging();
  // After the selection changed: Remove's state and the selected user's ticks.
  void lvUsersChange();
  // "&Add...", "&Edit..." and "&Remove". Edit opens the dialog filled with
  // the selected user (with nobody selected it is Add).
  void btnAddClick();
  void Button1Click();
  void btnRemoveClick();
  // Copy every default permission into the pending user's key, then its
  // `Auth`, then `Disabled` ("1" when the box was ticked; "0" when it was not
  // and the key held a value that disables).
  void AddUser();
  // Edit's write: only what the operator changed. Under the same name (any
  // letter case: registry keys do not tell case apart) the stored password
  // is replaced only when one was typed and `Disabled` is written only when
  // the box changed; the permissions stay. Under a new name the user's
  // values move to the new key (replacing a user of that name, which the
  // dialog has confirmed) with the same changes applied, and the old key
  // goes.
  void UpdateUser();
  // Called by the user dialog's OK with the name typed: false keeps the
  // dialog open. A built-in user cannot be renamed (a notice); a name that
  // belongs to another user than the one edited is accepted only after Yes
  // to the replace question.
  bool AcceptUserName(const std::string& name);
  // Deletes the user's key with everything beneath it.
  void RemoveUser(const std::string& name);
  // Hand-over from the user dialog.
  void setUserName(const std::string& text) { pendingUserName = text; }
  // `pendingAuth` = the stored form of `text`.
  void setOther(const std::string& text);
  void setDisabled(bool disabled) { pendingDisabled = disabled; }
  void setPasswordTyped(bool typed) { pendingPasswordTyped = typed; }

  // Registry keys of the edited version.
  std::string VersionKey() const;
  std::string SystemKey() const;
  std::string DefaultsKey() const;
  std::string UsersKey() const;

 private:
  static ComboControl NoYes(bool enabled = true, int index = -1) {
    return {{config::kNoYesWords.begin(), config::kNoYesWords.end()}, index, enabled};
  }
  void MarkChanged() { SetDirty(true); }
  void SetDirty(bool value) {
    dirty = value;
    btnApply.enabled = value;
  }
  // Runs a handler body; an escaping error is shown in the standard error box.
  template <typename Body>
  void Guarded(Body&& body);
  void LoadChoice(ComboControl& combo, const std::string& key, const std::string& name);
  void SaveChoice(const ComboControl& combo, const std::string& key, const std::string& name);
  // `RequireAuth` is written only once it exists or Yes is chosen, so saving
  // an installation that never used logins leaves its registry as it was.
  void SaveRequireAuth();
  // The audit and log values: loaded, checked (a number outside its bounds
  // raises before anything is written) and saved.
  void LoadLogValues();
  void CheckLogValues() const;
  void SaveLogValues();
  void FillPermissions(const std::string& user);
  // Runs the user dialog; on OK writes the pending user (UpdateUser with
  // `update`, else AddUser) and refills the lists.
  void EditUserWithDialog(bool update);
  void ShowService();
  void RefreshState();
  // Stop steps of Stop and Restart: settings read now from the registry.
  void StopWithStoredSettings();

  // Whether the last load found a `RequireAuth` value.
  bool requireAuthStored_ = false;
  // Which of the audit and log values the last load found, in the order of
  // their table in main_form.cpp.
  std::array<bool, 5> logStored_{};
  SettingsStore& registry_;
  ServiceManager& scm_;
  ConsoleUi& ui_;
};

// State text for a state number of the manager ("Unknown" for 0 and others).
std::string StateText(std::uint32_t state);

struct ServiceButtons {
  bool start, stop, restart;
  bool operator==(const ServiceButtons&) const = default;
};
// Buttons after loading the settings.
ServiceButtons ButtonsAfterLoad(std::uint32_t state);
// Buttons after Start, Stop or Restart.
ServiceButtons ButtonsAfterAction(std::uint32_t state);
// The entry text of a start type ("Unknown" beyond 4).
std::string StartTypeText(std::uint32_t start_type);

}  // namespace halv::console

#endif  // HALV_ADMIN_MODEL_MAIN_FORM_H_
