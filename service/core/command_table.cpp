// The rows of the command table and the look-ups over them.
#include "command_table.h"

#include "interpreter.h"
#include "interpreter_commands.h"
#include "listings.h"

namespace halv {
namespace {

using access::Permission;

constexpr bool kAudited = true;
constexpr bool kNotAudited = false;

constexpr HelpTopic kStartHelp = {
    {"311-START", "\n\r311-Use the START command to start a service by name",
     "\n\r311- usage:  START <service_name>\n\r311-End of HELP info"}};
constexpr HelpTopic kStopHelp = {{"311-STOP",
                                  "\n\r311-Use the STOP command to stop a service by name",
                                  "\n\r311- usage:  STOP <service_name>\n\r311-End of HELP info"}};
constexpr HelpTopic kRestartHelp = {
    {"311-RSTRT", "\n\r311-Use the RSTRT command to restart a service by name.",
     "\n\r311-This command stops and start a service with one command.",
     "\n\r311- usage:  RSTRT <service_name>\n\r311-End of HELP info"}};
constexpr HelpTopic kStatusHelp = {
    {"311-STATUS", "\n\r311-Use the STATUS command to retrieve service status information.",
     "\n\r311- usage:  STATUS <service_name>\n\r311-End of HELP info"}};
constexpr HelpTopic kListHelp = {
    {"311-LIST", "\n\r311-Use the LIST command to retrieve the list of server services.",
     "\n\r311- usage:  LIST [ <service_name> ]\n\r311-End of HELP info"}};
constexpr HelpTopic kStimeHelp = {
    {"311-STIME", "\n\r311-Use the STIME command to retrieve the server's local time.",
     "\n\r311- usage:  stime\n\r311-End of HELP info"}};
constexpr HelpTopic kWhoHelp = {
    {"311-WHO", "\n\r311-Use the WHO command to list the users connected to the server.",
     "\n\r311- usage:  who\n\r311-End of HELP info"}};
constexpr HelpTopic kViewHelp = {
    {"311-VIEW", "\n\r311-Use the VIEW command to list the content of the log file.",
     "\n\r311- usage:  view\n\r311-End of HELP info"}};
constexpr HelpTopic kUpdateHelp = {
    {"311-UPDATE", "\n\r311-Use the UPDATE command to set service properties.  Please refer to the",
     "\n\r311-LIST command to see the available service properties.",
     "\n\r311- usage:  UPDATE <service_name> <property> <value>\n\r311-End of HELP info"}};
constexpr HelpTopic kQuitHelp = {{"311-QUIT", "\n\r311-Use the QUIT command to exit HalvexaService",
                                  "\n\r311- usage:  QUIT\n\r311-End of HELP info"}};
constexpr HelpTopic kHelpHelp = {
    {"311-HELP",
     "\n\r311-Use the HELP command to list valid commands and command topic information",
     "\n\r311- usage:  HELP [ <topic> ]\n\r311-End of HELP info"}};

constexpr HelpTopic kAuditHelp = {
    {"311-AUDIT", "\n\r311-Use the AUDIT command to list the last records of the audit trail.",
     "\n\r311- usage:  AUDIT [ <count> ]   (default 20, at most 1000)\n\r311-End of HELP info"}};

bool AuditTrailOn(const ServerContext& server) { return server.AuditOn(); }

// AUTH's row serves while logins are not required; while they are, the
// access check answers AUTH itself (see HandledByAccessControl).
constexpr CommandRow kCommands[] = {
    // word, handler, permission, audited, operation, help
    {"open", PromptOnly, Permission::kNone, kNotAudited, OperationKind::kNone, nullptr},
    {"auth", PromptOnly, Permission::kNone, kNotAudited, OperationKind::kNone, nullptr},
    {"start", OperationWithoutScheduler, Permission::kAllowStart, kAudited, OperationKind::kStart,
     &kStartHelp},
    {"cycle", Cycle, Permission::kAdminUser, kAudited, OperationKind::kNone, nullptr},
    {"stop", OperationWithoutScheduler, Permission::kAllowStop, kAudited, OperationKind::kStop,
     &kStopHelp},
    {"rstrt", OperationWithoutScheduler, Permission::kAllowRestart, kAudited,
     OperationKind::kRestart, &kRestartHelp},
    {"who", Who, Permission::kLoginOrAllowList, kNotAudited, OperationKind::kNone, &kWhoHelp},
    {"init", Init, Permission::kAdminUser, kAudited, OperationKind::kNone, nullptr},
    {"stime", ServerTime, Permission::kNone, kNotAudited, OperationKind::kNone, &kStimeHelp},
    {"display", DisplayParameters, Permission::kAllowList, kNotAudited, OperationKind::kNone,
     nullptr},
    {"view", View, Permission::kAdminUser, kNotAudited, OperationKind::kNone, &kViewHelp},
    {"list", ListServices, Permission::kAllowList, kNotAudited, OperationKind::kNone, &kListHelp},
    {"update", UpdateService, Permission::kAllowUpdate, kAudited, OperationKind::kNone,
     &kUpdateHelp},
    {"quit", Quit, Permission::kNone, kNotAudited, OperationKind::kNone, &kQuitHelp},
    {"status", ShowServiceStatus, Permission::kAllowStatus, kNotAudited, OperationKind::kNone,
     &kStatusHelp},
    {"help", Help, Permission::kNone, kNotAudited, OperationKind::kNone, &kHelpHelp},
    {"deps", ListDependants, Permission::kAllowStatus, kNotAudited, OperationKind::kNone, nullptr},
    {"audit", AuditRecords, Permission::kAllowList, kNotAudited, OperationKind::kNone, &kAuditHelp,
     AuditTrailOn},
};

}  // namespace

std::span<const CommandRow> CommandTable() { return kCommands; }

const CommandRow* FindCommand(std::string_view word) {
  for (const CommandRow& row : kCommands) {
    if (SameWordIgnoringCase(word, row.word)) return &row;
  }
  return nullptr;
}

const CommandRow* FindAvailableCommand(const ServerContext& server, std::string_view word) {
  const CommandRow* row = FindCommand(word);
  if (row != nullptr && row->available != nullptr && !row->available(server)) return nullptr;
  return row;
}

access::Permission RequiredPermission(std::string_view command) {
  const CommandRow* row = FindCommand(command);
  return row != nullptr ? row->permission : Permission::kNone;
}

bool IsAudited(std::string_view command) {
  const CommandRow* row = FindCommand(command);
  return row != nullptr && row->audited;
}

}  // namespace halv
