// Win32 implementation of the log stream: CreateFileA with append-only write
// access, so the system places every WriteFile at the current end of file.
#include "log_stream.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <new>
#include <string>

namespace halv::syslog {

LogStream* LogStream::Open(const char* path) {
  if (path == nullptr || path[0] == '\0') return nullptr;
  // FILE_APPEND_DATA without FILE_WRITE_DATA: writes always go to the end.
  HANDLE file =
      CreateFileA(path, FILE_GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  LogStream* stream = new (std::nothrow) LogStream(file);
  if (stream == nullptr) CloseHandle(file);
  return stream;
}

LogStream::~LogStream() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

int LogStream::WriteLine(const char* prefix, const char* text) {
  if (text == nullptr || failed_) return -1;
  const std::size_t prefix_len = std::strlen(prefix);
  const std::size_t text_len = std::strlen(text);
  if (text_len > static_cast<std::size_t>(INT_MAX) - prefix_len - 1) return -1;
  if (line_mode_) {
    // The whole line in one write, at once.
    std::string line(prefix, prefix_len);
    line.reserve(prefix_len + text_len + 2);
    for (std::size_t i = 0; i < text_len; ++i) {
      if (text[i] == '\n') line.push_back('\r');
      line.push_back(text[i]);
    }
    line += "\r\n";
    if (!WriteOut(line.data(), line.size())) return -1;
    return static_cast<int>(prefix_len + text_len + 1);
  }
  for (std::size_t i = 0; i < prefix_len; ++i) {
    if (!Put(prefix[i])) return -1;
  }
  for (std::size_t i = 0; i < text_len; ++i) {
    if (text[i] == '\n' && !Put('\r')) return -1;
    if (!Put(text[i])) return -1;
  }
  if (!Put('\r') || !Put('\n')) return -1;
  return static_cast<int>(prefix_len + text_len + 1);
}

int LogStream::Close() {
  if (file_ == INVALID_HANDLE_VALUE) return -1;
  const bool flushed = !failed_ && Flush();
  const bool closed = CloseHandle(file_) != 0;
  file_ = INVALID_HANDLE_VALUE;
  return flushed && closed ? 0 : -1;
}

bool LogStream::Put(char byte) {
  buffer_[used_++] = byte;
  return used_ < kBufferSize || Flush();
}

bool LogStream::Flush() {
  const bool ok = WriteOut(buffer_, used_);
  used_ = 0;
  return ok;
}

bool LogStream::WriteOut(const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    DWORD written = 0;
    if (!WriteFile(file_, data + done, static_cast<DWORD>(size - done), &written, nullptr) ||
        written == 0) {
      failed_ = true;
      return false;
    }
    done += written;
  }
  return true;
}

bool LogStream::SetLineMode(bool on) {
  if (failed_) return false;
  const bool flushed = Flush();
  line_mode_ = on;
  return flushed;
}

}  // namespace halv::syslog
