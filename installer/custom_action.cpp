// Custom actions of the Halvexa installer, in halvexa-setup.dll (stored in
// the package, never installed).
//
// HalvConfigPaths (immediate): the configuration paths without the trailing
//   backslash that Windows Installer gives every folder, so the service's
//   "BaseDir" + "\\" + name forms a clean path: HALV_BASEDIR from INSTALLDIR,
//   HALV_LOGDIR from LOGDIR, HALV_DUMPDIR from DUMPDIR; and, for
//   HalvWriteConfig, the texts those folders and the PORT property give
//   their values ("Name=text" lines), and those of the properties AUDITLOG,
//   AUDITMAXBYTES, AUDITMAXFILES, LOGTIMESTAMPS and LOGMAXFILES (checked
//   against the table: a bad one fails the installation).
// HalvWriteConfig (deferred, as LocalSystem): creates every configuration
//   value of the table (config_values.def) that is missing, with the text
//   HalvConfigPaths chose or its default; a value that exists is never
//   rewritten, so an install over an installation, a repair or an upgrade
//   keeps what an operator changed, and the properties apply to missing
//   values only. A value that cannot be read fails the action rather than
//   being written over.
// HalvRestrictSecurity (deferred, as LocalSystem): the "\\Security" key and
//   everything beneath it readable and writable only by Administrators and
//   SYSTEM, after HalvWriteConfig. wixl has no element for the
//   LockPermissions tables, so this does it.
// HalvProtectFolders (deferred, as LocalSystem, after InstallFiles): the
//   program folder and the log folder (CustomActionData, one a line, from
//   HalvConfigPaths) get an access list of their own: full control for
//   Administrators and SYSTEM, read and run for Users, inherited by what is
//   in them; nothing inherited from above. So no other account can plant a
//   library beside the service (which runs as LocalSystem) or rewrite its
//   log, whichever folder was chosen.
// HalvQuoteServicePath (deferred, as LocalSystem, after InstallServices):
//   the service's image path in double quotes, as /INSTALL registers it (Wine's
//   installer writes it bare, and a bare path with blanks is ambiguous).
// Each runs on the installer's thread for the action; nothing is kept.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <algorithm>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config_schema.h"
#include "install_registry.h"
#include "win/handles.h"

namespace {

// The property `name`, or empty text when it cannot be read.
std::wstring GetProperty(MSIHANDLE install, const wchar_t* name) {
  DWORD length = 0;
  wchar_t empty[1] = L"";
  if (MsiGetPropertyW(install, name, empty, &length) != ERROR_MORE_DATA) return L"";
  std::wstring value(length + 1, L'\0');
  length = static_cast<DWORD>(value.size());
  if (MsiGetPropertyW(install, name, value.data(), &length) != ERROR_SUCCESS) return L"";
  value.resize(length);
  return value;
}

// Sets `target` to the folder property `source` without trailing backslashes
// (a drive root keeps its one: "C:\\"), and gives that path back in `path`.
UINT CopyFolder(MSIHANDLE install, const wchar_t* source, const wchar_t* target,
                std::wstring& path) {
  path = GetProperty(install, source);
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return MsiSetPropertyW(install, target, path.c_str());
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return L"";
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return "";
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

// Writes `text` into the installer's log.
void Log(MSIHANDLE install, const std::wstring& text) {
  const MSIHANDLE record = MsiCreateRecord(0);
  if (record == 0) return;
  MsiRecordSetStringW(record, 0, text.c_str());
  MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
  MsiCloseHandle(record);
}

// The "Name=text" lines of `data` as a map (UTF-8).
std::map<std::string, std::string> ParseChosen(const std::wstring& data) {
  std::map<std::string, std::string> chosen;
  std::size_t start = 0;
  while (start < data.size()) {
    std::size_t end = data.find(L'\n', start);
    if (end == std::wstring::npos) end = data.size();
    const std::wstring line = data.substr(start, end - start);
    const std::size_t equals = line.find(L'=');
    if (equals != std::wstring::npos)
      chosen[Utf8(line.substr(0, equals))] = Utf8(line.substr(equals + 1));
    start = end + 1;
  }
  return chosen;
}

// Whether HKLM\`key` holds the value `name`.
bool HasValue(const std::string& key, const char* name) {
  halv::win::RegKey handle;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(key).c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                    handle.Out()) != ERROR_SUCCESS)
    return false;
  return RegQueryValueExW(handle.get(), Wide(name).c_str(), nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

// Creates `value` with its text when it is missing. Returns ERROR_SUCCESS
// when it exists afterwards (written now or before), else the error.
LONG CreateMissing(MSIHANDLE install, const halv::config::InstalledValue& value) {
  const std::wstring key_path = Wide(value.key);
  const std::wstring name = Wide(value.name);
  halv::win::RegKey key;
  LONG status =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, nullptr, 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.Out(), nullptr);
  if (status != ERROR_SUCCESS) {
    Log(install, L"HalvWriteConfig: cannot open " + key_path + L": " + std::to_wstring(status));
    return status;
  }
  status = RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr);
  if (status == ERROR_SUCCESS) return ERROR_SUCCESS;  // kept as it is
  if (status != ERROR_FILE_NOT_FOUND) {
    Log(install, L"HalvWriteConfig: cannot read " + key_path + L"\\" + name + L": " +
                     std::to_wstring(status));
    return status;
  }
  const std::wstring text = Wide(value.text);
  status = RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  Log(install, L"HalvWriteConfig: " + key_path + L"\\" + name + L" = " + text +
                   (status == ERROR_SUCCESS ? L"" : L" failed: " + std::to_wstring(status)));
  return status;
}

