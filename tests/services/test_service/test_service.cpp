// halv_test_service: a small Windows service for tests of the service-control
// operations against a real Service Control Manager.
//
// It reports start-pending for a start delay, then runs until it gets a stop
// control, then reports stop-pending for a stop delay and stops. While
// pending it advances its check point at a fixed interval and reports the
// configured wait hints. The timings come from switches on its command line
// (the binary path it was registered with):
//   --start-delay=MS --stop-delay=MS --start-wait-hint=MS --stop-wait-hint=MS
//   --check-point-every=MS --start-exit-code=N
// and then from values of the same names without dashes (StartDelay,
// StopDelay, StartWaitHint, StopWaitHint, CheckPointEvery, StartExitCode;
// REG_DWORD or decimal REG_SZ) under
// HKEY_LOCAL_MACHINE\SOFTWARE\HalvexaTests\Services\<service name>, which win.
// A non-zero start exit code ends the start with the service stopped and
// that Win32 exit code.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "win/handles.h"

namespace {

struct Timings {
  DWORD start_delay = 0;
  DWORD stop_delay = 0;
  DWORD start_wait_hint = 3000;
  DWORD stop_wait_hint = 3000;
  DWORD check_point_every = 250;
  DWORD start_exit_code = 0;
};

struct Setting {
  const char* switch_name;
  const char* value_name;
  DWORD Timings::*field;
};

constexpr Setting kSettings[] = {
    {"--start-delay=", "StartDelay", &Timings::start_delay},
    {"--stop-delay=", "StopDelay", &Timings::stop_delay},
    {"--start-wait-hint=", "StartWaitHint", &Timings::start_wait_hint},
    {"--stop-wait-hint=", "StopWaitHint", &Timings::stop_wait_hint},
    {"--check-point-every=", "CheckPointEvery", &Timings::check_point_every},
    {"--start-exit-code=", "StartExitCode", &Timings::start_exit_code},
};

Timings g_timings;
SERVICE_STATUS_HANDLE g_status_handle = nullptr;
HANDLE g_stop_event = nullptr;
SERVICE_STATUS g_status{};
// The handler and the service thread both report; this keeps g_status whole.
SRWLOCK g_status_lock = SRWLOCK_INIT;

void Report(DWORD state, DWORD wait_hint, DWORD check_point, DWORD exit_code = NO_ERROR) {
  AcquireSRWLockExclusive(&g_status_lock);
  g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_status.dwCurrentState = state;
  g_status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  g_status.dwWin32ExitCode = exit_code;
  g_status.dwServiceSpecificExitCode = 0;
  g_status.dwCheckPoint = check_point;
  g_status.dwWaitHint = wait_hint;
  SetServiceStatus(g_status_handle, &g_status);
  ReleaseSRWLockExclusive(&g_status_lock);
}

// Stays in `state` for `delay` ms, advancing the check point as it goes.
void Pending(DWORD state, DWORD delay, DWORD wait_hint) {
  DWORD check_point = 1;
  Report(state, wait_hint, check_point);
  const DWORD step = g_timings.check_point_every != 0 ? g_timings.check_point_every : delay;
  DWORD waited = 0;
  while (waited < delay) {
    const DWORD slice = delay - waited < step ? delay - waited : step;
    Sleep(slice);
    waited += slice;
    Report(state, wait_hint, ++check_point);
  }
}

void ReadRegistry(const char* service_name) {
  const std::string path = std::string("SOFTWARE\\HalvexaTests\\Services\\") + service_name;
  halv::win::RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS)
    return;
  for (const Setting& setting : kSettings) {
    BYTE data[64] = {};
    DWORD size = sizeof(data) - 1;
    DWORD type = 0;
    if (RegQueryValueExA(key.get(), setting.value_name, nullptr, &type, data, &size) !=
        ERROR_SUCCESS)
      continue;
    if (type == REG_DWORD && size == sizeof(DWORD)) {
      std::memcpy(&(g_timings.*setting.field), data, sizeof(DWORD));
    } else if (type == REG_SZ) {
      g_timings.*setting.field =
          static_cast<DWORD>(std::strtoul(reinterpret_cast<char*>(data), nullptr, 10));
    }
  }
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      // Stop-pending before returning, so the stop control's answer says so.
      Report(SERVICE_STOP_PENDING, g_timings.stop_wait_hint, 1);
      SetEvent(g_stop_event);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;  // the manager keeps the last status reported
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD argc, char** argv) {
  const char* name = argc > 0 ? argv[0] : "";
  ReadRegistry(name);
  g_status_handle = RegisterServiceCtrlHandlerExA(name, Handler, nullptr);
  if (g_status_handle == nullptr) return;
  g_stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (g_stop_event == nullptr) {
    Report(SERVICE_STOPPED, 0, 0, GetLastError());
    return;
  }

  Pending(SERVICE_START_PENDING, g_timings.start_delay, g_timings.start_wait_hint);
  if (g_timings.start_exit_code != 0) {
    CloseHandle(g_stop_event);
    Report(SERVICE_STOPPED, 0, 0, g_timings.start_exit_code);
    return;
  }
  Report(SERVICE_RUNNING, 0, 0);
  WaitForSingleObject(g_stop_event, INFINITE);
  Pending(SERVICE_STOP_PENDING, g_timings.stop_delay, g_timings.stop_wait_hint);
  CloseHandle(g_stop_event);
  Report(SERVICE_STOPPED, 0, 0);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    for (const Setting& setting : kSettings) {
      const std::size_t n = std::strlen(setting.switch_name);
      if (std::strncmp(argv[i], setting.switch_name, n) == 0) {
        g_timings.*setting.field = static_cast<DWORD>(std::strtoul(argv[i] + n, nullptr, 10));
      }
    }
  }
  char empty_name[] = "";
  SERVICE_TABLE_ENTRYA table[] = {{empty_name, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) {
    std::fprintf(stderr,
                 "halv_test_service runs only as a service (error %lu); register it with its "
                 "binary path and start it through the service manager.\n",
                 static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  return 0;
}
