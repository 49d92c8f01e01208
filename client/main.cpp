// halvexa: the command-line client for one Halvexa server or a fleet.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "halvexa_main.h"

int main(int argc, char** argv) {
#ifdef _WIN32
  // Output is written as it is (LF line ends, reply bytes untouched).
  _setmode(_fileno(stdout), _O_BINARY);
  const bool terminal = _isatty(_fileno(stderr)) != 0;
#else
  const bool terminal = isatty(STDERR_FILENO) != 0;
#endif
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
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int status = halv::client::RunHalvexa(
      args, [](const char* name) { return std::getenv(name); }, console);
  if (std::fflush(stdout) != 0 && status == 0) return 1;
  return status;
}
