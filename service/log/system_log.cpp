// SystemLog: the log file handle of the halvsyslog library, bound through
// lazily resolved exports.
#include "system_log.h"

namespace halv {
namespace {

// The library's exports, C calling convention.
using OpenFn = void* (*)(const char*);
using CloseFn = int (*)(void*);
using WriteFn = int (*)(void*, const char*);

}  // namespace

SystemLog::SystemLog(const std::string& library_path, const std::string& log_path)
    : DynamicLibrary(library_path) {
  Open(log_path);
}

SystemLog::~SystemLog() { Close(); }

bool SystemLog::Open(const std::string& log_path) {
  if (log_path.empty() || open_) return open_;
  auto open = reinterpret_cast<OpenFn>(Resolve("_open", kOpenSlot));
  if (open == nullptr) return false;
  void* handle = open(log_path.c_str());
  if (handle == nullptr) return false;
  handle_ = handle;
  path_ = log_path;
  open_ = true;
  return true;
}

void SystemLog::Close() {
  if (!open_) return;
  auto close = reinterpret_cast<CloseFn>(Resolve("_close", kCloseSlot));
  if (close != nullptr) close(handle_);
  handle_ = nullptr;
  path_.clear();
  path_.shrink_to_fit();
  open_ = false;
}

void SystemLog::Write(const std::string& text) {
  if (!open_) return;
  auto write = reinterpret_cast<WriteFn>(Resolve("_write_normal", kWriteNormalSlot));
  if (write != nullptr) write(handle_, text.c_str());
}

}  // namespace halv
