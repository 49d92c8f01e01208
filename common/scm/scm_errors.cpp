// The client texts for the codes the service-control operations return.
//
// The texts go to remote clients as they stand, with their own "\n\r" line
// ends; the 124 text keeps its unbalanced parenthesis.
#include <cstdint>
#include <string>

#include "service_control.h"

namespace halv {
namespace {

struct ErrorText {
  std::uint32_t code;
  const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {3, "The service binary file could not be found.\n\r"},
    {5, "The requested access was denied.\n\r"},
    {6, "The specified handle is invalid.\n\r"},
    {87, "A parameter that was specified is invalid.\n\r"},
    {123, "The specified service name is invalid.\n\r"},
    {124,
     "The InfoLevel parameter contains an unsupported value (Info may not be available for your "
     "operating system.\n\r"},
    {234, "The buffer is not large enough.\n\r"},
    {1051, "The service cannot be stopped because other running services are dependent on it.\n\r"},
    {1052, "The requested control code is not valid, or it is unacceptable to the service.\n\r"},
    {1053, "The service did not respond to the start request in a timely fashion.\n\r"},
    {1054, "A thread could not be created for the Win32 service.\n\r"},
    {1055, "The database is locked.\n\r"},
    {1056, "An instance of the service is already running.\n\r"},
    {1058, "The service has been disabled.\n\r"},
    {1060, "Service does not exist.\n\r"},
    {1061,
     "The requested control code cannot be sent to the service because the state of the service "
     "is SERVICE_STOPPED, SERVICE_START_PENDING, or SERVICE_STOP_PENDING.\n\r"},
    {1062, "The service has not been started.\n\r"},
    {1065, "The specified database does not exist.\n\r"},
    {1068, "The service depends on another service that has failed to start.\n\r"},
    {1069, "The service could not be logged on.\n\r"},
    {1072, "The service has been marked for deletion.\n\r"},
    {1075,
     "The service depends on a service that does not exist or has been marked for deletion.\n\r"},
    {1115, "The system is shutting down; this function cannot be called.\n\r"},
};

}  // namespace

std::string ScmErrorText(std::uint32_t code) {
  if (code == 0) return {};
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.code == code) return entry.text;
  }
  return "The specified service error is not known for error code " + std::to_string(code) +
         ".\n\r";
}

}  // namespace halv
