// The reporting commands of the command language: LIST (every Windows
// service with its state, start type and logon account), STATUS (the state of
// one service), DEPS and DISPLAY (the service's own parameters).
//
// Each sends its reply pieces on `client` one send per piece, and ends with
// the prompt ":: ". Called on the service thread by the
// interpreter; send failures propagate as the connection raises them.
#ifndef HALV_SERVICE_CORE_LISTINGS_H_
#define HALV_SERVICE_CORE_LISTINGS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "connection.h"
#include "server_context.h"
#include "words.h"

namespace halv {

// Lists every service the manager enumerates, in its order; the words of the
// line are ignored, unless ListFilter is on: then word 1, when given, is a
// pattern and only the services whose name or display name it matches are
// listed (see MatchesPattern). A manager that cannot be opened is reported through
// ReportScmError after the header. A service whose configuration cannot be
// read shows "Unknown" as its start type and an empty logon account.
void ListServices(ServerContext& server, Connection& client, const CommandLine& line);

// Whether `pattern` matches the whole of `text`, ASCII letters compared
// without regard to case; "*" stands for any run of characters (none
// included), "?" for any one character.
bool MatchesPattern(std::string_view pattern, std::string_view text);

// Sends the state of the service named by word 1; any failure to read it
// shows as "Unable to determine status.\n\r".
void ShowServiceStatus(ServerContext& server, Connection& client, const CommandLine& line);

// DEPS <service>: the running dependants a STOP of word 1 stops (with
// StopDependencies on), in stop order, as a table: kDependantsHeader, the
// rule, a row each, then the prompt. A failure to open the service or list
// its dependants ends the table with the error text. Asks the manager on the
// calling (service) thread, as STATUS does.
void ListDependants(ServerContext& server, Connection& client, const CommandLine& line);

// Sends the twelve parameters of the service object.
void DisplayParameters(ServerContext& server, Connection& client, const CommandLine& line);

// The words of the tables: LIST's state and start-type words, STATUS's texts.
// Numbers outside the known ranges give "Unknown" / "Unable to determine
// status.\n\r".
std::string_view StateWord(std::uint32_t state);
std::string_view StartTypeWord(std::uint32_t start_type);
std::string StatusText(std::uint32_t state);

}  // namespace halv

#endif  // HALV_SERVICE_CORE_LISTINGS_H_
