// Win32 implementation of DynamicLibrary: LoadLibraryA, GetProcAddress and
// FreeLibrary.
#include <windows.h>

#include "dynamic_library.h"

namespace halv {

DynamicLibrary::DynamicLibrary(const std::string& path) {
  if (!path.empty()) module_ = LoadLibraryA(path.c_str());
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
