// The system's message text for a Windows error code.
#include "system_error_text.h"

#include <windows.h>

namespace halv {

std::string SystemErrorText(unsigned long code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out = (n != 0 && text != nullptr) ? std::string(text, n) : std::string();
  if (text != nullptr) LocalFree(text);
  while (!out.empty() && (out.back() == '\r' || out.back() == '\n' || out.back() == ' '))
    out.pop_back();
  return out;
}

}  // namespace halv
