// START, STOP and RSTRT: the steps and their reply texts.
#include "service_operation.h"

#include "interpreter.h"
#include "reply_text.h"
#include "report_scm_error.h"
#include "service_control.h"

namespace halv {

OperationSettings OperationSettings::From(const ServiceFields& fields) {
  OperationSettings settings;
  settings.stop_dependencies = fields.stop_dependencies;
  settings.stop_timeout_ms =
      fields.stop_timeout < 0 ? 0u : static_cast<std::uint32_t>(fields.stop_timeout);
  return settings;
}

std::optional<ServiceOperation> ServiceOperationOf(const CommandLine& line,
                                                   const ServiceFields& fields) {
  const std::string_view word = line.Word(0);
  ServiceOperation operation;
  if (SameWordIgnoringCase(word, "start")) {
    operation.kind = OperationKind::kStart;
  } else if (SameWordIgnoringCase(word, "stop")) {
    operation.kind = OperationKind::kStop;
  } else if (SameWordIgnoringCase(word, "rstrt")) {
    operation.kind = OperationKind::kRestart;
  } else {
    return std::nullopt;
  }
  operation.service = std::string(line.Word(1));
  operation.settings = OperationSettings::From(fields);
  return operation;
}

std::vector<OperationStep> StepsOf(const ServiceOperation& operation) {
  switch (operation.kind) {
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
    case OperationKind::kStart:
      return "Starting Service..." + operation.service + "\n\r";
    case OperationKind::kStop:
      return "Stopping Service..." + operation.service + "\n\r";
    case OperationKind::kRestart:
      break;
  }
  return "Restarting Service..." + operation.service + "\n\r";
}

std::uint32_t RunOperationStep(ServiceManager& scm, const ServiceOperation& operation,
                               OperationStep step) {
  if (step == OperationStep::kStart) return StartServiceAndWait(scm, operation.service);
  return StopServiceAndDependents(scm, operation.service, operation.settings.stop_dependencies,
                                  operation.settings.stop_timeout_ms);
}

void SendStepResult(Connection& client, const ServiceOperation& operation, OperationStep step,
                    std::uint32_t code) {
  if (code != 0) {
    ReportScmError(client, code);
    return;
  }
  const bool restart = operation.kind == OperationKind::kRestart;
  if (step == OperationStep::kStop) {
    client.SendText(restart ? "Service Stopped...\n\r" : "Service Stopped\n\r");
  } else {
    client.SendText(restart ? "Service Started\n\r" : "Service started\n\r");
  }
}

void RunOperationInline(ServiceManager& scm, Connection& client,
                        const ServiceOperation& operation) {
  client.SendText(OperationHeading(operation));
  for (OperationStep step : StepsOf(operation)) {
    client.Flush();  // what is under way reaches the client before the wait
    SendStepResult(client, operation, step, RunOperationStep(scm, operation, step));
  }
  client.SendText(kPrompt);
}

}  // namespace halv
