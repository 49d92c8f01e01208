// The halvexa program as a function, so tests run it in-process: parse the
// arguments, ask the hosts, write the report, return the exit status.
#ifndef HALV_CLIENT_HALVEXA_MAIN_H_
#define HALV_CLIENT_HALVEXA_MAIN_H_

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "options.h"

namespace halv::client {

inline constexpr int kExitUsage = 64;

struct Console {
  std::function<void(const std::string&)> out;  // standard output
  std::function<void(const std::string&)> err;  // standard error
  bool progress = false;  // standard error is a terminal: show the progress line
  // The local time now, for the rows of WATCH; null: the system's clock.
  std::function<std::tm()> local_time;
  // WATCH, which runs until interrupted unless told otherwise, calls
  // catch_interrupt once as it starts (the program then takes Ctrl-C as
  // the end of the watch) and asks `interrupted` while it runs. Null: no
  // interrupt but the system's.
  std::function<void()> catch_interrupt;
  std::function<bool()> interrupted;
};

// `args` without the program name. Returns 0, 1, 2 or 64 (see UsageText()).
int RunHalvexa(const std::vector<std::string>& args, const GetEnv& get_env, const Console& console);

}  // namespace halv::client

#endif  // HALV_CLIENT_HALVEXA_MAIN_H_
