// The file VIEW shows: opened for reading while others may go on writing it.
#ifndef HALV_SERVICE_WIN_SHARED_FILE_H_
#define HALV_SERVICE_WIN_SHARED_FILE_H_

#include <memory>
#include <string>

#include "byte_source.h"

namespace halv {

// Opens `path` for reading, sharing read and write access with others (the
// server log stays writable); a missing file is created empty. Returns the
// open file, closed when the object goes, or null when it cannot be opened.
// Any thread.
std::unique_ptr<ByteSource> OpenSharedFile(const std::string& path);

}  // namespace halv

#endif  // HALV_SERVICE_WIN_SHARED_FILE_H_
