// Custom actions of the Halvexa installer, in halvexa-setup.dll (stored in
// the package, never installed).
//
// HalvConfigPaths (immediate): the configuration paths without the trailing
//   backslash that Windows Installer gives every folder, so the service's
//   "BaseDir" + "\\" + name forms a clean path: HALV_BASEDIR from INSTALLDIR,
//   HALV_LOGDIR from LOGDIR, HALV_DUMPDIR from DUMPDIR.
// HalvRestrictSecurity (deferred, as LocalSystem): the "\\Security" key and
//   everything beneath it readable and writable only by Administrators and
//   SYSTEM, after the registry values are written. wixl has no element for
//   the LockPermissions tables, so this does it.
// HalvQuoteServicePath (deferred, as LocalSystem, after InstallServices):
//   the service's image path in double quotes, as /INSTALL registers it (Wine's
//   installer writes it bare, and a bare path with blanks is ambiguous).
// Each runs on the installer's thread for the action; nothing is kept.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

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
// (a drive root keeps its one: "C:\\").
UINT CopyFolder(MSIHANDLE install, const wchar_t* source, const wchar_t* target) {
  std::wstring path = GetProperty(install, source);
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return MsiSetPropertyW(install, target, path.c_str());
}

}  // namespace

extern "C" UINT __stdcall HalvConfigPaths(MSIHANDLE install) {
  if (CopyFolder(install, L"INSTALLDIR", L"HALV_BASEDIR") != ERROR_SUCCESS ||
      CopyFolder(install, L"LOGDIR", L"HALV_LOGDIR") != ERROR_SUCCESS ||
      CopyFolder(install, L"DUMPDIR", L"HALV_DUMPDIR") != ERROR_SUCCESS)
    return ERROR_INSTALL_FAILURE;
  return ERROR_SUCCESS;
}

extern "C" UINT __stdcall HalvQuoteServicePath(MSIHANDLE) {
  halv::win::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return ERROR_INSTALL_FAILURE;
  halv::win::ServiceHandle service(
      OpenServiceW(manager.get(), L"Halvexa351", SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG));
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
