// audit.log's lines and generations, and the event-log entries.
#include "audit_trail.h"

#include <algorithm>

namespace halv {

std::string GenerationPath(const std::string& path, std::uint32_t n) {
  if (n == 0) return path;
  const std::size_t name = path.find_last_of("\\/") + 1;  // 0 without a folder
  const std::size_t dot = path.rfind('.');
  const std::string tag = "." + std::to_string(n);
  if (dot == std::string::npos || dot < name || dot == name) return path + tag;
  return path.substr(0, dot) + tag + path.substr(dot);
}

void AuditTrail::Rotate() {
  const std::uint32_t keep = std::max<std::uint32_t>(1, settings_.max_files);
  for (std::uint32_t n = keep; n > 0; --n)
    files_->Rename(GenerationPath(settings_.path, n - 1), GenerationPath(settings_.path, n));
}

void AuditTrail::Write(const AuditRecord& record, const UtcTime& time) {
  if (!settings_.on) return;
  if (events_ != nullptr)
    events_->ReportAudit(static_cast<std::uint32_t>(record.event), IsWarning(record.event),
                         AuditInserts(record));
  if (files_ == nullptr || settings_.path.empty()) return;
  const std::string line = AuditJsonLine(record, time) + "\r\n";
  if (settings_.max_bytes != 0) {
    const std::uint64_t size = files_->Size(settings_.path);
    if (size > 0 && size + line.size() > settings_.max_bytes) Rotate();
  }
  files_->Append(settings_.path, line);
}

std::vector<std::string> AuditTrail::LastLines(std::size_t n) {
  std::vector<std::string> lines;  // newest first
  if (files_ == nullptr || settings_.path.empty()) return lines;
  const std::uint32_t keep = std::max<std::uint32_t>(1, settings_.max_files);
  for (std::uint32_t g = 0; g <= keep && lines.size() < n; ++g) {
    const std::string text = files_->Read(GenerationPath(settings_.path, g));
    std::size_t end = text.size();
    while (end > 0 && lines.size() < n) {
      // Skip the line end, then take the line before it.
      while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
      if (end == 0) break;
      const std::size_t start = text.find_last_of("\r\n", end - 1);
      const std::size_t from = start == std::string::npos ? 0 : start + 1;
      lines.push_back(text.substr(from, end - from));
      end = from;
    }
  }
  std::reverse(lines.begin(), lines.end());
  return lines;
}

}  // namespace halv
