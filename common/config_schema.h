// The configuration in the registry: where it lives, the names of its values,
// their defaults and how their texts are read.
//
// Every program and test that touches the configuration takes the key paths
// and value names from here, so the product names each in one place. Values
// are strings (REG_SZ). Portable: no Windows headers.
//
// Adding a value: give it a name constant below, a row in kSystemValues (or
// kPermissionNames for a permission), and read it where the service or the
// console needs it with the parse helpers at the end.
#ifndef HALV_COMMON_CONFIG_SCHEMA_H_
#define HALV_COMMON_CONFIG_SCHEMA_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace halv::config {

// --- Keys, relative to HKEY_LOCAL_MACHINE.

// The product; each version is a subkey.
inline constexpr char kProductKey[] = "SOFTWARE\\Tenmark\\Halvexa Server";
// The version this build belongs to, the one the service reads.
inline constexpr char kVersion[] = "3.5.1";
// Subkeys of a version key.
inline constexpr char kSystemSubkey[] = "System";
inline constexpr char kDefaultsSubkey[] = "Security\\Default";
inline constexpr char kUsersSubkey[] = "Security\\Users";

// The keys of one version (the console edits any version listed).
inline std::string VersionKey(std::string_view version) {
  return std::string(kProductKey) + "\\" + std::string(version);
}
inline std::string SystemKey(std::string_view version) {
  return VersionKey(version) + "\\" + kSystemSubkey;
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
inline const std::string kDefaultsKey = DefaultsKey(kVersion);
inline const std::string kUsersKey = UsersKey(kVersion);

// --- Values of the System key.

inline constexpr char kBaseDir[] = "BaseDir";
inline constexpr char kExecName[] = "ExecName";
inline constexpr char kLogDir[] = "LogDir";
inline constexpr char kDumpDir[] = "DumpDir";
inline constexpr char kVerboseLogging[] = "VerboseLogging";
inline constexpr char kPort[] = "Port";
inline constexpr char kServiceStopTimeOut[] = "ServiceStopTimeOut";
inline constexpr char kStopDependencies[] = "StopDependencies";

// The server log's file name inside LogDir.
inline constexpr char kServerLogFile[] = "serverlog.txt";

// How a value's text is read.
enum class ValueKind {
  kText,         // taken as it stands
  kWholeNumber,  // see ParseWholeNumber
  kNoYes,        // a whole number: 0 is No, 1 is Yes (see NoYesIndex)
};

struct ValueDef {
  const char* name;
  ValueKind kind;
  // The text that stands for a missing (or empty) value; null where a
  // missing value is an error or simply left empty.
  const char* default_text;
};

inline constexpr std::int32_t kDefaultPort = 9007;
inline constexpr std::int32_t kDefaultStopTimeOut = 30000;
inline constexpr bool kDefaultStopDependencies = true;
// The interval of the delayed restart (CYCLE's grace period).
inline constexpr std::int32_t kDefaultGracePeriod = 30000;

// The System values, in the order the console writes them.
inline constexpr std::array<ValueDef, 8> kSystemValues = {{
    {kStopDependencies, ValueKind::kNoYes, "1"},
    {kVerboseLogging, ValueKind::kNoYes, nullptr},  // required by the service
    {kServiceStopTimeOut, ValueKind::kWholeNumber, "30000"},
    {kBaseDir, ValueKind::kText, nullptr},
    {kLogDir, ValueKind::kText, nullptr},
    {kDumpDir, ValueKind::kText, nullptr},
    {kExecName, ValueKind::kText, nullptr},
    {kPort, ValueKind::kWholeNumber, "9007"},
}};

// The definition of System value `name`; null for a name not in kSystemValues.
inline const ValueDef* FindSystemValue(std::string_view name) {
  for (const ValueDef& value : kSystemValues)
    if (name == value.name) return &value;
  return nullptr;
}

// --- Optional System values of access control and hardening. Absent, the
// service behaves as it always has; the console edits only RequireAuth
// ("Require Login:", where a missing value reads as No).

inline constexpr char kRequireAuth[] = "RequireAuth";        // "1": logins required
inline constexpr char kListenAddress[] = "ListenAddress";    // IPv4 or IPv6 literal
inline constexpr char kAllowedClients[] = "AllowedClients";  // addresses and CIDR ranges
inline constexpr char kMaxClients[] = "MaxClients";          // whole number, 1 or more
inline constexpr char kIdleTimeout[] = "IdleTimeout";        // seconds, 1 or more
inline constexpr char kLogMaxBytes[] = "LogMaxBytes";        // bytes, 1 or more

// The optional values, in the order the service reads them (after the
// values above); none has a default.
inline constexpr std::array<ValueDef, 6> kOptionalSystemValues = {{
    {kRequireAuth, ValueKind::kNoYes, nullptr},
    {kListenAddress, ValueKind::kText, nullptr},
    {kAllowedClients, ValueKind::kText, nullptr},
    {kMaxClients, ValueKind::kWholeNumber, nullptr},
    {kIdleTimeout, ValueKind::kWholeNumber, nullptr},
    {kLogMaxBytes, ValueKind::kWholeNumber, nullptr},
}};

// --- Values of the Security\Default key and of each user's key.

inline constexpr char kAllowList[] = "AllowList";
inline constexpr char kAllowStatus[] = "AllowStatus";
inline constexpr char kAllowStart[] = "AllowStart";
inline constexpr char kAllowStop[] = "AllowStop";
inline constexpr char kAllowRestart[] = "AllowRestart";
inline constexpr char kAllowUpdate[] = "AllowUpdate";
// The six permission value names, in list order. Each is a No/Yes value.
inline constexpr std::array<const char*, 6> kPermissionNames = {
    kAllowList, kAllowStatus, kAllowStart, kAllowStop, kAllowRestart, kAllowUpdate};
// The two built-in user keys, which the console never removes.
inline constexpr char kAdminUser[] = "Admin";
inline constexpr char kAnonymousUser[] = "Anonymous";
// A user's stored password form (see halvexa-auth).
inline constexpr char kAuth[] = "Auth";

// --- Reading and writing texts.

// A whole number: an optional "+" or "-" and one or more decimal digits,
// nothing else, within the signed 32-bit range. Nothing otherwise.
std::optional<std::int32_t> ParseWholeNumber(std::string_view text);
// The same, raising "'<text>' is not a valid integer value" otherwise.
std::int32_t WholeNumber(const std::string& text);

// A No/Yes value as a list index: 0 (No) or 1 (Yes) for those numbers, -1
// for any other whole number; raises as WholeNumber for other texts.
int NoYesIndex(const std::string& text);
// The text stored for a list index (-1 for none gives "-1").
inline std::string NoYesText(int index) { return std::to_string(index); }
// The words of a No/Yes list, by index.
inline constexpr std::array<const char*, 2> kNoYesWords = {"No", "Yes"};

}  // namespace halv::config

#endif  // HALV_COMMON_CONFIG_SCHEMA_H_
