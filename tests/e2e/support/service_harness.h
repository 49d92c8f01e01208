// End-to-end harness: the real halvexa351.exe installed in Wine's Service
// Control Manager, configured through the registry, reached over TCP on
// loopback. Every e2e test program links it.
//
// Two runs of the suite may share one machine (two clones, each with its own
// Wine prefix, one network), so nothing here uses a fixed port: each fixture
// takes a free one (FreePort) and moves to another should the service find it
// taken when it starts. Every set-up step reports what failed, and every wait
// polls a condition until a deadline.
//
// Everything here is for the test's main thread, except Client and HeldPort
// objects, which any one thread may own and use.
#ifndef HALV_TESTS_E2E_SERVICE_HARNESS_H_
#define HALV_TESTS_E2E_SERVICE_HARNESS_H_

// Winsock's header must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "config_schema.h"

namespace halv::e2e {

inline const std::string kSystemKey = config::kSystemKey;
inline constexpr char kServiceName[] = "Halvexa351";

// ---- Files ----

// The folder of the running test program (where every built program lives).
std::string BinDir();
// A fresh, empty scratch folder under the system's temporary folder; raises
// a test failure (and returns "") when it cannot be created.
std::string MakeTempDir(const std::string& name);
// The file's bytes; "" when it cannot be opened.
std::string ReadFileBytes(const std::string& path);
// Creates or replaces the file with `bytes`; fails with the Windows error.
::testing::AssertionResult WriteFileBytes(const std::string& path, const std::string& bytes);

// ---- Ports ----

// A TCP port that no socket on any local address is bound to at the time of
// the call. With HALV_E2E_PORT_BASE=N in the environment it is the first
// free one of N .. N+199 (so concurrent runs can be given ranges of their
// own); otherwise the system picks it (bind to port 0). Another process may
// take it before the service binds it: InstalledServiceTest::StartRunning
// then moves to another. Returns 0 when no port could be found.
int FreePort();

// A port held by the test for as long as the object lives: a socket bound to
// `address` and `port` (0: the system chooses) and, with `listen`, listening
// (its backlog accepts connections that are never answered); without,
// connections to it are refused. Owned by one thread.
class HeldPort {
 public:
  HeldPort() = default;
  ~HeldPort();
  HeldPort(const HeldPort&) = delete;
  HeldPort& operator=(const HeldPort&) = delete;

  ::testing::AssertionResult Open(const char* address, bool listen, int port = 0);
  int port() const { return port_; }

