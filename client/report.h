// The output of halvexa: a table with the host as the first column (the
// default), JSON (--json: one object, or one array when there are several
// results; --json-lines: one object per result and line), or the reply bytes
// as received (--raw). Hosts appear in the order they were given.
#ifndef HALV_CLIENT_REPORT_H_
#define HALV_CLIENT_REPORT_H_

#include <string>
#include <string_view>
#include <vector>

#include "fleet.h"

namespace halv::client {

// `text` with each control byte (below 32, and 127) written as \xNN (two
// capital hex digits), so that a server cannot send a terminal escape
// sequence through the output; with `keep_layout`, line feed, carriage
// return and tab stay as they are. Other bytes pass unchanged.
std::string EscapeControls(std::string_view text, bool keep_layout);

// Every cell goes through EscapeControls.
std::string TableText(Command command, const std::vector<HostResult>& results);
// One object a line. With `with_raw`, each object also holds "raw". AUDIT
// gives one object per record instead, the record's members after "host";
// a host without records gives none, a failed host its usual object.
std::string JsonLines(const std::vector<HostResult>& results, bool with_raw);
// The lines JsonLines writes for one result.
std::string ResultJsonLines(const HostResult& result, bool with_raw);
// One JSON document: the object of a single result, else an array of one
// object per result (one a line), ending with a line end. AUDIT: always an
// array, of the objects JsonLines writes.
std::string JsonDocument(const std::vector<HostResult>& results, bool with_raw);
// The reply bytes of each host; with several hosts, each after a line
// "==> HOST <==" (and a failed host's message after it). Each host's bytes
// end with a line end (the server's replies end with the prompt). Control
// bytes other than the line ends and tab are escaped (EscapeControls).
std::string RawText(const std::vector<HostResult>& results);

// The one-host JSON object (no line end). Its "host" is the host and the port
// asked ("srv1:9007", "[::1]:9007"); START and STOP say "changed": false when
// the service already was in the state asked for.
std::string HostJson(const HostResult& result, bool with_raw);

// The host and port of `entry` as JSON shows them: the label when it names
// its port, else the label with the port added.
std::string HostWithPort(const HostEntry& entry);

}  // namespace halv::client

#endif  // HALV_CLIENT_REPORT_H_
