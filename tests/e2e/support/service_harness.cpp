// End-to-end harness for the real service under Wine: files, free ports, the
// configuration, the service in the manager, the Wine log and the TCP client.
#include "service_harness.h"

#include <ws2tcpip.h>
// aclapi.h and sddl.h need the types of windows.h.
#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <type_traits>

#include "halv_error.h"
#include "win/registry.h"

namespace halv::e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct ScCloser {
  void operator()(SC_HANDLE h) const {
    if (h != nullptr) CloseServiceHandle(h);
  }
};
using ScPtr = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ScCloser>;

struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h != INVALID_HANDLE_VALUE && h != nullptr) CloseHandle(h);
  }
};
using FilePtr = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// How many ports HALV_E2E_PORT_BASE opens to the search.
constexpr int kPortRange = 200;
// How often StartRunning tries again on another port.
constexpr int kStartAttempts = 5;

ScPtr OpenNamed(const char* name, DWORD access) {
  ScPtr manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return nullptr;
  return ScPtr(OpenServiceA(manager.get(), name, access));
}

struct WinsockInit {
  WinsockInit() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
  }
};

void EnsureWinsock() { static WinsockInit init; }

std::string ErrorText(const char* what, int code) {
  return std::string(what) + " failed with error " + std::to_string(code);
}

// Parses an IPv4 or IPv6 address text into `out` with `port`; false when it
// is neither.
bool ParseAddress(const char* text, int port, sockaddr_storage& out, int& length) {
  out = {};
  auto* in4 = reinterpret_cast<sockaddr_in*>(&out);
  if (inet_pton(AF_INET, text, &in4->sin_addr) == 1) {
    in4->sin_family = AF_INET;
    in4->sin_port = htons(static_cast<u_short>(port));
    length = sizeof(sockaddr_in);
    return true;
  }
  auto* in6 = reinterpret_cast<sockaddr_in6*>(&out);
  if (inet_pton(AF_INET6, text, &in6->sin6_addr) == 1) {
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(static_cast<u_short>(port));
    length = sizeof(sockaddr_in6);
    return true;
  }
  return false;
}

// Whether a listener could bind `port` on every IPv4 address now.
bool Bindable(int port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  const bool ok = bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  closesocket(s);
  return ok;
}

// The port the system gives a socket bound to port 0 on every address.
int SystemChosenPort() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return 0;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  int port = 0;
  int length = sizeof address;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  closesocket(s);
  return port;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The lines of `log` that are event-log reports, for failure messages.
std::string EventReports(const std::string& log) {
  std::string out;
  std::size_t at = 0;
  while (at < log.size()) {
    std::size_t end = log.find('\n', at);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(at, end - at);
    if (line.find("ReportEventW") != std::string::npos) out += line + "\n";
    at = end + 1;
  }
  return out.empty() ? "(no event-log reports)\n" : out;
}

std::string WineLogPath() {
  const char* unix_path = std::getenv("WINE_LOG");
  if (unix_path == nullptr || *unix_path == '\0') return {};
  std::string path = std::string("Z:") + unix_path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

}  // namespace

// ---- Files ----

std::string BinDir() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path);
  return dir.substr(0, dir.find_last_of('\\'));
}

std::string MakeTempDir(const std::string& name) {
  static std::atomic<int> counter{0};
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string dir = std::string(temp) + "halv_" + name + "_" +
                            std::to_string(GetCurrentProcessId()) + "_" +
                            std::to_string(counter++) + "_" + std::to_string(GetTickCount());
    if (CreateDirectoryA(dir.c_str(), nullptr)) return dir;
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
      ADD_FAILURE() << ErrorText(("CreateDirectory " + dir).c_str(), GetLastError());
      return {};
    }
  }
  ADD_FAILURE() << "no fresh folder name for " << name;
  return {};
}

std::string ReadFileBytes(const std::string& path) {
  FilePtr h(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr));
  if (h.get() == INVALID_HANDLE_VALUE) return {};
  std::string out;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(h.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
    out.append(buffer, got);
  return out;
}

