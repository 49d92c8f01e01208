// The Win32 side of the service core's ports: the log library, the clock with the machine facts, what the commands open (VIEW's
// file, the system's manager) and the timers of the service thread's loop.
// (The configuration and the accounts are read through WinRegistry, the
// event log is ApplicationEventLog, the listener ServerSocket.)
#ifndef HALV_SERVICE_WIN_HOST_PORTS_H_
#define HALV_SERVICE_WIN_HOST_PORTS_H_

#include <cstdint>
#include <memory>
#include <string>

#include "date_format.h"
#include "event_loop.h"
#include "service_ports.h"

namespace halv {

// Opens server logs through halvsyslog (SystemLog).
class SystemLogLibrary final : public LogLibrary {
 public:
  std::unique_ptr<ServerLog> Open(const std::string& library_path,
                                  const std::string& log_path) override;
};

// The local clock, the program's version resource, the computer and account
// names.
class WindowsMachine final : public Clock, public MachineInfo {
 public:
  LocalTime Now() const override;
  UtcTime UtcNow() const override;
  std::uint64_t TickMs() const override;
  std::string FileVersion(const std::string& path) override;
  std::string ComputerName() override;
  std::string UserName() override;
};

// VIEW's files (OpenSharedFile) and the system's Service Control Manager.
class SystemCommands final : public CommandHost {
 public:
  std::unique_ptr<ByteSource> OpenShared(const std::string& path) override;
  ServiceManager& Manager() override;
};

// One timer of an event loop: Timer1 or the idle check. Loop thread.
class LoopTimer final : public RestartTimer {
 public:
  // `on_tick` runs on the loop's thread at each tick; `loop` must outlive
  // the timer.
  LoopTimer(EventLoop& loop, EventLoop::TimerId id, EventLoop::Callback on_tick)
      : loop_(loop), id_(id), on_tick_(std::move(on_tick)) {}
  // "" or the system's text for the failure.
  std::string Start(std::int32_t interval_ms) override;
  void Stop() override { loop_.StopTimer(id_); }

 private:
  EventLoop& loop_;
  EventLoop::TimerId id_;
  EventLoop::Callback on_tick_;
};

// The system locale's month names (English where the locale has none).
MonthNames LocaleMonthNames();

}  // namespace halv

#endif  // HALV_SERVICE_WIN_HOST_PORTS_H_
