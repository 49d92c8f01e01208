// Win32 file operations of audit.log.
#include "audit_files.h"

#include <windows.h>

#include "log_files.h"

namespace halv {

std::uint64_t WindowsAuditFiles::Size(const std::string& path) { return FileSizeOf(path); }

bool WindowsAuditFiles::Append(const std::string& path, std::string_view bytes) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA: the write goes to the end.
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < bytes.size()) {
    DWORD written = 0;
    ok = WriteFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written,
                   nullptr) != 0 &&
         written > 0;
    done += written;
  }
  CloseHandle(file);
  return ok;
}

bool WindowsAuditFiles::Rename(const std::string& from, const std::string& to) {
  return RenameReplacing(from, to);
}

std::string WindowsAuditFiles::Read(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string text;
  char block[8192];
  DWORD got = 0;
  while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0) text.append(block, got);
  CloseHandle(file);
  return text;
}

}  // namespace halv
