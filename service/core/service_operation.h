// START, STOP and RSTRT as operations that can run away from the service
// thread: what an operation is (its kind, its service and the settings
// taken when its command started), the manager work of each of its steps,
// and the reply texts around them.
//
// The interpreter runs an operation inline; the operation scheduler runs the
// steps on a worker and the service thread sends the texts as each step's
// result comes back. Either way the client sees the same sends.
#ifndef HALV_SERVICE_CORE_SERVICE_OPERATION_H_
#define HALV_SERVICE_CORE_SERVICE_OPERATION_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "connection.h"
#include "server_context.h"
#include "words.h"

namespace halv {

class ServiceManager;

enum class OperationKind { kStart, kStop, kRestart };

// One step of an operation: START has a start, STOP a stop, RSTRT a stop and
// then a start (tried whatever the stop gave).
enum class OperationStep { kStop, kStart };

// The settings a stop uses, as they were when its command started.
struct OperationSettings {
  bool stop_dependencies = true;
  std::uint32_t stop_timeout_ms = 30000;

  // From the service's fields; a negative time-out counts as 0 (no waiting),
  // as the console takes it.
  static OperationSettings From(const ServiceFields& fields);
  bool operator==(const OperationSettings&) const = default;
};

struct ServiceOperation {
  OperationKind kind = OperationKind::kStart;
  std::string service;  // word 1 of the line, as typed (empty when missing)
  OperationSettings settings;
};

// The operation a START, STOP or RSTRT line asks for (word 0 compared
// without regard to case), with the settings of `fields`; nothing for any
// other line.
std::optional<ServiceOperation> ServiceOperationOf(const CommandLine& line,
                                                   const ServiceFields& fields);

// The steps of `operation`, in order.
std::vector<OperationStep> StepsOf(const ServiceOperation& operation);

// "Starting Service...NAME\n\r", "Stopping Service...NAME\n\r" or
// "Restarting Service...NAME\n\r": the line sent before the wait.
std::string OperationHeading(const ServiceOperation& operation);

// Runs one step through `scm` and returns its code (0 or a system error
// code). Touches nothing but `scm`, so any thread may call it.
std::uint32_t RunOperationStep(ServiceManager& scm, const ServiceOperation& operation,
                               OperationStep step);

// Sends what step `step` gave: its error text, or its success line.
void SendStepResult(Connection& client, const ServiceOperation& operation, OperationStep step,
                    std::uint32_t code);

// The whole operation on the calling thread: heading, each step and its
// result, then the prompt.
void RunOperationInline(ServiceManager& scm, Connection& client, const ServiceOperation& operation);

}  // namespace halv

#endif  // HALV_SERVICE_CORE_SERVICE_OPERATION_H_
