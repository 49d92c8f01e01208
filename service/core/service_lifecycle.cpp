// The status sequence of the service around its start, run and stop.
#include "service_lifecycle.h"

namespace halv {
namespace {

// Calls one of the service's steps; whatever it raises counts as a failure
// of the service's own.
template <typename Step>
std::uint32_t Guarded(Step step) noexcept {
  try {
    return step();
  } catch (...) {
    return kServiceSpecificExitCode;
  }
}

bool IsPending(HostedState state) {
  return state == HostedState::kStartPending || state == HostedState::kStopPending;
}

}  // namespace

void ServiceLifecycle::ReportLocked(HostedState state, std::uint32_t exit_code) {
  if (!IsPending(state)) {
    check_point_ = 0;
  } else if (state != state_) {
    check_point_ = 1;
  } else {
    ++check_point_;
  }
  state_ = state;
  StatusReport report;
  report.state = state;
  report.accepts_stop = state == HostedState::kRunning;
  report.exit_code = exit_code;
  report.check_point = check_point_;
  report.wait_hint_ms = IsPending(state) ? kPendingWaitHintMs : 0;
  try {
    sink_.Report(report);
  } catch (...) {
    // The sink records its own failures; nothing more can be done here.
  }
}

void ServiceLifecycle::Stopped(std::uint32_t exit_code) {
  std::lock_guard<std::mutex> lock(mutex_);
  ReportLocked(HostedState::kStopped, exit_code);
}

std::uint32_t ServiceLifecycle::Run() noexcept {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    started_ = true;
    ReportLocked(HostedState::kStartPending);
  }
  std::uint32_t code = Guarded([this] { return service_.Open(); });
  if (code != 0) {
    Stopped(code);
    return code;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ReportLocked(HostedState::kStartPending);
  }
  code = Guarded([this] { return service_.Start(); });
  if (code != 0) {
    Stopped(code);
    return code;
  }
  {
    // A control that came during the start is already with the service,
    // which carries it out as soon as it runs: not reported as running.
    std::lock_guard<std::mutex> lock(mutex_);
    ReportLocked(requested_ ? HostedState::kStopPending : HostedState::kRunning);
  }
  code = Guarded([this] { return service_.Run(); });
  Stopped(code);
  return code;
}

void ServiceLifecycle::Control(ServiceControl control) noexcept {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool ended = started_ && state_ == HostedState::kStopped;
    if (requested_ || ended) return;
    requested_ = control;
    if (state_ == HostedState::kRunning) ReportLocked(HostedState::kStopPending);
  }
  try {
    service_.RequestControl(control);
  } catch (...) {
    // Out of memory for the request: the service goes on running.
  }
}

HostedState ServiceLifecycle::State() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

}  // namespace halv
