// The service's road for the wait tests: the real connection driver over
// fake sockets, the command runner, the operation scheduler over the
// simulated manager and a manual executor, and the fake service object.
// A client's bytes wait in its fake socket until the driver reads them, so
// a waiting connection leaves them unread as in the service; jobs run and
// their reports are delivered (as the host does, then the driver settles)
// only when the test says so.
#ifndef HALV_TESTS_UNIT_WAITS_WAITS_FIXTURE_H_
#define HALV_TESTS_UNIT_WAITS_WAITS_FIXTURE_H_

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "command_runner.h"
#include "connection_driver.h"
#include "driver_service.h"
#include "fake_server_context.h"
#include "fake_socket.h"
#include "interpreter.h"
#include "manual_executor.h"
#include "operation_scheduler.h"
#include "password_checks.h"
#include "settled_runner.h"
#include "simulated_manager.h"

namespace halv::testing {

// What one client received, as the byte stream it reads; built from the
// pieces a test expects, in order.
struct Sends {
  Sends() = default;
  Sends(std::initializer_list<std::string> pieces) {
    for (const std::string& piece : pieces) text += piece;
  }
  static Sends Of(std::string bytes) {
    Sends out;
    out.text = std::move(bytes);
    return out;
  }
  bool EndsWith(std::string_view tail) const {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
  }
  bool operator==(const Sends& other) const = default;
  std::string text;
};

inline void PrintTo(const Sends& sends, std::ostream* out) {
  *out << ::testing::PrintToString(sends.text);
}

// The transcript one client gets when every wait ends at once (each line
// through a command runner of its own, its jobs run before the next line):
// a fresh manager prepared by `setup`, then `receipts`, all but the first
// sent while the first one's wait is under way, so that they are read
// afterwards in one go.
inline Sends InlineTranscript(const std::function<void(SimulatedManager&)>& setup,
                              const std::vector<std::string>& receipts) {
  SimulatedManager scm;
  setup(scm);
  DriverContext server(scm);
  SettledRunner commands(server);
  TestService service(server, [&](ConnectionId, Connection& client, const CommandLine& line) {
    commands.Run(client, line);
  });
  FakeListeningSocket listener;
  ConnectionDriver driver(listener, service);
  listener.events = &driver;
  server.driver = &driver;
  const std::shared_ptr<FakePeer> peer = listener.Queue();
  driver.ListenerReady(0);
  const ConnectionId id = listener.accepted.at(0);
  std::string later;
  for (std::size_t i = 1; i < receipts.size(); ++i) later += receipts[i];
  peer->inbound = receipts.at(0);
  driver.Readable(id);
  if (!later.empty()) {
    peer->inbound = later;
    driver.Readable(id);
  }
  return Sends::Of(peer->out.received);
}

class WaitsTest : public ::testing::Test {
 protected:
  WaitsTest() {
    listener_.events = &driver_;
    server_.driver = &driver_;
    runner_.set_password_checks(&checks_);
    runner_.set_waiting_commands(
        [this](ConnectionId id) { return driver_.WaitingCommands(id); });
    runner_.set_on_wait_begin([this](ConnectionId id) {
      paused_.push_back(id);
      driver_.PauseInput(id);
    });
    runner_.set_on_wait_end([this](ConnectionId id) {
      resumed_.push_back(id);
      driver_.ResumeInput(id);
    });
  }

  // A new client from `address`, accepted by the driver; its number is
  // never used again.
  ConnectionId Connect(const std::string& address = "127.0.0.1") {
    std::shared_ptr<FakePeer> peer = listener_.Queue(address);
    driver_.ListenerReady(0);
    const ConnectionId id = listener_.accepted.back();
    peers_[id] = std::move(peer);
    return id;
  }

  // The client's connection is reset: it is gone and no longer found.
  void Disconnect(ConnectionId id) { driver_.Failed(id, 0); }

  // What the test sees and steers of client `id`'s socket.
  FakePeer& Peer(ConnectionId id) { return *peers_.at(id); }
  Sends SendsOf(ConnectionId id) { return Sends::Of(peers_.at(id)->out.received); }

  // Bytes from client `id` and their read notification. While its command
  // waits the driver leaves them unread in the socket.
  void Receive(ConnectionId id, const std::string& text) {
    Peer(id).inbound += text;
    driver_.Readable(id);
  }

  // Runs every job handed out so far (not those that their reports free).
  void RunJobs() {
    for (std::size_t n = executor_.Pending(); n > 0; --n) executor_.RunNext();
  }

  // Delivers one report as the host does: an error is recorded, then the
  // driver settles (replies written, resumed connections read on).
  void Deliver(const OperationReport& report) {
    try {
      runner_.Deliver(report);
    } catch (const std::exception& e) {
      service_.LogEventError(e.what());
    }
    driver_.Settle();
  }

  // Delivers one password check's result as the host does.
  void DeliverLogin(const LoginCheckReport& report) {
    try {
      runner_.DeliverLogin(report);
    } catch (const std::exception& e) {
      service_.LogEventError(e.what());
    }
    driver_.Settle();
  }

  // Delivers every posted report and check result, in order.
  void DeliverPosted() {
    std::vector<OperationReport> reports;
    reports.swap(posted_);
    for (const OperationReport& report : reports) Deliver(report);
    std::vector<LoginCheckReport> logins;
    logins.swap(login_posted_);
    for (const LoginCheckReport& report : logins) DeliverLogin(report);
  }

  // Runs jobs and delivers reports until nothing is left.
  void Settle() {
    driver_.Settle();
    while (executor_.Pending() != 0 || !posted_.empty() || !login_posted_.empty()) {
      RunJobs();
      DeliverPosted();
    }
  }

  SimulatedManager scm_;
  DriverContext server_{scm_};
  ManualExecutor executor_;
  std::vector<OperationReport> posted_;
  std::vector<OperationReport> history_;  // every report ever posted
  OperationScheduler scheduler_{executor_,
                                std::shared_ptr<ServiceManager>(&scm_, [](ServiceManager*) {}),
                                [this](OperationReport report) {
                                  history_.push_back(report);
                                  posted_.push_back(std::move(report));
                                }};
  // AUTH's transform runs on the same manual executor; how often it ran.
  int transforms_ = 0;
  std::vector<LoginCheckReport> login_posted_;
  PasswordChecks checks_{executor_,
                         [this](LoginCheckReport report) { login_posted_.push_back(report); },
                         access::Credentials{[this](std::string_view password) {
                                               ++transforms_;
                                               return access::Credentials::Standard().transform(
                                                   password);
                                             },
                                             access::ConstantTimeEquals}};
  CommandRunner runner_{server_, scheduler_,
                        [this](ConnectionId id) { return driver_.FindById(id); }};
  TestService service_{server_,
                       [this](ConnectionId id, Connection& client, const CommandLine& line) {
                         runner_.RunLine(id, client, line);
                       }};
  FakeListeningSocket listener_;
  ConnectionDriver driver_{listener_, service_};
  // Connections whose input was paused (each time) and resumed.
  std::vector<ConnectionId> paused_;
  std::vector<ConnectionId> resumed_;

 private:
  std::map<ConnectionId, std::shared_ptr<FakePeer>> peers_;
};

}  // namespace halv::testing

#endif  // HALV_TESTS_UNIT_WAITS_WAITS_FIXTURE_H_
