// The output of halvexa: a table with the host as the first column (the
// default), one JSON object per host and line (--json), or the reply bytes as
// received (--raw). Hosts appear in the order they were given.
#ifndef HALV_CLIENT_REPORT_H_
#define HALV_CLIENT_REPORT_H_

#include <string>
#include <vector>

#include "fleet.h"

namespace halv::client {

std::string TableText(Command command, const std::vector<HostResult>& results);
// One object a line. With `with_raw`, each object also holds "raw".
std::string JsonLines(const std::vector<HostResult>& results, bool with_raw);
// The reply bytes of each host; with several hosts, each after a line
// "==> HOST <==" (and a failed host's message after it).
std::string RawText(const std::vector<HostResult>& results);

// The one-host JSON object (no line end).
std::string HostJson(const HostResult& result, bool with_raw);

}  // namespace halv::client

#endif  // HALV_CLIENT_REPORT_H_