// The optional values an installation property may set.
constexpr const char* kPropertyValues[] = {
    halv::config::kAuditLog, halv::config::kAuditMaxBytes, halv::config::kAuditMaxFiles,
    halv::config::kLogTimestamps, halv::config::kLogMaxFiles};

}  // namespace

extern "C" UINT __stdcall HalvConfigPaths(MSIHANDLE install) {
  std::wstring base, logs, dumps;
  if (CopyFolder(install, L"INSTALLDIR", L"HALV_BASEDIR", base) != ERROR_SUCCESS ||
      CopyFolder(install, L"LOGDIR", L"HALV_LOGDIR", logs) != ERROR_SUCCESS ||
      CopyFolder(install, L"DUMPDIR", L"HALV_DUMPDIR", dumps) != ERROR_SUCCESS)
    return ERROR_INSTALL_FAILURE;
  namespace config = halv::config;
  std::wstring data = Wide(config::kBaseDir) + L"=" + base + L"\n" + Wide(config::kLogDir) + L"=" +
                      logs + L"\n" + Wide(config::kDumpDir) + L"=" + dumps + L"\n";
  const std::wstring port = GetProperty(install, L"PORT");
  if (!port.empty()) data += Wide(config::kPort) + L"=" + port + L"\n";
  // The audit and log values, each from the property of its name in
  // capitals (AUDITLOG=1); a text the service would refuse fails the
  // installation with the reason in its log.
  for (const char* name : kPropertyValues) {
    std::string property = name;
    for (char& c : property) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    const std::wstring text = GetProperty(install, Wide(property).c_str());
    if (text.empty()) continue;
    try {
      const config::ValueDef& value = config::SystemValue(name);
      if (value.kind == config::ValueKind::kNoYes)
        config::NoYesValue(value, Utf8(text));
      else
        config::BoundedWholeNumber(value, Utf8(text));
    } catch (const std::exception& e) {
      Log(install, L"HalvConfigPaths: " + Wide(property) + L": " + Wide(e.what()));
      return ERROR_INSTALL_FAILURE;
    }
    data += Wide(name) + L"=" + text + L"\n";
  }
  // The deferred actions receive these properties as their CustomActionData.
  const std::wstring folders = base + L"\n" + logs + L"\n";
  return MsiSetPropertyW(install, L"HalvWriteConfig", data.c_str()) == ERROR_SUCCESS &&
                 MsiSetPropertyW(install, L"HalvProtectFolders", folders.c_str()) == ERROR_SUCCESS
             ? ERROR_SUCCESS
             : ERROR_INSTALL_FAILURE;
}

extern "C" UINT __stdcall HalvProtectFolders(MSIHANDLE install) {
  const std::wstring data = GetProperty(install, L"CustomActionData");
  std::size_t start = 0;
  while (start < data.size()) {
    const std::size_t end = std::min(data.find(L'\n', start), data.size());
    const std::wstring folder = data.substr(start, end - start);
    start = end + 1;
    if (folder.empty()) continue;
    const DWORD error = halv::ProtectFolder(folder);
    Log(install, L"HalvProtectFolders: " + folder +
                     (error == ERROR_SUCCESS ? L"" : L" failed: " + std::to_wstring(error)));
    if (error != ERROR_SUCCESS) return ERROR_INSTALL_FAILURE;
  }
  return ERROR_SUCCESS;
}

extern "C" UINT __stdcall HalvWriteConfig(MSIHANDLE install) {
  std::vector<halv::config::InstalledValue> values;
  try {
    values = halv::config::InstalledValues(ParseChosen(GetProperty(install, L"CustomActionData")));
  } catch (const std::exception& e) {
    Log(install, L"HalvWriteConfig: " + Wide(e.what()));
    return ERROR_INSTALL_FAILURE;
  }
  // A configuration that already has its folders is an earlier installation's:
  // it keeps the features it had (no NewInstall value is added to it).
  const bool first_install = !HasValue(halv::config::kSystemKey, halv::config::kBaseDir);
  for (const halv::config::InstalledValue& value : values) {
    if (value.first_install_only && !first_install) continue;
    if (CreateMissing(install, value) != ERROR_SUCCESS) return ERROR_INSTALL_FAILURE;
  }
  return ERROR_SUCCESS;
}

extern "C" UINT __stdcall HalvQuoteServicePath(MSIHANDLE) {
  halv::win::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return ERROR_INSTALL_FAILURE;
  halv::win::ServiceHandle service(OpenServiceW(manager.get(),
                                                Wide(halv::config::kServiceName).c_str(),
                                                SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG));
  if (!service) return ERROR_INSTALL_FAILURE;
  DWORD needed = 0;
  QueryServiceConfigW(service.get(), nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed ? needed : 1);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed))
    return ERROR_INSTALL_FAILURE;
  const std::wstring path = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
  if (path.empty() || path.front() == L'"') return ERROR_SUCCESS;
  const std::wstring quoted = L"\"" + path + L"\"";
  return ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                              SERVICE_NO_CHANGE, quoted.c_str(), nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr)
             ? ERROR_SUCCESS
             : ERROR_INSTALL_FAILURE;
}

extern "C" UINT __stdcall HalvRestrictSecurity(MSIHANDLE) {
  return halv::RestrictSecurityKey() == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}
