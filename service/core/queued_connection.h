// A client connection with an output queue and per-connection input.
//
// The portable part of the service's connections: what the interpreter
// sends is queued (OutputQueue) and written when a command ends, before a
// wait and when the socket becomes writable; received bytes become whole
// lines (ClientInput), which run only while the queue is below its
// high-water mark. The connection driver supplies the socket, the reads and
// the running of the lines. Service thread only.
#ifndef HALV_SERVICE_CORE_QUEUED_CONNECTION_H_
#define HALV_SERVICE_CORE_QUEUED_CONNECTION_H_

#include <memory>
#include <string>
#include <string_view>

#include "connection.h"
#include "line_assembler.h"
#include "output_queue.h"
#include "words.h"

namespace halv {

class QueuedConnection : public Connection {
 public:
  // `socket` must outlive the connection.
  QueuedConnection(StreamSocket& socket, std::string peer);

  // Connection: the sends queue (nothing once closed); Flush writes.
  void SendText(std::string_view text) override;
  void SendBytes(const void* data, std::size_t size) override;
  void SendStream(std::unique_ptr<ByteSource> source) override;
  // Writes what the socket takes now. A failed send closes the connection,
  // releases its queue and raises the socket's halv::Error.
  void Flush() override;
  void Close() override { closed_ = true; }
  bool IsClosed() const override { return closed_; }
  std::string PeerAddress() const override { return closed_ ? std::string() : peer_; }

  // The peer address as it was when connected.
  const std::string& Peer() const { return peer_; }

  // Whether no line may run now: closed, or output above the high-water mark
  // (then no further input should be read either).
  bool InputPaused() const override { return closed_ || queue_.AboveHighWater(); }
  ClientInput* Input() override { return &input_; }
  // Whether received lines wait to run.
  bool HasInput() const { return input_.HasInput(); }
  std::vector<std::vector<std::string>> WaitingCommands() const {
    return input_.WaitingCommands();
  }

  // The socket can take bytes again: resumes writing (raising as Flush).
  void Writable();
  // The peer has gone or the socket failed: closes and releases the queue.
  void Gone();
  // Closed by a command (QUIT) with output still to write: the socket should
  // stay until it is written or the peer goes.
  bool Draining() const { return closed_ && !gone_ && !queue_.Empty(); }

  const OutputQueue& Output() const { return queue_; }

 protected:
  // Told after each send that queued something (the connection is open).
  virtual void OutputChanged() {}

 private:
  OutputQueue queue_;
  ClientInput input_;
  std::string peer_;
  bool closed_ = false;
  bool gone_ = false;
};

}  // namespace halv

#endif  // HALV_SERVICE_CORE_QUEUED_CONNECTION_H_
