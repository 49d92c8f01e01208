// Reading the audit trail's and the server log's optional values.
#include "log_options.h"

#include <exception>

#include "config_schema.h"
#include "halv_error.h"

namespace halv {
namespace {

// "", "0" or "1": nothing, No or Yes; raises otherwise.
std::optional<bool> NoYes(const char* name, const std::string& text) {
  if (text.empty()) return std::nullopt;
  return config::NoYesValue(config::SystemValue(name), text);
}

// A whole number within the table's bounds of `name`; nothing for "".
std::optional<std::int64_t> Bounded(const char* name, const std::string& text) {
  if (text.empty()) return std::nullopt;
  return config::BoundedWholeNumber(config::SystemValue(name), text);
}

}  // namespace

LogOptions ReadLogOptions(const std::function<std::string(const char*)>& text_of,
                          std::vector<std::string>& errors) {
  LogOptions options;
  const auto guarded = [&errors](auto&& read) {
    try {
      read();
    } catch (const std::exception& e) {
      errors.emplace_back(e.what());
    }
  };
  guarded([&] {
    try {
      options.audit_log = NoYes(config::kAuditLog, text_of(config::kAuditLog)).value_or(false);
    } catch (...) {
      options.audit_log = true;  // fails closed: the trail stays on
      throw;
    }
  });
  guarded([&] {
    if (auto n = Bounded(config::kAuditMaxBytes, text_of(config::kAuditMaxBytes)))
      options.audit_max_bytes = static_cast<std::uint64_t>(*n);
  });
  guarded([&] {
    if (auto n = Bounded(config::kAuditMaxFiles, text_of(config::kAuditMaxFiles)))
      options.audit_max_files = static_cast<std::uint32_t>(*n);
  });
  guarded([&] {
    options.log_timestamps =
        NoYes(config::kLogTimestamps, text_of(config::kLogTimestamps)).value_or(false);
  });
  guarded([&] {
    if (auto n = Bounded(config::kLogMaxFiles, text_of(config::kLogMaxFiles)))
      options.log_max_files = static_cast<std::uint32_t>(*n);
  });
  return options;
}

}  // namespace halv
