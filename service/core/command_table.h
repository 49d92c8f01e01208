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

// Whether a row or a help topic applies under the configuration in force
// (a switch of the System key); null stands for "always".
using FieldsCondition = bool (*)(const ServiceFields& fields);

// The texts HELP <topic> sends before its prompt, in order; unused slots are
// empty. A topic with a condition is shown only while it holds; otherwise
// `otherwise` is (it may have a condition in turn), or no topic at all.
struct HelpTopic {
  std::string_view texts[6];
  FieldsCondition shown;
  const HelpTopic* otherwise;
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
  // Null: always a command. Otherwise the word is a command only while this
  // holds, and an unknown word (the 500 reply) while it does not.
  FieldsCondition enabled;
};

// Every command, in the order lines are matched against them (also those
// switched off by the configuration).
std::span<const CommandRow> CommandTable();

// The row whose word equals `word` without regard to ASCII letter case and
// that is enabled under `fields`; null for a word that is no command (the
// 500 reply).
const CommandRow* FindCommand(std::string_view word, const ServiceFields& fields);

// The help topic of `row` shown under `fields`; null when none is (the 504
// reply).
const HelpTopic* HelpTopicOf(const CommandRow& row, const ServiceFields& fields);

// The permission that the command word `command` (any letter case) needs;
// kNone for the commands anyone may use and for words that are no command.
access::Permission RequiredPermission(std::string_view command, const ServiceFields& fields);

// Whether the audit trail records the use of `command` (any letter case).
bool IsAudited(std::string_view command, const ServiceFields& fields);

}  // namespace halv

#endif  // HALV_SERVICE_CORE_COMMAND_TABLE_H_
