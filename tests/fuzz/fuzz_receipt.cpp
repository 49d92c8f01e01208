// Fuzz target: sequences of receipts through a connection's input (telnet
// filter and line assembly) and on into the command interpreter, over the
// simulated manager, a fake service object and a recording connection.
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

#include "fake_server_context.h"
#include "interpreter.h"
#include "line_assembler.h"
#include "recording_connection.h"
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

// Runs each line through the interpreter on a recording connection.
class InterpreterSink : public halv::LineSink {
 public:
  InterpreterSink(halv::ServerContext& server, halv::testing::RecordingConnection& client)
      : server_(server), client_(client) {}
  bool ReadyForLine() override { return !client_.IsClosed(); }
  void RunCommand(const halv::CommandLine& line) override {
    CheckLine(line);
    halv::ProcessCommand(server_, client_, line);
  }
  void SendText(std::string_view text) override { client_.SendText(text); }
  void LogLine(const std::string&) override {}

 private:
  halv::ServerContext& server_;
  halv::testing::RecordingConnection& client_;
};

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
  halv::testing::FakeServerContext server(scm);
  server.SetFile(server.fields().log_pathfile, "log line\r\n");
  server.fields().verbose = verbose;
  halv::testing::RecordingConnection client;
  server.AddClient(&client);
  InterpreterSink sink(server, client);
  halv::ClientInput input;
  for (const std::string& receipt : receipts) {
    input.Receive(receipt, verbose, sink);
    input.RunLines(g_words, sink);
    CheckEmpty(g_words);
  }

  // The same bytes in one receipt, and byte by byte, give the same lines.
  const std::vector<std::string> split = LinesOf(receipts);
  Check(LinesOf({whole}) == split);
  std::vector<std::string> bytes;
  for (char c : whole) bytes.emplace_back(1, c);
  Check(LinesOf(bytes) == split);
  return 0;
}
