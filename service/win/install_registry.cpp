// Event-source registration and the access rules of the "\\Security" key.
#include "install_registry.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <memory>
#include <vector>

#include "win/handles.h"

namespace halv {
namespace {

using win::RegKey;

struct LocalFreer {
  void operator()(void* p) const { LocalFree(p); }
};

// Full control for Administrators and SYSTEM, inherited by subkeys; "P"
// marks the list protected, so nothing is inherited from above.
constexpr wchar_t kSecurityKeyRules[] = L"D:P(A;CI;KA;;;BA)(A;CI;KA;;;SY)";

// Sets `dacl` on `key` and on every key beneath it.
DWORD ApplyToTree(HKEY key, PACL dacl) {
  const DWORD error = SetSecurityInfo(
      key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
      nullptr, nullptr, dacl, nullptr);
  if (error != ERROR_SUCCESS) return error;
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD length = sizeof name;
    const LONG status = RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    names.emplace_back(name, length);
  }
  for (const std::string& name : names) {
    RegKey child;
    const LONG status = RegOpenKeyExA(
        key, name.c_str(), 0, READ_CONTROL | WRITE_DAC | KEY_ENUMERATE_SUB_KEYS, child.Out());
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    if (const DWORD child_error = ApplyToTree(child.get(), dacl); child_error != ERROR_SUCCESS)
      return child_error;
  }
  return ERROR_SUCCESS;
}

}  // namespace

DWORD RegisterEventSourceKey(const std::string& message_file) {
  RegKey key;
  LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, 0, KEY_SET_VALUE,
                                nullptr, key.Out(), nullptr);
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  status = RegSetValueExA(key.get(), "EventMessageFile", 0, REG_EXPAND_SZ,
                          reinterpret_cast<const BYTE*>(message_file.c_str()),
                          static_cast<DWORD>(message_file.size() + 1));
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  status = RegSetValueExA(key.get(), "TypesSupported", 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&types), sizeof types);
  return static_cast<DWORD>(status);
}

DWORD RemoveEventSourceKey() {
  const LONG status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, kEventSourceKey);
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  return static_cast<DWORD>(status);
}

namespace {

// The descriptor of an SDDL text and its access list (which points into it).
DWORD DescriptorFromRules(const wchar_t* rules, std::unique_ptr<void, LocalFreer>* descriptor,
                          PACL* dacl) {
  PSECURITY_DESCRIPTOR raw_descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(rules, SDDL_REVISION_1,
                                                            &raw_descriptor, nullptr))
    return GetLastError();
  descriptor->reset(raw_descriptor);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorDacl(descriptor->get(), &present, dacl, &defaulted))
    return GetLastError();
  return ERROR_SUCCESS;
}

}  // namespace

DWORD RestrictSecurityKey(const std::string& security_key) {
  std::unique_ptr<void, LocalFreer> descriptor;
  PACL dacl = nullptr;
  if (const DWORD error = DescriptorFromRules(kSecurityKeyRules, &descriptor, &dacl);
      error != ERROR_SUCCESS)
    return error;

  // A key made here gets the access list as it is created, so there is no
  // moment in which it carries the inherited one.
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
  RegKey key;
  LONG status =
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, security_key.c_str(), 0, nullptr, 0,
                      READ_CONTROL | WRITE_DAC | KEY_ENUMERATE_SUB_KEYS | KEY_CREATE_SUB_KEY,
                      &attributes, key.Out(), nullptr);
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  // The Users key too, before any user is written below it.
  // "Security\\Users" less "Security\\": the Users key's name below Security.
  const std::string users_name =
      std::string(config::kUsersSubkey).substr(std::strlen(config::kSecuritySubkey) + 1);
  RegKey users;
  status = RegCreateKeyExA(key.get(), users_name.c_str(), 0, nullptr, 0, READ_CONTROL, &attributes,
                           users.Out(), nullptr);
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  return ApplyToTree(key.get(), dacl);
}

DWORD ProtectFolder(const std::wstring& path) {
  // Full control for Administrators and SYSTEM, read and execute for Users;
  // inherited by files and folders beneath (OICI); "P": protected.
  static constexpr wchar_t kFolderRules[] =
      L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
  std::unique_ptr<void, LocalFreer> descriptor;
  PACL dacl = nullptr;
  if (const DWORD error = DescriptorFromRules(kFolderRules, &descriptor, &dacl);
      error != ERROR_SUCCESS)
    return error;
  std::wstring name = path;
  return SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                               DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                               nullptr, nullptr, dacl, nullptr);
}

}  // namespace halv
