// Registry, log library, clock, machine facts, commands and timers for the
// service core.
#include "host_ports.h"

#include <windows.h>

#include <winver.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "config_schema.h"
#include "halv_error.h"
#include "win/system_service_manager.h"
#include "shared_file.h"
#include "system_error_text.h"
#include "system_log.h"

namespace halv {
namespace {

// The server log over a loaded halvsyslog.
class LibraryLog final : public ServerLog {
 public:
  LibraryLog(const std::string& library_path, const std::string& log_path)
      : log_(library_path, log_path) {}
  bool IsOpen() const override { return log_.IsOpen(); }
  void Write(const std::string& text) override { log_.Write(text); }
  void SetMaxBytes(std::uint64_t max_bytes) override { log_.set_max_bytes(max_bytes); }
  void SetMaxFiles(std::uint32_t max_files) override { log_.set_max_files(max_files); }

 private:
  SystemLog log_;
};

}  // namespace

std::unique_ptr<ServerLog> SystemLogLibrary::Open(const std::string& library_path,
                                                  const std::string& log_path) {
  return std::make_unique<LibraryLog>(library_path, log_path);
}

std::uint64_t WindowsMachine::TickMs() const { return GetTickCount64(); }

LocalTime WindowsMachine::Now() const {
  SYSTEMTIME st;
  GetLocalTime(&st);
  LocalTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  return t;
}

UtcTime WindowsMachine::UtcNow() const {
  SYSTEMTIME st;
  GetSystemTime(&st);
  return UtcTime{st.wYear, st.wMonth,  st.wDay,         st.wHour,
                 st.wMinute, st.wSecond, st.wMilliseconds};
}

namespace {

// The three calls of version.dll, taken from System32 only. The program does
// not import the library: an import is looked up in the program's folder
// first, where a planted copy would run as LocalSystem.
struct VersionApi {
  using SizeFn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
  using InfoFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
  using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);
  SizeFn size = nullptr;
  InfoFn info = nullptr;
  QueryFn query = nullptr;
};

template <typename Fn>
Fn Export(HMODULE module, const char* name) {
  FARPROC proc = GetProcAddress(module, name);
  Fn fn = nullptr;
  static_assert(sizeof fn == sizeof proc);
  std::memcpy(&fn, &proc, sizeof fn);
  return fn;
}

// Loaded once and kept for the life of the process; null members when the
// library or one of its exports is missing.
const VersionApi& Version() {
  static const VersionApi api = [] {
    VersionApi loaded;
    HMODULE module = LoadLibraryExW(L"version.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) return loaded;
    loaded.size = Export<VersionApi::SizeFn>(module, "GetFileVersionInfoSizeA");
    loaded.info = Export<VersionApi::InfoFn>(module, "GetFileVersionInfoA");
    loaded.query = Export<VersionApi::QueryFn>(module, "VerQueryValueA");
    return loaded;
  }();
  return api;
}

}  // namespace

std::string WindowsMachine::FileVersion(const std::string& path) {
  const VersionApi& api = Version();
  if (api.size == nullptr || api.info == nullptr || api.query == nullptr)
    throw Error("Unable to read the version resource of '" + path +
                "': version.dll cannot be loaded from the system folder");
  DWORD ignored = 0;
  const DWORD size = api.size(path.c_str(), &ignored);
  if (size == 0) return config::kVersion;
  std::vector<char> data(size);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!api.info(path.c_str(), 0, size, data.data()) ||
      !api.query(data.data(), "\\", reinterpret_cast<void**>(&info), &length) || info == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    throw Error("Unable to read the version resource of '" + path + "'");
  }
  char text[64];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(HIWORD(info->dwFileVersionMS)),
                static_cast<int>(LOWORD(info->dwFileVersionMS)),
                static_cast<int>(HIWORD(info->dwFileVersionLS)),
                static_cast<int>(LOWORD(info->dwFileVersionLS)));
  return text;
}

std::string WindowsMachine::ComputerName() {
  char computer[16] = {};
  DWORD computer_size = sizeof computer;
  if (!GetComputerNameA(computer, &computer_size)) computer[0] = '\0';
  return computer;
}

std::string WindowsMachine::UserName() {
  DWORD user_size = 0;
  GetUserNameA(nullptr, &user_size);
  std::string user(user_size + 1, '\0');
  DWORD user_length = static_cast<DWORD>(user.size());
  if (user_size == 0 || !GetUserNameA(user.data(), &user_length)) user_length = 0;
  user.resize(user_length > 0 ? user_length - 1 : 0);  // the count includes the zero
  return user.c_str();
}

std::unique_ptr<ByteSource> SystemCommands::OpenShared(const std::string& path) {
  return OpenSharedFile(path);
}

ServiceManager& SystemCommands::Manager() { return SystemServiceManager(); }

std::string LoopTimer::Start(std::int32_t interval_ms) {
  const DWORD error = loop_.StartTimer(id_, static_cast<std::uint32_t>(interval_ms), on_tick_);
  return error == 0 ? std::string() : SystemErrorText(error);
}

MonthNames LocaleMonthNames() {
  MonthNames names = EnglishMonthNames();
  for (int i = 0; i < 12; ++i) {
    char buffer[80];
    if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SMONTHNAME1 + i, buffer, sizeof buffer) > 1)
      names.full[i] = buffer;
    if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SABBREVMONTHNAME1 + i, buffer, sizeof buffer) >
        1)
      names.abbreviated[i] = buffer;
  }
  return names;
}

}  // namespace halv
