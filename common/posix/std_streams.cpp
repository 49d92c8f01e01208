// The standard streams on POSIX: always binary; isatty for the terminal.
#include <unistd.h>

#include "std_streams.h"

namespace halv {

void SetBinaryMode(std::FILE*) {}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

}  // namespace halv