::testing::AssertionResult WriteFileBytes(const std::string& path, const std::string& bytes) {
  FilePtr h(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (h.get() == INVALID_HANDLE_VALUE)
    return ::testing::AssertionFailure()
           << ErrorText(("CreateFile " + path).c_str(), GetLastError());
  DWORD written = 0;
  if (!WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size())
    return ::testing::AssertionFailure()
           << ErrorText(("WriteFile " + path).c_str(), GetLastError());
  return ::testing::AssertionSuccess();
}

// ---- Ports ----

int FreePort() {
  EnsureWinsock();
  if (const char* text = std::getenv("HALV_E2E_PORT_BASE"); text != nullptr && *text != '\0') {
    const int base = std::atoi(text);
    for (int port = base; port > 0 && port < base + kPortRange && port <= 65535; ++port)
      if (Bindable(port)) return port;
    return 0;
  }
  return SystemChosenPort();
}

HeldPort::~HeldPort() {
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
}

::testing::AssertionResult HeldPort::Open(const char* address, bool listen, int port) {
  EnsureWinsock();
  sockaddr_storage where;
  int length = 0;
  if (!ParseAddress(address, port, where, length))
    return ::testing::AssertionFailure() << "not an address: " << address;
  socket_ = socket(where.ss_family, SOCK_STREAM, IPPROTO_TCP);
  if (socket_ == INVALID_SOCKET)
    return ::testing::AssertionFailure() << ErrorText("socket", WSAGetLastError());
  if (bind(socket_, reinterpret_cast<sockaddr*>(&where), length) != 0)
    return ::testing::AssertionFailure()
           << ErrorText((std::string("bind to ") + address).c_str(), WSAGetLastError());
  if (listen && ::listen(socket_, 16) != 0)
    return ::testing::AssertionFailure() << ErrorText("listen", WSAGetLastError());
  if (getsockname(socket_, reinterpret_cast<sockaddr*>(&where), &length) != 0)
    return ::testing::AssertionFailure() << ErrorText("getsockname", WSAGetLastError());
  port_ = ntohs(where.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&where)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&where)->sin_port);
  return ::testing::AssertionSuccess();
}

// ---- Configuration ----

::testing::AssertionResult SetSystemValue(const std::string& name, const std::string& value) {
  try {
    WriteRegString(kSystemKey, name, value, true);
  } catch (const Error& e) {
    return ::testing::AssertionFailure() << e.what() << " (HKLM\\" << kSystemKey << ")";
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult WriteDefaultConfig(int port, const std::string& log_dir) {
  const std::pair<const char*, std::string> values[] = {
      {"BaseDir", BinDir()},   {"ExecName", "halvexa351.exe"}, {"LogDir", log_dir},
      {"VerboseLogging", "0"}, {"Port", std::to_string(port)},
  };
  for (const auto& [name, value] : values)
    if (auto written = SetSystemValue(name, value); !written) return written;
  return ::testing::AssertionSuccess();
}

void ClearConfig() { DeleteRegKeyTree("SOFTWARE", "Tenmark"); }

// ---- Services ----

DWORD RunServiceProgram(const std::string& arguments) {
  std::string command = "\"" + BinDir() + "\\halvexa351.exe\" " + arguments;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi))
    return GetLastError();
  DWORD code = WAIT_TIMEOUT;
  if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0)
    GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

::testing::AssertionResult UninstallService() {
  if (ServiceState() == 0) return ::testing::AssertionSuccess();
  if (const DWORD state = StopAndWait(); state != SERVICE_STOPPED)
    return ::testing::AssertionFailure() << "the service did not stop (state " << state << ")";
  if (const DWORD code = RunServiceProgram("/UNINSTALL /SILENT"); code != 0)
    return ::testing::AssertionFailure()
           << "halvexa351.exe /UNINSTALL /SILENT exited with " << code;
  if (!WaitUntil([] { return ServiceState() == 0; }, 10s))
    return ::testing::AssertionFailure() << "the service is still registered after /UNINSTALL";
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult InstallService() {
  if (auto removed = UninstallService(); !removed) return removed;
  if (const DWORD code = RunServiceProgram("/INSTALL /SILENT"); code != 0)
    return ::testing::AssertionFailure() << "halvexa351.exe /INSTALL /SILENT exited with " << code;
  if (ServiceState() == 0)
    return ::testing::AssertionFailure() << "the manager does not know the service after /INSTALL";
  return ::testing::AssertionSuccess();
}

DWORD ServiceState(const char* name) {
  ScPtr service = OpenNamed(name, SERVICE_QUERY_STATUS);
  if (!service) return 0;
  SERVICE_STATUS status = {};
  if (!QueryServiceStatus(service.get(), &status)) return 0;
  return status.dwCurrentState;
}

DWORD StartAndWait(const char* name) {
  ScPtr service = OpenNamed(name, SERVICE_START | SERVICE_QUERY_STATUS);
  if (!service) return 0;
  if (!StartServiceA(service.get(), 0, nullptr) &&
      GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
    // The state below tells the test; this says why.
    std::printf("note: StartService(%s) failed with error %lu\n", name, GetLastError());
  }
  const auto deadline = Clock::now() + 30s;
  DWORD state = 0;
  while (Clock::now() < deadline) {
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service.get(), &status)) return 0;
    state = status.dwCurrentState;
    if (state != SERVICE_START_PENDING) break;
    Sleep(50);
  }
  return state;
}

