// Asking one server, and asking many at once: each host on its own
// connection, greeting read, optional AUTH line, one command, the reply read
// up to its prompt. A slow, refusing or silent host costs only its own
// time-outs; the others go on in parallel.
#ifndef HALV_CLIENT_FLEET_H_
#define HALV_CLIENT_FLEET_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net.h"
#include "options.h"
#include "reply_parser.h"

namespace halv::client {

enum class HostOutcome {
  kOk,             // the command succeeded
  kCommandFailed,  // the server answered: the command failed
  kAuthRefused,    // the server refused the AUTH line
  kUnreachable,    // no connection (name not resolved, refused, unreachable)
  kTimedOut,       // connected, but a reply did not come in time
  kBadReply,       // cut off (connection closed early) or not understood
  kBusy,           // the server had all its clients ("421-..."), after every retry
};

struct HostResult {
  HostEntry entry;
  HostOutcome outcome = HostOutcome::kOk;
  std::string message;  // for every outcome but kOk: what went wrong
  // Something the operator should know that is no failure (a server that
  // needed no login); "" for none.
  std::string warning;
  Greeting greeting;
  Reply reply;
  std::string raw;  // the command's reply bytes as received
  // The service was already in the state asked for: STOP of a stopped one
  // (1062), START of a running one (1056). The outcome is then kOk.
  bool unchanged = false;
  int attempts = 1;  // connections made (more than one after "421" answers)
};

// Asks one host `words` (the command word and its arguments), retrying a
// busy server up to options.retries times with a doubling pause. Never
// throws for anything the network or the server does. Any thread.
HostResult AskHost(const HostEntry& entry, const Options& options,
                   const std::vector<std::string>& words);
// The same with options.words.
HostResult AskHost(const HostEntry& entry, const Options& options);

// Connects to the host, reads its greeting and, with options.user, logs on:
// the connection, ready for a command, or null with the result's outcome and
// message saying what failed (its entry and greeting are filled either way).
std::unique_ptr<TcpConnection> OpenSession(const HostEntry& entry, const Options& options,
                                           HostResult* result);

// Entries naming the same host and port are asked at most this many at once.
inline constexpr int kConnectionsPerServer = 4;

// Asks every host of `options`, `options.parallel` at a time (and at most
// kConnectionsPerServer per server) on the product's WorkerPool, and returns
// the results in the order of the hosts. A command that names several
// services (STATUS Spooler BITS) asks each on its own connection: the
// results are then host by host, each host's services in the order given.
// `on_done(done, total)` is called after each result, and `on_result(index,
// result)` with each result as it arrives (index into the returned list),
// from the worker threads but never two at once. Call from one thread at a
// time.
std::vector<HostResult> AskAll(
    const Options& options, const std::function<void(std::size_t, std::size_t)>& on_done,
    const std::function<void(std::size_t, const HostResult&)>& on_result = {});

// 2 if some host was not reached, timed out, was busy or gave a bad reply; else 1 if a
// command failed or a log-on was refused somewhere; else 0.
int ExitStatus(const std::vector<HostResult>& results);

// "ok", "failed", "auth", "unreachable", "timeout", "bad-reply", "busy".
const char* OutcomeName(HostOutcome outcome);

}  // namespace halv::client

#endif  // HALV_CLIENT_FLEET_H_
