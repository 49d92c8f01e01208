// A file read through ReadFile, shared with its writers.
#include "shared_file.h"

#include <windows.h>

namespace halv {
namespace {

class SharedFile final : public ByteSource {
 public:
  explicit SharedFile(HANDLE file) : file_(file) {}
  ~SharedFile() override { CloseHandle(file_); }
  SharedFile(const SharedFile&) = delete;
  SharedFile& operator=(const SharedFile&) = delete;
  long Read(void* buffer, std::size_t size) override {
    DWORD got = 0;
    if (!ReadFile(file_, buffer, static_cast<DWORD>(size), &got, nullptr)) return -1;
    return static_cast<long>(got);
  }

 private:
  HANDLE file_;
};

}  // namespace

std::unique_ptr<ByteSource> OpenSharedFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<SharedFile>(file);
}

}  // namespace halv
