// halvexa watch: WATCH [service...] on every host at once, each change of
// state printed as it arrives, as a table row (HOST, TIME, SERVICE, STATE)
// or, with --json-lines, one object a line, with the local time it arrived.
//
// Each host has a connection of its own for the whole watch. The watch ends
// after --count changes (of all hosts together), after --timeout seconds, or
// when interrupted (Ctrl-C), each then ended with a line and QUIT. A
// host that cannot be reached, refuses WATCH or closes the connection is
// reported (on standard error for the table, as an object for JSON lines)
// and the others go on. The exit status is that of the other commands.
#ifndef HALV_CLIENT_WATCH_H_
#define HALV_CLIENT_WATCH_H_

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "halvexa_main.h"
#include "options.h"

namespace halv::client {

// One change line: "321-NAME: OLD -> NEW".
struct WatchChange {
  std::string service, previous, state;
};

// Reads a watch's bytes as they arrive, in pieces of any size: first the
// opening line ("320-..."), then change lines; other lines (a warning sent
// to every client) are passed over. A numbered error ("4xx-", "5xx-") in
// place of the opening line is the server's refusal (WATCH unknown or not
// allowed); any other line there is not a watch.
class WatchReader {
 public:
  enum class Status { kWaiting, kWatching, kRefused, kBadReply };

  // Appends `bytes`; each complete change line goes to `changes`.
  Status Feed(std::string_view bytes, std::vector<WatchChange>* changes);
  Status status() const { return status_; }
  // kRefused: the server's line; kBadReply: what was wrong.
  const std::string& error() const { return error_; }

 private:
  std::string pending_;  // bytes after the last complete line
  Status status_ = Status::kWaiting;
  std::string error_;
};

// "2026-12-10 22:35:07" for the table; with `json`, "2026-12-10T22:35:07".
std::string WatchTime(const std::tm& local, bool json);

// Runs the watch of `options` (command kWatch), writing to the console as
// changes arrive; returns the exit status (0, 1 or 2, as ExitStatus).
int RunWatch(const Options& options, const Console& console);

}  // namespace halv::client

#endif  // HALV_CLIENT_WATCH_H_
