// The configuration in the registry: where it lives, the names of its values,
// their kinds, defaults and bounds, and how their texts are read.
//
// Everything here is built from config_values.def, the one table of the
// configuration, which CMake also reads for the installer and the scripts.
// Every program and test that touches the configuration takes the key paths,
// names and defaults from here. Values are strings (REG_SZ). Portable: no
// Windows headers; constants only, any thread.
#ifndef HALV_COMMON_CONFIG_SCHEMA_H_
#define HALV_COMMON_CONFIG_SCHEMA_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halv::config {

// --- Facts of the table: kProductKey, kVersion, kSystemSubkey,
// kSecuritySubkey, kDefaultsSubkey, kUsersSubkey, kAdminUser,
// kAnonymousUser, kServiceName, kEventSourceKey.
#define HALV_TEXT(name, text) inline constexpr char k##name[] = text;
#define HALV_SYSTEM(...)
#define HALV_PERMISSION(...)
#include "config_values.def"
#undef HALV_TEXT
#undef HALV_SYSTEM
#undef HALV_PERMISSION

// The keys of one version (the console edits any version listed).
inline std::string VersionKey(std::string_view version) {
  return std::string(kProductKey) + "\\" + std::string(version);
}
inline std::string SystemKey(std::string_view version) {
  return VersionKey(version) + "\\" + kSystemSubkey;
}
inline std::string SecurityKey(std::string_view version) {
  return VersionKey(version) + "\\" + kSecuritySubkey;
}
inline std::string DefaultsKey(std::string_view version) {
  return VersionKey(version) + "\\" + kDefaultsSubkey;
}
inline std::string UsersKey(std::string_view version) {
  return VersionKey(version) + "\\" + kUsersSubkey;
}

// The keys of this build's version.
inline const std::string kVersionKey = VersionKey(kVersion);
inline const std::string kSystemKey = SystemKey(kVersion);
inline const std::string kSecurityKey = SecurityKey(kVersion);
inline const std::string kDefaultsKey = DefaultsKey(kVersion);
inline const std::string kUsersKey = UsersKey(kVersion);

// The server log's file name inside LogDir.
inline constexpr char kServerLogFile[] = "serverlog.txt";
// A user's stored password form (see halvexa-auth).
inline constexpr char kAuth[] = "Auth";
// "1" when the account is disabled (the console's "Disable Account"); a
// disabled user cannot log in. Absent, empty or "0": enabled.
inline constexpr char kDisabled[] = "Disabled";
// Whether a `Disabled` text disables the account: anything but "" and "0",
// so that an unexpected text never enables one.
inline bool DisablesAccount(std::string_view text) { return !text.empty() && text != "0"; }

// --- Value names: kStopDependencies, kPort, kRequireAuth, kAllowList, ...
#define HALV_TEXT(...)
#define HALV_SYSTEM(name, ...) inline constexpr char k##name[] = #name;
#define HALV_PERMISSION(name, ...) inline constexpr char k##name[] = #name;
#include "config_values.def"
#undef HALV_TEXT
#undef HALV_SYSTEM
#undef HALV_PERMISSION

// How a value's text is read.
enum class ValueKind {
  kText,         // taken as it stands
  kWholeNumber,  // see ParseWholeNumber
  kNoYes,        // a whole number: 0 is No, 1 is Yes (see NoYesIndex)
};

// What a missing (or empty) value means.
enum class Missing {
  kDefault,   // the default is taken
  kRequired,  // an installation writes it; the service reports it missing
  kOff,       // the feature is off; an installation never writes it
  kNewInstall,  // the feature is off; a new installation (the MSI) writes the
                // default, so new installs have it on and old ones keep going
  kLogin,     // off while logins are off; while they are required the default
              // is taken; an installation never writes it
};

// The key of the version that holds a value.
enum class ValueKey { kSystem, kDefaults, kAdmin, kAnonymous };

struct ValueDef {
  const char* name;
  ValueKind kind;
  Missing missing;
  // The default text; null where there is none (a folder the installer
  // chooses, or a value that is off when missing).
  const char* default_text;
  // Bounds of a whole number, where it has them.
  std::optional<std::int32_t> min;
  std::optional<std::int32_t> max;
  ValueKey key = ValueKey::kSystem;
};

