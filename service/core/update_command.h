// UPDATE: changes a service's start type or display name through the
// Service Control Manager while UpdateEnabled is on; without it the old
// answer, which changes nothing.
#ifndef HALV_SERVICE_CORE_UPDATE_COMMAND_H_
#define HALV_SERVICE_CORE_UPDATE_COMMAND_H_

#include <string_view>

#include "connection.h"
#include "server_context.h"
#include "words.h"

namespace halv {

// The numbered lines of a line UPDATE cannot carry out (each ends in "\n\r").
inline constexpr std::string_view kUpdateUsageText =
    "501-Usage: UPDATE <service_name> StartType <Automatic|Delayed|Manual|Disabled> | "
    "UPDATE <service_name> DisplayName <text>\n\r";
inline constexpr std::string_view kUpdateNoStartTypeText =
    "501-StartType needs a value; valid values: Automatic, Delayed, Manual, Disabled\n\r";
inline constexpr std::string_view kUpdateNoDisplayNameText =
    "501-DisplayName needs a value: the new display name\n\r";
// "501-Unknown property 'X'; valid properties: StartType, DisplayName".
std::string UnknownPropertyText(std::string_view property);
// "501-Unknown StartType 'X'; valid values: Automatic, Delayed, Manual, Disabled".
std::string UnknownStartTypeText(std::string_view value);

// UpdateEnabled off: "Updating Service\n\r" and nothing else (no prompt),
// the manager untouched. On: UPDATE <service> StartType <type> or
// UPDATE <service> DisplayName <text...> (the words from 3 on joined by
// single blanks); property and start type in any letter case. One line, then
// the prompt: kServiceUpdatedLead with the service as typed, the property
// and the value in the table's spelling; the manager's error text when it
// refused; or one of the 501 lines above for a line that names no known
// property or value (the manager is then not asked). Asks the manager on the
// calling (service) thread, as STATUS does.
void UpdateService(ServerContext& server, Connection& client, const CommandLine& line);

}  // namespace halv

#endif  // HALV_SERVICE_CORE_UPDATE_COMMAND_H_
