// The optional values of the audit trail and the server log's form:
// AuditLog, AuditMaxBytes, AuditMaxFiles, LogTimestamps and LogMaxFiles.
//
// Absent values keep today's behaviour: no audit trail, no timestamps, one
// older generation of serverlog.txt; audit.log, once on, is limited to
// 10 MB a file and 10 older generations. Portable; pure.
#ifndef HALV_SERVICE_CORE_LOG_OPTIONS_H_
#define HALV_SERVICE_CORE_LOG_OPTIONS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace halv {

struct LogOptions {
  static constexpr std::uint64_t kDefaultAuditMaxBytes = 10 * 1024 * 1024;
  static constexpr std::uint32_t kDefaultAuditMaxFiles = 10;
  static constexpr std::uint32_t kDefaultLogMaxFiles = 1;
  bool audit_log = false;
  std::uint64_t audit_max_bytes = kDefaultAuditMaxBytes;
  std::uint32_t audit_max_files = kDefaultAuditMaxFiles;
  bool log_timestamps = false;
  std::uint32_t log_max_files = kDefaultLogMaxFiles;
  bool operator==(const LogOptions&) const = default;
};

// Reads the five values through `text_of` (the value's text, "" when
// missing). A No/Yes value must be "", "0" or "1"; a number a whole number
// within the table's bounds. A wrong value appends its message to `errors`
// and keeps its default (an AuditLog that is neither "0" nor "1" turns the
// trail on: a wrong value never silently switches it off).
LogOptions ReadLogOptions(const std::function<std::string(const char*)>& text_of,
                          std::vector<std::string>& errors);

}  // namespace halv

#endif  // HALV_SERVICE_CORE_LOG_OPTIONS_H_
