// End-to-end harness for the real service under Wine.
#include "service_harness.h"

#include <ws2tcpip.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "win/registry.h"

namespace halv::e2e {
namespace {

struct ScCloser {
  void operator()(SC_HANDLE h) const {
    if (h != nullptr) CloseServiceHandle(h);
  }
};
using ScPtr = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ScCloser>;

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

}  // namespace

std::string BinDir() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path);
  return dir.substr(0, dir.find_last_of('\\'));
}

std::string MakeTempDir(const std::string& name) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  std::string dir = std::string(temp) + "halv_" + name + "_" + std::to_string(GetTickCount());
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

std::string ReadFileBytes(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::string out;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
  CloseHandle(h);
  return out;
}

void WriteDefaultConfig(int port, const std::string& log_dir) {
  WriteRegString(kSystemKey, "BaseDir", BinDir(), true);
  WriteRegString(kSystemKey, "ExecName", "halvexa351.exe", true);
  WriteRegString(kSystemKey, "LogDir", log_dir, true);
  WriteRegString(kSystemKey, "VerboseLogging", "0", true);
  WriteRegString(kSystemKey, "Port", std::to_string(port), true);
}

void ClearConfig() { DeleteRegKeyTree("SOFTWARE", "Tenmark"); }

DWORD RunServiceProgram(const std::string& arguments) {
  std::string command = "\"" + BinDir() + "\\halvexa351.exe\" " + arguments;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi))
    return GetLastError();
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

void UninstallService() {
  if (ServiceState() != 0) {
    StopAndWait();
    RunServiceProgram("/UNINSTALL /SILENT");
  }
}

void InstallService() {
  UninstallService();
  RunServiceProgram("/INSTALL /SILENT");
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
  StartServiceA(service.get(), 0, nullptr);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  DWORD state = 0;
  while (std::chrono::steady_clock::now() < deadline) {
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
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!QueryServiceStatus(service.get(), &status)) return 0;
    if (status.dwCurrentState == SERVICE_STOPPED) break;
    Sleep(50);
  }
  return status.dwCurrentState;
}

bool InstallTestService(const char* name, const char* display_name, DWORD start_type) {
  RemoveTestService(name);
  ScPtr manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (!manager) return false;
  const std::string path = "\"" + BinDir() + "\\halv_test_service.exe\"";
  ScPtr service(CreateServiceA(manager.get(), name, display_name, SERVICE_ALL_ACCESS,
                               SERVICE_WIN32_OWN_PROCESS, start_type, SERVICE_ERROR_NORMAL,
                               path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  return service != nullptr;
}

void RemoveTestService(const char* name) {
  if (ServiceState(name) == 0) return;
  StopAndWait(name);
  ScPtr service = OpenNamed(name, DELETE);
  if (service) DeleteService(service.get());
}

std::string WineLogText() {
  const char* unix_path = std::getenv("WINE_LOG");
  if (unix_path == nullptr || *unix_path == '\0') return {};
  std::string path = std::string("Z:") + unix_path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return ReadFileBytes(path);
}

bool WaitForEventLog(const std::string& text, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  const std::string needle = "ReportEventW L\"" + text;
  do {
    if (WineLogText().find(needle) != std::string::npos) return true;
    Sleep(100);
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

Client::~Client() { Close(); }

bool Client::Connect(int port, int receive_buffer) {
  EnsureWinsock();
  Close();
  socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket_ == INVALID_SOCKET) return false;
  BOOL on = TRUE;
  setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  if (receive_buffer > 0) {
    setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receive_buffer),
               sizeof receive_buffer);
  }
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  peer_closed_ = false;
  return connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

void Client::Send(const std::string& bytes) {
  if (socket_ != INVALID_SOCKET) send(socket_, bytes.data(), static_cast<int>(bytes.size()), 0);
}

std::string Client::ReadUntil(const std::string& suffix, std::chrono::milliseconds limit) {
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (socket_ != INVALID_SOCKET && !peer_closed_) {
    if (out.size() >= suffix.size() &&
        out.compare(out.size() - suffix.size(), suffix.size(), suffix) == 0)
      break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
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

std::string Client::ReadFor(std::chrono::milliseconds limit) {
  // A suffix that never matches: read until the time is up or the peer closes.
  return ReadUntil(std::string(1, '\0') + "\x01never\x02", limit);
}

bool Client::WaitClosed(std::chrono::milliseconds limit) {
  ReadFor(limit);
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
  sockaddr_in address = {};
  int length = sizeof address;
  if (getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
  return inet_ntoa(address.sin_addr);
}

void InstalledServiceTest::SetUp() {
  ClearConfig();
  log_dir_ = MakeTempDir("e2e");
  WriteDefaultConfig(Port(), log_dir_);
  InstallService();
}

void InstalledServiceTest::TearDown() {
  UninstallService();
  ClearConfig();
}

void InstalledServiceTest::StartRunning() {
  ASSERT_EQ(StartAndWait(), static_cast<DWORD>(SERVICE_RUNNING));
}

}  // namespace halv::e2e
