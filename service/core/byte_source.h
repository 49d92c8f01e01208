// A source of bytes read block by block: the log file that VIEW sends.
#ifndef HALV_SERVICE_CORE_BYTE_SOURCE_H_
#define HALV_SERVICE_CORE_BYTE_SOURCE_H_

#include <cstddef>

namespace halv {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `size` bytes; returns the number read, 0 at the end, or a
  // negative number on a read error.
  virtual long Read(void* buffer, std::size_t size) = 0;
};

}  // namespace halv

#endif  // HALV_SERVICE_CORE_BYTE_SOURCE_H_
