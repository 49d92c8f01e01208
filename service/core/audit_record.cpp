// The audit record's JSON line and event-log inserts.
#include "audit_record.h"

#include <cstdio>

#include "log_text.h"
#include "permissions.h"
#include "protocol_text.h"

namespace halv {

std::string_view AuditEventName(AuditEvent event) {
  switch (event) {
    case AuditEvent::kCommandDone:
      return "command";
    case AuditEvent::kCommandFailed:
      return "command-failed";
    case AuditEvent::kCommandRefused:
      return "command-refused";
    case AuditEvent::kCommandCancelled:
      return "command-cancelled";
    case AuditEvent::kLogin:
      return "login";
    case AuditEvent::kLoginFailed:
      return "login-failed";
    case AuditEvent::kConnectionRefused:
      return "connection-refused";
    case AuditEvent::kSuppressed:
      return "suppressed";
  }
  return "unknown";
}

bool IsWarning(AuditEvent event) {
  return event != AuditEvent::kCommandDone && event != AuditEvent::kLogin;
}

std::string Rfc3339(const UtcTime& t) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  return text;
}

std::string JsonEscape(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
      default:
        break;
    }
    if (byte >= 32 && byte <= 126) {
      out.push_back(c);
    } else {
      // Bytes above 126 too: a client's bytes need not be UTF-8.
      out += "\\u00";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xf]);
    }
  }
  return out;
}

std::string AuditJsonLine(const AuditRecord& r, const UtcTime& time) {
  std::string line = "{\"time\":\"" + Rfc3339(time) + "\",\"event\":\"";
  line += AuditEventName(r.event);
  line += "\",\"user\":\"" + JsonEscape(r.user) + "\",\"peer\":\"" + JsonEscape(r.peer) +
          "\",\"command\":\"" + JsonEscape(r.command) + "\",\"service\":\"" +
          JsonEscape(r.service) + "\",\"result\":" + std::to_string(r.result) + ",\"text\":\"" +
          JsonEscape(r.text) + "\"}";
  return line;
}

std::vector<std::string> AuditInserts(const AuditRecord& r) {
  using access::EscapeClientBytes;
  return {EscapeClientBytes(r.user),    EscapeClientBytes(r.peer),
          EscapeClientBytes(r.command), EscapeClientBytes(r.service),
          std::to_string(r.result),     EscapeClientBytes(r.text)};
}

std::string AuditCommandText(const std::vector<std::string>& words) {
  if (words.empty()) return {};
  std::string out = access::UpperCase(words[0]);
  const bool auth = SameWordIgnoringCase(words[0], "auth");
  for (std::size_t i = 1; i < words.size() && !(auth && i > 1); ++i) out += " " + words[i];
  return out;
}

}  // namespace halv
