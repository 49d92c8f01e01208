// The connection driver: the service's client connections and their state,
// over a small socket interface, without Windows.
//
// The platform's listener (ServerSocket on Windows) opens the listening
// socket, accepts, and reports what its sockets say (accepted, readable,
// writable, input ended, failed) through SocketEvents, which the driver
// implements. The driver owns the connections: each has a number that is
// never used again, its QueuedConnection (line input and output queue) and
// its state: a read pending while its input is paused (output above the
// high-water mark, or one of its commands waiting), input ended by the peer
// with lines still to run, draining after QUIT with output still queued,
// reaped once closed (with the disconnection line). Receipts become whole
// lines, which go to the service (ConnectionService::RunLine) one by one.
// After each command, and at the end of every event, only the connections
// whose output changed are written (a command may send to other clients:
// CYCLE's warning). A poll (every second, from the host's timer) accepts what
// no notification announced and retries reads and writes, so a lost
// notification cannot stall a connection for good.
//
// Turns: one connection runs at most kLinesPerTurn lines at a time. The
// rest of its receipt waits (its socket unread meanwhile) while the others
// take their turn: with a turn poster set (the host's event loop) the next
// round of turns is an event of its own, queued behind what has arrived for
// other connections; without one, Settle gives the waiting connections
// their turns in rotation before it returns. A connection waiting for its
// turn runs nothing on its own socket's events (they only note that more
// may be read), so it cannot take a second turn ahead of the others. The
// turn shrinks as more connections wait (kLinesPerRound shared among them,
// at least one line each), and one turn event runs about kLinesPerEvent
// lines, so a newcomer's line, run when it arrives, waits behind a few
// dozen lines of the busy connections, however many they are.
//
// Everything runs on the service thread, one event at a time.
#ifndef HALV_SERVICE_CORE_CONNECTION_DRIVER_H_
#define HALV_SERVICE_CORE_CONNECTION_DRIVER_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "address_list.h"
#include "connection.h"
#include "operation_scheduler.h"
#include "output_queue.h"
#include "queued_connection.h"
#include "service_ports.h"
#include "words.h"

namespace halv {

// One accepted, non-blocking client socket. Owned by the driver; closed
// when destroyed.
class ClientSocket : public StreamSocket {
 public:
  // What Receive found besides the bytes.
  static constexpr int kOpen = 0;    // the peer may send more
  static constexpr int kEnded = -1;  // the peer has finished sending

