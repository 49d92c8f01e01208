// Sending the client text for a service-control failure.
#include "report_scm_error.h"

#include "service_control.h"

namespace halv {

void ReportScmError(Connection& connection, std::uint32_t code) {
  if (code != 0) connection.SendText(ScmErrorText(code));
}

}  // namespace halv
