// The connection driver's other side for tests: a service whose lines go
// to a function the test gives (no greeting) and that records what the
// driver logs, and a
// fake service object whose client list is the driver's.
#ifndef HALV_TESTS_FAKES_SERVER_DRIVER_SERVICE_H_
#define HALV_TESTS_FAKES_SERVER_DRIVER_SERVICE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "connection_driver.h"
#include "fake_server_context.h"

namespace halv::testing {

// The service object whose client list is the driver's.
class DriverContext final : public FakeServerContext {
 public:
  using FakeServerContext::FakeServerContext;
  std::vector<Connection*> Clients() override {
    return driver == nullptr ? std::vector<Connection*>{} : driver->Clients();
  }
  ConnectionDriver* driver = nullptr;
};

// The driver's service: lines go to `run`; no greeting; what the driver
// records is kept.
class TestService final : public ConnectionService {
 public:
  using Run = std::function<void(ConnectionId, Connection&, const CommandLine&)>;
  TestService(const FakeServerContext& server, Run run) : server_(server), run_(std::move(run)) {}
  void ServerSocket1ClientConnect(Connection&, const std::string&) override {}
  void ServerSocket1ClientDisconnect(const std::string& peer) override {
    disconnected.push_back(peer);
  }
  void RunLine(ConnectionId id, Connection& client, const CommandLine& line) override {
    run_(id, client, line);
  }
  bool VerboseLogging() const override { return verbose; }
  void WriteLog(const std::string& text) override { log_lines.push_back(text); }
  void LogEventError(const std::string& text) override { errors.push_back(text); }
  std::uint64_t TickMs() const override { return server_.TickMs(); }

  bool verbose = false;
  std::vector<std::string> errors;        // event-log lines
  std::vector<std::string> disconnected;  // peers, in order
  std::vector<std::string> log_lines;     // server-log lines (verbose only)

 private:
  const FakeServerContext& server_;
  Run run_;
};

}  // namespace halv::testing

#endif  // HALV_TESTS_FAKES_SERVER_DRIVER_SERVICE_H_