  // Appends what has arrived so far (up to a bound per call) to `out`.
  // Returns kOpen, kEnded, or the socket's error code (> 0) of a failed read.
  virtual int Receive(std::string& out) = 0;
  // The peer's address as text, as it was when accepted.
  virtual std::string PeerAddress() const = 0;
};

// The listening socket under the driver: the platform's listener.
class ListeningSocket {
 public:
  virtual ~ListeningSocket() = default;
  virtual int Port() const = 0;
  // Changes the port of the next Open; raises "Can't change value while
  // socket is active" when open and the port differs.
  virtual void SetPort(int port) = 0;
  virtual bool Active() const = 0;
  // The address of the next Open (none: every IPv4 address); raises as
  // SetPort.
  virtual void SetAddress(const std::optional<access::IpAddress>& address) = 0;
  virtual const std::optional<access::IpAddress>& Address() const = 0;
  // Opens the listener (nothing when open); raises halv::Error on failure.
  virtual void Open() = 0;
  // Closes the listening socket only.
  virtual void Close() = 0;
  // Accepts every waiting connection (a bounded number), reporting each
  // through SocketEvents::Accepted. Nothing while closed.
  virtual void AcceptWaiting() = 0;
};

// What a platform listener reports. Service thread; the listener must not
// call these from inside another of them.
class SocketEvents {
 public:
  virtual ~SocketEvents() = default;
  // The listener has connections to accept (`error`: the notification's
  // error code, 0 for none, recorded in the event log).
  virtual void ListenerReady(int error) = 0;
  // A connection was accepted; the driver takes it over and returns its
  // number. Called only from ListeningSocket::AcceptWaiting.
  virtual ConnectionId Accepted(std::unique_ptr<ClientSocket> socket) = 0;
  // Connection `id` has bytes to read.
  virtual void Readable(ConnectionId id) = 0;
  // Connection `id` can take bytes again.
  virtual void Writable(ConnectionId id) = 0;
  // The peer of `id` has finished sending (and nothing is left to read).
  virtual void InputEnded(ConnectionId id) = 0;
  // The socket of `id` failed or was reset: the connection is gone. An
  // `error` other than 0 is recorded as "Asynchronous socket error <n>".
  virtual void Failed(ConnectionId id, int error) = 0;
};

// What the driver asks of the service (ServiceCore in the product).
class ConnectionService {
 public:
  virtual ~ConnectionService() = default;
  // A client has connected from `peer`: greets it, or refuses it (closing it).
  virtual void ServerSocket1ClientConnect(Connection& client, const std::string& peer) = 0;
  // The connection from `peer` has gone.
  virtual void ServerSocket1ClientDisconnect(const std::string& peer) = 0;
  // Runs one whole line of connection `id`; may raise a send failure.
  virtual void RunLine(ConnectionId id, Connection& client, const CommandLine& line) = 0;
  // Whether receipts are logged.
  virtual bool VerboseLogging() const = 0;
  // A server-log line.
  virtual void WriteLog(const std::string& text) = 0;
  // Records an error in the event log.
  virtual void LogEventError(const std::string& text) = 0;
  // A monotonic millisecond clock.
  virtual std::uint64_t TickMs() const = 0;
};

class ConnectionDriver final : public Listener, public SocketEvents {
 public:
  // How long a connection closed by QUIT may take to write its last output.
  static constexpr std::uint64_t kDrainLimitMs = 30000;
  // How many lines one connection runs before the others get a turn.
  static constexpr int kLinesPerTurn = 32;
  // How many lines the connections waiting for a turn share in one round:
  // each runs kLinesPerRound / waiting of them (at least one, at most
  // kLinesPerTurn).
  static constexpr int kLinesPerRound = 256;
  // A turn event (Turn) starts turns until this many lines have run; the
  // next turns are the next event.
  static constexpr int kLinesPerEvent = 64;

  // `socket` and `service` must outlive the driver; neither is used before
  // the first call, so either may be constructed after it.
  ConnectionDriver(ListeningSocket& socket, ConnectionService& service);
  ~ConnectionDriver() override;
  ConnectionDriver(const ConnectionDriver&) = delete;
  ConnectionDriver& operator=(const ConnectionDriver&) = delete;

  // Listener: the listening socket's, except Close, which also drops every
  // connection at once, whatever it has queued, without disconnection lines.
  int Port() const override { return socket_.Port(); }
  bool Active() const override { return socket_.Active(); }
  void SetPort(int port) override { socket_.SetPort(port); }
  void SetAddress(const std::optional<access::IpAddress>& address) override {
    socket_.SetAddress(address);
  }
  const std::optional<access::IpAddress>& Address() const override { return socket_.Address(); }
  void Open() override { socket_.Open(); }
  void Close() override;
  // The open connections, in order of acceptance.
  std::vector<Connection*> Clients() override;

  // SocketEvents. Each event ends with Settle; an error escaping its work
  // is recorded in the event log.
  void ListenerReady(int error) override;
  ConnectionId Accepted(std::unique_ptr<ClientSocket> socket) override;
  void Readable(ConnectionId id) override;
  void Writable(ConnectionId id) override;
  void InputEnded(ConnectionId id) override;
  void Failed(ConnectionId id, int error) override;

  // A receipt of connection `id`: its bytes join the connection's line
  // input, and its whole lines run while its input is not paused, each
  // command's output written when it ends. Nothing for a connection that
  // has gone. Raises what a command raises (the lines after it then wait).
  void ServerSocket1ClientRead(ConnectionId id, const std::string& text);

