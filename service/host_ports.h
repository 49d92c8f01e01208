// The Win32 side of the service core's ports that the service object does
// not keep itself: the log library, and the clock with the machine facts.
// (The configuration and the accounts are read through WinRegistry.)
#ifndef HALV_SERVICE_HOST_PORTS_H_
#define HALV_SERVICE_HOST_PORTS_H_

#include <memory>
#include <string>

#include "date_format.h"
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
  std::uint64_t TickMs() const override;
  std::string FileVersion(const std::string& path) override;
  std::string ComputerName() override;
  std::string UserName() override;
};

// The system locale's month names (English where the locale has none).
MonthNames LocaleMonthNames();

}  // namespace halv

#endif  // HALV_SERVICE_HOST_PORTS_H_
