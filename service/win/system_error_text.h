// The system's message text for a Windows error code.
#ifndef HALV_SERVICE_SYSTEM_ERROR_TEXT_H_
#define HALV_SERVICE_SYSTEM_ERROR_TEXT_H_

#include <string>

namespace halv {

// The text FormatMessage gives for `code`, without its trailing line end;
// empty when the system has none.
std::string SystemErrorText(unsigned long code);

}  // namespace halv

#endif  // HALV_SERVICE_SYSTEM_ERROR_TEXT_H_
