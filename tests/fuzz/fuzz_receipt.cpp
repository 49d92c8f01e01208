// Fuzz target: sequences of receipts through the connection driver over a
// fake socket (telnet filter, line assembly, output queue) and on into the
// command interpreter, over the simulated manager and a fake service object;
// and the same receipts through a connection's line input alone.
//
// Input: the first byte picks verbose mode (bit 0); then receipts, each a
// length byte and that many bytes (the last one cut short by the end of the
// input). Checks that every line handed on has a non-empty command word and
// words that fit their slots, that the shared word buffer is empty after
// every receipt, and that the lines found do not depend on how the bytes
// were cut into receipts; the sanitizers catch any write past a buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "connection_driver.h"
#include "driver_service.h"
#include "fake_server_context.h"
#include "fake_socket.h"
#include "interpreter.h"
#include "line_assembler.h"
#include "simulated_manager.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckLine(const halv::CommandLine& line) {
  Check(line.WordCount >= 1 && line.WordCount <= halv::CommandLine::kMaxWords);
  Check(!line.Word(0).empty());
  for (int i = 0; i < line.WordCount; ++i) Check(std::strlen(line.CommandWords[i]) <= 255);
}

void CheckEmpty(const halv::CommandLine& line) {
  Check(line.WordCount == 0);
  for (int i = 0; i < halv::CommandLine::kMaxWords; ++i) Check(line.CommandWords[i][0] == '\0');
}

// Records what the lines were, without running them; telnet answers are
// left out, as where they fall depends on the receipts.
class LineRecorder : public halv::LineSink {
 public:
  bool ReadyForLine() override { return true; }
  void RunCommand(const halv::CommandLine& line) override {
    CheckLine(line);
    std::string text = "run";
    for (int i = 0; i < line.WordCount; ++i) text += '\x01' + std::string(line.Word(i));
    lines.push_back(text);
  }
  void SendText(std::string_view text) override {
    if (text == "\n\r:: " || text == halv::kLineTooLongReply) lines.emplace_back(text);
  }
  void LogLine(const std::string&) override {}
  std::vector<std::string> lines;
};

halv::CommandLine g_words;  // shared across inputs, as in the service

std::vector<std::string> LinesOf(const std::vector<std::string>& receipts) {
  halv::ClientInput input;
  LineRecorder recorder;
  for (const std::string& receipt : receipts) {
    input.Receive(receipt, false, recorder);
    input.RunLines(g_words, recorder);
  }
  CheckEmpty(g_words);
  return recorder.lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool verbose = (data[0] & 1) != 0;
  std::vector<std::string> receipts;
  std::string whole;
  for (std::size_t at = 1; at < size;) {
    const std::size_t length = data[at++];
    const std::size_t take = length < size - at ? length : size - at;
    receipts.emplace_back(reinterpret_cast<const char*>(data + at), take);
    whole += receipts.back();
    at += take;
  }

  halv::SimulatedManager scm;
  scm.AddService("Spooler", "Print Spooler", halv::kStateRunning);
  scm.AddService("W32Time", "Windows Time", halv::kStateStopped);
  scm.AddDependency("Spooler", "W32Time");
  halv::testing::DriverContext server(scm);
  server.SetFile(server.fields().log_pathfile, "log line\r\n");
  server.fields().verbose = verbose;
  halv::testing::TestService service(
      server, [&](halv::ConnectionId, halv::Connection& client, const halv::CommandLine& line) {
        CheckLine(line);
        halv::ProcessCommand(server, client, line);
      });
  service.verbose = verbose;
  halv::testing::FakeListeningSocket listener;
  halv::ConnectionDriver driver(listener, service);
  listener.events = &driver;
  server.driver = &driver;
  const auto peer = listener.Queue();
  driver.ListenerReady(0);
  const halv::ConnectionId id = listener.accepted.at(0);
  for (const std::string& receipt : receipts) {
    peer->inbound += receipt;
    driver.Readable(id);
  }
  driver.Poll();
  // Whatever the connection was told went out whole, or it has gone.
  Check(driver.ConnectionOf(id) == nullptr || driver.ConnectionOf(id)->Output().Empty());

  // The same bytes in one receipt, and byte by byte, give the same lines.
  const std::vector<std::string> split = LinesOf(receipts);
  Check(LinesOf({whole}) == split);
  std::vector<std::string> bytes;
  for (char c : whole) bytes.emplace_back(1, c);
  Check(LinesOf(bytes) == split);
  return 0;
}
