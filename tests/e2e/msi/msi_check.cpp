// msi_check: the Windows side of the installer test (msi_install.sh). Each
// command checks one thing in the Wine prefix, prints what differs and exits
// 0 when all holds, 1 when not, 2 on bad arguments:
//   config PORT BASEDIR [NAME=TEXT...]
//                         every configuration value of the table with its
//                         default (Port PORT, folders in BASEDIR, each NAME
//                         with TEXT as an installation property set it), REG_SZ
//   acl                   the Security branch only for Administrators, SYSTEM
//   acl-created           the same for Security and Security\Users alone (as
//                         /INSTALL leaves them when they were missing)
//   service PORT          registered as specified, running, answers HELP
//   no-service            the service is not registered
//   source EXE TEXT       the event source names EXE, and its message table
//                         renders an entry with the string TEXT as TEXT
//   no-source             no event source is registered
//   console               the console's main window is up on its General tab
//                         with no error box and painted; prints its geometry
//                         (WxH+X+Y)
//   close-console         closes the console's main window
#include <winsock2.h>

#include <windows.h>
// commctrl.h and aclapi.h need the types of windows.h.
#include <aclapi.h>
#include <commctrl.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config_schema.h"
#include "resource.h"

namespace {

namespace config = halv::config;
constexpr const char* kSourceKey = config::kEventSourceKey;
constexpr const char* kServiceName = config::kServiceName;

int failures = 0;

void Fail(const std::string& text) {
  std::printf("FAIL: %s\n", text.c_str());
  ++failures;
}

bool WaitFor(const std::function<bool()>& done, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start >= timeout_ms) return false;
    Sleep(100);
  }
  return true;
}

struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using KeyPtr = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

KeyPtr OpenKey(const std::string& path, REGSAM access = KEY_READ) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &key) != ERROR_SUCCESS)
    return nullptr;
  return KeyPtr(key);
}

// A value's type and text (REG_SZ/REG_EXPAND_SZ); type 0 when missing.
std::pair<DWORD, std::string> ReadValue(const std::string& key_path, const char* name) {
  KeyPtr key = OpenKey(key_path);
  if (!key) return {0, ""};
  char data[2048] = {};
  DWORD size = sizeof data - 1;
  DWORD type = 0;
  if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
      ERROR_SUCCESS)
    return {0, ""};
  return {type, std::string(data)};
}

int Config(const std::string& port, const std::string& base,
           const std::map<std::string, std::string>& properties) {
  std::map<std::string, std::string> chosen = {
      {config::kBaseDir, base},
      {config::kLogDir, base + "\\Logs"},
      {config::kDumpDir, base + "\\Dumps"},
      {config::kPort, port},
  };
  for (const auto& [name, text] : properties) chosen[name] = text;
  const std::vector<config::InstalledValue> table = config::InstalledValues(chosen);
  for (const config::InstalledValue& e : table) {
    const auto [type, text] = ReadValue(e.key, e.name.c_str());
    if (type != REG_SZ || text != e.text)
      Fail(e.key + "\\" + e.name + " is '" + text + "' (type " + std::to_string(type) +
           "), expected REG_SZ '" + e.text + "'");
  }
  // The other optional values stay absent: nothing else is switched on.
  for (const config::ValueDef& value : config::kOptionalSystemValues) {
    if ((value.missing == config::Missing::kOff || value.missing == config::Missing::kLogin) &&
        properties.count(value.name) == 0 &&
        ReadValue(config::kSystemKey, value.name).first != 0)
      Fail(std::string(value.name) + " was installed");
  }
  for (const char* user : {config::kAdminUser, config::kAnonymousUser}) {
    const std::string key = config::kUsersKey + "\\" + user;
    if (ReadValue(key, config::kAuth).first != 0) Fail(std::string(user) + " has an Auth value");
  }
  return failures == 0 ? 0 : 1;
}