 private:
  SOCKET socket_ = INVALID_SOCKET;
  int port_ = 0;
};

// ---- Configuration ----

// Writes a complete default configuration for `port` (BaseDir = BinDir(),
// ExecName halvexa351.exe, LogDir = `log_dir`, VerboseLogging "0"); fails
// with the value that could not be written.
::testing::AssertionResult WriteDefaultConfig(int port, const std::string& log_dir);
// Writes one REG_SZ value of the service's System key; fails with the text
// of the registry error.
::testing::AssertionResult SetSystemValue(const std::string& name, const std::string& value);
// Removes the product's whole registry tree.
void ClearConfig();
// The allowed entries of the access list of the key `path` (under
// HKEY_LOCAL_MACHINE), in order, as "<SID>:1" for full control and
// "<SID>:0" for less; {"unreadable"} or {"no list"} when there is none to read.
std::vector<std::string> KeyGrants(const std::string& path);
// KeyGrants of a key that only Administrators and SYSTEM may use.
inline const std::vector<std::string> kOnlyAdministratorsAndSystem = {"S-1-5-32-544:1",
                                                                     "S-1-5-18:1"};

// ---- Services ----

// Runs halvexa351.exe with the arguments and waits up to a minute; returns
// its exit code, the Windows error when it could not be started, or
// WAIT_TIMEOUT when it did not end in time.
DWORD RunServiceProgram(const std::string& arguments);
// /INSTALL /SILENT after removing any old installation; fails unless the
// program exits 0 and the manager then knows the service.
::testing::AssertionResult InstallService();
// Stops the service when installed, then /UNINSTALL /SILENT; fails unless the
// service is stopped and gone from the manager within the deadline.
::testing::AssertionResult UninstallService();

// Starts the service through the manager and waits (30 s at most) until it
// has left the start-pending state. Returns the state then (4 running,
// 1 stopped), or 0 when it could not be opened or queried.
DWORD StartAndWait(const char* name = kServiceName);
// Stops the service and waits (30 s at most) for it to be stopped. Returns
// the final state, or 0 when it could not be opened or queried.
DWORD StopAndWait(const char* name = kServiceName);
// The service's current state, or 0 when it is not installed.
DWORD ServiceState(const char* name = kServiceName);

// Registers halv_test_service.exe (next to the test program) as a service
// named `name` with the start type given, after removing any old one; fails
// with the manager's error.
::testing::AssertionResult InstallTestService(const char* name, const char* display_name,
                                              DWORD start_type = SERVICE_DEMAND_START);
// Stops and deletes the test service; fails when it is still there after
// the deadline. Nothing to do (success) when it is not installed.
::testing::AssertionResult RemoveTestService(const char* name);

// ---- Event log ----

// The Wine log that services.exe and its services write to (event-log
// reports among them) from byte `from` on; empty when unknown.
std::string WineLogText(std::size_t from = 0);
// The log's current size: a mark to pass to WineLogText or WaitForEventLog.
std::size_t WineLogSize();
// Waits until the Wine log holds an event-log report starting with `text`
// at or after byte `from`; false when `limit` passes first.
bool WaitForEventLog(const std::string& text, std::chrono::milliseconds limit,
                     std::size_t from = 0);

// ---- Waiting ----

// Polls `done` every 50 ms until it holds (true) or `limit` passes (false).
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// ---- TCP client ----

// Where a Client connects from and to.
struct ConnectOptions {
  const char* to = "127.0.0.1";  // the server's address (IPv4 or IPv6 text)
  const char* from = nullptr;    // the client's own address; null: any
  int receive_buffer = 0;        // non-zero: SO_RCVBUF before connecting (a slow reader)
  std::chrono::milliseconds timeout = std::chrono::seconds(10);  // for the connect
};

// One TCP client connection for a test. Reads take a time limit and stop
// early when the peer closes; nothing blocks longer than its limit (sends
// give up after 30 s). Owned and used by one thread.
class Client {
 public:
  Client() = default;
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Connects to `port` (closing any earlier connection first); fails with
  // the Winsock error, or on time-out.
  ::testing::AssertionResult Connect(int port, const ConnectOptions& options = {});
  ::testing::AssertionResult Connect(int port, int receive_buffer) {
    ConnectOptions options;
    options.receive_buffer = receive_buffer;
    return Connect(port, options);
  }
  // Sends all the bytes; false when the connection failed or the send timed out.
  bool Send(const std::string& bytes);
  // Reads until the text read by this call ends with `suffix`, the peer
  // closes or `limit` passes; returns what was read.
  std::string ReadUntil(const std::string& suffix,
                        std::chrono::milliseconds limit = std::chrono::seconds(10));
  // Reads until `done` holds for the text read by this call, the peer closes
  // or `limit` passes; returns what was read.
  std::string ReadWhile(const std::function<bool(const std::string&)>& done,
                        std::chrono::milliseconds limit);
  // Reads until `count` copies of `text` have arrived (or as ReadUntil).
  std::string ReadCount(const std::string& text, int count, std::chrono::milliseconds limit);
  // Sends `line` with CR LF and reads the reply up to `until`.
  std::string Ask(const std::string& line, const std::string& until = ":: ",
                  std::chrono::milliseconds limit = std::chrono::seconds(30));
  // Reads whatever arrives within `limit`, stopping early when the peer closes.
  std::string ReadFor(std::chrono::milliseconds limit);
  // Whether the server closes the connection within `limit`; what it sent
  // meanwhile goes to `text` when given.
  bool WaitClosed(std::chrono::milliseconds limit, std::string* text = nullptr);
  // Reads what arrives within `limit`, at most `max` bytes in one receive;
  // empty when nothing came or the peer has closed.
  std::string ReadSome(std::size_t max, std::chrono::milliseconds limit);
  // Bytes received and not yet read.
  std::size_t Pending() const;
  // Waits until the server has sent what it will for now without this client
  // reading: `want` bytes wait unread, or the amount waiting has not changed
  // for `still` (the server is held back by the full window). Returns the
  // amount waiting then; `limit` bounds the wait.
  std::size_t WaitBacklog(std::size_t want, std::chrono::milliseconds still,
                          std::chrono::milliseconds limit);
  // Leaves as a client that closes does (a FIN after everything it sent) and
  // waits until the server has closed its side too, that is, has handled the
  // disconnection. False when the server has not closed within `limit`.
  bool Leave(std::chrono::milliseconds limit = std::chrono::seconds(10));
  void Close();
  // Closes abortively: the peer sees the connection reset.
  void Reset();
  std::string LocalAddress() const;

 private:
  SOCKET socket_ = INVALID_SOCKET;
  bool peer_closed_ = false;
};

// ---- Fixture ----

// A fixture with the service installed and a fresh default configuration on
// Port(), a free port of its own, and its log folder in log_dir_; the
// service and the configuration are removed afterwards.
class InstalledServiceTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Starts the service and expects it running. When it stops because its
  // port was taken meanwhile (its bind failed), the configuration moves to
  // another free port and the start is repeated, a few times at most.
  void StartRunning();
  // The port the service is configured for.
  int Port() const { return port_; }
  // Waits until an event-log report starting with `text` was written since
  // this test's set-up.
  bool EventLogged(const std::string& text, std::chrono::milliseconds limit) const;
  // The Wine log since this test's set-up.
  std::string EventLogText() const;

  std::string log_dir_;

 private:
  int port_ = 0;
  std::size_t log_mark_ = 0;
};

}  // namespace halv::e2e

#endif  // HALV_TESTS_E2E_SERVICE_HARNESS_H_
