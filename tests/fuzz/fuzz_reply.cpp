// Fuzz target: arbitrary bytes through the halvexa client's reply parser.
//
// The first byte picks the command; the rest is the server's reply. The
// parser must return (a problem text or fields, never a crash), and the JSON
// and table written from whatever it read must hold only printable ASCII
// (JSON) and no byte past the reply's own.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fleet.h"
#include "reply_parser.h"
#include "report.h"

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
  return 0;
}
