// The service's server log, written through the halvsyslog library.
//
// A SystemLog loads the library by full path, opens one log file through its
// "_open" export and writes every line through "_write_normal", so each line
// lands in the file as "date Status: " + text + CR LF once the library's
// buffer is written out. A missing library, a missing export or a file that
// cannot be opened leaves the log closed, and writes to a closed log do
// nothing: logging never fails its caller. Exports (named, numbered and
// typed in syslog/halvsyslog.h) sit in the slots numbered by their ordinal
// minus one.
//
// Each line reaches the file as it is written (the library's line mode,
// where the library has it), so a reader never sees part of a line.
//
// With a size limit set, a line that would take the file past it first
// closes the log, moves the older generations up by one (serverlog.1.txt to
// serverlog.2.txt ..., the oldest kept one replaced), renames the file to
// the newest generation (serverlog.txt becomes serverlog.1.txt) and opens a
// new file; a
// rename that fails (the file held open elsewhere) leaves the file growing
// and is tried again at the next line. Not thread-safe: the service makes
// every call, and replaces the object, on one thread.
#ifndef HALV_SERVICE_LOG_SYSTEM_LOG_H_
#define HALV_SERVICE_LOG_SYSTEM_LOG_H_

#include <cstdint>
#include <string>

#include "dynamic_library.h"
#include "halvsyslog.h"

namespace halv {

class SystemLog : public DynamicLibrary {
 public:
  static constexpr std::size_t kOpenSlot = halvsyslog_open_ordinal - 1;
  static constexpr std::size_t kCloseSlot = halvsyslog_close_ordinal - 1;
  static constexpr std::size_t kWriteNormalSlot = halvsyslog_write_normal_ordinal - 1;
  static constexpr std::size_t kLineModeSlot = halvsyslog_line_mode_ordinal - 1;

  // Loads the library at `library_path`, then opens the log at `log_path`.
  SystemLog(const std::string& library_path, const std::string& log_path);
  // Closes the log, then unloads the library.
  ~SystemLog() override;

  // Opens the log at `log_path` through "_open" when the path is non-empty
  // and no log is open; keeps the handle and a copy of the path when the
  // library returns one. An empty path or an open log changes nothing.
  // Returns whether the log is open.
  bool Open(const std::string& log_path);

  // When open: hands the handle to "_close" (if found), which writes out the
  // buffered lines; then forgets the path and marks the log closed.
  void Close();

  // When open: writes `text` as one normal line through "_write_normal" (if
  // found). The library's result is ignored; a closed log does nothing.
  void Write(const std::string& text);

  // Limits the file to `max_bytes` (0: no limit). The count starts from the
  // file's size when the log was opened.
  void set_max_bytes(std::uint64_t max_bytes) { max_bytes_ = max_bytes; }
  std::uint64_t max_bytes() const { return max_bytes_; }
  // How many older generations a rotation keeps (at least 1): serverlog.1.txt
  // the newest, serverlog.<n>.txt the oldest.
  void set_max_files(std::uint32_t max_files) { max_files_ = max_files < 1 ? 1 : max_files; }

  // The bytes that the file holds once every written line is out.
  std::uint64_t written() const { return written_; }

  // The name of the one older generation: ".1" before the extension of the
  // file name ("C:\logs\serverlog.txt" gives "C:\logs\serverlog.1.txt").
  static std::string RotatedPath(const std::string& path);
  // Generation `n` (1 the newest): ".<n>" before the extension.
  static std::string GenerationPath(const std::string& path, std::uint32_t n);

  // The bytes that `text` takes in the file as one normal line: the level
  // prefix, the text up to a zero byte, CR LF for each of its line feeds
  // and for the end of the line.
  static std::uint64_t LineBytes(const std::string& text);

  bool IsOpen() const { return open_; }
  // The path of the open log; empty when closed.
  const std::string& path() const { return path_; }

 private:
  void Rotate();

  halvsyslog_handle handle_ = nullptr;
  bool open_ = false;
  std::uint64_t max_bytes_ = 0;
  std::uint32_t max_files_ = 1;
  std::uint64_t written_ = 0;
  std::string path_;
};

}  // namespace halv

#endif  // HALV_SERVICE_LOG_SYSTEM_LOG_H_
