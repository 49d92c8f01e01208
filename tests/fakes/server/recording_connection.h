// A client connection for tests that records every send as it was made.
#ifndef HALV_TESTS_FAKES_SERVER_RECORDING_CONNECTION_H_
#define HALV_TESTS_FAKES_SERVER_RECORDING_CONNECTION_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "connection.h"
#include "line_assembler.h"

namespace halv::testing {

enum class SendKind { kText, kBytes };

class RecordingConnection : public Connection {
 public:
  explicit RecordingConnection(std::string peer_address = "127.0.0.1")
      : peer_address_(std::move(peer_address)) {}

  // Records the text as one send. Does nothing once closed. With sends set to
  // fail, closes the connection and raises halv::Error, as a real connection
  // does on a broken socket.
  void SendText(std::string_view text) override;
  // Records the bytes (zero bytes included) as one send, as SendText.
  void SendBytes(const void* data, std::size_t size) override;
  // Records the point of the flush: the number of sends made before it.
  void Flush() override { flushes_.push_back(sends_.size()); }
  void Close() override { closed_ = true; }
  bool IsClosed() const override { return closed_; }
  std::string PeerAddress() const override { return peer_address_; }
  // Keeps the unfinished line between receipts, as a real connection does.
  ClientInput* Input() override { return &input_; }

  void set_peer_address(std::string address) { peer_address_ = std::move(address); }
  void set_fail_sends(bool fail) { fail_sends_ = fail; }

  // Every recorded send, in order, and whether each was text or a byte block.
  const std::vector<std::string>& sends() const { return sends_; }
  const std::vector<SendKind>& kinds() const { return kinds_; }
  // For each Flush, how many sends had been recorded before it.
  const std::vector<std::size_t>& flushes() const { return flushes_; }
  void ClearSends() {
    sends_.clear();
    kinds_.clear();
    flushes_.clear();
  }

 private:
  void Record(std::string data, SendKind kind);

  std::string peer_address_;
  bool closed_ = false;
  bool fail_sends_ = false;
  std::vector<std::string> sends_;
  std::vector<SendKind> kinds_;
  std::vector<std::size_t> flushes_;
  ClientInput input_;
};

}  // namespace halv::testing

#endif  // HALV_TESTS_FAKES_SERVER_RECORDING_CONNECTION_H_
