// Win32 implementation of the ServiceManager interface: each method is one
// advapi32 call, with its buffers turned into the portable structures.
#include "win/system_service_manager.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "win/handles.h"

namespace halv {
namespace {

SC_HANDLE ToSc(ScHandle handle) { return reinterpret_cast<SC_HANDLE>(handle); }

// The calling thread's last error, never 0: a call that failed without
// setting it is reported as a generic failure.
std::uint32_t LastError(std::uint32_t fallback = ERROR_GEN_FAILURE) {
  DWORD code = GetLastError();
  return code != 0 ? code : fallback;
}

ServiceStatusInfo FromWin(const SERVICE_STATUS& s) {
  ServiceStatusInfo status;
  status.service_type = s.dwServiceType;
  status.current_state = s.dwCurrentState;
  status.controls_accepted = s.dwControlsAccepted;
  status.win32_exit_code = s.dwWin32ExitCode;
  status.service_specific_exit_code = s.dwServiceSpecificExitCode;
  status.check_point = s.dwCheckPoint;
  status.wait_hint = s.dwWaitHint;
  return status;
}

std::string Text(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

// A zero-filled block from the process heap, freed when it goes out of scope.
struct HeapFreer {
  void operator()(void* block) const { HeapFree(GetProcessHeap(), 0, block); }
};
using HeapBlock = std::unique_ptr<BYTE, HeapFreer>;

HeapBlock AllocateZeroed(std::uint32_t bytes) {
  // At least one byte, so a zero-sized request still yields a valid buffer.
  return HeapBlock(
      static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes != 0 ? bytes : 1)));
}

void CopyEntries(const ENUM_SERVICE_STATUSA* list, DWORD count,
                 std::vector<ServiceEntry>* entries) {
  entries->clear();
  entries->reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    ServiceEntry entry;
    entry.service_name = Text(list[i].lpServiceName);
    entry.display_name = Text(list[i].lpDisplayName);
    entry.status = FromWin(list[i].ServiceStatus);
    entries->push_back(std::move(entry));
  }
}

std::string MultiString(const char* list) {
  std::string out;
  if (list == nullptr) return out;
  while (*list != '\0') {
    std::string name(list);
    out += name;
    out += '\0';
    list += name.size() + 1;
  }
  return out;
}

class Win32ServiceManager final : public ServiceManager {
 public:
  std::uint32_t OpenManager(std::uint32_t access, ScHandle* manager) override {
    win::ServiceHandle h(OpenSCManagerA(nullptr, nullptr, access));
    if (!h) return LastError();
    // From here the caller owns the handle and closes it through Close.
    *manager = reinterpret_cast<ScHandle>(h.release());
    return 0;
  }

  std::uint32_t OpenServiceByName(ScHandle manager, const std::string& name, std::uint32_t access,
                                  ScHandle* service) override {
    win::ServiceHandle h(OpenServiceA(ToSc(manager), name.c_str(), access));
    if (!h) return LastError();
    *service = reinterpret_cast<ScHandle>(h.release());
    return 0;
  }

  std::uint32_t Close(ScHandle handle) override {
    if (!CloseServiceHandle(ToSc(handle))) return LastError();
    return 0;
  }

  std::uint32_t QueryStatus(ScHandle service, ServiceStatusInfo* status) override {
    SERVICE_STATUS s{};
    if (!QueryServiceStatus(ToSc(service), &s)) return LastError();
    *status = FromWin(s);
    return 0;
  }

  std::uint32_t Control(ScHandle service, std::uint32_t control,
                        ServiceStatusInfo* status) override {
    SERVICE_STATUS s{};
    if (!ControlService(ToSc(service), control, &s)) return LastError();
    *status = FromWin(s);
    return 0;
  }

  std::uint32_t Start(ScHandle service) override {
    if (!StartServiceA(ToSc(service), 0, nullptr)) return LastError();
    return 0;
  }

