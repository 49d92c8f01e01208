// The service core's fake ports.
#include "fake_service_ports.h"

#include "halv_error.h"

namespace halv::testing {
namespace {

// A server log that appends its lines to the fake's record.
class RecordingLog final : public ServerLog {
 public:
  RecordingLog(bool open, std::vector<std::string>& lines, std::uint64_t& max_bytes,
               std::uint32_t& max_files, std::shared_ptr<int> live)
      : open_(open),
        lines_(lines),
        max_bytes_(max_bytes),
        max_files_(max_files),
        live_(std::move(live)) {
    ++*live_;
  }
  ~RecordingLog() override { --*live_; }
  RecordingLog(const RecordingLog&) = delete;
  RecordingLog& operator=(const RecordingLog&) = delete;
  bool IsOpen() const override { return open_; }
  void Write(const std::string& text) override {
    if (open_) lines_.push_back(text);
  }
  void SetMaxBytes(std::uint64_t max_bytes) override { max_bytes_ = max_bytes; }
  void SetMaxFiles(std::uint32_t max_files) override { max_files_ = max_files; }

 private:
  bool open_;
  std::vector<std::string>& lines_;
  std::uint64_t& max_bytes_;
  std::uint32_t& max_files_;
  std::shared_ptr<int> live_;
};

}  // namespace

std::unique_ptr<ServerLog> FakeServicePorts::Open(const std::string& library_path,
                                                  const std::string& log_path) {
  opened_logs.emplace_back(library_path, log_path);
  log_max_bytes = 0;
  log_max_files = 1;
  return std::make_unique<RecordingLog>(log_opens, log_lines, log_max_bytes, log_max_files,
                                        live_logs_);
}

void FakeServicePorts::Open() {
  ++open_calls;
  if (!open_failure.empty()) throw Error(open_failure);
  active = true;
}

std::string FakeServicePorts::Start(std::int32_t interval_ms) {
  timer_starts.push_back(interval_ms);
  return timer_failure;
}

std::string FakeServicePorts::FileVersion(const std::string& path) {
  version_paths.push_back(path);
  if (!version_failure.empty()) throw Error(version_failure);
  return file_version;
}

}  // namespace halv::testing
