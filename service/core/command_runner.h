// CommandRunner: runs the command lines of every connection on the service
// thread, with START, STOP and RSTRT waiting on worker threads.
//
// A START, STOP or RSTRT line sends its "...Service..." line, takes the
// settings of that moment and goes to the operation scheduler; the service
// thread is free at once. While a connection's operation is in flight its
// further lines are held, unrun, and run in order once the operation's reply
// (the same text the inline command sends) has gone out; a held line that
// starts another operation holds the rest again. Other connections are
// served meanwhile.
//
// With password checks set, an AUTH that is to be checked waits the same
// way: its transform runs on a worker, the connection's later lines are
// held, and its reply is sent when the result comes back (DeliverLogin).
//
// Reports come back by connection id. A connection that has gone (closed by
// QUIT, by its peer, by CYCLE or by a stop) is not found: its reply and its
// held lines are dropped, and the operation itself still runs to its end.
// Everything here runs on the service thread.
#ifndef HALV_SERVICE_CORE_COMMAND_RUNNER_H_
#define HALV_SERVICE_CORE_COMMAND_RUNNER_H_

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audit_record.h"
#include "connection.h"
#include "interpreter.h"
#include "operation_scheduler.h"
#include "password_checks.h"
#include "server_context.h"
#include "service_watch.h"
#include "words.h"

namespace halv {

class CommandRunner {
 public:
  // The open connection with that id, or null when it has gone.
  using FindClient = std::function<Connection*(ConnectionId)>;
  // Told when a connection starts or ends waiting, e.g. to pause its input.
  using WaitHook = std::function<void(ConnectionId)>;

  // `server` and `scheduler` must outlive the runner.
  CommandRunner(ServerContext& server, OperationScheduler& scheduler, FindClient find_client);
  CommandRunner(const CommandRunner&) = delete;
  CommandRunner& operator=(const CommandRunner&) = delete;

  // Runs one complete line of connection `id` (`client`), or holds it while
  // that connection waits. Errors of the command (a failed send) propagate
  // as ProcessCommand raises them.
  void RunLine(ConnectionId id, Connection& client, const CommandLine& line);

  // A report posted by a job, now on the service thread: sends the step's
  // result to its connection if it is still there, and after the last step
  // the prompt and then the held lines. An error raised by a held line drops
  // the lines after it (as within one receipt) and propagates.
  void Deliver(const OperationReport& report);

  // A password check's result, now on the service thread: the AUTH's reply
  // (or, for a connection that has gone, its record and the throttle's
  // count only), then the held lines. Errors propagate as Deliver's.
  void DeliverLogin(const LoginCheckReport& report);

  // Where AUTH's transform runs (not owned; null: inline, on this thread).
  void set_password_checks(PasswordChecks* checks) { checks_ = checks; }

  // The service is stopping: every operation in flight and every held line
  // of an audited command is recorded as cancelled, and every session ends
  // (later reports are dropped) with its connection left paused.
  void CancelAll();

  // Whether `id` has an operation in flight or held lines to run.
  bool IsWaiting(ConnectionId id) const { return sessions_.count(id) != 0; }
  std::size_t HeldLines(ConnectionId id) const;
  // Connections waiting now.
  std::size_t WaitingCount() const { return sessions_.size(); }

  // Sets the watcher that WATCH lines open watches with (not owned; null:
  // the interpreter answers WATCH). A line from a watching connection ends
  // its watch and is not run.
  void set_watch(ServiceWatch* watch) { watch_ = watch; }

  void set_on_wait_begin(WaitHook hook) { on_wait_begin_ = std::move(hook); }
  void set_on_wait_end(WaitHook hook) { on_wait_end_ = std::move(hook); }
  // Where the lines a waiting connection received but did not hand over yet
  // are (the connections' input, paused); CancelAll records them too.
  using WaitingCommands = std::function<std::vector<std::vector<std::string>>(ConnectionId)>;
  void set_waiting_commands(WaitingCommands find) { waiting_commands_ = std::move(find); }

 private:
  struct Session {
    OperationId operation = 0;  // in flight; 0 while held lines run
    LoginCheckId login = 0;     // a password check in flight; 0 for none
    PendingLogin pending;       // that check's AUTH
    bool Busy() const { return operation != 0 || login != 0; }
    std::deque<std::vector<std::string>> held;
    // The audit record of the operation in flight, completed by its reports.
    AuditRecord record;
  };

  // Runs `line` now: an operation goes to the scheduler, anything else to
  // the interpreter.
  void Execute(ConnectionId id, Connection& client, const CommandLine& line);
  // Runs the held lines of `id` until one starts an operation or none is
  // left; then the session ends.
  void RunHeld(ConnectionId id, Connection& client);
  void EndSession(ConnectionId id);

  ServerContext& server_;
  OperationScheduler& scheduler_;
  ServiceWatch* watch_ = nullptr;
  PasswordChecks* checks_ = nullptr;
  FindClient find_client_;
  WaitHook on_wait_begin_;
  WaitHook on_wait_end_;
  WaitingCommands waiting_commands_;
  std::map<ConnectionId, Session> sessions_;
  // The line buffer a held line is rebuilt in (64 KB, so kept, not stacked).
  std::unique_ptr<CommandLine> replay_ = std::make_unique<CommandLine>();
};

}  // namespace halv

#endif  // HALV_SERVICE_CORE_COMMAND_RUNNER_H_
