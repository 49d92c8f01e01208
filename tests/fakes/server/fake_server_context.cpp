// The service object as tests present it to the interpreter.
#include "fake_server_context.h"

#include <algorithm>
#include <cstring>

#include "halv_error.h"

namespace halv::testing {

namespace {

// Reads a copy of the file's content; after `error_after` bytes (if set)
// every read fails.
class MemorySource : public ByteSource {
 public:
  MemorySource(std::string content, std::size_t error_after, std::shared_ptr<int> open_count)
      : content_(std::move(content)),
        error_after_(error_after),
        open_count_(std::move(open_count)) {
    ++*open_count_;
  }
  ~MemorySource() override { --*open_count_; }

  long Read(void* buffer, std::size_t size) override {
    if (position_ >= error_after_) return -1;
    const std::size_t limit = std::min(content_.size(), error_after_);
    const std::size_t count = std::min(size, limit - std::min(limit, position_));
    if (count == 0) return 0;
    std::memcpy(buffer, content_.data() + position_, count);
    position_ += count;
    return static_cast<long>(count);
  }

 private:
  std::string content_;
  std::size_t error_after_;
  std::size_t position_ = 0;
  std::shared_ptr<int> open_count_;
};

}  // namespace

FakeServerContext::FakeServerContext(ServiceManager& manager) : manager_(manager) {
  fields_.version = "3.5.1.0";
  fields_.server_name = "TESTHOST";
  fields_.app_path = "C:\\Halvexa";
  fields_.log_pathfile = "C:\\Halvexa\\log\\serverlog.txt";
  fields_.exec_name = "halvexa351.exe";
  fields_.log_on_as = "SYSTEM";
  fields_.bin_pathname = "C:\\Halvexa\\halvexa351.exe";
}

bool FakeServerContext::Reinitialize() {
  ++reinitialize_calls_;
  if (reinitialize_raises_) throw Error("Configuration could not be read");
  return reinitialize_succeeds_;
}

std::unique_ptr<ByteSource> FakeServerContext::OpenShared(const std::string& path) {
  if (unopenable_.count(path) != 0) return nullptr;
  const std::string& content = files_[path];  // created empty when missing
  const auto error = read_error_after_.find(path);
  const std::size_t error_after =
      error == read_error_after_.end() ? static_cast<std::size_t>(-1) : error->second;
  return std::make_unique<MemorySource>(content, error_after, open_sources_);
}

}  // namespace halv::testing
