// START, STOP and RSTRT as operations that run away from the service
// thread: what an operation is (its kind, its service and the settings
// taken when its command started), the manager work of each of its steps,
// and the reply texts around them.
//
// The command runner sends the heading and submits the operation; the
// operation scheduler runs the steps on a worker, and the service thread
// sends each step's result as it comes back, then the prompt.
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

// What a command waits for. kNone is a command that does not wait (the
// command table's rows say which); a ServiceOperation is never kNone.
enum class OperationKind { kNone, kStart, kStop, kRestart };

// One step of an operation: START has a start, STOP a stop, RSTRT a stop and
// then a start (tried whatever the stop gave). With RestartDependents, RSTRT
// then has a kStartDependant for each dependant its stop stopped, in reverse
// order of stopping (known only once the stop has run).
enum class OperationStep { kStop, kStart, kStartDependant };

// The settings a stop uses, as they were when its command started.
struct OperationSettings {
  bool stop_dependencies = true;
  std::uint32_t stop_timeout_ms = 30000;
  // RestartDependents "1": RSTRT starts again the dependants its stop stopped.
  bool restart_dependents = false;

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

// The operation a line asks for: that of its command's row in the command
// table (word 0 compared without regard to case), with word 1 as the
// service and the settings of `fields`; nothing for a line whose command
// does not wait or is no command.
std::optional<ServiceOperation> ServiceOperationOf(const CommandLine& line,
                                                   const ServiceFields& fields);

// True for a STOP or RSTRT of this service itself (its name in any case):
// the command runner refuses it with SelfControlRefusalText.
bool StopsThisService(const ServiceOperation& operation);

// True when `operation` is a RSTRT that starts again the dependants its stop
// stops (RestartDependents and StopDependencies both on).
bool RestartsDependants(const ServiceOperation& operation);

// True when `operation` is a RSTRT that stops running dependants of its
// service (StopDependencies on) and does not start them again
// (RestartDependents off), as `scm` lists them now; false when they cannot be
// listed (the stop then fails before stopping any). Asks `scm` only for a
// RSTRT; the service thread calls it for the permission check.
bool LeavesDependantsStopped(ServiceManager& scm, const ServiceOperation& operation);

// The steps of `operation`, in order (none for kNone), without the
// kStartDependant steps a RSTRT may add once its stop has run.
std::vector<OperationStep> StepsOf(const ServiceOperation& operation);

// "Starting Service...NAME\n\r", "Stopping Service...NAME\n\r" or
// "Restarting Service...NAME\n\r": the line sent before the wait.
std::string OperationHeading(const ServiceOperation& operation);

// Runs one step through `scm` and returns its code (0 or a system error
// code). A stop appends the dependants it stopped to `stopped` when that is
// set; a kStartDependant starts `dependant`. Touches nothing but `scm`, so
// any thread may call it.
std::uint32_t RunOperationStep(ServiceManager& scm, const ServiceOperation& operation,
                               OperationStep step, std::vector<std::string>* stopped = nullptr,
                               const std::string& dependant = {});

// Sends what step `step` gave: its error text, or its success line; for a
// kStartDependant, one line naming `dependant` (with the code on failure).
void SendStepResult(Connection& client, const ServiceOperation& operation, OperationStep step,
                    std::uint32_t code, const std::string& dependant = {});

}  // namespace halv

#endif  // HALV_SERVICE_CORE_SERVICE_OPERATION_H_
