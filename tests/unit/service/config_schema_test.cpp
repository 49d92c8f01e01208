// The configuration table: the keys of this version, the rows' consistency
// (names, kinds, defaults, bounds), the reading rules and the values an
// installation creates.
#include "config_schema.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>

#include "halv_error.h"

namespace halv::config {
namespace {

TEST(ConfigSchemaTest, KeysOfTheVersion) {
  EXPECT_EQ(kSystemKey, "SOFTWARE\\Tenmark\\Halvexa Server\\3.5.1\\System");
  EXPECT_EQ(kDefaultsKey, "SOFTWARE\\Tenmark\\Halvexa Server\\3.5.1\\Security\\Default");
  EXPECT_EQ(kUsersKey, "SOFTWARE\\Tenmark\\Halvexa Server\\3.5.1\\Security\\Users");
  EXPECT_EQ(kSecurityKey, "SOFTWARE\\Tenmark\\Halvexa Server\\3.5.1\\Security");
  EXPECT_EQ(SystemKey("3.6.0"), "SOFTWARE\\Tenmark\\Halvexa Server\\3.6.0\\System");
  EXPECT_EQ(Subkey(ValueKey::kAdmin), "Security\\Users\\Admin");
  EXPECT_EQ(Subkey(ValueKey::kAnonymous), "Security\\Users\\Anonymous");
  // The defaults and users keys lie in the Security branch the installer restricts.
  EXPECT_EQ(kDefaultsKey.rfind(kSecurityKey + "\\", 0), 0u);
  EXPECT_EQ(kUsersKey.rfind(kSecurityKey + "\\", 0), 0u);
  // The event source is the service's own.
  EXPECT_EQ(
      std::string(kEventSourceKey),
      std::string("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\") + kServiceName);
  EXPECT_STREQ(kServiceName, "Halvexa351");
}

TEST(ConfigSchemaTest, DefaultsAreWholeNumbersOfTheirKind) {
  for (const ValueDef& value : kSystemValues) {
    SCOPED_TRACE(value.name);
    EXPECT_EQ(FindSystemValue(value.name), &SystemValue(value.name));
    if (value.default_text != nullptr && value.kind != ValueKind::kText) {
      EXPECT_TRUE(ParseWholeNumber(value.default_text).has_value());
    }
  }
  EXPECT_EQ(FindSystemValue("Nothing"), nullptr);
  EXPECT_EQ(WholeNumber(FindSystemValue(kPort)->default_text), kDefaultPort);
  EXPECT_EQ(WholeNumber(FindSystemValue(kServiceStopTimeOut)->default_text), kDefaultStopTimeOut);
  EXPECT_EQ(kDefaultPort, 9007);
  EXPECT_EQ(kDefaultStopTimeOut, 30000);
  EXPECT_TRUE(kDefaultStopDependencies);
}

// The optional values are off when absent and are not among the values
// every installation writes; only the NewInstall ones (the text the MSI
// writes) and the Login ones (taken while logins are required) have a
// default.
TEST(ConfigSchemaTest, OptionalValuesStandApart) {
  for (const ValueDef& value : kOptionalSystemValues) {
    SCOPED_TRACE(value.name);
    EXPECT_TRUE(IsOptional(value.missing));
    EXPECT_EQ(value.default_text != nullptr,
              value.missing == Missing::kNewInstall || value.missing == Missing::kLogin);
    for (const ValueDef& installed : kSystemValues) EXPECT_STRNE(installed.name, value.name);
  }
  for (const ValueDef& value : kSystemValues) EXPECT_FALSE(IsOptional(value.missing));
  ASSERT_EQ(kOptionalSystemValues.size(), 17u);
  EXPECT_STREQ(kOptionalSystemValues[0].name, "RequireAuth");
  EXPECT_STREQ(kOptionalSystemValues[5].name, "LogMaxBytes");
  EXPECT_STREQ(kOptionalSystemValues[6].name, "RestartDependents");
  EXPECT_STREQ(kOptionalSystemValues[7].name, "ListFilter");
  EXPECT_STREQ(kOptionalSystemValues[8].name, "UpdateEnabled");
  EXPECT_STREQ(kOptionalSystemValues[9].name, "WatchEnabled");
  EXPECT_STREQ(kOptionalSystemValues[10].name, "AuditLog");
  EXPECT_STREQ(kOptionalSystemValues[14].name, "LogMaxFiles");
}

// Every row: a name unique within its key; a default that its kind reads
// and that lies within its bounds; bounds only on numbers, in order; a value
// that falls back on its default has one.
TEST(ConfigSchemaTest, EveryRowIsConsistent) {
  std::set<std::pair<ValueKey, std::string>> seen;
  for (const ValueDef& value : kAllValues) {
    SCOPED_TRACE(Subkey(value.key) + "\\" + value.name);
    EXPECT_TRUE(seen.insert({value.key, value.name}).second) << "named twice";
    EXPECT_FALSE(std::string(value.name).empty());
    if (value.kind == ValueKind::kText) {
      EXPECT_FALSE(value.min || value.max) << "bounds on a text";
    }
    if (value.kind == ValueKind::kNoYes) {
      EXPECT_EQ(value.min, 0);
      EXPECT_EQ(value.max, 1);
    }
    if (value.min && value.max) {
      EXPECT_LE(*value.min, *value.max);
    }
    if (value.missing == Missing::kDefault) {
      EXPECT_NE(value.default_text, nullptr);
    }
    if (IsOptional(value.missing)) {
      EXPECT_EQ(value.key, ValueKey::kSystem);
    }
    if (value.missing == Missing::kNewInstall) {
      EXPECT_NE(value.default_text, nullptr);
    }
    if (value.default_text == nullptr) continue;
    EXPECT_FALSE(std::string(value.default_text).empty());
    if (value.kind == ValueKind::kText) continue;
    const std::optional<std::int32_t> n = ParseWholeNumber(value.default_text);
    ASSERT_TRUE(n.has_value()) << value.default_text;
    if (value.min) {
      EXPECT_GE(*n, *value.min);
    }
    if (value.max) {
      EXPECT_LE(*n, *value.max);
    }
    if (value.kind == ValueKind::kNoYes) {
      EXPECT_NE(NoYesIndex(value.default_text), -1);
    }
  }
  EXPECT_EQ(kAllValues.size(), kAllSystemValues.size() + 3 * kPermissionNames.size());
}

// What the product documents as its bounds.
TEST(ConfigSchemaTest, BoundsOfTheNumbers) {
  EXPECT_EQ(SystemValue(kPort).min, 1);
  EXPECT_EQ(SystemValue(kPort).max, 65535);
  for (const char* name : {kMaxClients, kIdleTimeout, kLogMaxBytes}) {
    EXPECT_EQ(SystemValue(name).min, 1) << name;
    EXPECT_EQ(SystemValue(name).max, std::nullopt) << name;
  }
  EXPECT_EQ(SystemValue(kServiceStopTimeOut).min, std::nullopt);
}

TEST(ConfigSchemaTest, NumberOrDefault) {
  EXPECT_EQ(NumberOrDefault(SystemValue(kServiceStopTimeOut), ""), 30000);
  EXPECT_EQ(NumberOrDefault(SystemValue(kServiceStopTimeOut), "-5"), -5);
  EXPECT_EQ(NumberOrDefault(SystemValue(kStopDependencies), ""), 1);
  EXPECT_EQ(NumberOrDefault(SystemValue(kStopDependencies), "0"), 0);
  EXPECT_THROW(NumberOrDefault(SystemValue(kStopDependencies), "x"), Error);
  // Without a default an empty text is no number.
  EXPECT_THROW(NumberOrDefault(SystemValue(kVerboseLogging), ""), Error);
  EXPECT_THROW(NumberOrDefault(SystemValue(kMaxClients), ""), Error);
}

TEST(ConfigSchemaTest, NoYesIndex) {
  const struct {
    const char* text;
    int index;
  } cases[] = {{"0", 0}, {"1", 1}, {"+1", 1}, {"2", -1}, {"-1", -1}};
  for (const auto& c : cases) EXPECT_EQ(NoYesIndex(c.text), c.index) << c.text;
  EXPECT_THROW(NoYesIndex(""), Error);
  EXPECT_THROW(NoYesIndex("Yes"), Error);
  EXPECT_EQ(NoYesText(1), "1");
  EXPECT_EQ(NoYesText(-1), "-1");
}

TEST(ConfigSchemaTest, PermissionsInListOrder) {
  EXPECT_EQ(std::vector<std::string>(kPermissionNames.begin(), kPermissionNames.end()),
            (std::vector<std::string>{"AllowList", "AllowStatus", "AllowStart", "AllowStop",
                                      "AllowRestart", "AllowUpdate"}));
}

// The configuration a first installation writes, as the product documents it.
TEST(ConfigSchemaTest, InstalledValuesAreTheDocumentedConfiguration) {
  const std::map<std::string, std::string> chosen = {{"BaseDir", "C:\\Halvexa"},
                                                     {"LogDir", "C:\\Halvexa\\Logs"},
                                                     {"DumpDir", "C:\\Halvexa\\Dumps"},
                                                     {"Port", "9100"},
                                                     {"AllowList", "0"}};  // not a System value
  std::map<std::string, std::string> got;
  for (const InstalledValue& value : InstalledValues(chosen)) {
    ASSERT_EQ(value.key.rfind(kVersionKey + "\\", 0), 0u) << value.key;
    EXPECT_TRUE(
        got.emplace(value.key.substr(kVersionKey.size() + 1) + "\\" + value.name, value.text)
            .second);
  }
  std::map<std::string, std::string> want = {
      {"System\\BaseDir", "C:\\Halvexa"},      {"System\\ExecName", "halvexa351.exe"},
      {"System\\LogDir", "C:\\Halvexa\\Logs"}, {"System\\DumpDir", "C:\\Halvexa\\Dumps"},
      {"System\\VerboseLogging", "0"},         {"System\\Port", "9100"},
      {"System\\ServiceStopTimeOut", "30000"}, {"System\\StopDependencies", "1"},
      // What a new installation switches on.
      {"System\\RestartDependents", "1"},     {"System\\ListFilter", "1"},
      {"System\\UpdateEnabled", "1"},         {"System\\WatchEnabled", "1"},
      {"System\\AuditLog", "1"},              {"System\\LogTimestamps", "1"},
  };
  const std::string grants = "110000";
  for (std::size_t i = 0; i < kPermissionNames.size(); ++i) {
    want["Security\\Default\\" + std::string(kPermissionNames[i])] = grants.substr(i, 1);
    want["Security\\Users\\Admin\\" + std::string(kPermissionNames[i])] = "1";
    want["Security\\Users\\Anonymous\\" + std::string(kPermissionNames[i])] = "0";
  }
  EXPECT_EQ(got, want);
}

// The installer's audit and log properties: an off value is written only
// when chosen, and then by any installation; a chosen NewInstall value
// replaces its default and stays a first installation's.
TEST(ConfigSchemaTest, InstalledValuesTakeTheChosenAuditAndLogValues) {
  const std::map<std::string, std::string> chosen = {
      {"BaseDir", "C:\\H"},      {"LogDir", "C:\\H\\L"}, {"DumpDir", "C:\\H\\D"},
      {"AuditLog", "0"},         {"AuditMaxBytes", "2048"}, {"LogMaxFiles", "3"},
      {"AuditMaxFiles", ""}};  // empty: not chosen
  std::map<std::string, std::pair<std::string, bool>> got;
  for (const InstalledValue& value : InstalledValues(chosen))
    got[value.name] = {value.text, value.first_install_only};
  EXPECT_EQ(got["AuditLog"], std::make_pair(std::string("0"), true));
  EXPECT_EQ(got["LogTimestamps"], std::make_pair(std::string("1"), true));
  EXPECT_EQ(got["AuditMaxBytes"], std::make_pair(std::string("2048"), false));
  EXPECT_EQ(got["LogMaxFiles"], std::make_pair(std::string("3"), false));
  EXPECT_EQ(got.count("AuditMaxFiles"), 0u);
  EXPECT_EQ(got.count("LogMaxBytes"), 0u);
}

// The checks the service, the console and the installer share.
TEST(ConfigSchemaTest, BoundedNumbersAndNoYesTexts) {
  const struct {
    const char* name;
    const char* text;
    const char* error;  // null: accepted
  } cases[] = {
      {"AuditMaxFiles", "1", nullptr},
      {"AuditMaxFiles", "100", nullptr},
      {"AuditMaxFiles", "0", "AuditMaxFiles must be 1 or more, not '0'"},
      {"AuditMaxFiles", "101", "AuditMaxFiles must be 100 or less, not '101'"},
      {"AuditMaxBytes", "2147483647", nullptr},
      {"AuditMaxBytes", "2147483648", "'2147483648' is not a valid integer value"},
      {"LogMaxFiles", "x", "'x' is not a valid integer value"},
      {"AuditLog", "1", nullptr},
      {"AuditLog", "0", nullptr},
      {"AuditLog", "Yes", "AuditLog must be 0 or 1, not 'Yes'"},
      {"LogTimestamps", "", "LogTimestamps must be 0 or 1, not ''"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.text);
    const ValueDef& value = SystemValue(c.name);
    try {
      if (value.kind == ValueKind::kNoYes)
        NoYesValue(value, c.text);
      else
        BoundedWholeNumber(value, c.text);
      EXPECT_EQ(c.error, nullptr);
    } catch (const Error& e) {
      ASSERT_NE(c.error, nullptr) << e.what();
      EXPECT_EQ(std::string(e.what()), c.error);
    }
  }
}

TEST(ConfigSchemaTest, InstalledValuesTakeDefaultsAndNeedFolders) {
  const std::map<std::string, std::string> folders = {
      {"BaseDir", "C:\\H"}, {"LogDir", "C:\\H\\L"}, {"DumpDir", "C:\\H\\D"}, {"Port", ""}};
  bool port_seen = false;
  for (const InstalledValue& value : InstalledValues(folders)) {
    if (value.name == "Port") {
      EXPECT_EQ(value.text, "9007");  // an empty choice takes the default
      port_seen = true;
    }
  }
  EXPECT_TRUE(port_seen);
  for (const char* folder : {"BaseDir", "LogDir", "DumpDir"}) {
    std::map<std::string, std::string> without = folders;
    without.erase(folder);
    try {
      InstalledValues(without);
      ADD_FAILURE() << "no error without " << folder;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), std::string("No text for the value ") + folder);
    }
  }
}

#ifdef HALV_CONFIG_SH
// The shell fragment CMake writes from the table says what the C++ table
// says: keys, service name, installed values and defaults.
TEST(ConfigSchemaTest, TheScriptsFragmentMatchesTheTable) {
  std::ifstream file(HALV_CONFIG_SH);
  ASSERT_TRUE(file) << HALV_CONFIG_SH;
  std::stringstream buffer;
  buffer << file.rdbuf();
  // NAME='text' assignments; a text may span lines.
  std::map<std::string, std::string> vars;
  const std::string text = buffer.str();
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end_of_line = text.find('\n', at);
    const std::size_t equals = text.find("='", at);
    if (text[at] == '#' || equals == std::string::npos || equals > end_of_line) {
      at = end_of_line == std::string::npos ? text.size() : end_of_line + 1;
      continue;
    }
    const std::size_t close = text.find('\'', equals + 2);
    ASSERT_NE(close, std::string::npos);
    vars[text.substr(at, equals - at)] = text.substr(equals + 2, close - equals - 2);
    at = close + 2;
  }
  EXPECT_EQ(vars["HALV_SERVICE"], kServiceName);
  EXPECT_EQ(vars["HALV_VERSION"], kVersion);
  EXPECT_EQ(vars["HALV_VERSION_KEY"], "HKLM\\" + kVersionKey);
  EXPECT_EQ(vars["HALV_SYSTEM_KEY"], "HKLM\\" + kSystemKey);
  EXPECT_EQ(vars["HALV_SECURITY_KEY"], "HKLM\\" + kSecurityKey);
  EXPECT_EQ(vars["HALV_DEFAULTS_KEY"], "HKLM\\" + kDefaultsKey);
  EXPECT_EQ(vars["HALV_USERS_KEY"], "HKLM\\" + kUsersKey);
  EXPECT_EQ(vars["HALV_ADMIN_KEY"], "HKLM\\" + kUsersKey + "\\" + kAdminUser);
  EXPECT_EQ(vars["HALV_ANONYMOUS_KEY"], "HKLM\\" + kUsersKey + "\\" + kAnonymousUser);
  EXPECT_EQ(vars["HALV_EVENT_SOURCE_KEY"], std::string("HKLM\\") + kEventSourceKey);
  std::string installed;
  for (const ValueDef& value : kAllValues) {
    if (IsOptional(value.missing)) continue;
    installed += Subkey(value.key) + "|" + value.name + "|" +
                 (value.default_text ? value.default_text : "") + "\n";
  }
  EXPECT_EQ(vars["HALV_INSTALLED_VALUES"], installed);
  for (const ValueDef& value : kAllSystemValues) {
    SCOPED_TRACE(value.name);
    const std::string name = std::string("HALV_DEFAULT_") + value.name;
    if (value.default_text == nullptr) {
      EXPECT_EQ(vars.count(name), 0u);
    } else {
      EXPECT_EQ(vars[name], value.default_text);
    }
  }
}
#endif

}  // namespace
}  // namespace halv::config
