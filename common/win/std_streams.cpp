// The standard streams on Windows: the C runtime's _setmode and _isatty.
#include <fcntl.h>
#include <io.h>

#include "std_streams.h"

namespace halv {

void SetBinaryMode(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

}  // namespace halv