  // The host's poll: accepts what waits, retries blocked writes and reads
  // whose notification may be lost, ends drains older than kDrainLimitMs;
  // then Settle.
  void Poll();
  // The end of an event of the host (reports delivered, the idle check):
  // connections resumed meanwhile run their waiting lines and read on, the
  // changed output is written, and closed connections are reaped: the
  // disconnection line for each, dropped once nothing is left to write.
  void Settle();

  // The open connection numbered `id`, or null when it has gone or closed.
  Connection* FindById(ConnectionId id);
  // Pauses the input of `id` while one of its commands waits (the command
  // runner's wait hooks). Nothing for a connection that has gone.
  void PauseInput(ConnectionId id);
  // Ends that pause; its waiting lines run and what arrived meanwhile is
  // read at the next Settle (so not inside the caller).
  void ResumeInput(ConnectionId id);

  // The connection numbered `id` while it is kept (open, or closed and
  // still draining); null once dropped.
  QueuedConnection* ConnectionOf(ConnectionId id);
  // Whether connection `id` has received input that has not run yet.
  bool HasWaitingInput(ConnectionId id);
  // The words of the complete command lines of `id` received and not yet
  // run (held while one of its commands waits); none once it has gone.
  std::vector<std::vector<std::string>> WaitingCommands(ConnectionId id);
  // Sets what has Turn called later, as an event of its own (the host posts
  // it to its loop); called at most once until that Turn runs.
  void set_turn_poster(std::function<void()> post) { post_turn_ = std::move(post); }
  // Turns of the connections that have lines left from their last turn, in
  // the order they ran out, up to kLinesPerEvent lines (the next Turn is
  // posted for the rest); then Settle.
  void Turn();
  // Whether connections wait for a turn.
  bool TurnsWaiting() const { return !turns_.empty(); }

  // Connections kept, open or draining.
  std::size_t Count() const { return connections_.size(); }

 private:
  class Client;
  class Lines;

  Client* Find(ConnectionId id);
  // Reads one receipt (unless input is paused) and runs its lines.
  void Read(Client& client);
  // Runs lines that waited, then reads on when a read is pending.
  void Resume(Client& client);
  // The peer has finished sending: closes once the lines received have run.
  void EndInput(Client& client);
  // The receipt `text` of `client` ("" when only waiting lines may run
  // again): as the public ServerSocket1ClientRead, on the connection itself.
  void ServerSocket1ClientRead(Client& client, const std::string& text);
  // Writes the output of every connection whose output changed.
  void FlushChanged();
  void Reap();
  // The lines of one turn while `waiting` connections wait for theirs.
  static int TurnLines(std::size_t waiting);
  // Starts a turn of `client` of `lines` lines.
  static void BeginTurn(Client& client, int lines);
  // Starts a turn of `client` outside a round, if it is not waiting for one
  // (false then: its socket's events only note what may be read).
  bool BeginOwnTurn(Client& client);
  // Queues `client` for a turn when its turn ended with lines left.
  void QueueTurn(Client& client);
  // Turns from the front of the queue, up to kLinesPerEvent lines.
  void RunTurns();
  // Runs `work` for `client`, recording an error in the event log.
  template <typename Work>
  void Guarded(Work&& work);

  ListeningSocket& socket_;
  ConnectionService& service_;
  std::list<std::unique_ptr<Client>> connections_;
  ConnectionId next_id_ = 1;
  // Connections whose output changed since their last flush, and those
  // resumed since the last Settle, by number.
  std::vector<ConnectionId> changed_;
  std::vector<ConnectionId> resumed_;
  // Connections whose turn ended with lines left, in order; whether a Turn
  // has been posted and not run yet.
  std::deque<ConnectionId> turns_;
  std::function<void()> post_turn_;
  bool turn_posted_ = false;
  // The shared word buffer of the running line (64 KB, so not stacked).
  std::unique_ptr<CommandLine> words_ = std::make_unique<CommandLine>();
};

}  // namespace halv

#endif  // HALV_SERVICE_CORE_CONNECTION_DRIVER_H_