// The key's access list must grant exactly full control to Administrators
// and SYSTEM, nothing inherited. (Wine does not keep the "protected" flag of
// an access list, so only the entries are checked.)
void CheckAcl(const std::string& path) {
  KeyPtr key = OpenKey(path, READ_CONTROL);
  if (!key) return Fail("cannot open " + path);
  DWORD size = 0;
  RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
  std::vector<BYTE> buffer(size ? size : 1);
  if (RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, buffer.data(), &size) !=
      ERROR_SUCCESS)
    return Fail("cannot read the security of " + path);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(buffer.data(), &present, &dacl, &defaulted) || !present ||
      dacl == nullptr)
    return Fail(path + ": no access list (everyone may read it)");
  std::vector<std::string> granted;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    char* sid_text = nullptr;
    ConvertSidToStringSidA(&ace->SidStart, &sid_text);
    granted.push_back(std::string(sid_text ? sid_text : "?") + ":" +
                      std::to_string(ace->Mask == KEY_ALL_ACCESS));
    LocalFree(sid_text);
  }
  const std::vector<std::string> expected = {"S-1-5-32-544:1", "S-1-5-18:1"};
  if (granted != expected) {
    std::string seen;
    for (const std::string& g : granted) seen += " " + g;
    Fail(path + ": grants" + seen + ", expected only Administrators and SYSTEM full control");
  }
}

int Acl() {
  for (const std::string& key :
       {config::kSecurityKey, config::kDefaultsKey, config::kUsersKey + "\\" + config::kAdminUser})
    CheckAcl(key);
  return failures == 0 ? 0 : 1;
}

int AclCreated() {
  for (const std::string& key : {config::kSecurityKey, config::kUsersKey}) CheckAcl(key);
  return failures == 0 ? 0 : 1;
}

struct ScCloser {
  void operator()(SC_HANDLE h) const { CloseServiceHandle(h); }
};
using ScPtr = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ScCloser>;

// Connects to the port, sends HELP and reads until the end of the help.
bool AnswersHelp(int port) {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  DWORD timeout = 10000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  bool ok = false;
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    std::string received;
    auto read_until = [&](const char* marker) {
      char buffer[4096];
      while (received.find(marker) == std::string::npos) {
        const int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        received.append(buffer, n);
      }
      return true;
    };
    if (read_until(":: ")) {
      send(s, "help\r\n", 6, 0);
      ok = read_until("311-End of HELP info\n\r");
    }
    if (!ok) std::printf("received: %s\n", received.c_str());
  }
  closesocket(s);
  WSACleanup();
  return ok;
}

int Service(const std::string& port, const std::string& exe) {
  ScPtr manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  ScPtr service(manager ? OpenServiceA(manager.get(), kServiceName,
                                       SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS)
                        : nullptr);
  if (!service) {
    Fail(std::string("service ") + kServiceName + " not registered");
    return 1;
  }
  std::vector<BYTE> buffer(8192);
  DWORD needed = 0;
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  if (!QueryServiceConfigA(service.get(), config, static_cast<DWORD>(buffer.size()), &needed)) {
    Fail("cannot query the configuration");
  } else {
    const std::string image = config->lpBinaryPathName ? config->lpBinaryPathName : "";
    if (_stricmp(image.c_str(), ("\"" + exe + "\"").c_str()) != 0)
      Fail("image path " + image + ", expected \"" + exe + "\" quoted");
    if (config->dwStartType != SERVICE_AUTO_START) Fail("not started automatically");
    if (config->dwServiceType != SERVICE_WIN32_OWN_PROCESS) Fail("not an own-process service");
    const std::string account = config->lpServiceStartName ? config->lpServiceStartName : "";
    if (!account.empty() && _stricmp(account.c_str(), "LocalSystem") != 0)
      Fail("runs as " + account);
    if (std::string(config->lpDisplayName ? config->lpDisplayName : "") !=
        "Tenmark Halvexa Service 3.5.1")
      Fail("display name " + std::string(config->lpDisplayName ? config->lpDisplayName : ""));
  }
  SERVICE_STATUS status = {};
  if (!WaitFor(
          [&] {
            return QueryServiceStatus(service.get(), &status) &&
                   status.dwCurrentState == SERVICE_RUNNING;
          },
          20000))
    Fail("not running (state " + std::to_string(status.dwCurrentState) + ")");
  else if (!AnswersHelp(std::atoi(port.c_str())))
    Fail("no HELP answer on port " + port);
  return failures == 0 ? 0 : 1;
}

int NoService() {
  ScPtr manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  ScPtr service(manager ? OpenServiceA(manager.get(), kServiceName, SERVICE_QUERY_STATUS)
                        : nullptr);
  if (service) Fail(std::string("service ") + kServiceName + " still registered");
  return failures == 0 ? 0 : 1;
}

