// The buffered append stream behind one log handle of halvsyslog.dll.
//
// A stream owns one file opened for appending and shared with every other
// opener, and a 512-byte buffer of file bytes. Text is written in text mode:
// each line feed becomes CR LF, nothing else is translated. Buffered bytes
// reach the file only when the buffer is full or the stream is closed, and
// each physical write lands at the end of the file as it is at that moment,
// so several streams (or processes) on one file all append. After a failed
// physical write the stream stays failed: every later write fails too.
// One stream is used by one thread at a time; it takes no lock. The file
// operations are Win32's (win/log_stream.cpp).
#ifndef HALV_SYSLOG_LOG_STREAM_H_
#define HALV_SYSLOG_LOG_STREAM_H_

#include <cstddef>

namespace halv::syslog {

class LogStream {
 public:
  static constexpr std::size_t kBufferSize = 512;

  // Opens (creating when missing) the file at `path` for appending. Returns
  // the new stream, owned by the caller, or nullptr when `path` is null or
  // empty, the file cannot be opened or no memory is left.
  static LogStream* Open(const char* path);

  LogStream(const LogStream&) = delete;
  LogStream& operator=(const LogStream&) = delete;
  // Closes the file without writing out the buffer; Close() writes it out.
  ~LogStream();

  // Formats `prefix`, `text` and a line feed into the stream. Returns the
  // number of characters formatted (each line feed counting one), or -1 when
  // `text` is null, the line is too long to count in an int, or a physical
  // write failed now or earlier.
  int WriteLine(const char* prefix, const char* text);

  // Writes out the buffer and closes the file. Returns 0, or -1 when the
  // stream had failed, the write-out failed or the close failed. The stream
  // holds no file afterwards; the caller still deletes it.
  int Close();

  // Line mode: writes out the buffer; then each line goes to the file whole,
  // in one physical write, as WriteLine formats it. Off again: buffered.
  // False when the write-out failed.
  bool SetLineMode(bool on);

 private:
  explicit LogStream(void* file) : file_(file) {}

  // Appends one file byte; a full buffer is written out at once. False when
  // that write failed.
  bool Put(char byte);
  // Appends the buffered bytes at the end of the file and empties the
  // buffer. False (and the stream failed) when a physical write failed.
  bool Flush();
  // Appends `size` bytes at the end of the file in one write (the system may
  // take them in parts only when a write is cut short). False (and the
  // stream failed) when a physical write failed.
  bool WriteOut(const char* data, std::size_t size);

  void* file_;  // the Win32 file HANDLE
  char buffer_[kBufferSize];
  std::size_t used_ = 0;
  bool failed_ = false;
  bool line_mode_ = false;
};

}  // namespace halv::syslog

#endif  // HALV_SYSLOG_LOG_STREAM_H_
