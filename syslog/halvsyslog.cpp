// The exports of halvsyslog.dll: identification texts, open, close and the
// three level-tagged line writers. C linkage, C calling convention; the
// module-definition file gives each its exported name and ordinal (the names
// "_open" and "_close" would collide with the C runtime's, so the functions
// here carry internal names). The library keeps no state beyond the streams
// it hands out; a log handle is a LogStream owned by the caller between
// _open and _close.
#include <windows.h>

#include <cstring>

#include "log_stream.h"

namespace {

using halv::syslog::LogStream;

constexpr char kClassName[] = "SystemLog";
constexpr char kVersion[] = "1.0.1.123";

// Copies as much of `text` as fits into `dest` of `size` bytes, always
// terminated. A null buffer or a size below 1 leaves the memory untouched.
char* CopyTruncated(const char* text, char* dest, int size) {
  if (dest == nullptr || size < 1) return dest;
  std::size_t n = std::strlen(text);
  if (n > static_cast<std::size_t>(size - 1)) n = static_cast<std::size_t>(size - 1);
  std::memcpy(dest, text, n);
  dest[n] = '\0';
  return dest;
}

int WriteLevel(void* handle, const char* prefix, const char* text) {
  if (handle == nullptr) return -1;
  return static_cast<LogStream*>(handle)->WriteLine(prefix, text);
}

}  // namespace

extern "C" {

// Writes "SystemLog", truncated to size - 1 characters, into `dest`.
// Returns `dest`.
char* __cdecl halvsyslog_class_name(char* dest, int size) {
  return CopyTruncated(kClassName, dest, size);
}

// Writes the interface version "1.0.1.123", truncated to size - 1
// characters, into `dest`. Returns `dest`.
char* __cdecl halvsyslog_version(char* dest, int size) {
  return CopyTruncated(kVersion, dest, size);
}

// Opens the log file at `path` for appending, creating it when missing.
// Returns the log handle, or null for a null or empty path or a failed open.
void* __cdecl halvsyslog_open(const char* path) { return LogStream::Open(path); }

// Writes out the handle's buffered lines, closes the file and frees the
// handle. Returns 0, or -1 for a null handle or a failed write-out/close.
int __cdecl halvsyslog_close(void* handle) {
  if (handle == nullptr) return -1;
  LogStream* stream = static_cast<LogStream*>(handle);
  const int result = stream->Close();
  delete stream;
  return result;
}

// Each writer appends "date <Level>: " + text + line feed to the stream and
// returns the number of characters formatted (the line feed counting one);
// -1 for a null handle, a null text or a failed write.
int __cdecl halvsyslog_write_error(void* handle, const char* text) {
  return WriteLevel(handle, "date Error: ", text);
}

int __cdecl halvsyslog_write_warning(void* handle, const char* text) {
  return WriteLevel(handle, "date Warning: ", text);
}

int __cdecl halvsyslog_write_normal(void* handle, const char* text) {
  return WriteLevel(handle, "date Status: ", text);
}

// Loading and unloading do no work of their own.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

}  // extern "C"
