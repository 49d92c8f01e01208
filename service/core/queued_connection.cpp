// The queued connection: the interpreter's sends, the socket's progress and
// the line input of one client.
#include "queued_connection.h"

#include <utility>

namespace halv {

QueuedConnection::QueuedConnection(StreamSocket& socket, std::string peer)
    : queue_(socket), peer_(std::move(peer)) {}

void QueuedConnection::SendText(std::string_view text) {
  if (closed_) return;
  queue_.Append(text);
  OutputChanged();
}

void QueuedConnection::SendBytes(const void* data, std::size_t size) {
  if (closed_) return;
  queue_.Append(std::string_view(static_cast<const char*>(data), size));
  OutputChanged();
}

void QueuedConnection::SendStream(std::unique_ptr<ByteSource> source) {
  if (closed_) return;
  queue_.AppendSource(std::move(source));
  OutputChanged();
}

void QueuedConnection::Flush() {
  if (gone_) return;
  try {
    queue_.Flush();
  } catch (...) {
    Gone();
    throw;
  }
}

void QueuedConnection::Writable() {
  if (gone_) return;
  try {
    queue_.Writable();
  } catch (...) {
    Gone();
    throw;
  }
}

void QueuedConnection::Gone() {
  closed_ = true;
  gone_ = true;
  queue_.Release();
}

}  // namespace halv
