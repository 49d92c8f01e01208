// The connection driver over fake sockets with the interpreter behind it
// (every command inline), as the connection tests use it: clients are
// accepted, their bytes read and their replies written through the driver's
// events, as the platform's listener reports them.
#ifndef HALV_TESTS_UNIT_CONNECTION_DRIVER_FIXTURE_H_
#define HALV_TESTS_UNIT_CONNECTION_DRIVER_FIXTURE_H_

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "connection_driver.h"
#include "driver_service.h"
#include "fake_socket.h"
#include "interpreter.h"
#include "recording_connection.h"
#include "simulated_manager.h"
#include "transcript.h"

namespace halv::testing {

class DriverTest : public ::testing::Test {
 protected:
  DriverTest() {
    listener_.events = &driver_;
    server_.driver = &driver_;
  }

  // The reply the interpreter gives to `words`, all pieces joined.
  std::string ReplyTo(const std::vector<std::string>& words) {
    RecordingConnection recorder;
    ProcessCommand(server_, recorder, *MakeLine(words));
    std::string out;
    for (const std::string& piece : recorder.sends()) out += piece;
    return out;
  }

  // Accepts a client from `address`; returns its number.
  ConnectionId Connect(const std::string& address = "127.0.0.1") {
    std::shared_ptr<FakePeer> peer = listener_.Queue(address);
    driver_.ListenerReady(0);
    const ConnectionId id = listener_.accepted.back();
    peers_[id] = std::move(peer);
    return id;
  }
  FakePeer& Peer(ConnectionId id) { return *peers_.at(id); }
  FakeSocket& Out(ConnectionId id) { return peers_.at(id)->out; }
  // The connection while the driver keeps it; null once dropped.
  QueuedConnection* Kept(ConnectionId id) { return driver_.ConnectionOf(id); }

  // Bytes from the client and their read notification.
  void Receive(ConnectionId id, const std::string& text) {
    Peer(id).inbound += text;
    driver_.Readable(id);
  }
  // The socket's writable notification.
  void Writable(ConnectionId id) { driver_.Writable(id); }

  SimulatedManager scm_;
  DriverContext server_{scm_};
  int commands_ = 0;
  // The connection of each command run, in order.
  std::vector<ConnectionId> order_;
  TestService service_{server_, [this](ConnectionId id, Connection& client, const CommandLine& line) {
                         ++commands_;
                         order_.push_back(id);
                         ProcessCommand(server_, client, line);
                       }};
  FakeListeningSocket listener_;
  ConnectionDriver driver_{listener_, service_};

 private:
  std::map<ConnectionId, std::shared_ptr<FakePeer>> peers_;
};

inline std::string Repeat(const std::string& text, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += text;
  return out;
}

}  // namespace halv::testing

#endif  // HALV_TESTS_UNIT_CONNECTION_DRIVER_FIXTURE_H_
