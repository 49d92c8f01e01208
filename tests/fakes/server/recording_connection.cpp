// A client connection for tests that records every send as it was made.
#include "recording_connection.h"

#include "halv_error.h"

namespace halv::testing {

void RecordingConnection::Record(std::string data, SendKind kind) {
  if (closed_) return;
  if (fail_sends_) {
    closed_ = true;
    throw Error("Send failed on a test connection");
  }
  sends_.push_back(std::move(data));
  kinds_.push_back(kind);
}

void RecordingConnection::SendText(std::string_view text) {
  Record(std::string(text), SendKind::kText);
}

void RecordingConnection::SendBytes(const void* data, std::size_t size) {
  Record(std::string(static_cast<const char*>(data), size), SendKind::kBytes);
}

}  // namespace halv::testing
