/* The flat C interface of halvsyslog.dll, the one description of its
 * exports: the handle type and, for each export, its exported name, ordinal
 * and signature.
 *
 * HALVSYSLOG_EXPORTS lists the exports as X(ordinal, exported name,
 * function, result type, parameters). The DLL defines each function under
 * its internal name; the module-definition file that maps the exported names
 * and ordinals onto them is generated from this list at configure time, and
 * the service's binding and the tests take their function types, names and
 * ordinals from it. "_open" and "_close" would collide with the C runtime's
 * names, which is why the functions carry internal ones.
 *
 * A log handle is owned by the caller from "_open" until it is handed to
 * "_close"; one handle is used by one thread at a time. C linkage, C calling
 * convention. */
#ifndef HALV_SYSLOG_HALVSYSLOG_H_
#define HALV_SYSLOG_HALVSYSLOG_H_

#if defined(_WIN32)
#define HALVSYSLOG_CALL __cdecl
#else
#define HALVSYSLOG_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One open log file: a buffered append stream owned by the DLL. */
typedef struct halvsyslog_log* halvsyslog_handle;

/* _class_name, _version: write "SystemLog" or the interface version
 *   "1.0.1.123", truncated to size - 1 characters and terminated, into
 *   `dest` (a null `dest` or a size below 1 leaves memory untouched);
 *   return `dest`.
 * _open: opens the file at `path` for appending, creating it when missing;
 *   returns the handle, or null for a null or empty path or a failed open.
 * _close: writes out the buffered lines, closes the file and frees the
 *   handle; returns 0, or -1 for a null handle or a failed write-out/close.
 * _write_error, _write_warning, _write_normal: append "date Error: ",
 *   "date Warning: " or "date Status: " + text + line feed (CR LF in the
 *   file); return the characters formatted (the line feed counting one), or
 *   -1 for a null handle, a null text or a failed write.
 * _line_mode: with `on` non-zero, writes out the buffer and from then on
 *   writes each line, whole, in one write to the file as it is formatted
 *   (a reader never sees part of a line, nothing waits in the buffer); with
 *   0, buffers again. The bytes are the same either way. Returns 0, or -1
 *   for a null handle or a failed write-out. */
#define HALVSYSLOG_EXPORTS(X)                                                                    \
  X(1, _class_name, halvsyslog_class_name, char*, (char* dest, int size))                        \
  X(2, _version, halvsyslog_version, char*, (char* dest, int size))                              \
  X(3, _open, halvsyslog_open, halvsyslog_handle, (const char* path))                            \
  X(4, _close, halvsyslog_close, int, (halvsyslog_handle log))                                   \
  X(5, _write_error, halvsyslog_write_error, int, (halvsyslog_handle log, const char* text))     \
  X(6, _write_warning, halvsyslog_write_warning, int, (halvsyslog_handle log, const char* text)) \
  X(7, _write_normal, halvsyslog_write_normal, int, (halvsyslog_handle log, const char* text)) \
  X(8, _line_mode, halvsyslog_line_mode, int, (halvsyslog_handle log, int on))

/* For each export: the internal function, its pointer type <function>_fn,
 * its ordinal <function>_ordinal and its exported name <function>_export. */
#define HALVSYSLOG_DECLARE(ordinal, name, function, result, params) \
  result HALVSYSLOG_CALL function params;                           \
  typedef result(HALVSYSLOG_CALL* function##_fn) params;            \
  enum { function##_ordinal = ordinal };                            \
  static const char function##_export[] = #name;
HALVSYSLOG_EXPORTS(HALVSYSLOG_DECLARE)
#undef HALVSYSLOG_DECLARE

#ifdef __cplusplus
}
#endif

#endif /* HALV_SYSLOG_HALVSYSLOG_H_ */