  std::uint32_t EnumDependents(ScHandle service, std::uint32_t state,
                               std::vector<ServiceEntry>* entries, std::uint32_t buffer_bytes,
                               std::uint32_t* bytes_needed) override {
    DWORD needed = 0;
    DWORD count = 0;
    if (entries == nullptr) {
      if (!EnumDependentServicesA(ToSc(service), state, nullptr, 0, &needed, &count)) {
        const std::uint32_t code = LastError();
        if (code == ERROR_MORE_DATA) *bytes_needed = needed;
        return code;
      }
      return 0;
    }
    HeapBlock buffer = AllocateZeroed(buffer_bytes);
    // HeapAlloc does not set the last error.
    if (buffer == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    auto* list = reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.get());
    if (!EnumDependentServicesA(ToSc(service), state, list, buffer_bytes, &needed, &count)) {
      const std::uint32_t code = LastError();
      if (code == ERROR_MORE_DATA) *bytes_needed = needed;
      return code;
    }
    CopyEntries(list, count, entries);
    return 0;
  }

  std::uint32_t EnumServices(ScHandle manager, std::uint32_t type, std::uint32_t state,
                             std::vector<ServiceEntry>* entries, std::uint32_t buffer_bytes,
                             std::uint32_t* bytes_needed, std::uint32_t* resume_handle) override {
    DWORD needed = 0;
    DWORD count = 0;
    DWORD resume = *resume_handle;
    HeapBlock buffer;
    ENUM_SERVICE_STATUSA* list = nullptr;
    DWORD size = 0;
    if (entries != nullptr) {
      buffer = AllocateZeroed(buffer_bytes);
      if (buffer == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
      list = reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.get());
      size = buffer_bytes;
    }
    const BOOL ok =
        EnumServicesStatusA(ToSc(manager), type, state, list, size, &needed, &count, &resume);
    const std::uint32_t code = ok ? 0 : LastError();
    *resume_handle = resume;
    if (code != 0) {
      if (code == ERROR_MORE_DATA) *bytes_needed = needed;
      return code;
    }
    if (entries != nullptr) CopyEntries(list, count, entries);
    return 0;
  }

  std::uint32_t QueryConfig(ScHandle service, ServiceConfigInfo* config, std::uint32_t buffer_bytes,
                            std::uint32_t* bytes_needed) override {
    DWORD needed = 0;
    HeapBlock buffer;
    QUERY_SERVICE_CONFIGA* record = nullptr;
    DWORD size = 0;
    if (config != nullptr) {
      buffer = AllocateZeroed(buffer_bytes);
      if (buffer == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
      record = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.get());
      size = buffer_bytes;
    }
    if (!QueryServiceConfigA(ToSc(service), record, size, &needed)) {
      const std::uint32_t code = LastError();
      if (code == ERROR_INSUFFICIENT_BUFFER) *bytes_needed = needed;
      return code;
    }
    if (config == nullptr) return 0;
    config->service_type = record->dwServiceType;
    config->start_type = record->dwStartType;
    config->error_control = record->dwErrorControl;
    config->binary_path_name = Text(record->lpBinaryPathName);
    config->load_order_group = Text(record->lpLoadOrderGroup);
    config->tag_id = record->dwTagId;
    config->dependencies = MultiString(record->lpDependencies);
    config->service_start_name = Text(record->lpServiceStartName);
    config->display_name = Text(record->lpDisplayName);
    return 0;
  }

  std::uint32_t ChangeConfig(ScHandle service, std::uint32_t start_type,
                             const std::string* display_name) override {
    if (!ChangeServiceConfigA(ToSc(service), SERVICE_NO_CHANGE, start_type, SERVICE_NO_CHANGE,
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              display_name != nullptr ? display_name->c_str() : nullptr))
      return LastError();
    return 0;
  }

  std::uint32_t SetDelayedAutoStart(ScHandle service, bool delayed) override {
    SERVICE_DELAYED_AUTO_START_INFO info{};
    info.fDelayedAutostart = delayed ? TRUE : FALSE;
    if (!ChangeServiceConfig2A(ToSc(service), SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &info))
      return LastError();
    return 0;
  }

  std::uint32_t TickCount() override { return GetTickCount(); }

  void Pause(std::uint32_t ms) override { ::Sleep(ms); }
};

}  // namespace

ServiceManager& SystemServiceManager() {
  static Win32ServiceManager manager;
  return manager;
}

}  // namespace halv
