// audit.log's file operations over Win32: each append opens the file for
// appending only, writes the line in one WriteFile and closes it, so every
// record is in the file when the call returns and a reader never sees part
// of one. Any thread.
#ifndef HALV_SERVICE_WIN_AUDIT_FILES_H_
#define HALV_SERVICE_WIN_AUDIT_FILES_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "audit_trail.h"

namespace halv {

class WindowsAuditFiles final : public AuditFiles {
 public:
  std::uint64_t Size(const std::string& path) override;
  bool Append(const std::string& path, std::string_view bytes) override;
  bool Rename(const std::string& from, const std::string& to) override;
  std::string Read(const std::string& path) override;
};

}  // namespace halv

#endif  // HALV_SERVICE_WIN_AUDIT_FILES_H_
