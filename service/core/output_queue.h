// The output queue of one client connection.
//
// Every text for the client is appended in order; Flush writes what the
// socket takes now and keeps the rest, and Writable (the socket's
// writable notification) resumes the writing. Bytes appended together
// leave in one send, so a reply the socket can take is one send. A byte
// source (the log file of VIEW) is read a chunk at a time, only when
// everything before it has been handed to the socket, so a file of any
// size needs about one chunk of memory. While the connection lives nothing
// is dropped, reordered or duplicated. Service thread only.
#ifndef HALV_SERVICE_CORE_OUTPUT_QUEUE_H_
#define HALV_SERVICE_CORE_OUTPUT_QUEUE_H_

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "byte_source.h"

namespace halv {

// The socket under an output queue.
class StreamSocket {
 public:
  virtual ~StreamSocket() = default;
  // Hands up to `size` (> 0) bytes to the socket without waiting. Returns
  // how many it took, 0 when it would block. Raises halv::Error (with the
  // socket's error text) when the send fails.
  virtual std::size_t Send(const char* data, std::size_t size) = 0;
};

class OutputQueue {
 public:
  // Above this many unsent bytes the connection takes no further lines.
  static constexpr std::size_t kHighWater = 256 * 1024;
  // How much of a byte source is read at a time.
  static constexpr std::size_t kSourceChunk = 64 * 1024;

  // `socket` must outlive the queue.
  explicit OutputQueue(StreamSocket& socket) : socket_(socket) {}
  OutputQueue(const OutputQueue&) = delete;
  OutputQueue& operator=(const OutputQueue&) = delete;

  // Queues `bytes` after everything queued before.
  void Append(std::string_view bytes);
  // Queues everything `source` yields up to its end (a read error ends it
  // like the end); the source is released once read to its end.
  void AppendSource(std::unique_ptr<ByteSource> source);
  // Writes queued bytes while the socket takes them. Stops when the queue
  // is empty or the socket would block; then Blocked() holds until
  // Writable(). Does nothing while blocked. A failed send releases the
  // queue and raises the socket's halv::Error.
  void Flush();
  // The socket can take bytes again: clears Blocked() and flushes.
  void Writable();
  // Drops everything queued and releases the sources (the client is gone).
  void Release();

  bool Empty() const { return segments_.empty(); }
  bool Blocked() const { return blocked_; }
  // Unsent bytes, not counting what byte sources have yet to yield.
  std::size_t QueuedBytes() const { return queued_; }
  // Whether the connection should take no further lines: more than
  // kHighWater bytes unsent, or a byte source still being sent.
  bool AboveHighWater() const { return queued_ > kHighWater || sources_ > 0; }

 private:
  struct Segment {
    std::string bytes;
    std::unique_ptr<ByteSource> source;  // set for a source segment
  };
  // Reads the next chunk of the source at the front into a byte segment
  // before it, or drops the source at its end.
  void ReadSource();

  StreamSocket& socket_;
  std::deque<Segment> segments_;
  std::size_t offset_ = 0;  // bytes of the front segment already sent
  std::size_t queued_ = 0;
  std::size_t sources_ = 0;
  bool blocked_ = false;
};

}  // namespace halv

#endif  // HALV_SERVICE_CORE_OUTPUT_QUEUE_H_
