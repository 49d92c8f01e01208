// halvexa: the command-line client for one Halvexa server or a fleet.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "halvexa_main.h"
#include "std_streams.h"

namespace {

std::atomic<bool> g_interrupted{false};

// The first Ctrl-C ends a watch in order; a second one ends the program.
extern "C" void OnInterrupt(int) {
  g_interrupted = true;
  std::signal(SIGINT, SIG_DFL);
}

}  // namespace

int main(int argc, char** argv) {
  // Output is written as it is (LF line ends, reply bytes untouched).
  halv::SetBinaryMode(stdout);
  const bool terminal = halv::IsTerminal(stderr);
  halv::client::Console console;
  // Flushed at once: --json-lines output is read as each host answers.
  console.out = [](const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  };
  console.err = [](const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  };
  console.progress = terminal;
  console.catch_interrupt = [] { std::signal(SIGINT, OnInterrupt); };
  console.interrupted = [] { return g_interrupted.load(); };
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int status = halv::client::RunHalvexa(
      args, [](const char* name) { return std::getenv(name); }, console);
  if (std::fflush(stdout) != 0 && status == 0) return 1;
  return status;
}
