// End-to-end harness: the real halvexa351.exe installed in Wine's Service
// Control Manager, configured through the registry, reached over TCP on
// loopback.
#ifndef HALV_TESTS_E2E_SERVICE_HARNESS_H_
#define HALV_TESTS_E2E_SERVICE_HARNESS_H_

// Winsock's header must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "config_schema.h"

namespace halv::e2e {

inline const std::string kSystemKey = config::kSystemKey;

// The folder of the running test program (where every built program lives).
std::string BinDir();
// A fresh scratch folder under the system's temporary folder.
std::string MakeTempDir(const std::string& name);
std::string ReadFileBytes(const std::string& path);

// Writes a complete default configuration for `port` (BaseDir = BinDir(),
// ExecName halvexa351.exe, LogDir = `log_dir`, VerboseLogging "0").
void WriteDefaultConfig(int port, const std::string& log_dir);
// Removes the product's whole registry tree.
void ClearConfig();

// Runs halvexa351.exe with the arguments; returns its exit code.
DWORD RunServiceProgram(const std::string& arguments);
void InstallService();    // /INSTALL /SILENT, after removing any old one
void UninstallService();  // stops it when running, then /UNINSTALL /SILENT

// Starts the service through the manager and waits until it has left the
// start-pending state. Returns the state then (4 running, 1 stopped).
DWORD StartAndWait(const char* name = "Halvexa351");
// Stops the service and waits for it to be stopped. Returns the final state.
DWORD StopAndWait(const char* name = "Halvexa351");
DWORD ServiceState(const char* name = "Halvexa351");

// Registers halv_test_service.exe (next to the test program) as a service
// named `name` with the start type given, after removing any old one;
// RemoveTestService stops and deletes it.
bool InstallTestService(const char* name, const char* display_name,
                        DWORD start_type = SERVICE_DEMAND_START);
void RemoveTestService(const char* name);

// The Wine log that services.exe and its services write to (event-log
// reports among them); empty when unknown.
std::string WineLogText();
// Waits until the Wine log holds `text` in an event-log report.
bool WaitForEventLog(const std::string& text, std::chrono::milliseconds limit);

// One TCP client on 127.0.0.1.
class Client {
 public:
  Client() = default;
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Connects; a non-zero `receive_buffer` sets the socket's receive buffer
  // first (a small one makes a slow reader).
  bool Connect(int port, int receive_buffer = 0);
  void Send(const std::string& bytes);
  // Reads until the received text ends with `suffix` or `limit` passes.
  std::string ReadUntil(const std::string& suffix,
                        std::chrono::milliseconds limit = std::chrono::seconds(10));
  // Reads whatever arrives within `limit`.
  std::string ReadFor(std::chrono::milliseconds limit);
  // Whether the server has closed the connection (waits up to `limit`).
  bool WaitClosed(std::chrono::milliseconds limit);
  // Reads what arrives within `limit`, at most `max` bytes in one receive;
  // empty when nothing came or the peer has closed.
  std::string ReadSome(std::size_t max, std::chrono::milliseconds limit);
  void Close();
  // Closes abortively: the peer sees the connection reset.
  void Reset();
  std::string LocalAddress() const;

 private:
  SOCKET socket_ = INVALID_SOCKET;
  bool peer_closed_ = false;
};

// A fixture with the service installed and a fresh default configuration on
// Port(), its log folder in log_dir_; everything is removed afterwards.
class InstalledServiceTest : public ::testing::Test {
 protected:
  virtual int Port() const = 0;
  void SetUp() override;
  void TearDown() override;
  // Starts the service and expects it running.
  void StartRunning();

  std::string log_dir_;
};

}  // namespace halv::e2e

#endif  // HALV_TESTS_E2E_SERVICE_HARNESS_H_
