// The simulated Service Control Manager: services, handles, the virtual clock
// and the call record.
#include "simulated_manager.h"

#include <cctype>
#include <stdexcept>
#include <utility>

namespace halv {
namespace {

constexpr std::uint32_t kAcceptStop = 1;
// Far more calls than any sound operation makes: a runaway poll loop ends
// the test with an exception rather than hanging it.
constexpr std::size_t kMaxCalls = 500000;

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

bool Pending(std::uint32_t state) {
  return state == kStateStartPending || state == kStateStopPending;
}

}  // namespace

SimulatedManager::SimulatedManager(std::uint32_t start_tick) : start_tick_(start_tick) {}

SimulatedService& SimulatedManager::AddService(const std::string& name,
                                               const std::string& display_name,
                                               std::uint32_t state) {
  SimulatedService& service = services_.emplace_back();
  service.name = name;
  service.display_name = display_name;
  service.state = state;
  service.state_since = elapsed_ms_;
  return service;
}

void SimulatedManager::AddDependency(const std::string& service, const std::string& dependant) {
  SimulatedService* s = Find(service);
  if (s == nullptr) throw std::invalid_argument("no simulated service " + service);
  s->dependants.push_back(dependant);
}

SimulatedService* SimulatedManager::Find(std::string_view name) {
  for (SimulatedService& service : services_) {
    if (SameName(service.name, name)) return &service;
  }
  return nullptr;
}

void SimulatedManager::SetState(const std::string& name, std::uint32_t state) {
  SimulatedService* s = Find(name);
  if (s == nullptr) throw std::invalid_argument("no simulated service " + name);
  s->state = state;
  s->state_since = elapsed_ms_;
}

std::uint32_t SimulatedManager::StateOf(std::string_view name) {
  SimulatedService* s = Find(name);
  if (s == nullptr) return 0;
  Settle(*s);
  return s->state;
}

std::size_t SimulatedManager::CountCalls(std::string_view op, std::string_view target) const {
  std::size_t n = 0;
  for (const SimulatedCall& call : calls_) {
    if (call.op == op && (target.empty() || SameName(call.target, target))) ++n;
  }
  return n;
}

std::vector<std::uint32_t> SimulatedManager::Pauses() const {
  std::vector<std::uint32_t> pauses;
  for (const SimulatedCall& call : calls_) {
    if (call.op == "Pause") pauses.push_back(call.arg);
  }
  return pauses;
}

std::string SimulatedManager::Transcript() const {
  std::string text;
  for (const SimulatedCall& call : calls_) {
    if (call.op == "TickCount" || call.op == "Pause") continue;
    text += call.op + " " + call.target + " " + std::to_string(call.arg) + " -> " +
            std::to_string(call.result) + "\n";
  }
  return text;
}

void SimulatedManager::BeginCall() {
  if (calls_.size() >= kMaxCalls)
    throw std::runtime_error("simulated manager: too many calls (endless poll?)");
  elapsed_ms_ += call_cost_ms_;
}

std::uint32_t SimulatedManager::Record(std::string op, std::string target, std::uint32_t arg,
                                       std::uint32_t result) {
  calls_.push_back({std::move(op), std::move(target), arg, result, Now()});
  if (hook_) hook_(calls_.back());
  return result;
}

void SimulatedManager::Settle(SimulatedService& s) {
  if (s.state == kStateStartPending && s.start_delay_ms != kForever &&
      elapsed_ms_ - s.state_since >= s.start_delay_ms) {
    s.state_since += s.start_delay_ms;
    if (s.start_exit_code != 0) {
      s.state = kStateStopped;
      s.win32_exit_code = s.start_exit_code;
    } else {
      s.state = kStateRunning;
    }
  }
  if (s.state == kStateStopPending && s.stop_delay_ms != kForever &&
      elapsed_ms_ - s.state_since >= s.stop_delay_ms) {
    s.state_since += s.stop_delay_ms;
    s.state = kStateStopped;
  }
}

ServiceStatusInfo SimulatedManager::StatusOf(SimulatedService& s) {
  Settle(s);
  ServiceStatusInfo status;
  status.service_type = s.service_type;
  status.current_state = s.state;
  status.controls_accepted = (s.state == kStateRunning && s.accepts_stop) ? kAcceptStop : 0;
  status.win32_exit_code = s.win32_exit_code;
  if (Pending(s.state)) {
    const std::uint64_t pending_for = elapsed_ms_ - s.state_since;
    std::uint64_t check_point = 1;
    if (s.check_point_every_ms != 0) check_point += pending_for / s.check_point_every_ms;
    status.check_point = static_cast<std::uint32_t>(check_point);
    status.wait_hint = s.state == kStateStartPending ? s.start_wait_hint : s.stop_wait_hint;
  }
  return status;
}

SimulatedService* SimulatedManager::ServiceFor(ScHandle handle, std::uint32_t access,
                                               std::uint32_t* code, std::string* target) {
  auto it = handles_.find(handle);
  if (it == handles_.end() || it->second.is_manager) {
    *code = kErrorInvalidHandle;
    *target = "?";
    return nullptr;
  }
  *target = it->second.service->name;
  if ((it->second.access & access) != access) {
    *code = kErrorAccessDenied;
    return nullptr;
  }
  *code = 0;
  return it->second.service;
}

bool SimulatedManager::InState(const SimulatedService& s, std::uint32_t selector) {
  const bool active = s.state != kStateStopped;
  if (selector == kServiceActive) return active;
  if (selector == kServiceInactive) return !active;
  return true;
}

std::uint32_t SimulatedManager::OpenManager(std::uint32_t access, ScHandle* manager) {
  BeginCall();
  if (refuse_open_manager_ != 0) return Record("OpenManager", "SCM", access, refuse_open_manager_);
  const ScHandle h = next_handle_;
  next_handle_ += 4;
  handles_[h] = HandleInfo{true, nullptr, access};
  *manager = h;
  return Record("OpenManager", "SCM", access, 0);
}

std::uint32_t SimulatedManager::OpenServiceByName(ScHandle manager, const std::string& name,
                                                  std::uint32_t access, ScHandle* service) {
  BeginCall();
  auto it = handles_.find(manager);
  std::uint32_t code = 0;
  SimulatedService* s = nullptr;
  if (it == handles_.end() || !it->second.is_manager) {
    code = kErrorInvalidHandle;
  } else if ((it->second.access & kScManagerConnect) == 0) {
    code = kErrorAccessDenied;
  } else if (name.empty() || name.size() > 256 || name.find_first_of("/\\") != std::string::npos) {
    code = kErrorInvalidName;
  } else if ((s = Find(name)) == nullptr) {
    code = kErrorServiceDoesNotExist;
  } else if (s->refuse_open != 0) {
    code = s->refuse_open;
  }
  if (code != 0) return Record("OpenService", name, access, code);
  const ScHandle h = next_handle_;
  next_handle_ += 4;
  handles_[h] = HandleInfo{false, s, access};
  *service = h;
  return Record("OpenService", s->name, access, 0);
}

std::uint32_t SimulatedManager::Close(ScHandle handle) {
  BeginCall();
  auto it = handles_.find(handle);
  if (it == handles_.end()) {
    ++bad_closes_;
    return Record("Close", "?", 0, kErrorInvalidHandle);
  }
  const std::string target = it->second.is_manager ? "SCM" : it->second.service->name;
  handles_.erase(it);
  return Record("Close", target, 0, 0);
}

std::uint32_t SimulatedManager::QueryStatus(ScHandle service, ServiceStatusInfo* status) {
  BeginCall();
  std::uint32_t code = 0;
  std::string target;
  SimulatedService* s = ServiceFor(service, kServiceQueryStatus, &code, &target);
  if (s != nullptr && s->refuse_query != 0) {
    if (s->queries >= s->queries_before_refusal) code = s->refuse_query;
  }
  if (code != 0) return Record("QueryStatus", target, 0, code);
  ++s->queries;
  *status = StatusOf(*s);
  return Record("QueryStatus", target, 0, 0);
}

std::uint32_t SimulatedManager::Control(ScHandle service, std::uint32_t control,
                                        ServiceStatusInfo* status) {
  BeginCall();
  std::uint32_t code = 0;
  std::string target;
  const std::uint32_t access = control == kServiceControlStop ? kServiceStop : 0;
  SimulatedService* s = ServiceFor(service, access, &code, &target);
  if (s != nullptr) {
    Settle(*s);
    if (s->refuse_control != 0) {
      code = s->refuse_control;
    } else if (control != kServiceControlStop) {
      code = kErrorInvalidServiceControl;
    } else if (s->state == kStateStopped) {
      code = kErrorServiceNotActive;
    } else if (Pending(s->state)) {
      code = kErrorServiceCannotAcceptCtrl;
    } else if (!s->accepts_stop) {
      code = kErrorInvalidServiceControl;
    } else {
      for (const std::string& name : s->dependants) {
        SimulatedService* d = Find(name);
        if (d != nullptr && d != s) {
          Settle(*d);
          if (d->state != kStateStopped) code = kErrorDependentServicesRunning;
        }
      }
    }
  }
  if (code != 0) return Record("Control", target, control, code);
  s->state = kStateStopPending;
  s->state_since = elapsed_ms_;
  s->win32_exit_code = 0;
  *status = StatusOf(*s);
  return Record("Control", target, control, 0);
}

std::uint32_t SimulatedManager::Start(ScHandle service) {
  BeginCall();
  std::uint32_t code = 0;
  std::string target;
  SimulatedService* s = ServiceFor(service, kServiceStart, &code, &target);
  if (s != nullptr) {
    Settle(*s);
    if (s->refuse_start != 0) {
      code = s->refuse_start;
    } else if (s->start_type == 4) {
      code = kErrorServiceDisabled;
    } else if (s->state != kStateStopped) {
      code = kErrorServiceAlreadyRunning;
    }
  }
  if (code != 0) return Record("Start", target, 0, code);
  s->state = kStateStartPending;
  s->state_since = elapsed_ms_;
  s->win32_exit_code = 0;
  Settle(*s);
  return Record("Start", target, 0, 0);
}

std::uint32_t SimulatedManager::EnumDependents(ScHandle service, std::uint32_t state,
                                               std::vector<ServiceEntry>* entries,
                                               std::uint32_t buffer_bytes,
                                               std::uint32_t* bytes_needed) {
  BeginCall();
  std::uint32_t code = 0;
  std::string target;
  SimulatedService* s = ServiceFor(service, kServiceEnumerateDependents, &code, &target);
  if (s != nullptr && s->refuse_enum_dependents != 0) code = s->refuse_enum_dependents;
  const std::uint32_t arg = entries != nullptr ? buffer_bytes : 0;
  if (code != 0) return Record("EnumDependents", target, arg, code);

  std::vector<ServiceEntry> found;
  std::uint32_t needed = 0;
  for (const std::string& name : s->dependants) {
    SimulatedService* d = Find(name);
    if (d == nullptr) continue;
    Settle(*d);
    if (!InState(*d, state)) continue;
    found.push_back(ServiceEntry{d->name, d->display_name, StatusOf(*d)});
    needed += EntrySize(*d);
  }
  if (found.empty()) {
    if (entries != nullptr) entries->clear();
    return Record("EnumDependents", target, arg, 0);
  }
  if (entries == nullptr || buffer_bytes < needed) {
    *bytes_needed = needed;
    return Record("EnumDependents", target, arg, kErrorMoreData);
  }
  *entries = std::move(found);
  return Record("EnumDependents", target, arg, 0);
}

std::uint32_t SimulatedManager::EnumServices(
    ScHandle manager, std::uint32_t type, std::uint32_t state, std::vector<ServiceEntry>* entries,
    std::uint32_t buffer_bytes, std::uint32_t* bytes_needed, std::uint32_t* resume_handle) {
  BeginCall();
  const std::uint32_t arg = entries != nullptr ? buffer_bytes : 0;
  auto it = handles_.find(manager);
  std::uint32_t code = 0;
  if (it == handles_.end() || !it->second.is_manager) {
    code = kErrorInvalidHandle;
  } else if ((it->second.access & kScManagerEnumerateService) == 0) {
    code = kErrorAccessDenied;
  } else if (refuse_enum_services_ != 0) {
    code = refuse_enum_services_;
  }
  if (code != 0) return Record("EnumServices", "SCM", arg, code);

  std::vector<ServiceEntry> found;
  std::uint32_t needed = 0;
  for (std::size_t i = *resume_handle; i < services_.size(); ++i) {
    SimulatedService& s = services_[i];
    Settle(s);
    if ((s.service_type & type) == 0 || !InState(s, state)) continue;
    found.push_back(ServiceEntry{s.name, s.display_name, StatusOf(s)});
    needed += EntrySize(s);
  }
  if (!found.empty() && (entries == nullptr || buffer_bytes < needed)) {
    *bytes_needed = needed;
    return Record("EnumServices", "SCM", arg, kErrorMoreData);
  }
  *resume_handle = 0;
  if (entries != nullptr) *entries = std::move(found);
  return Record("EnumServices", "SCM", arg, 0);
}

std::uint32_t SimulatedManager::QueryConfig(ScHandle service, ServiceConfigInfo* config,
                                            std::uint32_t buffer_bytes,
                                            std::uint32_t* bytes_needed) {
  BeginCall();
  std::uint32_t code = 0;
  std::string target;
  SimulatedService* s = ServiceFor(service, kServiceQueryConfig, &code, &target);
  if (s != nullptr && s->refuse_config != 0) code = s->refuse_config;
  const std::uint32_t arg = config != nullptr ? buffer_bytes : 0;
  if (code != 0) return Record("QueryConfig", target, arg, code);
  const std::uint32_t needed = ConfigSize(*s);
  if (config == nullptr || buffer_bytes < needed) {
    *bytes_needed = needed;
    return Record("QueryConfig", target, arg, kErrorInsufficientBuffer);
  }
  config->service_type = s->service_type;
  config->start_type = s->start_type;
  config->error_control = s->error_control;
  config->binary_path_name = s->binary_path;
  config->load_order_group.clear();
  config->tag_id = 0;
  config->dependencies.clear();
  config->service_start_name = s->start_name;
  config->display_name = s->display_name;
  return Record("QueryConfig", target, arg, 0);
}

std::uint32_t SimulatedManager::ChangeConfig(ScHandle service, std::uint32_t start_type,
                                             const std::string* display_name) {
  BeginCall();
  std::uint32_t code = 0;
  std::string target;
  SimulatedService* s = ServiceFor(service, kServiceChangeConfig, &code, &target);
  if (s != nullptr && s->refuse_change_config != 0) code = s->refuse_change_config;
  // As the manager: a start type it does not know, or an empty display name.
  if (code == 0 && start_type != kServiceNoChange && start_type > kServiceDisabled)
    code = kErrorInvalidParameter;
  if (code == 0 && display_name != nullptr && display_name->empty()) code = kErrorInvalidParameter;
  if (code != 0) return Record("ChangeConfig", target, start_type, code);
  if (start_type != kServiceNoChange) s->start_type = start_type;
  if (display_name != nullptr) s->display_name = *display_name;
  return Record("ChangeConfig", target, start_type, 0);
}

std::uint32_t SimulatedManager::SetDelayedAutoStart(ScHandle service, bool delayed) {
  BeginCall();
  std::uint32_t code = 0;
  std::string target;
  SimulatedService* s = ServiceFor(service, kServiceChangeConfig, &code, &target);
  if (s != nullptr && s->refuse_delayed_start != 0) code = s->refuse_delayed_start;
  if (code != 0) return Record("SetDelayedAutoStart", target, delayed ? 1 : 0, code);
  s->delayed_auto_start = delayed;
  return Record("SetDelayedAutoStart", target, delayed ? 1 : 0, 0);
}

std::uint32_t SimulatedManager::TickCount() {
  const std::uint32_t now = Now();
  calls_.push_back({"TickCount", "", 0, now, now});
  return now;
}

void SimulatedManager::Pause(std::uint32_t ms) {
  if (calls_.size() >= kMaxCalls)
    throw std::runtime_error("simulated manager: too many calls (endless poll?)");
  calls_.push_back({"Pause", "", ms, 0, Now()});
  elapsed_ms_ += ms;
}

std::uint32_t SimulatedManager::EntrySize(const SimulatedService& s) {
  // ENUM_SERVICE_STATUSA on 64-bit Windows, then both names with their zeros.
  return static_cast<std::uint32_t>(48 + s.name.size() + 1 + s.display_name.size() + 1);
}

std::uint32_t SimulatedManager::ConfigSize(const SimulatedService& s) {
  // QUERY_SERVICE_CONFIGA on 64-bit Windows, then its texts: path, group,
  // dependency list (two zeros), start name, display name.
  return static_cast<std::uint32_t>(64 + s.binary_path.size() + 1 + 1 + 2 + s.start_name.size() +
                                    1 + s.display_name.size() + 1);
}

}  // namespace halv
