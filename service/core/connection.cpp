// The default byte-stream send of a connection: block by block.
#include "connection.h"

namespace halv {

void Connection::SendStream(std::unique_ptr<ByteSource> source) {
  char block[kStreamBlock];
  // A client that has gone ends the transfer: nothing more can reach it.
  while (source && !IsClosed()) {
    const long count = source->Read(block, sizeof block);
    if (count <= 0) break;
    SendBytes(block, static_cast<std::size_t>(count));
  }
}

}  // namespace halv
