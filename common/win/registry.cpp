// The registry operations over advapi32, each key held by a RegKey so that
// every handle is closed on every way out; and WinRegistry, which forwards
// to them.
#include "win/registry.h"

#include <windows.h>

#include "halv_error.h"
#include "win/handles.h"

namespace halv {
namespace {

using win::RegKey;

bool OpenKey(const std::string& path, RegKey& key) {
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, key.Out()) ==
         ERROR_SUCCESS;
}

// Enumerates subkey names (values = false) or value names (values = true).
void ListNames(const std::string& path, bool values, std::vector<std::string>& out) {
  out.clear();
  RegKey key;
  if (!OpenKey(path, key)) return;
  DWORD max_len = 0;
  LONG rc = values ? RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr, &max_len, nullptr, nullptr, nullptr)
                   : RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, &max_len,
                                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (rc != ERROR_SUCCESS) return;
  std::string name(max_len + 1, '\0');
  for (DWORD i = 0;; ++i) {
    DWORD len = static_cast<DWORD>(name.size());
    rc = values
             ? RegEnumValueA(key.get(), i, name.data(), &len, nullptr, nullptr, nullptr, nullptr)
             : RegEnumKeyExA(key.get(), i, name.data(), &len, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA) {
      // The key changed since it was measured: measure again with room to spare.
      name.assign(name.size() * 2 + 256, '\0');
      --i;
      continue;
    }
    if (rc != ERROR_SUCCESS) break;
    out.emplace_back(name.data(), len);
  }
}

}  // namespace

std::string ReadRegString(const std::string& key_path, const std::string& name) {
  RegKey key;
  if (!OpenKey(key_path, key)) return {};
  std::string data;
  for (;;) {
    DWORD type = 0;
    DWORD size = 0;
    LONG rc = RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS) return {};
    if (type != REG_SZ && type != REG_EXPAND_SZ)
      throw Error(FormatMessageText("Invalid data type for '%s'", name));
    data.assign(size + 1, '\0');
    DWORD got = size;
    rc = RegQueryValueExA(key.get(), name.c_str(), nullptr, &type,
                          reinterpret_cast<BYTE*>(data.data()), &got);
    if (rc == ERROR_MORE_DATA) continue;  // grew between the two calls
    if (rc != ERROR_SUCCESS) return {};
    if (type != REG_SZ && type != REG_EXPAND_SZ)
      throw Error(FormatMessageText("Invalid data type for '%s'", name));
    data.resize(got);
    break;
  }
  // The stored bytes may or may not carry the terminating zero.
  const auto zero = data.find('\0');
  if (zero != std::string::npos) data.resize(zero);
  return data;
}

void WriteRegString(const std::string& key_path, const std::string& name, const std::string& value,
                    bool create) {
  RegKey key;
  LONG rc = create
                ? RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, key.Out(), nullptr)
                : RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_ALL_ACCESS, key.Out());
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1));
  }
  if (rc != ERROR_SUCCESS) throw Error(FormatMessageText("Failed to set data for '%s'", name));
}

void ListRegSubKeys(const std::string& key, std::vector<std::string>& out) {
  ListNames(key, false, out);
}

void ListRegValueNames(const std::string& key, std::vector<std::string>& out) {
  ListNames(key, true, out);
}

void DeleteRegKeyTree(const std::string& parent, const std::string& subkey) {
  const std::string path = parent + "\\" + subkey;
  {
    RegKey key;
    if (!OpenKey(path, key)) return;
    std::vector<std::string> children;
    ListRegSubKeys(path, children);
    for (const auto& child : children) DeleteRegKeyTree(path, child);
  }
  RegKey parent_key;
  if (!OpenKey(parent, parent_key)) return;
  RegDeleteKeyA(parent_key.get(), subkey.c_str());
}

std::string WinRegistry::ReadRegString(const std::string& key, const std::string& name) {
  return halv::ReadRegString(key, name);
}

void WinRegistry::WriteRegString(const std::string& key, const std::string& name,
                                 const std::string& value) {
  halv::WriteRegString(key, name, value, /*create=*/true);
}

std::vector<std::string> WinRegistry::ListRegSubKeys(const std::string& key) {
  std::vector<std::string> out;
  halv::ListRegSubKeys(key, out);
  return out;
}

std::vector<std::string> WinRegistry::ListRegValueNames(const std::string& key) {
  std::vector<std::string> out;
  halv::ListRegValueNames(key, out);
  return out;
}

void WinRegistry::DeleteRegKeyTree(const std::string& parent, const std::string& subkey) {
  halv::DeleteRegKeyTree(parent, subkey);
}

}  // namespace halv
