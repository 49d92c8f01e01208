// The two file operations that the server log's size limit needs.
//
// Any thread; each call opens and releases what it uses.
#ifndef HALV_SERVICE_LOG_LOG_FILES_H_
#define HALV_SERVICE_LOG_LOG_FILES_H_

#include <cstdint>
#include <string>

namespace halv {

// The size of the file at `path` in bytes; 0 when it does not exist or
// cannot be read.
std::uint64_t FileSizeOf(const std::string& path);

// Renames `from` to `to`, replacing a file `to` that exists. False when the
// rename fails (for example while another process holds `from` open without
// sharing deletion).
bool RenameReplacing(const std::string& from, const std::string& to);

}  // namespace halv

#endif  // HALV_SERVICE_LOG_LOG_FILES_H_
