// Fuzz target: arbitrary bytes through the halvexa client's reply parser.
//
// The first byte picks the command; the rest is the server's reply. The
// parser must return (a problem text or fields, never a crash), and the JSON
// and table written from whatever it read must hold only printable ASCII
// (JSON) and no byte past the reply's own. The same bytes, cut in two where
// the first byte says, go through the watch reader: every change it reads
// has its three parts, and a refusal has its line.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fleet.h"
#include "reply_parser.h"
#include "report.h"
#include "watch.h"

namespace {

constexpr halv::client::Command kCommands[] = {
    halv::client::Command::kList,    halv::client::Command::kStatus,
    halv::client::Command::kStart,   halv::client::Command::kStop,
    halv::client::Command::kRestart, halv::client::Command::kDisplay,
    halv::client::Command::kStime,   halv::client::Command::kWho,
    halv::client::Command::kHelp,    halv::client::Command::kView,
    halv::client::Command::kCycle,   halv::client::Command::kInit,
    halv::client::Command::kUpdate,  halv::client::Command::kQuit,
    halv::client::Command::kDeps,    halv::client::Command::kAudit,
    halv::client::Command::kOther,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace halv::client;
  if (size == 0) return 0;
  const Command command = kCommands[data[0] % std::size(kCommands)];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  Greeting greeting;
  ParseGreeting(bytes, &greeting);
  ReplyComplete(command, bytes);

  HostResult result;
  result.entry.label = "fuzz";
  result.greeting = greeting;
  result.raw = std::string(bytes);
  const std::string problem = ParseReply(command, "svc", bytes, &result.reply);
  if (!problem.empty()) {
    result.outcome = HostOutcome::kBadReply;
    result.message = problem;
  } else if (!result.reply.ok) {
    result.outcome = HostOutcome::kCommandFailed;
    result.message = result.reply.error;
    if (result.reply.error.empty() && command != Command::kList) std::abort();
  }
  for (const char c : JsonLines({result}, true)) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\n') || byte >= 0x7f) std::abort();
  }
  TableText(command, {result});

  WatchReader reader;
  std::vector<WatchChange> changes;
  const std::size_t cut = data[0] % (bytes.size() + 1);
  reader.Feed(bytes.substr(0, cut), &changes);
  reader.Feed(bytes.substr(cut), &changes);
  for (const WatchChange& change : changes) {
    if (change.service.empty() || change.previous.empty() || change.state.empty()) std::abort();
  }
  // Changes come only after the opening line, which a refusal never follows.
  if (!changes.empty() && (reader.status() == WatchReader::Status::kWaiting ||
                           reader.status() == WatchReader::Status::kRefused))
    std::abort();
  if ((reader.status() == WatchReader::Status::kRefused ||
       reader.status() == WatchReader::Status::kBadReply) &&
      reader.error().empty())
    std::abort();
  return 0;
}
