// The exports of halvsyslog.dll: identification texts, open, close and the
// three level-tagged line writers, defined under the internal names and
// signatures that halvsyslog.h declares (the module-definition file made
// from that header gives each its exported name and ordinal). The library
// keeps no state beyond the streams it hands out; a log handle is a
// LogStream owned by the caller between _open and _close. Loading and
// unloading do no work of their own, so the runtime's default DllMain
// serves.
#include "halvsyslog.h"

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

LogStream* StreamOf(halvsyslog_handle log) { return reinterpret_cast<LogStream*>(log); }

int WriteLevel(halvsyslog_handle log, const char* prefix, const char* text) {
  if (log == nullptr) return -1;
  return StreamOf(log)->WriteLine(prefix, text);
}

}  // namespace

extern "C" {

// Writes "SystemLog", truncated to size - 1 characters, into `dest`.
// Returns `dest`.
char* HALVSYSLOG_CALL halvsyslog_class_name(char* dest, int size) {
  return CopyTruncated(kClassName, dest, size);
}

// Writes the interface version "1.0.1.123", truncated to size - 1
// characters, into `dest`. Returns `dest`.
char* HALVSYSLOG_CALL halvsyslog_version(char* dest, int size) {
  return CopyTruncated(kVersion, dest, size);
}

// Opens the log file at `path` for appending, creating it when missing.
// Returns the log handle, or null for a null or empty path or a failed open.
halvsyslog_handle HALVSYSLOG_CALL halvsyslog_open(const char* path) {
  return reinterpret_cast<halvsyslog_handle>(LogStream::Open(path));
}

// Writes out the handle's buffered lines, closes the file and frees the
// handle. Returns 0, or -1 for a null handle or a failed write-out/close.
int HALVSYSLOG_CALL halvsyslog_close(halvsyslog_handle log) {
  if (log == nullptr) return -1;
  LogStream* stream = StreamOf(log);
  const int result = stream->Close();
  delete stream;
  return result;
}

// Each writer appends "date <Level>: " + text + line feed to the stream and
// returns the number of characters formatted (the line feed counting one);
// -1 for a null handle, a null text or a failed write.
int HALVSYSLOG_CALL halvsyslog_write_error(halvsyslog_handle log, const char* text) {
  return WriteLevel(log, "date Error: ", text);
}

int HALVSYSLOG_CALL halvsyslog_write_warning(halvsyslog_handle log, const char* text) {
  return WriteLevel(log, "date Warning: ", text);
}

int HALVSYSLOG_CALL halvsyslog_write_normal(halvsyslog_handle log, const char* text) {
  return WriteLevel(log, "date Status: ", text);
}

// Switches the handle's line mode (see halvsyslog.h). Returns 0, or -1 for a
// null handle or a failed write-out.
int HALVSYSLOG_CALL halvsyslog_line_mode(halvsyslog_handle log, int on) {
  if (log == nullptr) return -1;
  return StreamOf(log)->SetLineMode(on != 0) ? 0 : -1;
}

}  // extern "C"
