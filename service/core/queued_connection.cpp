// The queued connection: the interpreter's sends, the socket's progress and
// the line input of one client.
#include "queued_connection.h"

#include <utility>

namespace halv {

// Runs lines for one connection through the caller's runner and log.
class QueuedConnection::Sink final : public LineSink {
 public:
  Sink(QueuedConnection& connection, const CommandRunner* run, const LogWriter* log)
      : connection_(connection), run_(run), log_(log) {}
  bool ReadyForLine() override { return !connection_.InputPaused(); }
  void RunCommand(const CommandLine& words) override {
    if (run_ != nullptr && *run_) (*run_)(connection_, words);
  }
  void SendText(std::string_view text) override { connection_.SendText(text); }
  void LogLine(const std::string& text) override {
    if (log_ != nullptr && *log_) (*log_)(text);
  }

 private:
  QueuedConnection& connection_;
  const CommandRunner* run_;
  const LogWriter* log_;
};

QueuedConnection::QueuedConnection(StreamSocket& socket, std::string peer)
    : queue_(socket), peer_(std::move(peer)) {}

void QueuedConnection::SendText(std::string_view text) {
  if (!closed_) queue_.Append(text);
}

void QueuedConnection::SendBytes(const void* data, std::size_t size) {
  if (!closed_) queue_.Append(std::string_view(static_cast<const char*>(data), size));
}

void QueuedConnection::SendStream(std::unique_ptr<ByteSource> source) {
  if (!closed_) queue_.AppendSource(std::move(source));
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

void QueuedConnection::Receive(std::string_view received, bool verbose, CommandLine& words,
                               const CommandRunner& run, const LogWriter& log) {
  if (closed_) return;
  Sink sink(*this, &run, &log);
  input_.Receive(received, verbose, sink);
  input_.RunLines(words, sink);
}

void QueuedConnection::RunLines(CommandLine& words, const CommandRunner& run) {
  Sink sink(*this, &run, nullptr);
  input_.RunLines(words, sink);
}

}  // namespace halv
