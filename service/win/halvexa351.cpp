// The service object: the wiring of the core, the loop, the listener and the
// workers, and the service thread's start, run and stop.
#include "halvexa351.h"

#include <chrono>
#include <exception>
#include <utility>

#include "win/system_service_manager.h"
#include "system_error_text.h"

namespace halv {
namespace {

// The loop's timers.
constexpr EventLoop::TimerId kTimer1Id = 1;
constexpr EventLoop::TimerId kIdleTimerId = 2;
// How often the service thread looks for connections that no accept
// notification announced.
constexpr EventLoop::TimerId kAcceptPollId = 3;
constexpr std::uint32_t kAcceptPollMs = 1000;
// The watch poll's timer, running while a WATCH is open.
constexpr EventLoop::TimerId kWatchTimerId = 4;
// How long a stop waits for cancelled workers to end: well inside the wait
// hint reported with the stop.
constexpr std::chrono::milliseconds kWorkerGrace(2000);

// The manager the workers use: the system's, failing at once when cancelled.
std::shared_ptr<ServiceManager> WorkerManager(std::shared_ptr<CancelSignal> cancel) {
  std::shared_ptr<ServiceManager> system(&SystemServiceManager(), [](ServiceManager*) {});
  return std::make_shared<CancellableManager>(std::move(system), std::move(cancel));
}

// The password transform below the service thread's priority, so that a
// burst of AUTHs from many clients slows their logins rather than every
// other client's replies.
access::Credentials BackgroundCredentials() {
  access::Credentials credentials = access::Credentials::Standard();
  credentials.transform = [standard = credentials.transform](std::string_view password) {
    struct Priority {
      HANDLE thread = GetCurrentThread();
      int before = GetThreadPriority(thread);
      Priority() { SetThreadPriority(thread, THREAD_PRIORITY_BELOW_NORMAL); }
      ~Priority() {
        if (before != THREAD_PRIORITY_ERROR_RETURN) SetThreadPriority(thread, before);
      }
    } lowered;
    return standard(password);
  };
  return credentials;
}

}  // namespace

THalvexa351::THalvexa351()
    : timer1_(loop_, kTimer1Id,
              [this] {
                if (core_.Timer1Enabled()) Timer1Timer();
              }),
      idle_timer_(loop_, kIdleTimerId, [this] { IdleTick(); }),
      core_(ServicePorts{config_, event_log_, logs_, driver_, timer1_, machine_, machine_,
                         commands_, accounts_, idle_timer_, &audit_files_},
            LocaleMonthNames()),
      scheduler_(workers_, WorkerManager(cancel_),
                 [poster = loop_.GetPoster(), this](OperationReport report) {
                   // On a worker thread: only the loop's queue is touched
                   // here. A report posted after the loop has closed is
                   // dropped, never run.
                   poster.Post([this, report = std::move(report)] { OnReport(report); });
                 }),
      watch_(workers_, WorkerManager(cancel_),
             [poster = loop_.GetPoster(), this](WatchPoll poll) {
               poster.Post([this, poll = std::move(poll)] { OnWatchPoll(poll); });
             },
             [this](ConnectionId id) { return driver_.FindById(id); }),
      checks_(workers_,
              [poster = loop_.GetPoster(), this](LoginCheckReport report) {
                poster.Post([this, report] { OnLoginCheck(report); });
              },
              BackgroundCredentials()),
      // The command runner finds, pauses and resumes connections in the
      // connection driver.
      runner_(core_, scheduler_, [this](ConnectionId id) { return driver_.FindById(id); }) {
  runner_.set_on_wait_begin([this](ConnectionId id) { driver_.PauseInput(id); });
  runner_.set_on_wait_end([this](ConnectionId id) { driver_.ResumeInput(id); });
  runner_.set_waiting_commands([this](ConnectionId id) { return driver_.WaitingCommands(id); });
  runner_.set_watch(&watch_);
  runner_.set_password_checks(&checks_);
  watch_.set_on_active([this](bool active) {
    if (!active) {
      loop_.StopTimer(kWatchTimerId);
      return;
    }
    const DWORD error = loop_.StartTimer(kWatchTimerId, kWatchPollMs, [this] { watch_.Tick(); });
    if (error != 0) LogEventError("WATCH cannot poll: " + SystemErrorText(error));
  });
  core_.SetCommandRunner(&runner_);
  // A connection with lines left after its turn goes on in an event of its
  // own, behind what other connections have sent meanwhile.
  driver_.set_turn_poster([this] { loop_.Post([this] { driver_.Turn(); }); });
}

THalvexa351::~THalvexa351() = default;

std::uint32_t THalvexa351::Open() {
  const DWORD error = loop_.Open();
  if (error != 0) {
    LogEventError("Service failed on start: " + SystemErrorText(error));
    return error;
  }
  // An error escaping an event is recorded and the service goes on; Timer1
  // stays armed, so a failed restart is tried again.
  loop_.SetErrorHandler([this](const std::string& text) { LogEventError(text); });
  ConnectListener();
  return 0;
}

std::uint32_t THalvexa351::Start() {
  try {
    ServiceStart();
    return 0;
  } catch (const std::exception& e) {
    LogEventError(std::string("Service failed on start: ") + e.what());
    core_.DisarmTimer1();
    EndWaits();
    ReleaseThreadResources();
    return ERROR_SERVICE_SPECIFIC_ERROR;
  }
}

std::uint32_t THalvexa351::Run() {
  try {
    core_.ServiceRunning();
  } catch (const std::exception& e) {
    LogEventError(e.what());
  }
  loop_.Run();
  core_.DisarmTimer1();
  EndWaits();
  ReleaseThreadResources();
  return 0;
}

void THalvexa351::RequestControl(ServiceControl control) {
  // Queued also before the loop exists; run as soon as it runs.
  loop_.Post([this, control] { OnControl(control); });
}

void THalvexa351::OnControl(ServiceControl control) {
  loop_.Quit();  // first, so the loop ends even if the stop raises
  // Commands whose outcome will not be known are recorded as cancelled.
  runner_.CancelAll();
  if (control == ServiceControl::kStop) {
    ServiceStop();
  } else {
    ServiceShutdown();
  }
}

template <typename Work>
void THalvexa351::DeliverFromWorker(Work&& work) {
  try {
    work();
  } catch (const std::exception& e) {
    LogEventError(e.what());
  }
  driver_.Settle();
}

void THalvexa351::OnReport(const OperationReport& report) {
  DeliverFromWorker([&] { runner_.Deliver(report); });
}

void THalvexa351::OnLoginCheck(const LoginCheckReport& report) {
  DeliverFromWorker([&] { runner_.DeliverLogin(report); });
}

void THalvexa351::OnWatchPoll(const WatchPoll& poll) {
  DeliverFromWorker([&] { watch_.Deliver(poll); });
}

void THalvexa351::EndWaits() {
  cancel_->Raise();
  workers_.Shutdown(kWorkerGrace);
}

void THalvexa351::ReleaseThreadResources() {
  driver_.Close();  // the listener and every connection
  core_.CloseLog();
  loop_.Close();  // later reports of workers are dropped
}

// --- The listener's part: its socket messages, the connection poll and
// what follows the idle check. (The command runner's connection hooks are
// set in the constructor, the connections are closed by
// ReleaseThreadResources.)

void THalvexa351::ConnectListener() {
  loop_.RegisterMessage(ServerSocket::kListenMessage, [this](WPARAM wparam, LPARAM lparam) {
    ServerSocket1.OnListenerEvent(wparam, lparam);
  });
  loop_.RegisterMessage(ServerSocket::kClientMessage, [this](WPARAM wparam, LPARAM lparam) {
    ServerSocket1.OnClientEvent(wparam, lparam);
  });
  loop_.StartTimer(kAcceptPollId, kAcceptPollMs, [this] {
    driver_.Poll();
    core_.RefusalTick();  // the rate limit's summaries whose minute has passed
  });
  ServerSocket1.SetWindow(loop_.Window());
}

void THalvexa351::IdleTick() {
  core_.IdleTimerTick();
  driver_.Settle();  // writes the notices, drops what the idle check closed
}

}  // namespace halv
