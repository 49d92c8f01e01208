// The rows of the command table and the look-ups over them.
#include "command_table.h"

#include "interpreter.h"
#include "interpreter_commands.h"
#include "listings.h"
#include "update_command.h"

namespace halv {
namespace {

using access::Permission;

constexpr bool kAudited = true;
constexpr bool kNotAudited = false;

// The switches that add commands and help topics.
bool RestartDependentsOn(const ServiceFields& fields) { return fields.restart_dependents; }
bool ListFilterOn(const ServiceFields& fields) { return fields.list_filter; }
bool UpdateOn(const ServiceFields& fields) { return fields.update_enabled; }
bool WatchOn(const ServiceFields& fields) { return fields.watch_enabled; }
bool AuditOn(const ServiceFields& fields) { return fields.audit_log; }

constexpr HelpTopic kStartHelp = {
    {"311-START", "\n\r311-Use the START command to start a service by name",
     "\n\r311- usage:  START <service_name>\n\r311-End of HELP info"},
    nullptr,
    nullptr};
constexpr HelpTopic kStopHelp = {{"311-STOP",
                                  "\n\r311-Use the STOP command to stop a service by name",
                                  "\n\r311- usage:  STOP <service_name>\n\r311-End of HELP info"},
    nullptr,
    nullptr};
constexpr HelpTopic kRestartHelp = {
    {"311-RSTRT", "\n\r311-Use the RSTRT command to restart a service by name.",
     "\n\r311-This command stops and start a service with one command.",
     "\n\r311- usage:  RSTRT <service_name>\n\r311-End of HELP info"},
    nullptr,
    nullptr};
constexpr HelpTopic kStatusHelp = {
    {"311-STATUS", "\n\r311-Use the STATUS command to retrieve service status information.",
     "\n\r311- usage:  STATUS <service_name>\n\r311-End of HELP info"},
    nullptr,
    nullptr};
constexpr HelpTopic kPlainListHelp = {
    {"311-LIST", "\n\r311-Use the LIST command to retrieve the list of server services.",
     "\n\r311- usage:  LIST [ <service_name> ]\n\r311-End of HELP info"},
    nullptr,
    nullptr};
constexpr HelpTopic kStimeHelp = {
    {"311-STIME", "\n\r311-Use the STIME command to retrieve the server's local time.",
     "\n\r311- usage:  stime\n\r311-End of HELP info"},
    nullptr,
    nullptr};
constexpr HelpTopic kWhoHelp = {
    {"311-WHO", "\n\r311-Use the WHO command to list the users connected to the server.",
     "\n\r311- usage:  who\n\r311-End of HELP info"},
    nullptr,
    nullptr};
constexpr HelpTopic kViewHelp = {
    {"311-VIEW", "\n\r311-Use the VIEW command to list the content of the log file.",
     "\n\r311- usage:  view\n\r311-End of HELP info"},
    nullptr,
    nullptr};
constexpr HelpTopic kPlainUpdateHelp = {
    {"311-UPDATE", "\n\r311-Use the UPDATE command to set service properties.  Please refer to the",
     "\n\r311-LIST command to see the available service properties.",
     "\n\r311- usage:  UPDATE <service_name> <property> <value>\n\r311-End of HELP info"},
    nullptr,
    nullptr};
// With ListFilter: LIST's pattern.
constexpr HelpTopic kListHelp = {
    {"311-LIST", "\n\r311-Use the LIST command to retrieve the list of server services.",
     "\n\r311-With a pattern, only the services whose name or display name it matches",
     "\n\r311-(any case; * stands for any characters, ? for any one character).",
     "\n\r311- usage:  LIST [ <pattern> ]\n\r311-End of HELP info"},
    ListFilterOn,
    &kPlainListHelp};
// With UpdateEnabled: the properties UPDATE changes.
constexpr HelpTopic kUpdateHelp = {
    {"311-UPDATE",
     "\n\r311-Use the UPDATE command to change the start type or the display name of a service.",
     "\n\r311- usage:  UPDATE <service_name> StartType <Automatic|Delayed|Manual|Disabled>",
     "\n\r311-         UPDATE <service_name> DisplayName <text>\n\r311-End of HELP info"},
    UpdateOn,
    &kPlainUpdateHelp};
// DEPS's topic comes with RestartDependents, the switch of the stops and
// restarts whose dependants it shows.
constexpr HelpTopic kDepsHelp = {
    {"311-DEPS",
     "\n\r311-Use the DEPS command to list the running services that STOP would stop with a",
     "\n\r311-service, in the order it stops them.",
     "\n\r311- usage:  DEPS <service_name>\n\r311-End of HELP info"},
    RestartDependentsOn,
    nullptr};
constexpr HelpTopic kWatchHelp = {
    {"311-WATCH",
     "\n\r311-Use the WATCH command to follow the state of services: a line for each change,",
     "\n\r311-of the services named or, with no name, of every service. Any line ends it.",
     "\n\r311- usage:  WATCH [ <service_name> ... ]\n\r311-End of HELP info"},
    WatchOn,
    nullptr};
constexpr HelpTopic kQuitHelp = {{"311-QUIT", "\n\r311-Use the QUIT command to exit HalvexaService",
                                  "\n\r311- usage:  QUIT\n\r311-End of HELP info"},
    nullptr,
    nullptr};
constexpr HelpTopic kHelpHelp = {
    {"311-HELP",
     "\n\r311-Use the HELP command to list valid commands and command topic information",
     "\n\r311- usage:  HELP [ <topic> ]\n\r311-End of HELP info"},
    nullptr,
    nullptr};

constexpr HelpTopic kAuditHelp = {
    {"311-AUDIT", "\n\r311-Use the AUDIT command to list the last records of the audit trail.",
     "\n\r311- usage:  AUDIT [ <count> ]   (default 20, at most 1000)\n\r311-End of HELP info"},
    nullptr,
    nullptr};

// AUTH's row serves while logins are not required; while they are, the
// access check answers AUTH itself (see HandledByAccessControl).
constexpr CommandRow kCommands[] = {
    // word, handler, permission, audited, operation, help, enabled
    {"open", PromptOnly, Permission::kNone, kNotAudited, OperationKind::kNone, nullptr, nullptr},
    {"auth", PromptOnly, Permission::kNone, kNotAudited, OperationKind::kNone, nullptr, nullptr},
    {"start", OperationWithoutScheduler, Permission::kAllowStart, kAudited, OperationKind::kStart,
     &kStartHelp, nullptr},
    {"cycle", Cycle, Permission::kAdminUser, kAudited, OperationKind::kNone, nullptr, nullptr},
    {"stop", OperationWithoutScheduler, Permission::kAllowStop, kAudited, OperationKind::kStop,
     &kStopHelp, nullptr},
    {"rstrt", OperationWithoutScheduler, Permission::kAllowRestart, kAudited,
     OperationKind::kRestart, &kRestartHelp, nullptr},
    {"who", Who, Permission::kLoginOrAllowList, kNotAudited, OperationKind::kNone, &kWhoHelp, nullptr},
    {"init", Init, Permission::kAdminUser, kAudited, OperationKind::kNone, nullptr, nullptr},
    {"stime", ServerTime, Permission::kNone, kNotAudited, OperationKind::kNone, &kStimeHelp, nullptr},
    {"display", DisplayParameters, Permission::kAllowList, kNotAudited, OperationKind::kNone,
     nullptr, nullptr},
    {"view", View, Permission::kAdminUser, kNotAudited, OperationKind::kNone, &kViewHelp, nullptr},
    {"list", ListServices, Permission::kAllowList, kNotAudited, OperationKind::kNone, &kListHelp, nullptr},
    {"update", UpdateService, Permission::kAllowUpdate, kAudited, OperationKind::kNone,
     &kUpdateHelp, nullptr},
    {"quit", Quit, Permission::kNone, kNotAudited, OperationKind::kNone, &kQuitHelp, nullptr},
    {"status", ShowServiceStatus, Permission::kAllowStatus, kNotAudited, OperationKind::kNone,
     &kStatusHelp, nullptr},
    {"help", Help, Permission::kNone, kNotAudited, OperationKind::kNone, &kHelpHelp, nullptr},
    {"deps", ListDependants, Permission::kAllowStatus, kNotAudited, OperationKind::kNone,
     &kDepsHelp, nullptr},
    {"watch", WatchWithoutWatcher, Permission::kAllowStatus, kNotAudited, OperationKind::kNone,
     &kWatchHelp, WatchOn},
    {"audit", AuditRecords, Permission::kAllowList, kNotAudited, OperationKind::kNone,
     &kAuditHelp, AuditOn},
};

}  // namespace

std::span<const CommandRow> CommandTable() { return kCommands; }

const CommandRow* FindCommand(std::string_view word, const ServiceFields& fields) {
  for (const CommandRow& row : kCommands) {
    if (SameWordIgnoringCase(word, row.word))
      return row.enabled == nullptr || row.enabled(fields) ? &row : nullptr;
  }
  return nullptr;
}

const HelpTopic* HelpTopicOf(const CommandRow& row, const ServiceFields& fields) {
  const HelpTopic* topic = row.help;
  while (topic != nullptr && topic->shown != nullptr && !topic->shown(fields))
    topic = topic->otherwise;
  return topic;
}

access::Permission RequiredPermission(std::string_view command, const ServiceFields& fields) {
  const CommandRow* row = FindCommand(command, fields);
  return row != nullptr ? row->permission : Permission::kNone;
}

bool IsAudited(std::string_view command, const ServiceFields& fields) {
  const CommandRow* row = FindCommand(command, fields);
  return row != nullptr && row->audited;
}

}  // namespace halv
