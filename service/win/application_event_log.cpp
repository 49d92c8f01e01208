// Error entries in the Application event log.
#include "application_event_log.h"

namespace halv {

ApplicationEventLog::~ApplicationEventLog() {
  if (handle_ != nullptr) DeregisterEventSource(handle_);
}

void ApplicationEventLog::ReportError(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (handle_ == nullptr) handle_ = RegisterEventSourceA(nullptr, source_.c_str());
  if (handle_ == nullptr) return;
  const char* strings[1] = {text.c_str()};
  ReportEventA(handle_, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
}

void ApplicationEventLog::ReportAudit(std::uint32_t id, bool warning,
                                      const std::vector<std::string>& inserts) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (handle_ == nullptr) handle_ = RegisterEventSourceA(nullptr, source_.c_str());
  if (handle_ == nullptr) return;
  std::vector<const char*> strings;
  for (const std::string& insert : inserts) strings.push_back(insert.c_str());
  ReportEventA(handle_, warning ? EVENTLOG_WARNING_TYPE : EVENTLOG_INFORMATION_TYPE, 0, id,
               nullptr, static_cast<WORD>(strings.size()), 0, strings.data(), nullptr);
}

}  // namespace halv
