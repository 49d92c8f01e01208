// Sockets for the connection tests: a stream socket that takes bytes by a
// script, records every send and can be told to fail; a client socket over
// it with bytes waiting to be read; and a listening socket that hands the
// driver the client sockets a test queues.
#ifndef HALV_TESTS_FAKES_SERVER_FAKE_SOCKET_H_
#define HALV_TESTS_FAKES_SERVER_FAKE_SOCKET_H_

#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "connection_driver.h"
#include "halv_error.h"
#include "output_queue.h"

namespace halv::testing {

class FakeSocket : public StreamSocket {
 public:
  // What the next sends take, one entry per send: a byte count (0 means it
  // would block). With the script empty, `limit` applies: each send takes
  // up to that many bytes (kAll: everything offered).
  static constexpr std::size_t kAll = static_cast<std::size_t>(-1);

  std::size_t Send(const char* data, std::size_t size) override {
    if (size == 0) throw Error("empty send");
    if (fail) throw Error("Windows socket error: reset (10054), on API 'send'");
    std::size_t take = limit;
    if (!script.empty()) {
      take = script.front();
      script.pop_front();
    }
    if (take > size) take = size;
    if (take == 0) {
      ++would_block;
      return 0;
    }
    sends.emplace_back(data, take);
    received.append(data, take);
    return take;
  }

  std::deque<std::size_t> script;
  std::size_t limit = kAll;
  bool fail = false;
  std::vector<std::string> sends;  // what each send took
  std::string received;            // everything taken, in order
  int would_block = 0;
};

// What a test can see and steer of one client socket; shared with the
// socket, so it stays readable after the driver has dropped the socket.
struct FakePeer {
  FakeSocket out;       // the service's side of the sends
  std::string inbound;  // bytes sent by the client, not yet read
  bool ended = false;   // the client has finished sending
  int read_error = 0;   // the error code the next read fails with
  int reads = 0;        // calls of Receive
  bool closed = false;  // the driver destroyed the socket
  std::string address = "127.0.0.1";
};

class FakeClientSocket final : public ClientSocket {
 public:
  explicit FakeClientSocket(std::shared_ptr<FakePeer> peer) : peer_(std::move(peer)) {}
  ~FakeClientSocket() override { peer_->closed = true; }

  std::size_t Send(const char* data, std::size_t size) override {
    return peer_->out.Send(data, size);
  }
  // Takes everything waiting; then reports the end or the error set.
  int Receive(std::string& out) override {
    ++peer_->reads;
    out += peer_->inbound;
    peer_->inbound.clear();
    if (peer_->read_error != 0) return peer_->read_error;
    return peer_->ended ? kEnded : kOpen;
  }
  std::string PeerAddress() const override { return peer_->address; }

 private:
  std::shared_ptr<FakePeer> peer_;
};

class FakeListeningSocket final : public ListeningSocket {
 public:
  int Port() const override { return port; }
  void SetPort(int value) override {
    if (value != port && active) throw Error("Can't change value while socket is active");
    port = value;
  }
  bool Active() const override { return active; }
  void SetAddress(const std::optional<access::IpAddress>& value) override { address = value; }
  const std::optional<access::IpAddress>& Address() const override { return address; }
  void Open() override { active = true; }
  void Close() override { active = false; }
  // Hands each queued socket to `events`, in order; records the numbers.
  void AcceptWaiting() override {
    ++accept_rounds;
    while (active && events != nullptr && !waiting.empty()) {
      auto socket = std::move(waiting.front());
      waiting.pop_front();
      accepted.push_back(events->Accepted(std::move(socket)));
    }
  }

  // Queues a client for the next accept; returns what the test sees of it.
  std::shared_ptr<FakePeer> Queue(std::string address = "127.0.0.1") {
    auto peer = std::make_shared<FakePeer>();
    peer->address = std::move(address);
    waiting.push_back(std::make_unique<FakeClientSocket>(peer));
    return peer;
  }

  SocketEvents* events = nullptr;
  int port = 9007;
  bool active = true;
  std::optional<access::IpAddress> address;
  std::deque<std::unique_ptr<ClientSocket>> waiting;
  std::vector<ConnectionId> accepted;
  int accept_rounds = 0;
};

}  // namespace halv::testing

#endif  // HALV_TESTS_FAKES_SERVER_FAKE_SOCKET_H_
