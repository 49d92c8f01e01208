// Test helpers for the log tests: a scratch directory of their own, reads that
// share the file the way any other opener of a log would, and the path of the
// library next to the test program.
#ifndef HALV_TESTS_WIN_SYSLOG_SCRATCH_FILES_H_
#define HALV_TESTS_WIN_SYSLOG_SCRATCH_FILES_H_

#include <windows.h>

#include <string>
#include <vector>

namespace halv::test {

// The full path of halvsyslog.dll in the test program's own directory.
inline std::string LibraryPath() {
  char buffer[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  std::string path(buffer, n);
  return path.substr(0, path.find_last_of('\\') + 1) + "halvsyslog.dll";
}

// The whole file, read through a handle that shares read, write and delete
// access with the log's own handles. "" when the file does not exist.
inline std::string ReadShared(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "";
  std::string data;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got > 0) data.append(chunk, got);
  CloseHandle(h);
  return data;
}

inline bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Writes `bytes` as the whole content of a new file.
inline void WriteWhole(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD put = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
  CloseHandle(h);
}

// A fresh, empty directory under the temporary directory, removed with its
// files when the object goes.
class ScratchDir {
 public:
  ScratchDir() {
    static int counter = 0;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + "halv_syslog_" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(++counter);
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir() {
    for (const std::string& name : Entries()) DeleteFileA(File(name).c_str());
    RemoveDirectoryA(path_.c_str());
  }

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

  // Names of everything in the directory (files and subdirectories).
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path_ + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      std::string name = data.cFileName;
      if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
  }

 private:
  std::string path_;
};

}  // namespace halv::test

#endif  // HALV_TESTS_WIN_SYSLOG_SCRATCH_FILES_H_
