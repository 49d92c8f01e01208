// The two platform facts the command-line tools need about their standard
// streams: binary mode and whether a stream is a terminal.
//
// One implementation per platform (posix/std_streams.cpp,
// win/std_streams.cpp). Call from the main thread before the stream is used.
#ifndef HALV_COMMON_STD_STREAMS_H_
#define HALV_COMMON_STD_STREAMS_H_

#include <cstdio>

namespace halv {

// Puts `stream` in binary mode, so its bytes pass untranslated (no CR LF for
// LF, no end at a Ctrl-Z byte). POSIX streams are binary already: nothing
// happens there.
void SetBinaryMode(std::FILE* stream);

// Whether `stream` is connected to a terminal (a console on Windows).
bool IsTerminal(std::FILE* stream);

}  // namespace halv

#endif  // HALV_COMMON_STD_STREAMS_H_
