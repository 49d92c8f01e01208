// The main window's settings: loading, saving, the changed state and the
// OK, Cancel and Apply buttons, the version list and the error boxes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console_fixture.h"

namespace halv::console::testing {
namespace {

using Write = MemoryStore::Write;

TEST_F(ConsoleTest, StartLoadsEveryControlOfTheInstalledVersion) {
  Start();
  EXPECT_EQ(form.editedVersion, "3.5.1");
  EXPECT_EQ(form.cboVersion.Text(), "3.5.1");
  EXPECT_EQ(form.cboStopDepend.index, 1);
  EXPECT_EQ(form.cboVerbose.index, 0);
  EXPECT_EQ(form.txtTimeOut.text, "30000");
  EXPECT_EQ(form.txtBaseDir.text, "C:\\Halvexa");
  EXPECT_EQ(form.txtLogDir.text, "C:\\Halvexa\\logs");
  EXPECT_EQ(form.txtDumpDir.text, "C:\\Halvexa\\dump");
  EXPECT_EQ(form.txtProgramName.text, "halvexa351.exe");
  EXPECT_EQ(form.serviceName, "halvexa351");
  EXPECT_EQ(form.txtPort.text, "9007");
  const std::vector<int> security = {form.cboAllowList.index,    form.cboAllowStatus.index,
                                     form.cboAllowStart.index,   form.cboAllowStop.index,
                                     form.cboAllowRestart.index, form.cboAllowUpdate.index};
  EXPECT_EQ(security, (std::vector<int>{1, 1, 0, 0, 0, 0}));
  EXPECT_FALSE(form.cboAllowUpdate.enabled);
  ASSERT_EQ(form.lvUsers.size(), 2u);
  EXPECT_EQ(form.lvUsers[0].name, "Admin");
  EXPECT_EQ(form.lvUsers[0].auth, "c5fe20");
  EXPECT_EQ(form.selectedUser, -1);
  EXPECT_FALSE(form.dirty);
  EXPECT_FALSE(form.btnApply.enabled);
  EXPECT_EQ(ui.splash_shown, 1);
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_TRUE(ui.notices.empty());
  EXPECT_GT(ui.hourglass_shown, 0);
}

// The values are read in a fixed order: a failure stops the load at its value
// and leaves the later controls as they were.
TEST_F(ConsoleTest, LoadReadsTheSystemAndDefaultValuesInOrder) {
  Start();
  auto names_read = [&](const std::string& suffix) {
    std::vector<std::string> names;
    for (const auto& r : registry.reads)
      if (r.key.size() >= suffix.size() &&
          r.key.compare(r.key.size() - suffix.size(), suffix.size(), suffix) == 0)
        names.push_back(r.name);
    return names;
  };
  EXPECT_EQ(names_read("\\System"),
            (std::vector<std::string>{"StopDependencies", "VerboseLogging", "ServiceStopTimeOut",
                                      "BaseDir", "LogDir", "DumpDir", "ExecName", "Port",
                                      "RequireAuth", "UpdateEnabled", "AuditLog", "AuditMaxBytes",
                                      "AuditMaxFiles", "LogTimestamps", "LogMaxFiles"}));
  EXPECT_EQ(names_read("\\Security\\Default"),
            (std::vector<std::string>{"AllowList", "AllowStatus", "AllowStart", "AllowStop",
                                      "AllowRestart", "AllowUpdate"}));
}

// The Allow Update list is enabled only where the service carries out
// UPDATE (UpdateEnabled read as Yes); a value the service would refuse
// leaves it greyed out and stops nothing. Choosing another version follows
// that version's value, and the choice saves either way.
TEST_F(ConsoleTest, AllowUpdateIsEnabledWhenUpdateEnabledIsOn) {
  const struct {
    const char* stored;  // nullptr: no value; "": a value of another type
    bool enabled;
  } cases[] = {
      {nullptr, false}, {"0", false},   {"1", true}, {"+1", true},
      {"2", false},     {"yes", false}, {"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored == nullptr ? "(none)" : c.stored);
    MemoryStore store;
    Install(store, "3.5.1");
    if (c.stored != nullptr && *c.stored != '\0') store.Set(kSystemKey, "UpdateEnabled", c.stored);
    if (c.stored != nullptr && *c.stored == '\0') store.SetNonString(kSystemKey, "UpdateEnabled");
    FakeUi box;
    TForm1 f(store, scm, box);
    f.FormCreate();
    EXPECT_EQ(f.cboAllowUpdate.enabled, c.enabled);
    EXPECT_TRUE(box.errors.empty());
    EXPECT_FALSE(f.dirty);
    // The rest of the load went on: the users are listed.
    EXPECT_EQ(f.lvUsers.size(), 2u);
  }

  MemoryStore store;
  Install(store, "3.5.1");
  Install(store, "3.5.0");
  store.Set(kSystemKey, "UpdateEnabled", "1");
  FakeUi box;
  TForm1 f(store, scm, box);
  f.FormCreate();
  ASSERT_EQ(f.cboVersion.items.size(), 2u);
  // Each version by its own value; the one on last, to save its choice.
  for (const std::string version : {"3.5.0", "3.5.1"}) {
    for (int i = 0; i < 2; ++i)
      if (f.cboVersion.items[i] == version) f.cboVersion.Select(i);
    f.cboVersionChange();
    ASSERT_EQ(f.editedVersion, version);
    EXPECT_EQ(f.cboAllowUpdate.enabled, version == "3.5.1");
  }
  f.cboAllowUpdate.Select(1);
  f.cboAllowUpdateChange();
  f.btnApplyClick();
  EXPECT_EQ(store.Get(kDefaultsKey, "AllowUpdate"), "1");
  EXPECT_TRUE(box.errors.empty());
}

TEST(RemoveSlashTest, RunsOfBackslashesBecomeOne) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"C:\\Halvexa", "C:\\Halvexa"},
      {"C:\\\\Halvexa\\\\bin", "C:\\Halvexa\\bin"},
      {"C:\\\\\\\\Halvexa", "C:\\Halvexa"},
      {"\\\\server\\share", "\\server\\share"},
      {"C:\\logs\\\\", "C:\\logs\\"},
      {"\\", "\\"},
      {"a/b//c", "a/b//c"},
  };
  for (const auto& c : cases) EXPECT_EQ(TForm1::RemoveSlash(c.in), c.out) << c.in;
}

