// Owners for the two kinds of Win32 handle the programs open themselves:
// service-control handles (SC_HANDLE) and registry keys (HKEY).
//
// A UniqueHandle holds at most one handle and closes it (CloseServiceHandle
// or RegCloseKey) when it is destroyed, reset or assigned over; it can be
// moved, not copied. The predefined keys (HKEY_LOCAL_MACHINE, ...) are never
// put in one. Not thread-safe: one owner, one thread at a time; the handle
// itself may be used from any thread, as Win32 allows.
//
//   halv::win::RegKey key;
//   if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key.Out()) != ERROR_SUCCESS) ...
//   halv::win::ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
//   if (!manager) ...
#ifndef HALV_COMMON_WIN_HANDLES_H_
#define HALV_COMMON_WIN_HANDLES_H_

#include <windows.h>

#include <utility>

namespace halv::win {

template <typename Handle, auto Close>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  // Takes ownership of `handle` (null: holds nothing).
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

  // Gives the handle up without closing it; the caller owns it from now on.
  Handle release() { return std::exchange(handle_, nullptr); }

  // Closes the handle held, if any, and takes `handle` instead.
  void reset(Handle handle = nullptr) {
    if (handle_ != nullptr) Close(handle_);
    handle_ = handle;
  }

  // Closes the handle held and returns the empty slot, for the calls that
  // hand a new handle back through a pointer (RegOpenKeyExA, ...).
  Handle* Out() {
    reset();
    return &handle_;
  }

 private:
  Handle handle_ = nullptr;
};

// A handle of the Service Control Manager or of one service.
using ServiceHandle = UniqueHandle<SC_HANDLE, &CloseServiceHandle>;
// An open registry key.
using RegKey = UniqueHandle<HKEY, &RegCloseKey>;

}  // namespace halv::win

#endif  // HALV_COMMON_WIN_HANDLES_H_
