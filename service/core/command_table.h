// The command table: one row per command of the language, with everything
// the service knows about it. The interpreter chooses a line's command here,
// the permission check reads what it needs, the audit trail whether it is
// recorded, the command runner whether it waits (and which operation it
// asks the scheduler for), and HELP <topic> its help texts. Adding a command
// is adding a row.
//
// The table is constant data; any thread may read it.
#ifndef HALV_SERVICE_CORE_COMMAND_TABLE_H_
#define HALV_SERVICE_CORE_COMMAND_TABLE_H_

#include <span>
#include <string_view>

#include "connection.h"
#include "permissions.h"
#include "server_context.h"
#include "service_operation.h"
#include "words.h"

namespace halv {

// Runs one command line and hands its reply pieces to the connection, in
// order, then its prompt. Service thread.
using CommandHandler = void (*)(ServerContext& server, Connection& client, const CommandLine& line);

// The texts HELP <topic> sends before its prompt, in order; unused slots are
// empty. A topic shown only under some configuration would add its
// condition here.
struct HelpTopic {
  std::string_view texts[4];
};

struct CommandRow {
  std::string_view word;  // lower case; a line's word 0 matches it in any case
  // Runs the command. For a command that waits it is only the answer given
  // when no scheduler is behind the caller (see ProcessCommand).
  CommandHandler handler;
  access::Permission permission;  // what the command needs while logins are required
  bool audited;                   // whether the audit trail records its use
  // kNone: runs at once on the service thread; otherwise the operation the
  // command runner hands to the scheduler, and the command waits for it.
  OperationKind operation;
  const HelpTopic* help;  // the texts of HELP <word>; null when it has no topic
  // Null: always a command. Otherwise, while it returns false the word is
  // no command at all (500, no permission, no HELP topic), as before the
  // option that brings it was set.
  bool (*available)(const ServerContext& server) = nullptr;
};

// Every command, in the order lines are matched against them.
std::span<const CommandRow> CommandTable();

// The row whose word equals `word` without regard to ASCII letter case;
// null for a word that is no command (the 500 reply).
const CommandRow* FindCommand(std::string_view word);

// FindCommand, then null for a row that `server` does not offer now.
const CommandRow* FindAvailableCommand(const ServerContext& server, std::string_view word);

// The permission that the command word `command` (any letter case) needs;
// kNone for the commands anyone may use and for words that are no command.
access::Permission RequiredPermission(std::string_view command);

// Whether the audit trail records the use of `command` (any letter case).
bool IsAudited(std::string_view command);

}  // namespace halv

#endif  // HALV_SERVICE_CORE_COMMAND_TABLE_H_
