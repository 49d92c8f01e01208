// START, STOP and RSTRT: the steps and their reply texts.
#include "service_operation.h"

#include "command_table.h"
#include "config_schema.h"
#include "reply_text.h"
#include "report_scm_error.h"
#include "service_control.h"

namespace halv {

OperationSettings OperationSettings::From(const ServiceFields& fields) {
  OperationSettings settings;
  settings.stop_dependencies = fields.stop_dependencies;
  settings.stop_timeout_ms =
      fields.stop_timeout < 0 ? 0u : static_cast<std::uint32_t>(fields.stop_timeout);
  settings.restart_dependents = fields.restart_dependents;
  return settings;
}

std::optional<ServiceOperation> ServiceOperationOf(const CommandLine& line,
                                                   const ServiceFields& fields) {
  const CommandRow* row = FindCommand(line.Word(0), fields);
  if (row == nullptr || row->operation == OperationKind::kNone) return std::nullopt;
  ServiceOperation operation;
  operation.kind = row->operation;
  operation.service = std::string(line.Word(1));
  operation.settings = OperationSettings::From(fields);
  return operation;
}

bool StopsThisService(const ServiceOperation& operation) {
  return operation.kind != OperationKind::kStart && operation.kind != OperationKind::kNone &&
         SameWordIgnoringCase(operation.service, config::kServiceName);
}

bool RestartsDependants(const ServiceOperation& operation) {
  return operation.kind == OperationKind::kRestart && operation.settings.stop_dependencies &&
         operation.settings.restart_dependents;
}

bool LeavesDependantsStopped(ServiceManager& scm, const ServiceOperation& operation) {
  if (operation.kind != OperationKind::kRestart || !operation.settings.stop_dependencies ||
      operation.settings.restart_dependents)
    return false;
  std::vector<ServiceEntry> dependants;
  return ListActiveDependants(scm, operation.service, &dependants) == 0 && !dependants.empty();
}

std::vector<OperationStep> StepsOf(const ServiceOperation& operation) {
  switch (operation.kind) {
    case OperationKind::kNone:
      return {};
    case OperationKind::kStart:
      return {OperationStep::kStart};
    case OperationKind::kStop:
      return {OperationStep::kStop};
    case OperationKind::kRestart:
      break;
  }
  return {OperationStep::kStop, OperationStep::kStart};
}

std::string OperationHeading(const ServiceOperation& operation) {
  switch (operation.kind) {
    case OperationKind::kNone:
    case OperationKind::kStart:
      return std::string(kStartingHeading) + operation.service + std::string(kLineEnd);
    case OperationKind::kStop:
      return std::string(kStoppingHeading) + operation.service + std::string(kLineEnd);
    case OperationKind::kRestart:
      break;
  }
  return std::string(kRestartingHeading) + operation.service + std::string(kLineEnd);
}

std::uint32_t RunOperationStep(ServiceManager& scm, const ServiceOperation& operation,
                               OperationStep step, std::vector<std::string>* stopped,
                               const std::string& dependant) {
  switch (step) {
    case OperationStep::kStart:
      return StartServiceAndWait(scm, operation.service);
    case OperationStep::kStartDependant:
      return StartServiceAndWait(scm, dependant);
    case OperationStep::kStop:
      break;
  }
  return StopServiceAndDependents(scm, operation.service, operation.settings.stop_dependencies,
                                  operation.settings.stop_timeout_ms, stopped);
}

void SendStepResult(Connection& client, const ServiceOperation& operation, OperationStep step,
                    std::uint32_t code, const std::string& dependant) {
  if (step == OperationStep::kStartDependant) {
    client.SendText(DependantStartText(dependant, code));
    return;
  }
  if (code != 0) {
    ReportScmError(client, code);
    return;
  }
  const bool restart = operation.kind == OperationKind::kRestart;
  const std::string_view line = step == OperationStep::kStop
                                    ? (restart ? kRestartStoppedLine : kStoppedLine)
                                    : (restart ? kRestartStartedLine : kStartedLine);
  client.SendText(std::string(line) + std::string(kLineEnd));
}

}  // namespace halv