namespace schema_detail {
// The whole number a default text stands for (digits with an optional sign;
// the table's tests check every default reads the same way at run time).
constexpr std::int32_t Number(std::string_view text) {
  bool negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  std::int64_t n = 0;
  for (const char c : text) n = n * 10 + (c - '0');
  return static_cast<std::int32_t>(negative ? -n : n);
}
}  // namespace schema_detail

// NONE and ANY of the table; any macros of those names are put back after.
#pragma push_macro("NONE")
#pragma push_macro("ANY")
#undef NONE
#undef ANY
#define NONE nullptr
#define ANY std::nullopt
#define HALV_TEXT(...)
#define HALV_PERMISSION(...)
#define HALV_SYSTEM(name, kind, missing, text, min, max) \
  ValueDef{#name, ValueKind::k##kind, Missing::k##missing, text, min, max, ValueKey::kSystem},

// Every System value, in table order.
inline constexpr auto kAllSystemValues = std::to_array<ValueDef>({
#include "config_values.def"
});
#undef HALV_SYSTEM
#undef HALV_PERMISSION

// Every permission's row of the Security\Default key and of the built-in
// users' keys, in list order.
#define HALV_SYSTEM(...)
#define HALV_PERMISSION(name, grant, admin, anonymous) \
  ValueDef{#name, ValueKind::kNoYes, Missing::kRequired, grant, 0, 1, ValueKey::kDefaults},
inline constexpr auto kDefaultPermissions = std::to_array<ValueDef>({
#include "config_values.def"
});
#undef HALV_PERMISSION
#define HALV_PERMISSION(name, grant, admin, anonymous) \
  ValueDef{#name, ValueKind::kNoYes, Missing::kRequired, admin, 0, 1, ValueKey::kAdmin},
inline constexpr auto kAdminPermissions = std::to_array<ValueDef>({
#include "config_values.def"
});
#undef HALV_PERMISSION
#define HALV_PERMISSION(name, grant, admin, anonymous) \
  ValueDef{#name, ValueKind::kNoYes, Missing::kRequired, anonymous, 0, 1, ValueKey::kAnonymous},
inline constexpr auto kAnonymousPermissions = std::to_array<ValueDef>({
#include "config_values.def"
});
#undef HALV_PERMISSION
#undef HALV_SYSTEM
#undef HALV_TEXT
#undef NONE
#undef ANY
#pragma pop_macro("ANY")
#pragma pop_macro("NONE")

// Whether a missing value leaves its feature off (the value is optional).
constexpr bool IsOptional(Missing missing) {
  return missing == Missing::kOff || missing == Missing::kNewInstall || missing == Missing::kLogin;
}

namespace schema_detail {
// The System values that are (kOptional) or are not (!kOptional) optional.
template <bool kOptional>
constexpr auto Select() {
  constexpr std::size_t kCount = [] {
    std::size_t n = 0;
    for (const ValueDef& value : kAllSystemValues) n += IsOptional(value.missing) == kOptional;
    return n;
  }();
  std::array<ValueDef, kCount> out{};
  std::size_t i = 0;
  for (const ValueDef& value : kAllSystemValues)
    if (IsOptional(value.missing) == kOptional) out[i++] = value;
  return out;
}
// The arrays one after another.
template <std::size_t... N>
constexpr auto Join(const std::array<ValueDef, N>&... parts) {
  std::array<ValueDef, (N + ...)> out{};
  std::size_t i = 0;
  ((std::copy_n(parts.begin(), N, out.begin() + i), i += N), ...);
  return out;
}
}  // namespace schema_detail

// The System values every installation writes, in the order the console
// writes them.
inline constexpr auto kSystemValues = schema_detail::Select<false>();
// The optional System values, in the order the service reads them (after the
// values above). Absent, the service behaves as it always has; the MSI writes
// the NewInstall ones with their defaults.
inline constexpr auto kOptionalSystemValues = schema_detail::Select<true>();
// Every value of the table, System ones first, then the permissions of
// Security\Default, Admin and Anonymous.
inline constexpr auto kAllValues = schema_detail::Join(kAllSystemValues, kDefaultPermissions,
                                                       kAdminPermissions, kAnonymousPermissions);

// The six permission value names, in list order. Each is a No/Yes value.
inline constexpr auto kPermissionNames = [] {
  std::array<const char*, kDefaultPermissions.size()> names{};
  for (std::size_t i = 0; i < names.size(); ++i) names[i] = kDefaultPermissions[i].name;
  return names;
}();

// The definition of System value `name` (optional ones included); null for
// a name not in the table.
constexpr const ValueDef* FindSystemValue(std::string_view name) {
  for (const ValueDef& value : kAllSystemValues)
    if (name == value.name) return &value;
  return nullptr;
}
// The same for a name that must be in the table (a compile-time error in a
// constant expression otherwise).
constexpr const ValueDef& SystemValue(std::string_view name) {
  const ValueDef* value = FindSystemValue(name);
  if (value == nullptr) throw "no such System value";
  return *value;
}

// The key below the version key that holds `key`'s values.
std::string Subkey(ValueKey key);

// Defaults the service's fields start with.
inline constexpr std::int32_t kDefaultPort = schema_detail::Number(SystemValue(kPort).default_text);
inline constexpr std::int32_t kDefaultStopTimeOut =
    schema_detail::Number(SystemValue(kServiceStopTimeOut).default_text);
inline constexpr bool kDefaultStopDependencies =
    schema_detail::Number(SystemValue(kStopDependencies).default_text) != 0;
// The interval of the delayed restart (CYCLE's grace period); not configured.
inline constexpr std::int32_t kDefaultGracePeriod = 30000;

// --- Reading and writing texts.

// A whole number: an optional "+" or "-" and one or more decimal digits,
// nothing else, within the signed 32-bit range. Nothing otherwise.
std::optional<std::int32_t> ParseWholeNumber(std::string_view text);
// The same, raising "'<text>' is not a valid integer value" otherwise.
std::int32_t WholeNumber(const std::string& text);
// `text` read as `value`'s whole number, its default when `text` is empty
// and the value falls back on it (Missing::kDefault); raises as WholeNumber
// for other texts (an empty one included).
std::int32_t NumberOrDefault(const ValueDef& value, const std::string& text);
// `text` read as `value`'s whole number within its bounds; raises as
// WholeNumber, or "<name> must be <min> or more, not '<text>'" (or "<max> or
// less") outside them.
std::int32_t BoundedWholeNumber(const ValueDef& value, const std::string& text);
// A No/Yes value's text, "0" or "1": false or true; raises "<name> must be 0
// or 1, not '<text>'" otherwise.
bool NoYesValue(const ValueDef& value, const std::string& text);

// A No/Yes value as a list index: 0 (No) or 1 (Yes) for those numbers, -1
// for any other whole number; raises as WholeNumber for other texts.
int NoYesIndex(const std::string& text);
// The text stored for a list index (-1 for none gives "-1").
inline std::string NoYesText(int index) { return std::to_string(index); }
// The words of a No/Yes list, by index.
inline constexpr std::array<const char*, 2> kNoYesWords = {"No", "Yes"};

// --- Installation.

// A value an installation creates when it is missing.
struct InstalledValue {
  std::string key;  // relative to HKEY_LOCAL_MACHINE
  std::string name;
  std::string text;
  // Written only by a first installation (a NewInstall value): a repair or
  // upgrade does not switch on a feature an existing installation lacks.
  bool first_install_only = false;
};
// Every value of kAllValues that is not off (and each off one `chosen`
// names), in table order, with its text: `chosen`'s text for a System value
// it names (the installer's PORT, folders and audit and log properties),
// else the default. Raises halv::Error naming a value that gets
// neither.
std::vector<InstalledValue> InstalledValues(const std::map<std::string, std::string>& chosen);

}  // namespace halv::config

#endif  // HALV_COMMON_CONFIG_SCHEMA_H_
