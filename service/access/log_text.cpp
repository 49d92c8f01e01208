// Escaping of client bytes for the server log.
#include "log_text.h"

namespace halv::access {

std::string EscapeClientBytes(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\\') {
      out += "\\\\";
    } else if (byte >= 32 && byte <= 126) {
      out.push_back(c);
    } else {
      out += "\\x";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xf]);
    }
  }
  return out;
}

std::string ReceiptLogLine(std::string_view received) {
  return "Receive buffer is >>" + EscapeClientBytes(received) + "\n<<";
}

std::string AuditLine(std::string_view user, std::string_view address, std::string_view action) {
  return "Audit: " + EscapeClientBytes(user) + " at " + EscapeClientBytes(address) + ": " +
         EscapeClientBytes(action);
}

}  // namespace halv::access