DWORD StopAndWait(const char* name) {
  ScPtr service = OpenNamed(name, SERVICE_STOP | SERVICE_QUERY_STATUS);
  if (!service) return 0;
  SERVICE_STATUS status = {};
  ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
  const auto deadline = Clock::now() + 30s;
  while (Clock::now() < deadline) {
    if (!QueryServiceStatus(service.get(), &status)) return 0;
    if (status.dwCurrentState == SERVICE_STOPPED) break;
    Sleep(50);
  }
  return status.dwCurrentState;
}

::testing::AssertionResult InstallTestService(const char* name, const char* display_name,
                                              DWORD start_type) {
  if (auto removed = RemoveTestService(name); !removed) return removed;
  ScPtr manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (!manager) return ::testing::AssertionFailure() << ErrorText("OpenSCManager", GetLastError());
  const std::string path = "\"" + BinDir() + "\\halv_test_service.exe\"";
  ScPtr service(CreateServiceA(manager.get(), name, display_name, SERVICE_ALL_ACCESS,
                               SERVICE_WIN32_OWN_PROCESS, start_type, SERVICE_ERROR_NORMAL,
                               path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service)
    return ::testing::AssertionFailure()
           << ErrorText((std::string("CreateService ") + name).c_str(), GetLastError());
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult RemoveTestService(const char* name) {
  if (ServiceState(name) == 0) return ::testing::AssertionSuccess();
  if (const DWORD state = StopAndWait(name); state != SERVICE_STOPPED)
    return ::testing::AssertionFailure() << name << " did not stop (state " << state << ")";
  {
    ScPtr service = OpenNamed(name, DELETE);
    if (!service || !DeleteService(service.get()))
      return ::testing::AssertionFailure()
             << ErrorText((std::string("DeleteService ") + name).c_str(), GetLastError());
  }
  if (!WaitUntil([name] { return ServiceState(name) == 0; }, 10s))
    return ::testing::AssertionFailure() << name << " is still registered after DeleteService";
  return ::testing::AssertionSuccess();
}

// ---- Event log ----

std::size_t WineLogSize() {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  const std::string path = WineLogPath();
  if (path.empty() || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::size_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string WineLogText(std::size_t from) {
  const std::string path = WineLogPath();
  if (path.empty()) return {};
  FilePtr h(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr));
  if (h.get() == INVALID_HANDLE_VALUE) return {};
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(from);
  if (!SetFilePointerEx(h.get(), at, nullptr, FILE_BEGIN)) return {};
  std::string out;
  char buffer[16384];
  DWORD got = 0;
  while (ReadFile(h.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
    out.append(buffer, got);
  return out;
}

bool WaitForEventLog(const std::string& text, std::chrono::milliseconds limit, std::size_t from) {
  const std::string needle = "ReportEventW L\"" + text;
  return WaitUntil([&] { return WineLogText(from).find(needle) != std::string::npos; }, limit);
}

// ---- Waiting ----

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    if (done()) return true;
    if (Clock::now() >= deadline) return false;
    Sleep(50);
  }
}

// ---- TCP client ----

Client::~Client() { Close(); }

::testing::AssertionResult Client::Connect(int port, const ConnectOptions& options) {
  EnsureWinsock();
  Close();
  peer_closed_ = false;
  const std::string target = std::string(options.to) + ":" + std::to_string(port);
  auto failed = [&](const char* call, int code) {
    Close();
    return ::testing::AssertionFailure()
           << "connect to " << target << (options.from ? std::string(" from ") + options.from : "")
           << ": " << ErrorText(call, code);
  };
  sockaddr_storage to;
  int to_length = 0;
  if (!ParseAddress(options.to, port, to, to_length))
    return ::testing::AssertionFailure() << "not an address: " << options.to;
  socket_ = socket(to.ss_family, SOCK_STREAM, IPPROTO_TCP);
  if (socket_ == INVALID_SOCKET) return failed("socket", WSAGetLastError());
  if (options.from != nullptr) {
    sockaddr_storage from;
    int from_length = 0;
    if (!ParseAddress(options.from, 0, from, from_length))
      return ::testing::AssertionFailure() << "not an address: " << options.from;
    if (bind(socket_, reinterpret_cast<sockaddr*>(&from), from_length) != 0)
      return failed("bind", WSAGetLastError());
  }
  BOOL on = TRUE;
  setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  if (options.receive_buffer > 0) {
    setsockopt(socket_, SOL_SOCKET, SO_RCVBUF,
               reinterpret_cast<const char*>(&options.receive_buffer),
               sizeof options.receive_buffer);
  }
  const DWORD send_limit_ms = 30000;
  setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&send_limit_ms),
             sizeof send_limit_ms);

  // Non-blocking for the connect alone, so that it obeys the time-out.
  u_long non_blocking = 1;
  if (ioctlsocket(socket_, FIONBIO, &non_blocking) != 0)
    return failed("ioctlsocket", WSAGetLastError());
  if (connect(socket_, reinterpret_cast<sockaddr*>(&to), to_length) != 0) {
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return failed("connect", error);
    fd_set writable, failing;
    FD_ZERO(&writable);
    FD_ZERO(&failing);
    FD_SET(socket_, &writable);
    FD_SET(socket_, &failing);
    const long ms = static_cast<long>(options.timeout.count());
    timeval tv = {ms / 1000, (ms % 1000) * 1000};
    const int ready = select(0, nullptr, &writable, &failing, &tv);
    if (ready == 0) return failed("connect (timed out)", WSAETIMEDOUT);
    if (ready < 0) return failed("select", WSAGetLastError());
    int so_error = 0;
    int length = sizeof so_error;
    getsockopt(socket_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error), &length);
    if (FD_ISSET(socket_, &failing) || so_error != 0)
      return failed("connect", so_error != 0 ? so_error : WSAECONNREFUSED);
  }
  non_blocking = 0;
  if (ioctlsocket(socket_, FIONBIO, &non_blocking) != 0)
    return failed("ioctlsocket", WSAGetLastError());
  return ::testing::AssertionSuccess();
}

