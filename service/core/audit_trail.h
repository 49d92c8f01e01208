// The audit trail's outputs: audit.log (one JSON object a line, rotated by
// size into numbered generations) and the Application event log (one entry
// a record, with the record's event identifier).
//
// Each record is appended and flushed as it is made: the file port writes
// the whole line in one write and releases the file, so a reader never sees
// part of a line and nothing waits in a buffer. A line that would take the
// file past the size limit first rotates: audit.<n-1>.log becomes
// audit.<n>.log down to audit.log becoming audit.1.log (the newest), the
// oldest beyond the number of generations replaced. Service thread.
#ifndef HALV_SERVICE_CORE_AUDIT_TRAIL_H_
#define HALV_SERVICE_CORE_AUDIT_TRAIL_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "audit_record.h"

namespace halv {

// The file operations of audit.log; each call opens and releases what it
// uses. Win32: service/win/audit_files.cpp; tests: a fake in memory.
class AuditFiles {
 public:
  virtual ~AuditFiles() = default;
  // The size of the file, 0 when it does not exist.
  virtual std::uint64_t Size(const std::string& path) = 0;
  // Appends `bytes` in one write at the end of the file, creating it when
  // missing. False when it cannot be written.
  virtual bool Append(const std::string& path, std::string_view bytes) = 0;
  // Renames `from` to `to`, replacing `to`. False when it fails (`from`
  // missing included).
  virtual bool Rename(const std::string& from, const std::string& to) = 0;
  // The whole file; "" when it does not exist.
  virtual std::string Read(const std::string& path) = 0;
};

// Where audit records go beyond the file: the event log (ServicePorts'
// EventLog implements it).
class AuditEventSink {
 public:
  virtual ~AuditEventSink() = default;
  // One entry with `id`, a warning or an information entry, and `inserts`.
  virtual void ReportAudit(std::uint32_t id, bool warning,
                           const std::vector<std::string>& inserts) = 0;
};

// What the trail does (the values' defaults are in log_options.h).
struct AuditSettings {
  bool on = false;           // AuditLog "1"
  std::string path;          // audit.log in the log folder; "" when none
  std::uint64_t max_bytes = 0;  // AuditMaxBytes; 0: no limit
  std::uint32_t max_files = 1;  // AuditMaxFiles: rotated generations kept
};

// The name of generation `n` of `path`: ".<n>" before the extension
// ("C:\logs\audit.log", 2 gives "C:\logs\audit.2.log"); `path` for 0.
std::string GenerationPath(const std::string& path, std::uint32_t n);

class AuditTrail {
 public:
  // Both may be null (no file, no event log); they must outlive the trail.
  AuditTrail(AuditEventSink* events, AuditFiles* files) : events_(events), files_(files) {}

  void Configure(const AuditSettings& settings) { settings_ = settings; }
  const AuditSettings& settings() const { return settings_; }
  bool On() const { return settings_.on; }

  // Writes `record` at `time` to both outputs while the trail is on.
  void Write(const AuditRecord& record, const UtcTime& time);

  // The last `n` lines of audit.log and, when it holds fewer, of the newer
  // generations before it, oldest first.
  std::vector<std::string> LastLines(std::size_t n);

 private:
  void Rotate();

  AuditEventSink* events_;
  AuditFiles* files_;
  AuditSettings settings_;
};

}  // namespace halv

#endif  // HALV_SERVICE_CORE_AUDIT_TRAIL_H_
