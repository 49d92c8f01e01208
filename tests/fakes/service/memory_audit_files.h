// audit.log's file operations in memory: files by path, every append and
// rename recorded, appends that can be made to fail.
#ifndef HALV_TESTS_FAKES_SERVICE_MEMORY_AUDIT_FILES_H_
#define HALV_TESTS_FAKES_SERVICE_MEMORY_AUDIT_FILES_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audit_trail.h"

namespace halv::testing {

class MemoryAuditFiles final : public AuditFiles {
 public:
  std::uint64_t Size(const std::string& path) override {
    const auto it = files.find(path);
    return it == files.end() ? 0 : it->second.size();
  }
  bool Append(const std::string& path, std::string_view bytes) override {
    appends.emplace_back(path, std::string(bytes));
    if (fail_appends) return false;
    files[path] += bytes;
    return true;
  }
  bool Rename(const std::string& from, const std::string& to) override {
    const auto it = files.find(from);
    if (it == files.end()) return false;
    files[to] = std::move(it->second);
    files.erase(from);
    renames.emplace_back(from, to);
    return true;
  }
  std::string Read(const std::string& path) override {
    const auto it = files.find(path);
    return it == files.end() ? std::string() : it->second;
  }

  std::map<std::string, std::string> files;
  std::vector<std::pair<std::string, std::string>> appends;  // path, bytes
  std::vector<std::pair<std::string, std::string>> renames;  // done ones
  bool fail_appends = false;
};

}  // namespace halv::testing

#endif  // HALV_TESTS_FAKES_SERVICE_MEMORY_AUDIT_FILES_H_