TEST_F(ConsoleTest, DoubledBackslashesLoadSingleAndSaveBackSingle) {
  registry.Set(kSystemKey, "BaseDir", "C:\\\\Program Files\\\\Halvexa");
  registry.Set(kSystemKey, "LogDir", "D:\\\\logs\\\\\\");
  registry.Set(kSystemKey, "DumpDir", "\\\\\\\\dumps");
  Start();
  EXPECT_EQ(form.txtBaseDir.text, "C:\\Program Files\\Halvexa");
  EXPECT_EQ(form.txtLogDir.text, "D:\\logs\\");
  EXPECT_EQ(form.txtDumpDir.text, "\\dumps");
  form.btnOKClick();
  EXPECT_EQ(registry.Get(kSystemKey, "BaseDir"), "C:\\Program Files\\Halvexa");
  EXPECT_EQ(registry.Get(kSystemKey, "LogDir"), "D:\\logs\\");
  EXPECT_EQ(registry.Get(kSystemKey, "DumpDir"), "\\dumps");
}

TEST_F(ConsoleTest, ProgramNameGivesTheServiceNameOrStopsTheLoad) {
  const struct {
    std::string exec_name;
    std::string service_name;  // expected when the load goes on
    std::string error;         // expected error, "" for none
  } cases[] = {
      {"halvexa351.exe", "halvexa351", ""}, {"Halvexa351.EXE", "Halvexa351", ""}, {"abcd", "", ""},
      {"abc", "", "Range check error"},     {"", "", "Range check error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exec_name);
    MemoryStore store;
    Install(store, "3.5.1");
    store.Set(kSystemKey, "ExecName", c.exec_name);
    store.Set(kSystemKey, "Port", "9010");
    store.Set(kDefaultsKey, "AllowStop", "1");
    FakeUi box;
    TForm1 f(store, scm, box);
    f.FormCreate();
    EXPECT_EQ(f.txtProgramName.text, c.exec_name);
    if (c.error.empty()) {
      EXPECT_TRUE(box.errors.empty());
      EXPECT_EQ(f.serviceName, c.service_name);
      EXPECT_EQ(f.txtPort.text, "9010");
      EXPECT_EQ(f.cboAllowStop.index, 1);
    } else {
      EXPECT_EQ(box.errors, std::vector<std::string>{c.error});
      // Loading stopped before the port, the defaults, the users and the service.
      EXPECT_EQ(f.txtPort.text, "9007");
      EXPECT_EQ(f.cboAllowStop.index, -1);
      EXPECT_TRUE(f.lvUsers.empty());
      EXPECT_EQ(f.txtServiceStatus, "");  // the form's default: nothing was read
      EXPECT_TRUE(box.notices.empty());
    }
    EXPECT_EQ(box.cursor, FakeUi::kArrow);
  }
}

TEST_F(ConsoleTest, NoYesChoicesLoadFromWholeNumbersAndSaveTheirIndex) {
  const struct {
    std::string stored;
    int index;          // -1: no selection
    std::string saved;  // what OK writes back
    std::string error;  // "" for none
  } cases[] = {
      {"0", 0, "0", ""},
      {"1", 1, "1", ""},
      {"2", -1, "-1", ""},
      {"-1", -1, "-1", ""},
      {"+1", 1, "1", ""},
      {"$1", -1, "", "'$1' is not a valid integer value"},
      {" 1", -1, "", "' 1' is not a valid integer value"},
      {"", -1, "", "'' is not a valid integer value"},
      {"yes", -1, "", "'yes' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    MemoryStore store;
    Install(store, "3.5.1");
    store.Set(kSystemKey, "VerboseLogging", c.stored);
    FakeUi box;
    TForm1 f(store, scm, box);
    f.FormCreate();
    EXPECT_EQ(f.cboVerbose.index, c.index);
    if (!c.error.empty()) {
      EXPECT_EQ(box.errors, std::vector<std::string>{c.error});
      // Values before the failing one are loaded, the ones after it are not.
      EXPECT_EQ(f.cboStopDepend.index, 1);
      EXPECT_EQ(f.txtTimeOut.text, "30000");
      EXPECT_EQ(f.txtBaseDir.text, "");
      continue;
    }
    EXPECT_TRUE(box.errors.empty());
    f.btnOKClick();
    EXPECT_EQ(store.Get(kSystemKey, "VerboseLogging"), c.saved);
  }
}

// "Require Login:": a missing value reads as No and is not written back
// unless Yes is chosen, so an installation without logins keeps its registry
// as it was; a stored value loads and saves like the other choices.
TEST_F(ConsoleTest, RequireLoginLoadsMissingAsNoAndSavesLikeTheOtherChoices) {
  const struct {
    const char* stored;  // nullptr: no value
    int index;
    int choose;         // index chosen before OK, -2 for none
    const char* saved;  // nullptr: still no value after OK
    std::string error;
  } cases[] = {
      {nullptr, 0, -2, nullptr, ""}, {nullptr, 0, 1, "1", ""},
      {nullptr, 0, 0, nullptr, ""},  {"0", 0, -2, "0", ""},
      {"1", 1, -2, "1", ""},         {"1", 1, 0, "0", ""},
      {"2", -1, -2, "-1", ""},       {"yes", 0, -2, "yes", "'yes' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored ? c.stored : "(none)");
    MemoryStore store;
    Install(store, "3.5.1");
    if (c.stored != nullptr) store.Set(kSystemKey, "RequireAuth", c.stored);
    FakeUi box;
    TForm1 f(store, scm, box);
    f.FormCreate();
    EXPECT_EQ(f.cboRequireAuth.index, c.index);
    if (!c.error.empty()) {
      EXPECT_EQ(box.errors, std::vector<std::string>{c.error});
      EXPECT_TRUE(f.lvUsers.empty());  // the load stopped at the value
      continue;
    }
    EXPECT_TRUE(box.errors.empty());
    if (c.choose != -2) {
      f.cboRequireAuth.index = c.choose;
      f.cboRequireAuthChange();
    }
    f.btnOKClick();
    if (c.saved == nullptr) {
      EXPECT_FALSE(store.Has(kSystemKey, "RequireAuth"));
    } else {
      EXPECT_EQ(store.Get(kSystemKey, "RequireAuth"), c.saved);
    }
  }
}

TEST_F(ConsoleTest, RequireLoginOnceSavedIsWrittenWithEverySave) {
  Start();
  form.cboRequireAuth.index = 1;
  form.cboRequireAuthChange();
  form.btnApplyClick();
  EXPECT_EQ(registry.Get(kSystemKey, "RequireAuth"), "1");
  form.cboRequireAuth.index = 0;
  form.cboRequireAuthChange();
  registry.writes.clear();
  form.btnApplyClick();
  EXPECT_EQ(registry.Get(kSystemKey, "RequireAuth"), "0");
  EXPECT_EQ(registry.writes.size(), 15u);
}

TEST_F(ConsoleTest, AValueOfAnotherTypeStopsTheLoad) {
  registry.SetNonString(kSystemKey, "Port");
  Start();
  EXPECT_EQ(ui.errors, std::vector<std::string>{"Invalid data type for 'Port'"});
  EXPECT_EQ(form.serviceName, "halvexa351");
  EXPECT_EQ(form.cboAllowList.index, -1);
  EXPECT_EQ(ui.cursor_at_error, std::vector<std::uintptr_t>{FakeUi::kArrow});
  // The start goes on: the window is still shown.
  EXPECT_EQ(ui.splash_shown, 1);
}

TEST_F(ConsoleTest, OkOnAnUnchangedWindowWritesEverySystemAndSecurityValue) {
  Start();
  registry.writes.clear();
  form.btnOKClick();
  const std::vector<Write> expected = {
      {kSystemKey, "StopDependencies", "1"},
      {kSystemKey, "VerboseLogging", "0"},
      {kSystemKey, "ServiceStopTimeOut", "30000"},
      {kSystemKey, "BaseDir", "C:\\Halvexa"},
      {kSystemKey, "LogDir", "C:\\Halvexa\\logs"},
      {kSystemKey, "DumpDir", "C:\\Halvexa\\dump"},
      {kSystemKey, "ExecName", "halvexa351.exe"},
      {kSystemKey, "Port", "9007"},
      {kDefaultsKey, "AllowList", "1"},
      {kDefaultsKey, "AllowStatus", "1"},
      {kDefaultsKey, "AllowStart", "0"},
      {kDefaultsKey, "AllowStop", "0"},
      {kDefaultsKey, "AllowRestart", "0"},
      {kDefaultsKey, "AllowUpdate", "0"},
  };
  EXPECT_EQ(registry.writes, expected);
  EXPECT_TRUE(ui.closed);
  EXPECT_TRUE(ui.questions.empty());
}

// The audit and log values of the System tab: missing ones load as No or an
// empty box and stay missing when saved unchanged; stored ones load as they
// are and are written with every save; a choice of Yes or a number creates
// its value.
TEST_F(ConsoleTest, AuditAndLogValuesLoadAndSaveThroughTheTable) {
  Start();
  EXPECT_EQ(form.cboAuditLog.index, 0);
  EXPECT_EQ(form.cboLogTimestamps.index, 0);
  EXPECT_EQ(form.txtAuditMaxBytes.text, "");
  EXPECT_EQ(form.txtAuditMaxFiles.text, "");
  EXPECT_EQ(form.txtLogMaxFiles.text, "");
  form.btnApplyClick();
  for (const char* name :
       {"AuditLog", "AuditMaxBytes", "AuditMaxFiles", "LogTimestamps", "LogMaxFiles"})
    EXPECT_FALSE(registry.Has(kSystemKey, name)) << name;

  form.cboAuditLog.index = 1;
  form.cboAuditLogChange();
  form.txtAuditMaxFiles.text = "4";
  form.txtAuditMaxFilesChange();
  form.btnApplyClick();
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_EQ(registry.Get(kSystemKey, "AuditLog"), "1");
  EXPECT_EQ(registry.Get(kSystemKey, "AuditMaxFiles"), "4");
  EXPECT_FALSE(registry.Has(kSystemKey, "LogTimestamps"));
  EXPECT_FALSE(registry.Has(kSystemKey, "AuditMaxBytes"));

  // Stored values: shown, and written back (No as "0", an emptied box as "").
  MemoryStore store;
  Install(store, "3.5.1");
  store.Set(kSystemKey, "AuditLog", "1");
  store.Set(kSystemKey, "LogTimestamps", "0");
  store.Set(kSystemKey, "AuditMaxBytes", "2048");
  store.Set(kSystemKey, "LogMaxFiles", "7");
  FakeUi box;
  TForm1 f(store, scm, box);
  f.FormCreate();
  EXPECT_EQ(f.cboAuditLog.index, 1);
  EXPECT_EQ(f.cboLogTimestamps.index, 0);
  EXPECT_EQ(f.txtAuditMaxBytes.text, "2048");
  EXPECT_EQ(f.txtLogMaxFiles.text, "7");
  f.cboAuditLog.index = 0;
  f.txtLogMaxFiles.text = "";
  f.btnOKClick();
  EXPECT_TRUE(box.errors.empty());
  EXPECT_EQ(store.Get(kSystemKey, "AuditLog"), "0");
  EXPECT_EQ(store.Get(kSystemKey, "LogTimestamps"), "0");
  EXPECT_EQ(store.Get(kSystemKey, "AuditMaxBytes"), "2048");
  EXPECT_EQ(store.Get(kSystemKey, "LogMaxFiles"), "");
  EXPECT_FALSE(store.Has(kSystemKey, "AuditMaxFiles"));
}

// A number that is not one, or outside the table's bounds, is refused with
// the console's error box before anything is written; the window stays open
// and changed.
TEST_F(ConsoleTest, ABadAuditOrLogNumberIsRefusedBeforeAnyWrite) {
  const struct {
    EditControl TForm1::*box;
    const char* text;
    const char* error;
  } cases[] = {
      {&TForm1::txtAuditMaxBytes, "ten", "'ten' is not a valid integer value"},
      {&TForm1::txtAuditMaxBytes, "0", "AuditMaxBytes must be 1 or more, not '0'"},
      {&TForm1::txtAuditMaxFiles, "101", "AuditMaxFiles must be 100 or less, not '101'"},
      {&TForm1::txtLogMaxFiles, "0", "LogMaxFiles must be 1 or more, not '0'"},
      {&TForm1::txtLogMaxFiles, " 3", "' 3' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    MemoryStore store;
    Install(store, "3.5.1");
    FakeUi box;
    TForm1 f(store, scm, box);
    f.FormCreate();
    store.writes.clear();
    (f.*c.box).text = c.text;
    f.txtAuditMaxBytesChange();
    f.btnOKClick();
    EXPECT_EQ(box.errors, std::vector<std::string>{c.error});
    EXPECT_TRUE(store.writes.empty());
    EXPECT_FALSE(box.closed);
    EXPECT_TRUE(f.dirty);
  }
}

TEST_F(ConsoleTest, EachSecurityChoiceIsWrittenToItsOwnValue) {
  Start();
  ComboControl* const combos[] = {&form.cboAllowList, &form.cboAllowStatus,  &form.cboAllowStart,
                                  &form.cboAllowStop, &form.cboAllowRestart, &form.cboAllowUpdate};
  for (std::size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(kPermissionNames[i]);
    for (auto* c : combos) c->index = 0;
    combos[i]->index = 1;
    form.btnApplyClick();
    for (std::size_t j = 0; j < 6; ++j)
      EXPECT_EQ(registry.Get(kDefaultsKey, kPermissionNames[j]), i == j ? "1" : "0");
  }
}

TEST_F(ConsoleTest, EditingTheDisplayNameEnablesApplyWhichWritesTheOtherValues) {
  Start();
  form.txtName.text = "Another Name";
  form.txtNameChange();
  EXPECT_TRUE(form.dirty);
  EXPECT_TRUE(form.btnApply.enabled);
  registry.writes.clear();
  form.btnApplyClick();
  EXPECT_EQ(registry.writes.size(), 14u);
  for (const auto& w : registry.writes) EXPECT_NE(w.value, "Another Name") << w.name;
  EXPECT_EQ(scm.Find("Halvexa351")->display_name, "Tenmark Halvexa Service 3.5.1");
  EXPECT_FALSE(form.dirty);
  EXPECT_FALSE(form.btnApply.enabled);
  EXPECT_FALSE(ui.closed);
}

TEST_F(ConsoleTest, EveryChangeHandlerMarksTheWindowChanged) {
  Start();
  void (TForm1::*const handlers[])() = {
      &TForm1::txtNameChange,        &TForm1::txtBaseDirChange,     &TForm1::txtDumpDirChange,
      &TForm1::txtLogDirChange,      &TForm1::txtProgramNameChange, &TForm1::txtPortChange,
      &TForm1::txtTimeOutChange,     &TForm1::cboStartupTypeChange, &TForm1::cboStopDependChange,
      &TForm1::cboVerboseChange,     &TForm1::cboAllowListChange,   &TForm1::cboAllowRestartChange,
      &TForm1::cboAllowStartChange,  &TForm1::cboAllowStatusChange, &TForm1::cboAllowStopChange,
      &TForm1::cboAllowUpdateChange, &TForm1::lvPermissionsChange,  &TForm1::cboRequireAuthChange,
      &TForm1::cboAuditLogChange,    &TForm1::cboLogTimestampsChange, &TForm1::txtAuditMaxBytesChange,
      &TForm1::txtAuditMaxFilesChange, &TForm1::txtLogMaxFilesChange};
  for (auto handler : handlers) {
    form.btnApplyClick();
    ASSERT_FALSE(form.btnApply.enabled);
    (form.*handler)();
    EXPECT_TRUE(form.dirty);
    EXPECT_TRUE(form.btnApply.enabled);
  }
}

TEST_F(ConsoleTest, CancelAsksOnlyWhenChangedAndFollowsTheAnswer) {
  const struct {
    const char* name;
    bool change;
    Answer answer;
    bool asked, saved, closed, apply_after;
  } cases[] = {
      {"unchanged", false, Answer::kCancel, false, false, true, false},
      {"answer cancel", true, Answer::kCancel, true, false, false, true},
      {"answer yes", true, Answer::kYes, true, true, true, false},
      {"answer no", true, Answer::kNo, true, false, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryStore store;
    Install(store, "3.5.1");
    FakeUi box;
    TForm1 f(store, scm, box);
    f.FormCreate();
    f.FormShow();
    if (c.change) {
      f.txtPort.text = "9010";
      f.txtPortChange();
    }
    box.answers = {c.answer};
    f.btnCancelClick();
    EXPECT_EQ(box.questions.size(), c.asked ? 1u : 0u);
    if (c.asked) {
      EXPECT_EQ(box.questions[0], "Would you like to save your changes? [YNC]");
    }
    EXPECT_EQ(store.Get(kSystemKey, "Port"), c.saved ? "9010" : "9007");
    EXPECT_EQ(box.closed, c.closed);
    EXPECT_EQ(f.btnApply.enabled, c.apply_after);
    EXPECT_EQ(f.dirty, c.apply_after);
  }
}

TEST_F(ConsoleTest, CloseBoxClosesWithoutAskingOrSaving) {
  Start();
  form.txtPort.text = "9010";
  form.txtPortChange();
  registry.writes.clear();
  form.CloseBoxClick();
  EXPECT_TRUE(ui.closed);
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_TRUE(registry.writes.empty());
}

TEST_F(ConsoleTest, AFailedWriteStopsTheSaveAndKeepsTheWindowOpenAndChanged) {
  Start();
  form.txtPort.text = "9010";
  form.txtPortChange();
  registry.fail_writes = {"ExecName"};
  registry.writes.clear();
  form.btnOKClick();
  EXPECT_EQ(ui.errors, std::vector<std::string>{"Failed to set data for 'ExecName'"});
  EXPECT_EQ(ui.cursor_at_error, std::vector<std::uintptr_t>{FakeUi::kArrow});
  EXPECT_EQ(registry.writes.size(), 6u);  // the values before ExecName stay written
  EXPECT_EQ(registry.Get(kSystemKey, "Port"), "9007");
  EXPECT_FALSE(ui.closed);
  EXPECT_TRUE(form.dirty);
  EXPECT_TRUE(form.btnApply.enabled);

  ui.answers = {Answer::kYes};
  form.btnCancelClick();
  EXPECT_EQ(ui.errors.size(), 2u);
  EXPECT_FALSE(ui.closed);
  EXPECT_TRUE(form.btnApply.enabled);
}

TEST_F(ConsoleTest, ChoosingAVersionLoadsItAndDiscardsEdits) {
  Install(registry, "3.6.0");
  registry.Set(std::string(kProductKey) + "\\3.6.0\\System", "Port", "9100");
  Start();
  // The window edits, and shows selected, the last version listed.
  ASSERT_EQ(form.cboVersion.items, (std::vector<std::string>{"3.5.1", "3.6.0"}));
  EXPECT_EQ(form.cboVersion.index, 1);
  EXPECT_EQ(form.editedVersion, "3.6.0");
  EXPECT_EQ(form.txtPort.text, "9100");

  form.txtPort.text = "1234";
  form.txtPortChange();
  form.cboVersion.index = 0;
  form.cboVersionChange();
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_EQ(form.editedVersion, "3.5.1");
  EXPECT_EQ(form.txtPort.text, "9007");
  EXPECT_FALSE(form.dirty);
  EXPECT_FALSE(form.btnApply.enabled);

  // Saving now writes the chosen version only.
  form.txtPort.text = "9200";
  form.btnApplyClick();
  EXPECT_EQ(registry.Get(kSystemKey, "Port"), "9200");
  EXPECT_EQ(registry.Get(std::string(kProductKey) + "\\3.6.0\\System", "Port"), "9100");
}

TEST_F(ConsoleTest, WithoutAVersionNothingLoadsAndSavingCreatesTheProductVersion) {
  MemoryStore empty;
  TForm1 f(empty, scm, ui);
  f.FormCreate();
  f.FormShow();
  EXPECT_TRUE(f.cboVersion.items.empty());
  EXPECT_EQ(f.editedVersion, "");
  EXPECT_EQ(f.txtPort.text, "9007");
  EXPECT_EQ(f.txtTimeOut.text, "30000");
  EXPECT_EQ(f.txtRunAs.text, "LocalSystem");
  EXPECT_FALSE(f.btnStart.enabled || f.btnStop.enabled || f.btnRestart.enabled);
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_TRUE(ui.notices.empty());

  f.txtProgramName.text = "halvexa351.exe";
  f.txtProgramNameChange();
  f.btnApplyClick();
  EXPECT_EQ(f.editedVersion, "3.5.1");
  EXPECT_EQ(f.cboVersion.Text(), "3.5.1");
  EXPECT_EQ(empty.Get(kSystemKey, "ExecName"), "halvexa351.exe");
  EXPECT_EQ(empty.Get(kSystemKey, "Port"), "9007");
  EXPECT_EQ(empty.Get(kSystemKey, "StopDependencies"), "-1");
  EXPECT_EQ(empty.Get(kDefaultsKey, "AllowUpdate"), "-1");
  EXPECT_EQ(empty.ListRegSubKeys(kProductKey), std::vector<std::string>{"3.5.1"});
}

TEST_F(ConsoleTest, SavingWritesTheSelectedUsersTicksOnly) {
  Start();
  // With no user selected, the ticks shown (the first user's) are not written.
  ASSERT_EQ(form.lvPermissions.size(), 6u);
  EXPECT_TRUE(form.lvPermissions[0].checked);   // Admin AllowList
  EXPECT_FALSE(form.lvPermissions[1].checked);  // Admin AllowStatus
  EXPECT_TRUE(form.lvPermissions[3].checked);   // Admin AllowStop
  form.lvPermissions[1].checked = true;
  form.lvPermissionsChange();
  registry.writes.clear();
  form.btnApplyClick();
  EXPECT_EQ(registry.writes.size(), 14u);
  EXPECT_FALSE(registry.Has(kUsersKey + "\\Admin", "AllowStatus"));

  form.selectedUser = 0;
  form.btnApplyClick();
  EXPECT_EQ(registry.writes.size(), 14u + 14u + 6u);
  EXPECT_EQ(registry.Get(kUsersKey + "\\Admin", "AllowStatus"), "1");
  EXPECT_EQ(registry.Get(kUsersKey + "\\Admin", "AllowStart"), "0");
}

TEST_F(ConsoleTest, RegistryAndManagerAreOnlyReachedUnderTheHourglass) {
  int outside = 0;
  registry.on_access = [&] { outside += ui.cursor != FakeUi::kHourglass; };
  scm.SetHook([&](const SimulatedCall&) { registry.on_access(); });
  ui.answers = {Answer::kYes, Answer::kYes};
  ui.user_dialog = [](TfrmUser& d) {
    d.txtUser = "eve";
    d.txtUserChange();
    return d.OKBtnClick();
  };
  const struct {
    const char* name;
    void (TForm1::*handler)();
  } handlers[] = {
      {"FormCreate", &TForm1::FormCreate},       {"cboVersionChange", &TForm1::cboVersionChange},
      {"btnApplyClick", &TForm1::btnApplyClick}, {"btnStopClick", &TForm1::btnStopClick},
      {"btnStartClick", &TForm1::btnStartClick}, {"btnRestartClick", &TForm1::btnRestartClick},
      {"btnViewClick", &TForm1::btnViewClick},   {"btnAddClick", &TForm1::btnAddClick},
      {"Button1Click", &TForm1::Button1Click},   {"btnCancelClick", &TForm1::btnCancelClick},
      {"btnOKClick", &TForm1::btnOKClick},
  };
  for (const auto& h : handlers) {
    SCOPED_TRACE(h.name);
    const int shown = ui.hourglass_shown;
    if (h.handler == &TForm1::btnCancelClick) form.txtPortChange();  // asks, answered Yes
    (form.*h.handler)();
    EXPECT_GT(ui.hourglass_shown, shown);
    EXPECT_EQ(ui.cursor, FakeUi::kArrow);
    EXPECT_EQ(outside, 0);
  }
  // Selecting and removing a user.
  form.SelectUser(2);
  form.btnRemoveClick();
  EXPECT_EQ(outside, 0);
  EXPECT_EQ(ui.cursor, FakeUi::kArrow);
  // An error on the way out restores the cursor too.
  registry.fail_writes = {"Port"};
  form.btnApplyClick();
  EXPECT_EQ(ui.errors, std::vector<std::string>{"Failed to set data for 'Port'"});
  EXPECT_EQ(ui.cursor, FakeUi::kArrow);
}

}  // namespace
}  // namespace halv::console::testing
