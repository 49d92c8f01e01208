// Program entry of halvexa351: installation switches, or the service itself.
//
// "/INSTALL" (or "-install", any case) registers the service, "/UNINSTALL"
// removes it, and "/SILENT" with either suppresses the success message.
// Without them the program runs as the process of service Halvexa351 under
// the Service Control Manager (ServiceHost) until the service has stopped.
// Installing also registers the event source (this program carries the
// message table) and restricts the "\\Security" key to Administrators and
// SYSTEM; uninstalling removes the event source.
// Winsock's header must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include "halvexa351.h"
#include "install_registry.h"
#include "service_host.h"
#include "system_error_text.h"

namespace {

constexpr char kTitle[] = "Halvexa Service";

std::string ErrorText(DWORD code) {
  const std::string text = halv::SystemErrorText(code);
  return text.empty() ? "Error " + std::to_string(code) : text;
}

void Show(const std::string& text, UINT icon) {
  MessageBoxA(nullptr, text.c_str(), kTitle, MB_OK | icon | MB_SETFOREGROUND);
}

// A switch is "/" or "-" followed by the name, letter case ignored.
bool HasSwitch(int argc, char** argv, const char* name) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if ((arg[0] == '/' || arg[0] == '-') && _stricmp(arg + 1, name) == 0) return true;
  }
  return false;
}

struct ScHandleCloser {
  void operator()(SC_HANDLE h) const { CloseServiceHandle(h); }
};
using ScHandlePtr = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ScHandleCloser>;

// Registers (install) or removes the service; 0 or the system error code.
// The registry steps of an installation come first, so a failed one leaves
// no service behind; an uninstallation removes the event source last.
DWORD Register(bool install) {
  char path[MAX_PATH * 2] = {};
  GetModuleFileNameA(nullptr, path, sizeof path - 1);
  if (install) {
    if (const DWORD error = halv::RegisterEventSourceKey(path); error != 0) return error;
    if (const DWORD error = halv::RestrictSecurityKey(); error != 0) return error;
  }
  ScHandlePtr manager(
      OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (!manager) return GetLastError();
  if (install) {
    const std::string command = std::string("\"") + path + "\"";
    ScHandlePtr service(CreateServiceA(manager.get(), halv::kServiceName, halv::kServiceDisplayName,
                                       SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(),
                                       nullptr, nullptr, nullptr, nullptr, nullptr));
    return service ? 0 : GetLastError();
  }
  // The event source goes even when the service was already removed.
  ScHandlePtr service(OpenServiceA(manager.get(), halv::kServiceName, DELETE));
  DWORD error = service ? 0 : GetLastError();
  if (service && !DeleteService(service.get())) error = GetLastError();
  const DWORD source_error = halv::RemoveEventSourceKey();
  return error != 0 ? error : source_error;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    // No system dialog may wait for a user who is not there (a library that
    // cannot be loaded, a drive that is not ready).
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    WSADATA wsa;
    if (const int error = WSAStartup(MAKEWORD(2, 2), &wsa); error != 0) {
      Show(ErrorText(static_cast<DWORD>(error)), MB_ICONERROR);
      return error;
    }
    halv::THalvexa351 service;

    const bool install = HasSwitch(argc, argv, "INSTALL");
    const bool uninstall = HasSwitch(argc, argv, "UNINSTALL");
    const bool silent = HasSwitch(argc, argv, "SILENT");
    if (install || uninstall) {
      const DWORD error = Register(install);
      if (error != 0) {
        Show(std::string(halv::kServiceDisplayName) + ": " + ErrorText(error), MB_ICONERROR);
        return static_cast<int>(error);
      }
      if (!silent)
        Show(install ? "Service installed successfully" : "Service uninstalled successfully",
             MB_ICONINFORMATION);
      return 0;
    }

    halv::ServiceHost host(halv::kServiceName, service, service.Events());
    if (const DWORD error = host.Dispatch(); error != 0) {
      Show(ErrorText(error), MB_ICONERROR);
      return static_cast<int>(error);
    }
    WSACleanup();
    return 0;
  } catch (const std::exception& e) {
    Show(e.what(), MB_ICONERROR);
    return 1;
  }
}
