// ScmErrorText: the table's texts byte for byte, the generic text, nothing
// for 0.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "service_control.h"

namespace halv {
namespace {

struct TextCase {
  std::uint32_t code;
  const char* text;
};

const TextCase kTextCases[] = {
    {0, ""},
    {3, "The service binary file could not be found.\n\r"},
    {5, "The requested access was denied.\n\r"},
    {6, "The specified handle is invalid.\n\r"},
    {87, "A parameter that was specified is invalid.\n\r"},
    {123, "The specified service name is invalid.\n\r"},
    {124,
     "The InfoLevel parameter contains an unsupported value (Info may not be available for "
     "your operating system.\n\r"},
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
     "The requested control code cannot be sent to the service because the state of the "
     "service is SERVICE_STOPPED, SERVICE_START_PENDING, or SERVICE_STOP_PENDING.\n\r"},
    {1062, "The service has not been started.\n\r"},
    {1065, "The specified database does not exist.\n\r"},
    {1068, "The service depends on another service that has failed to start.\n\r"},
    {1069, "The service could not be logged on.\n\r"},
    {1072, "The service has been marked for deletion.\n\r"},
    {1075,
     "The service depends on a service that does not exist or has been marked for "
     "deletion.\n\r"},
    {1115, "The system is shutting down; this function cannot be called.\n\r"},
    // Everything else: the generic text with the code in unsigned decimal.
    {2, "The specified service error is not known for error code 2.\n\r"},
    {1057, "The specified service error is not known for error code 1057.\n\r"},
    {1460, "The specified service error is not known for error code 1460.\n\r"},
    {0x80000000u, "The specified service error is not known for error code 2147483648.\n\r"},
    {0xFFFFFFFFu, "The specified service error is not known for error code 4294967295.\n\r"},
};

class ErrorTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(ErrorTextTest, ByteForByte) {
  EXPECT_EQ(ScmErrorText(GetParam().code), std::string(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Scm, ErrorTextTest, ::testing::ValuesIn(kTextCases),
                         [](const auto& info) { return "Code" + std::to_string(info.param.code); });

}  // namespace
}  // namespace halv
