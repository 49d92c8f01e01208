// The program's flow: options, the parallel run with its progress line,
// then the report in the chosen form.
#include "halvexa_main.h"

#include <algorithm>

#include "fleet.h"
#include "net.h"
#include "report.h"
#include "watch.h"

namespace halv::client {

int RunHalvexa(const std::vector<std::string>& args, const GetEnv& get_env,
               const Console& console) {
  Options options;
  if (std::string error = ParseOptions(args, get_env, &options); !error.empty()) {
    console.err("halvexa: " + error + "\n" + ShortUsageText());
    return kExitUsage;
  }
  if (options.help) {
    console.out(UsageText());
    return 0;
  }
  if (options.version) {
    console.out(VersionText());
    return 0;
  }
  if (std::string error; !NetStartup(&error)) {
    console.err("halvexa: " + error + "\n");
    return 2;
  }
  if (options.command == Command::kWatch) return RunWatch(options, console);

  std::size_t shown = 0;  // width of the progress line last written
  const auto progress = [&](std::size_t done, std::size_t total) {
    if (!console.progress) return;
    std::string line = "halvexa: " + std::to_string(done) + " of " + std::to_string(total) +
                       " hosts done, " + std::to_string(total - done) + " outstanding";
    const std::size_t width = line.size();
    if (line.size() < shown) line.append(shown - line.size(), ' ');
    shown = width;
    console.err("\r" + line);
  };
  if (console.progress)
    progress(0, options.hosts.size() * std::max<std::size_t>(1, ServicesOf(options).size()));
  // --json-lines streams: each object is written as soon as every result
  // before it is in, so the lines keep the order of the hosts.
  std::vector<const HostResult*> arrived;
  std::size_t written = 0;
  const auto stream = [&](std::size_t index, const HostResult& result) {
    if (arrived.size() <= index) arrived.resize(index + 1, nullptr);
    arrived[index] = &result;
    std::string lines;
    for (; written < arrived.size() && arrived[written] != nullptr; ++written)
      lines += ResultJsonLines(*arrived[written], options.raw);
    if (lines.empty()) return;
    if (console.progress) console.err("\r" + std::string(shown, ' ') + "\r");
    console.out(lines);
  };
  const std::vector<HostResult> results =
      options.json_lines ? AskAll(options, progress, stream) : AskAll(options, progress);
  if (console.progress) console.err("\r" + std::string(shown, ' ') + "\r");

  for (const HostResult& r : results) {
    if (!r.warning.empty())
      console.err("halvexa: " + r.entry.label + ": warning: " + r.warning + "\n");
  }
  if (options.raw && !options.json && !options.json_lines) {
    console.out(RawText(results));
    for (const HostResult& r : results) {
      if (r.outcome != HostOutcome::kOk && r.outcome != HostOutcome::kCommandFailed)
        console.err("halvexa: " + r.entry.label + ": " + EscapeControls(r.message, false) + "\n");
    }
  } else if (options.json_lines) {
    // Written as the results arrived.
  } else if (options.json) {
    console.out(JsonDocument(results, options.raw));
  } else {
    console.out(TableText(options.command, results));
  }
  return ExitStatus(results);
}

}  // namespace halv::client
