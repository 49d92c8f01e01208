// ServiceWatch: WATCH, the connections that follow services' changes of
// state, and the poll that feeds them.
//
// WATCH [service...] (WatchEnabled on) opens a watch for its connection: an
// opening line, then one line per change of state of a named service (of
// every service, with no name) until the connection sends any line, which
// ends the watch with the prompt (that line is not run as a command). The
// first poll after the watch began gives the states it compares with; it
// reports nothing itself.
//
// A poll asks the manager on the executor's thread, one at a time, for the
// union of what the watches follow (every service when one of them follows
// every service). Tick starts one, every second while a watch is open (the
// host's timer; tests call it on their virtual clock); a poll still running
// then is not doubled. Its result comes back through `post` to the owner
// thread, where Deliver compares it with each watch's last states and sends
// the lines. A connection that has gone is dropped at the next result.
// Everything but the jobs runs on the owner (service) thread.
#ifndef HALV_SERVICE_CORE_SERVICE_WATCH_H_
#define HALV_SERVICE_CORE_SERVICE_WATCH_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "connection.h"
#include "executor.h"
#include "operation_scheduler.h"  // ConnectionId, ServiceKey
#include "server_context.h"
#include "words.h"

namespace halv {

class ServiceManager;

// How often the host calls Tick while a watch is open.
inline constexpr std::uint32_t kWatchPollMs = 1000;

// Whether `line` is a WATCH line under `fields` (the command is switched
// on by WatchEnabled).
bool IsWatchLine(const CommandLine& line, const ServiceFields& fields);

// The opening line of a watch of `names` (all services when empty).
std::string WatchOpeningText(const std::vector<std::string>& names);

// What one poll found.
struct WatchPoll {
  std::uint64_t round = 0;
  bool every_service = false;  // every service was asked for
  bool failed = false;         // the services could not be listed: nothing to compare
  struct Sample {
    std::string name;  // as the manager lists it, or as typed
    std::uint32_t state = 0;  // 1..7; 0 when it could not be read
  };
  std::map<std::string, Sample> states;  // by ServiceKey
};

class ServiceWatch {
 public:
  using Post = std::function<void(WatchPoll)>;
  using FindClient = std::function<Connection*(ConnectionId)>;
  // Told true when the first watch opens and false when the last one ends:
  // the host starts and stops its timer.
  using ActiveHook = std::function<void(bool)>;

  // `manager` is what the jobs use, from the executor's threads; `post`
  // carries each result to the owner thread and must not call back here.
  ServiceWatch(Executor& executor, std::shared_ptr<ServiceManager> manager, Post post,
               FindClient find_client);
  ServiceWatch(const ServiceWatch&) = delete;
  ServiceWatch& operator=(const ServiceWatch&) = delete;

  // Opens the watch of `line` (words 1 on, duplicates in any case dropped)
  // for connection `id`: its opening line, and a poll at once unless one is
  // running.
  void Begin(ConnectionId id, Connection& client, const CommandLine& line);
  bool Watching(ConnectionId id) const { return watches_.count(id) != 0; }
  // Ends the watch of `id`: the prompt.
  void End(ConnectionId id, Connection& client);
  // Starts a poll unless none is needed or one is running.
  void Tick();
  // A poll's result on the owner thread: each watch's changes, in the order
  // of its names (of the service names, any case, when it follows all). A
  // failed send ends nothing else; the first such error is raised at the end.
  void Deliver(const WatchPoll& poll);

  std::size_t Count() const { return watches_.size(); }
  bool PollRunning() const { return running_; }
  void set_on_active(ActiveHook hook) { on_active_ = std::move(hook); }

 private:
  struct Watch {
    std::vector<std::string> names;  // as typed; empty: every service
    std::uint64_t first_round = 0;   // the first poll that may serve it
    bool compared = false;           // `last` holds a poll's states
    std::map<std::string, WatchPoll::Sample> last;
  };

  void Launch();
  void Erase(ConnectionId id);

  Executor& executor_;
  std::shared_ptr<ServiceManager> manager_;
  Post post_;
  FindClient find_client_;
  ActiveHook on_active_;
  std::map<ConnectionId, Watch> watches_;
  std::uint64_t next_round_ = 1;
  bool running_ = false;
};

}  // namespace halv

#endif  // HALV_SERVICE_CORE_SERVICE_WATCH_H_
