// A simulated Service Control Manager for tests, on a virtual clock.
//
// It models services (state, dependants, start type, logon account, wait
// hints, check points, start and stop delays, refusals with a given code)
// and answers the ServiceManager calls the way the Windows manager does:
// access rights are checked per handle, a stop with running dependants is
// refused with 1051, starting a running service gives 1056 and so on. Time
// passes only through Pause and a fixed cost per manager call, so a
// 30-second time-out runs in microseconds. Every call is recorded.
//
// Typical use:
//   halv::SimulatedManager scm;
//   auto& spooler = scm.AddService("Spooler", "Print Spooler", halv::kStateRunning);
//   spooler.stop_delay_ms = 3000;
//   spooler.stop_wait_hint = 1000;
//   EXPECT_EQ(halv::StopServiceAndDependents(scm, "Spooler", true, 30000), 0u);
//   EXPECT_EQ(scm.StateOf("Spooler"), halv::kStateStopped);
//   EXPECT_EQ(scm.OpenHandleCount(), 0u);
#ifndef HALV_TESTS_FAKES_SCM_SIMULATED_MANAGER_H_
#define HALV_TESTS_FAKES_SCM_SIMULATED_MANAGER_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "service_manager.h"

namespace halv {

// A delay that never ends: the service stays pending.
inline constexpr std::uint32_t kForever = 0xFFFFFFFF;

// One simulated service. Tests set the fields directly (before or between
// operations); use SimulatedManager::SetState to change the state, so that a
// pending state starts its delay at the current virtual time.
struct SimulatedService {
  std::string name;
  std::string display_name;
  std::uint32_t service_type = 0x10;  // own process
  std::uint32_t start_type = 3;       // demand
  bool delayed_auto_start = false;    // an automatic start waits for the others
  std::uint32_t error_control = 1;
  std::string binary_path = "C:\\Windows\\system32\\svc.exe";
  std::string start_name = "LocalSystem";
  // Names of the services that depend on this one, in the order the manager
  // lists them. They must be added as services too.
  std::vector<std::string> dependants;

  // A start stays start-pending this long (virtual ms), then the service
  // runs, or stops with `start_exit_code` when that is not 0. A stop stays
  // stop-pending for `stop_delay_ms`. kForever keeps it pending.
  std::uint32_t start_delay_ms = 0;
  std::uint32_t stop_delay_ms = 0;
  std::uint32_t start_exit_code = 0;
  // dwWaitHint reported while start-pending / stop-pending.
  std::uint32_t start_wait_hint = 0;
  std::uint32_t stop_wait_hint = 0;
  // While pending, dwCheckPoint is 1 + the whole intervals elapsed since the
  // pending state began; 0 keeps it at 1 (no progress).
  std::uint32_t check_point_every_ms = 0;
  // False: a stop control is refused with 1052.
  bool accepts_stop = true;

  // Refusals: a non-zero code makes the call fail with that code.
  std::uint32_t refuse_open = 0;
  std::uint32_t refuse_query = 0;
  std::uint32_t refuse_control = 0;
  std::uint32_t refuse_start = 0;
  std::uint32_t refuse_config = 0;
  std::uint32_t refuse_enum_dependents = 0;
  std::uint32_t refuse_change_config = 0;  // ChangeConfig
  std::uint32_t refuse_delayed_start = 0;  // SetDelayedAutoStart
  // Number of status queries that succeed before `refuse_query` applies.
  std::uint32_t queries_before_refusal = 0;

  // Kept by the simulator.
  std::uint32_t state = kStateStopped;
  std::uint32_t win32_exit_code = 0;
  std::uint64_t state_since = 0;  // virtual ms at which `state` began
  std::uint32_t queries = 0;      // status queries answered so far
};

// One recorded call. `op` is the method name ("OpenManager", "OpenService",
// "Close", "QueryStatus", "Control", "Start", "EnumDependents",
// "EnumServices", "QueryConfig", "ChangeConfig", "SetDelayedAutoStart",
// "TickCount", "Pause"); `target` the service name, "SCM" for the manager, ""
// for the clock; `arg` the access mask, control code, start type, 1/0 for a
// delayed start, buffer size or pause length; `result` the code returned (the
// tick for TickCount); `tick` the tick counter when the call was made.
struct SimulatedCall {
  std::string op;
  std::string target;
  std::uint32_t arg = 0;
  std::uint32_t result = 0;
  std::uint32_t tick = 0;
};

class SimulatedManager final : public ServiceManager {
 public:
  // `start_tick` is the tick counter's first value (set it near 2^32 to test
  // a wrap).
  explicit SimulatedManager(std::uint32_t start_tick = 1000000);

  // --- Set-up ---

  // Adds a service in `state` (a pending state starts its delay now) and
  // returns it for further settings. The reference stays valid.
  SimulatedService& AddService(const std::string& name, const std::string& display_name,
                               std::uint32_t state = kStateStopped);
  // Makes `dependant` depend on `service` (appended to its dependants).
  void AddDependency(const std::string& service, const std::string& dependant);
  // The service of that name (case-insensitive), or null.
  SimulatedService* Find(std::string_view name);
  // Sets the state; a pending state starts its delay now.
  void SetState(const std::string& name, std::uint32_t state);
  // The state as of now (0 for an unknown name), without recording a call.
  std::uint32_t StateOf(std::string_view name);

