// Win32 implementation of DynamicLibrary: LoadLibraryExA with a safe search
// path, GetProcAddress and FreeLibrary.
#include <windows.h>

#include "dynamic_library.h"

namespace halv {

namespace {

// "X:\..." or "\\server\share...": the search flag for the library's own
// folder takes only such paths.
bool IsFullPath(const std::string& path) {
  const auto separator = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() >= 3 && path[1] == ':' && separator(path[2])) return true;
  return path.size() >= 3 && separator(path[0]) && separator(path[1]);
}

}  // namespace

DynamicLibrary::DynamicLibrary(const std::string& path) {
  if (path.empty()) return;
  const DWORD search = IsFullPath(path)
                           ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32
                           : LOAD_LIBRARY_SEARCH_SYSTEM32;
  module_ = LoadLibraryExA(path.c_str(), nullptr, search);
}

DynamicLibrary::~DynamicLibrary() { Unload(); }

DynamicLibrary::Address DynamicLibrary::Resolve(const char* name, std::size_t slot) {
  if (module_ == nullptr) return nullptr;
  if (slot >= slots_.size()) slots_.resize(slot + 1);
  cache_info& entry = slots_[slot];
  if (entry.address == nullptr && !entry.looked_up) {
    entry.looked_up = true;
    entry.address = reinterpret_cast<Address>(GetProcAddress(static_cast<HMODULE>(module_), name));
  }
  return entry.address;
}

void DynamicLibrary::Unload() {
  if (module_ != nullptr) FreeLibrary(static_cast<HMODULE>(module_));
  module_ = nullptr;
  slots_.clear();
}

}  // namespace halv
