// ApplicationEventLog: the service's entries in the Windows Application event
// log, under its event source.
//
// The source is registered on first use (RegisterEventSourceA) and released
// with the object. An error is an entry with category 0, event identifier 0
// and the text as its one string, which the message table of halvexa351.exe
// shows as it is; an audit entry has its kind's identifier and six inserts. Any thread: the service thread records its
// errors here, the control thread a failed status report.
#ifndef HALV_SERVICE_WIN_APPLICATION_EVENT_LOG_H_
#define HALV_SERVICE_WIN_APPLICATION_EVENT_LOG_H_

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "service_ports.h"

namespace halv {

class ApplicationEventLog final : public EventLog {
 public:
  // `source`: the event source's name (the service name).
  explicit ApplicationEventLog(std::string source) : source_(std::move(source)) {}
  ~ApplicationEventLog() override;
  ApplicationEventLog(const ApplicationEventLog&) = delete;
  ApplicationEventLog& operator=(const ApplicationEventLog&) = delete;

  // Records `text` as one error entry; a log that cannot be reached is
  // passed over.
  void ReportError(const std::string& text) override;
  // One audit entry: event identifier `id` (the message table's text with
  // the inserts), a warning or an information entry.
  void ReportAudit(std::uint32_t id, bool warning,
                   const std::vector<std::string>& inserts) override;

 private:
  std::string source_;
  std::mutex mutex_;
  HANDLE handle_ = nullptr;
};

}  // namespace halv

#endif  // HALV_SERVICE_WIN_APPLICATION_EVENT_LOG_H_