  // A non-zero code makes OpenManager / EnumServices fail with it.
  void RefuseOpenManager(std::uint32_t code) { refuse_open_manager_ = code; }
  void RefuseEnumServices(std::uint32_t code) { refuse_enum_services_ = code; }
  // Virtual ms each manager call takes (default 1; TickCount and Pause take
  // none). It keeps a poll without pause from spinning forever.
  void SetCallCost(std::uint32_t ms) { call_cost_ms_ = ms; }
  // Called after each recorded call, e.g. to change a service part-way.
  void SetHook(std::function<void(const SimulatedCall&)> hook) { hook_ = std::move(hook); }

  // --- Clock ---

  std::uint32_t Now() const { return static_cast<std::uint32_t>(start_tick_ + elapsed_ms_); }
  // Virtual ms since construction (does not wrap).
  std::uint64_t Elapsed() const { return elapsed_ms_; }
  void Advance(std::uint32_t ms) { elapsed_ms_ += ms; }
  // Sets the tick counter's current value (e.g. just below 2^32).
  void SetTickCount(std::uint32_t tick) {
    start_tick_ = tick - static_cast<std::uint32_t>(elapsed_ms_);
  }

  // --- Record ---

  const std::vector<SimulatedCall>& Calls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }
  // Calls of `op` (on `target` when given).
  std::size_t CountCalls(std::string_view op, std::string_view target = {}) const;
  // The lengths of the pauses, in order.
  std::vector<std::uint32_t> Pauses() const;
  // One line per call: "<op> <target> <arg> -> <result>" (clock calls left out).
  std::string Transcript() const;
  // Handles opened and not yet closed.
  std::size_t OpenHandleCount() const { return handles_.size(); }
  // Close calls with a handle that was not open.
  std::size_t BadCloseCount() const { return bad_closes_; }

  // --- ServiceManager ---

  std::uint32_t OpenManager(std::uint32_t access, ScHandle* manager) override;
  std::uint32_t OpenServiceByName(ScHandle manager, const std::string& name, std::uint32_t access,
                                  ScHandle* service) override;
  std::uint32_t Close(ScHandle handle) override;
  std::uint32_t QueryStatus(ScHandle service, ServiceStatusInfo* status) override;
  std::uint32_t Control(ScHandle service, std::uint32_t control,
                        ServiceStatusInfo* status) override;
  std::uint32_t Start(ScHandle service) override;
  std::uint32_t EnumDependents(ScHandle service, std::uint32_t state,
                               std::vector<ServiceEntry>* entries, std::uint32_t buffer_bytes,
                               std::uint32_t* bytes_needed) override;
  std::uint32_t EnumServices(ScHandle manager, std::uint32_t type, std::uint32_t state,
                             std::vector<ServiceEntry>* entries, std::uint32_t buffer_bytes,
                             std::uint32_t* bytes_needed, std::uint32_t* resume_handle) override;
  std::uint32_t QueryConfig(ScHandle service, ServiceConfigInfo* config, std::uint32_t buffer_bytes,
                            std::uint32_t* bytes_needed) override;
  std::uint32_t ChangeConfig(ScHandle service, std::uint32_t start_type,
                             const std::string* display_name) override;
  std::uint32_t SetDelayedAutoStart(ScHandle service, bool delayed) override;
  std::uint32_t TickCount() override;
  void Pause(std::uint32_t ms) override;

  // The byte sizes the simulator names for the two-step calls (the Win32
  // record plus its texts).
  static std::uint32_t EntrySize(const SimulatedService& service);
  static std::uint32_t ConfigSize(const SimulatedService& service);

 private:
  struct HandleInfo {
    bool is_manager = false;
    SimulatedService* service = nullptr;
    std::uint32_t access = 0;
  };

  // Advances the clock by the call cost and settles pending states.
  void BeginCall();
  std::uint32_t Record(std::string op, std::string target, std::uint32_t arg, std::uint32_t result);
  void Settle(SimulatedService& service);
  ServiceStatusInfo StatusOf(SimulatedService& service);
  // The service behind a service handle, or null (with *code set) when the
  // handle is not an open service handle or lacks `access`.
  SimulatedService* ServiceFor(ScHandle handle, std::uint32_t access, std::uint32_t* code,
                               std::string* target);
  bool InState(const SimulatedService& service, std::uint32_t state_selector);

  std::uint32_t start_tick_;
  std::uint64_t elapsed_ms_ = 0;
  std::uint32_t call_cost_ms_ = 1;
  std::uint32_t refuse_open_manager_ = 0;
  std::uint32_t refuse_enum_services_ = 0;
  std::deque<SimulatedService> services_;
  std::map<ScHandle, HandleInfo> handles_;
  ScHandle next_handle_ = 0x1000;
  std::vector<SimulatedCall> calls_;
  std::size_t bad_closes_ = 0;
  std::function<void(const SimulatedCall&)> hook_;
};

}  // namespace halv

#endif  // HALV_TESTS_FAKES_SCM_SIMULATED_MANAGER_H_
