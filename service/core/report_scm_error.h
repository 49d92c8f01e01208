// Sending the client text for a service-control failure.
#ifndef HALV_SERVICE_CORE_REPORT_SCM_ERROR_H_
#define HALV_SERVICE_CORE_REPORT_SCM_ERROR_H_

#include <cstdint>

#include "connection.h"

namespace halv {

// Sends the text of ScmErrorText(code) to `connection` as one text; sends
// nothing for 0. Send failures propagate as the connection raises them.
void ReportScmError(Connection& connection, std::uint32_t code);

}  // namespace halv

#endif  // HALV_SERVICE_CORE_REPORT_SCM_ERROR_H_
