// SystemLog: the log file handle of the halvsyslog library, bound through
// lazily resolved exports.
#include "system_log.h"

#include <algorithm>

#include "log_files.h"

namespace halv {

SystemLog::SystemLog(const std::string& library_path, const std::string& log_path)
    : DynamicLibrary(library_path) {
  Open(log_path);
}

SystemLog::~SystemLog() { Close(); }

bool SystemLog::Open(const std::string& log_path) {
  if (log_path.empty() || open_) return open_;
  auto open = reinterpret_cast<halvsyslog_open_fn>(Resolve(halvsyslog_open_export, kOpenSlot));
  if (open == nullptr) return false;
  halvsyslog_handle handle = open(log_path.c_str());
  if (handle == nullptr) return false;
  handle_ = handle;
  path_ = log_path;
  open_ = true;
  written_ = FileSizeOf(log_path);
  // Line mode: each line in one write, at once. A library without the
  // export keeps buffering.
  auto line_mode = reinterpret_cast<halvsyslog_line_mode_fn>(
      Resolve(halvsyslog_line_mode_export, kLineModeSlot));
  if (line_mode != nullptr) line_mode(handle_, 1);
  return true;
}

void SystemLog::Close() {
  if (!open_) return;
  auto close = reinterpret_cast<halvsyslog_close_fn>(Resolve(halvsyslog_close_export, kCloseSlot));
  if (close != nullptr) close(handle_);
  handle_ = nullptr;
  path_.clear();
  path_.shrink_to_fit();
  open_ = false;
}

std::string SystemLog::RotatedPath(const std::string& path) { return GenerationPath(path, 1); }

std::string SystemLog::GenerationPath(const std::string& path, std::uint32_t n) {
  const std::string tag = "." + std::to_string(n);
  const std::size_t name = path.find_last_of("\\/") + 1;  // 0 without a folder
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < name || dot == name) return path + tag;
  return path.substr(0, dot) + tag + path.substr(dot);
}

std::uint64_t SystemLog::LineBytes(const std::string& text) {
  constexpr std::uint64_t kPrefix = 13;  // "date Status: "
  const std::size_t length = std::min(text.size(), text.find('\0'));
  const auto feeds = std::count(text.begin(), text.begin() + static_cast<long>(length), '\n');
  return kPrefix + length + static_cast<std::uint64_t>(feeds) + 2;
}

void SystemLog::Rotate() {
  const std::string path = path_;
  Close();  // writes out the buffered lines and releases the file
  for (std::uint32_t n = max_files_; n > 1; --n)
    RenameReplacing(GenerationPath(path, n - 1), GenerationPath(path, n));
  RenameReplacing(path, RotatedPath(path));
  Open(path);  // a new file, or the old one again when the rename failed
}

void SystemLog::Write(const std::string& text) {
  if (!open_) return;
  const std::uint64_t bytes = LineBytes(text);
  if (max_bytes_ != 0 && written_ > 0 && written_ + bytes > max_bytes_) {
    Rotate();
    if (!open_) return;
  }
  auto write = reinterpret_cast<halvsyslog_write_normal_fn>(
      Resolve(halvsyslog_write_normal_export, kWriteNormalSlot));
  if (write == nullptr) return;
  write(handle_, text.c_str());
  written_ += bytes;
}

}  // namespace halv