bool Client::Send(const std::string& bytes) {
  std::size_t at = 0;
  while (socket_ != INVALID_SOCKET && at < bytes.size()) {
    const int n = send(socket_, bytes.data() + at, static_cast<int>(bytes.size() - at), 0);
    if (n <= 0) return false;
    at += static_cast<std::size_t>(n);
  }
  return at == bytes.size();
}

std::string Client::ReadWhile(const std::function<bool(const std::string&)>& done,
                              std::chrono::milliseconds limit) {
  std::string out;
  const auto deadline = Clock::now() + limit;
  while (socket_ != INVALID_SOCKET && !peer_closed_) {
    if (done(out)) break;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    fd_set read_set;
    FD_ZERO(&read_set);
    FD_SET(socket_, &read_set);
    timeval tv = {static_cast<long>(left.count() / 1000),
                  static_cast<long>((left.count() % 1000) * 1000)};
    if (select(0, &read_set, nullptr, nullptr, &tv) <= 0) break;
    char buffer[4096];
    const int n = recv(socket_, buffer, sizeof buffer, 0);
    if (n <= 0) {
      peer_closed_ = true;
      break;
    }
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

std::string Client::ReadUntil(const std::string& suffix, std::chrono::milliseconds limit) {
  return ReadWhile([&](const std::string& text) { return EndsWith(text, suffix); }, limit);
}

std::string Client::ReadCount(const std::string& text, int count, std::chrono::milliseconds limit) {
  return ReadWhile(
      [&](const std::string& got) {
        int seen = 0;
        for (std::size_t at = got.find(text); at != std::string::npos;
             at = got.find(text, at + text.size()))
          ++seen;
        return seen >= count;
      },
      limit);
}

std::string Client::Ask(const std::string& line, const std::string& until,
                        std::chrono::milliseconds limit) {
  Send(line + "\r\n");
  return ReadUntil(until, limit);
}

std::string Client::ReadFor(std::chrono::milliseconds limit) {
  return ReadWhile([](const std::string&) { return false; }, limit);
}

bool Client::WaitClosed(std::chrono::milliseconds limit, std::string* text) {
  const std::string got = ReadFor(limit);
  if (text != nullptr) *text = got;
  return peer_closed_;
}

std::string Client::ReadSome(std::size_t max, std::chrono::milliseconds limit) {
  if (socket_ == INVALID_SOCKET || peer_closed_) return {};
  fd_set read_set;
  FD_ZERO(&read_set);
  FD_SET(socket_, &read_set);
  timeval tv = {static_cast<long>(limit.count() / 1000),
                static_cast<long>((limit.count() % 1000) * 1000)};
  if (select(0, &read_set, nullptr, nullptr, &tv) <= 0) return {};
  std::string out(max, '\0');
  const int n = recv(socket_, out.data(), static_cast<int>(max), 0);
  if (n <= 0) {
    peer_closed_ = true;
    return {};
  }
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::size_t Client::Pending() const {
  u_long waiting = 0;
  if (socket_ == INVALID_SOCKET || ioctlsocket(socket_, FIONREAD, &waiting) != 0) return 0;
  return waiting;
}

std::size_t Client::WaitBacklog(std::size_t want, std::chrono::milliseconds still,
                                std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  std::size_t last = Pending();
  auto changed = Clock::now();
  for (;;) {
    const std::size_t now_waiting = Pending();
    const auto now = Clock::now();
    if (now_waiting >= want) return now_waiting;
    if (now_waiting != last) {
      last = now_waiting;
      changed = now;
    } else if (now - changed >= still) {
      return now_waiting;
    }
    if (now >= deadline) return now_waiting;
    Sleep(20);
  }
}

bool Client::Leave(std::chrono::milliseconds limit) {
  if (socket_ == INVALID_SOCKET) return false;
  if (!peer_closed_ && shutdown(socket_, SD_SEND) != 0) return false;
  const bool closed = WaitClosed(limit);
  Close();
  return closed;
}

void Client::Close() {
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
  socket_ = INVALID_SOCKET;
}

void Client::Reset() {
  if (socket_ == INVALID_SOCKET) return;
  linger abort = {1, 0};
  setsockopt(socket_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
  Close();
}

std::string Client::LocalAddress() const {
  sockaddr_storage address = {};
  int length = sizeof address;
  if (getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
  char text[INET6_ADDRSTRLEN] = {};
  const void* bytes =
      address.ss_family == AF_INET6
          ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr)
          : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(&address)->sin_addr);
  if (inet_ntop(address.ss_family, bytes, text, sizeof text) == nullptr) return {};
  return text;
}

// ---- Fixture ----

void InstalledServiceTest::SetUp() {
  log_mark_ = WineLogSize();
  ClearConfig();
  port_ = FreePort();
  ASSERT_NE(port_, 0) << "no free TCP port";
  log_dir_ = MakeTempDir("e2e");
  ASSERT_FALSE(log_dir_.empty());
  ASSERT_TRUE(WriteDefaultConfig(port_, log_dir_));
  ASSERT_TRUE(InstallService());
}

void InstalledServiceTest::TearDown() {
  EXPECT_TRUE(UninstallService());
  ClearConfig();
}

void InstalledServiceTest::StartRunning() {
  for (int attempt = 1;; ++attempt) {
    const std::size_t mark = WineLogSize();
    const DWORD state = StartAndWait();
    if (state == SERVICE_RUNNING) return;
    // A port taken between FreePort and the service's bind: take another.
    const bool port_taken =
        state == SERVICE_STOPPED &&
        WaitForEventLog("Service failed on start: Windows socket error: ", 5s, mark) &&
        WineLogText(mark).find("(10048), on API 'bind'") != std::string::npos;
    if (!port_taken || attempt == kStartAttempts) {
      FAIL() << "the service did not start on port " << port_ << " (state " << state << ", attempt "
             << attempt << "); event log since the start:\n"
             << EventReports(WineLogText(mark));
    }
    std::printf("note: port %d was taken; moving to another\n", port_);
    port_ = FreePort();
    ASSERT_NE(port_, 0) << "no free TCP port";
    ASSERT_TRUE(SetSystemValue("Port", std::to_string(port_)));
  }
}

bool InstalledServiceTest::EventLogged(const std::string& text,
                                       std::chrono::milliseconds limit) const {
  return WaitForEventLog(text, limit, log_mark_);
}

std::string InstalledServiceTest::EventLogText() const { return WineLogText(log_mark_); }

std::vector<std::string> KeyGrants(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL, &key) != ERROR_SUCCESS)
    return {"unreadable"};
  DWORD size = 0;
  RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
  std::vector<BYTE> buffer(size ? size : 1);
  const LONG status = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, buffer.data(), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return {"unreadable"};
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(buffer.data(), &present, &dacl, &defaulted) || !present ||
      dacl == nullptr)
    return {"no list"};
  std::vector<std::string> grants;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    char* sid = nullptr;
    ConvertSidToStringSidA(&ace->SidStart, &sid);
    grants.push_back(std::string(sid ? sid : "?") + ":" +
                     std::to_string(ace->Mask == KEY_ALL_ACCESS ? 1 : 0));
    LocalFree(sid);
  }
  return grants;
}

}  // namespace halv::e2e