// What Event Viewer does with an entry: the source's message file, loaded as
// data, formats the event identifier with the entry's strings.
int Source(const std::string& exe, const std::string& text) {
  const auto [type, file] = ReadValue(kSourceKey, "EventMessageFile");
  if (type != REG_EXPAND_SZ) {
    Fail("no EventMessageFile of type REG_EXPAND_SZ");
    return 1;
  }
  char expanded[MAX_PATH * 2] = {};
  ExpandEnvironmentStringsA(file.c_str(), expanded, sizeof expanded);
  if (_stricmp(expanded, exe.c_str()) != 0) Fail(std::string("EventMessageFile ") + expanded);
  KeyPtr key = OpenKey(kSourceKey);
  DWORD types = 0;
  DWORD size = sizeof types;
  if (!key ||
      RegQueryValueExA(key.get(), "TypesSupported", nullptr, nullptr,
                       reinterpret_cast<BYTE*>(&types), &size) != ERROR_SUCCESS ||
      (types & EVENTLOG_ERROR_TYPE) == 0)
    Fail("TypesSupported lacks error entries");
  HMODULE module = LoadLibraryExA(expanded, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    Fail("cannot load the message file");
    return 1;
  }
  const char* strings[1] = {text.c_str()};
  char* message = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      module, 0, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), reinterpret_cast<char*>(&message), 0,
      reinterpret_cast<va_list*>(const_cast<char**>(strings)));
  std::string rendered = length ? std::string(message, length) : "";
  LocalFree(message);
  FreeLibrary(module);
  while (!rendered.empty() && (rendered.back() == '\n' || rendered.back() == '\r'))
    rendered.pop_back();
  if (rendered != text) Fail("event 0 renders as '" + rendered + "', expected '" + text + "'");
  return failures == 0 ? 0 : 1;
}

int NoSource() {
  if (OpenKey(kSourceKey)) Fail("event source key still there");
  return failures == 0 ? 0 : 1;
}

HWND Main() { return FindWindowExA(nullptr, nullptr, "TForm1", "Halvexa Administrator"); }

int Console() {
  if (!WaitFor(
          [] {
            HWND main = Main();
            return main != nullptr && IsWindowVisible(main) && IsWindowEnabled(main);
          },
          30000)) {
    Fail("the console's main window did not come up");
  }
  if (HWND box = FindWindowExA(nullptr, nullptr, "#32770", "Halvexa351 Administrator")) {
    char text[512] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    Fail(std::string("error box: ") + text);
  }
  HWND main = Main();
  if (main == nullptr) return 1;
  if (SendMessageA(GetDlgItem(main, IDC_TABS), TCM_GETCURSEL, 0, 0) != 0)
    Fail("not on the General tab");
  // Painted before the caller takes its screenshot: the paint is done now,
  // and the window's thread has handled everything sent before.
  RedrawWindow(main, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  DWORD_PTR result = 0;
  SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
  RECT rc;
  GetClientRect(main, &rc);
  POINT origin = {0, 0};
  ClientToScreen(main, &origin);
  std::printf("%ldx%ld+%ld+%ld\n", rc.right, rc.bottom, origin.x, origin.y);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "config" && argc >= 4) {
    std::map<std::string, std::string> properties;
    for (int i = 4; i < argc; ++i) {
      const std::string pair = argv[i];
      const std::size_t equals = pair.find('=');
      if (equals == std::string::npos) return 2;
      properties[pair.substr(0, equals)] = pair.substr(equals + 1);
    }
    return Config(argv[2], argv[3], properties);
  }
  if (command == "acl") return Acl();
  if (command == "acl-created") return AclCreated();
  if (command == "service" && argc == 4) return Service(argv[2], argv[3]);
  if (command == "no-service") return NoService();
  if (command == "source" && argc == 4) return Source(argv[2], argv[3]);
  if (command == "no-source") return NoSource();
  if (command == "console") return Console();
  if (command == "close-console") {
    if (HWND main = Main()) PostMessageA(main, WM_CLOSE, 0, 0);
    return 0;
  }
  std::fprintf(stderr,
               "usage: msi_check config|acl|acl-created|service|no-service|source|"
               "no-source|console\n");
  return 2;
}
