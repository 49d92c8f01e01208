// The connection driver: accepting, reading, running lines, writing,
// pausing, draining and reaping the service's connections.
#include "connection_driver.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "halv_error.h"
#include "line_assembler.h"

namespace halv {
namespace {

std::string AsyncErrorText(int error) {
  return "Asynchronous socket error " + std::to_string(error);
}

// Holds a connection's socket in a base, so that it outlives the queue.
struct SocketHolder {
  explicit SocketHolder(std::unique_ptr<ClientSocket> s) : socket(std::move(s)) {}
  std::unique_ptr<ClientSocket> socket;
};

}  // namespace

// One connection: its socket, its queue and line input, and its state.
class ConnectionDriver::Client final : private SocketHolder, public QueuedConnection {
 public:
  Client(ConnectionDriver& driver, std::unique_ptr<ClientSocket> s, ConnectionId id)
      : SocketHolder(std::move(s)),
        QueuedConnection(*socket, socket->PeerAddress()),
        driver_(driver),
        id_(id) {}

  ConnectionId Id() const { return id_; }
  ClientSocket& Socket() { return *socket; }
  // Paused also while one of its commands waits.
  bool InputPaused() const override { return wait_paused || QueuedConnection::InputPaused(); }
  // Clears the changed mark; returns whether it was set.
  bool TakeChanged() { return std::exchange(changed_, false); }

  // A read notification waits for its read (input was paused).
  bool read_pending = false;
  // One of its commands waits (START, STOP, RSTRT on a worker).
  bool wait_paused = false;
  // The peer has finished sending: the connection closes once the lines
  // already received have run.
  bool input_ended = false;
  // The disconnection line has been written (the socket may still drain).
  bool disconnected = false;
  // When the disconnection was handled, on the service's clock.
  std::uint64_t drain_since = 0;
  // Lines this turn may still run; queued for a turn.
  int turn_left = kLinesPerTurn;
  bool turn_queued = false;

 private:
  void OutputChanged() override {
    if (changed_) return;
    changed_ = true;
    driver_.changed_.push_back(id_);
  }

  ConnectionDriver& driver_;
  ConnectionId id_;
  bool changed_ = false;
};

// Hands a connection's lines to the service, writing what changed after each.
class ConnectionDriver::Lines final : public LineSink {
 public:
  Lines(ConnectionDriver& driver, Client& client) : driver_(driver), client_(client) {}
  bool ReadyForLine() override {
    if (client_.InputPaused() || client_.turn_left <= 0) return false;
    --client_.turn_left;
    return true;
  }
  void RunCommand(const CommandLine& words) override {
    client_.set_last_receipt_ms(driver_.service_.TickMs());  // only command lines are activity
    driver_.service_.RunLine(client_.Id(), client_, words);
    driver_.FlushChanged();
  }
  void SendText(std::string_view text) override { client_.SendText(text); }
  void LogLine(const std::string& text) override { driver_.service_.WriteLog(text); }

 private:
  ConnectionDriver& driver_;
  Client& client_;
};

ConnectionDriver::ConnectionDriver(ListeningSocket& socket, ConnectionService& service)
    : socket_(socket), service_(service) {}

ConnectionDriver::~ConnectionDriver() = default;

template <typename Work>
void ConnectionDriver::Guarded(Work&& work) {
  try {
    work();
  } catch (const std::exception& e) {
    service_.LogEventError(e.what());
  }
}

void ConnectionDriver::Close() {
  socket_.Close();
  connections_.clear();  // closes each socket and drops its queue; no disconnection line
  changed_.clear();
  resumed_.clear();
  turns_.clear();
}

std::vector<Connection*> ConnectionDriver::Clients() {
  std::vector<Connection*> out;
  for (auto& c : connections_)
    if (!c->IsClosed()) out.push_back(c.get());
  return out;
}

ConnectionDriver::Client* ConnectionDriver::Find(ConnectionId id) {
  for (auto& c : connections_)
    if (c->Id() == id) return c.get();
  return nullptr;
}

Connection* ConnectionDriver::FindById(ConnectionId id) {
  Client* client = Find(id);
  return client == nullptr || client->IsClosed() ? nullptr : client;
}

QueuedConnection* ConnectionDriver::ConnectionOf(ConnectionId id) { return Find(id); }

bool ConnectionDriver::HasWaitingInput(ConnectionId id) {
  Client* client = Find(id);
  return client != nullptr && client->HasInput();
}

std::vector<std::vector<std::string>> ConnectionDriver::WaitingCommands(ConnectionId id) {
  Client* client = Find(id);
  if (client == nullptr) return {};
  return client->WaitingCommands();
}

void ConnectionDriver::PauseInput(ConnectionId id) {
  if (Client* client = Find(id)) client->wait_paused = true;
}

void ConnectionDriver::ResumeInput(ConnectionId id) {
  Client* client = Find(id);
  if (client == nullptr) return;
  client->wait_paused = false;
  client->read_pending = true;  // what arrived meanwhile waits in the socket
  resumed_.push_back(id);
}

void ConnectionDriver::ListenerReady(int error) {
  // An error is recorded, and the queue is still taken: no further accept
  // notification comes until the waiting connections have been accepted.
  if (error != 0) service_.LogEventError(AsyncErrorText(error));
  Guarded([&] { socket_.AcceptWaiting(); });
  Settle();
}

ConnectionId ConnectionDriver::Accepted(std::unique_ptr<ClientSocket> socket) {
  const ConnectionId id = next_id_++;
  connections_.push_back(std::make_unique<Client>(*this, std::move(socket), id));
  Client& client = *connections_.back();
  Guarded([&] { service_.ServerSocket1ClientConnect(client, client.Peer()); });
  return id;
}

void ConnectionDriver::Readable(ConnectionId id) {
  if (Client* client = Find(id); client != nullptr && BeginOwnTurn(*client)) {
    Guarded([&] { Read(*client); });
    QueueTurn(*client);
  }
  Settle();
}

void ConnectionDriver::Writable(ConnectionId id) {
  if (Client* client = Find(id)) {
    Guarded([&] { client->Writable(); });
    if (BeginOwnTurn(*client)) {
      Guarded([&] { Resume(*client); });
      QueueTurn(*client);
    }
  }
  Settle();
}

int ConnectionDriver::TurnLines(std::size_t waiting) {
  const std::size_t share = kLinesPerRound / std::max<std::size_t>(waiting, 1);
  return static_cast<int>(std::clamp<std::size_t>(share, 1, kLinesPerTurn));
}

void ConnectionDriver::BeginTurn(Client& client, int lines) { client.turn_left = lines; }

bool ConnectionDriver::BeginOwnTurn(Client& client) {
  if (client.turn_queued) {
    // Its turn reads what has arrived, once the lines it holds have run.
    if (!client.input_ended && !client.IsClosed()) client.read_pending = true;
    return false;
  }
  // As if every connection were busy: when many arrive at once, none of
  // them holds the next one back for long.
  BeginTurn(client, TurnLines(connections_.size()));
  return true;
}

void ConnectionDriver::QueueTurn(Client& client) {
  if (client.turn_queued || client.IsClosed() || client.InputPaused() || !client.HasInput())
    return;
  client.turn_queued = true;
  turns_.push_back(client.Id());
}

void ConnectionDriver::RunTurns() {
  // The connections waiting now, from the front, until about kLinesPerEvent
  // lines have run; the rest wait for the next event, after what has arrived
  // for other connections meanwhile.
  const int lines = TurnLines(turns_.size());
  std::size_t left = turns_.size();
  int ran = 0;
  while (left > 0 && ran < kLinesPerEvent) {
    --left;
    const ConnectionId id = turns_.front();
    turns_.pop_front();
    Client* client = Find(id);
    if (client == nullptr) continue;
    client->turn_queued = false;
    BeginTurn(*client, lines);
    Guarded([&] { Resume(*client); });
    ran += lines - std::max(client->turn_left, 0);
    QueueTurn(*client);
    FlushChanged();
  }
}

void ConnectionDriver::Turn() {
  turn_posted_ = false;
  RunTurns();
  Settle();
}

void ConnectionDriver::InputEnded(ConnectionId id) {
  Client* client = Find(id);
  if (client != nullptr && !client->IsClosed()) Guarded([&] { EndInput(*client); });
  Settle();
}

void ConnectionDriver::Failed(ConnectionId id, int error) {
  if (Client* client = Find(id)) {
    client->Gone();
    if (error != 0) service_.LogEventError(AsyncErrorText(error));
  }
  Settle();
}

void ConnectionDriver::ServerSocket1ClientRead(ConnectionId id, const std::string& text) {
  Client* client = Find(id);
  if (client == nullptr) return;
  if (client->turn_queued) {
    // Waiting for its turn: the bytes join its input, its lines wait.
    client->turn_left = 0;
    ServerSocket1ClientRead(*client, text);
    return;
  }
  BeginTurn(*client, TurnLines(connections_.size()));
  ServerSocket1ClientRead(*client, text);
  QueueTurn(*client);
}

void ConnectionDriver::ServerSocket1ClientRead(Client& client, const std::string& text) {
  if (client.IsClosed()) return;
  ClientInput* input = client.Input();
  Lines lines(*this, client);
  if (!text.empty()) input->Receive(text, service_.VerboseLogging(), lines);
  input->RunLines(*words_, lines);
}

void ConnectionDriver::Read(Client& client) {
  if (client.IsClosed()) return;
  // Lines that waited run before anything further is read.
  if (!client.InputPaused() && client.HasInput()) ServerSocket1ClientRead(client, std::string());
  if (client.IsClosed()) return;
  if (!client.InputPaused() && client.HasInput()) {
    // The turn ended with lines left: they run first, at the next turn.
    if (!client.input_ended) client.read_pending = true;
    return;
  }
  if (client.input_ended) {
    if (!client.InputPaused() && !client.HasInput()) client.Close();
    return;
  }
  if (client.InputPaused()) {
    client.read_pending = true;  // the read happens when the pause ends
    return;
  }
  client.read_pending = false;
  std::string text;
  const int state = client.Socket().Receive(text);
  std::exception_ptr failure;  // from the commands; the read's own state is handled first
  try {
    if (!text.empty()) ServerSocket1ClientRead(client, text);
  } catch (...) {
    failure = std::current_exception();
  }
  if (state > 0) {
    client.Gone();
    if (!failure) throw Error(AsyncErrorText(state));
    service_.LogEventError(AsyncErrorText(state));
  } else if (state == ClientSocket::kEnded) {
    EndInput(client);
  } else if (!client.IsClosed() && client.HasInput()) {
    client.read_pending = true;  // more may wait in the socket once these have run
  }
  if (failure) std::rethrow_exception(failure);
}

void ConnectionDriver::Resume(Client& client) {
  if (client.IsClosed() || client.InputPaused()) return;
  if (client.HasInput()) ServerSocket1ClientRead(client, std::string());
  if (client.IsClosed() || client.InputPaused()) return;
  if (client.input_ended) {
    if (!client.HasInput()) client.Close();
  } else if (client.read_pending) {
    Read(client);
  }
}

void ConnectionDriver::EndInput(Client& client) {
  client.input_ended = true;
  client.read_pending = false;
  // Lines already received still run (they may wait for the queue).
  if (!client.HasInput()) client.Close();
}

void ConnectionDriver::FlushChanged() {
  // A flush runs no command, so no connection changes while this runs.
  std::vector<ConnectionId> changed;
  changed.swap(changed_);
  for (ConnectionId id : changed) {
    Client* client = Find(id);
    if (client == nullptr || !client->TakeChanged()) continue;
    if (client->Output().Empty() || client->Output().Blocked()) continue;
    Guarded([&] { client->Flush(); });
  }
}

void ConnectionDriver::Settle() {
  std::vector<ConnectionId> resumed;
  resumed.swap(resumed_);
  for (ConnectionId id : resumed) {
    if (Client* client = Find(id); client != nullptr && BeginOwnTurn(*client)) {
      Guarded([&] { Resume(*client); });
      QueueTurn(*client);
    }
  }
  if (!post_turn_) {
    while (!turns_.empty()) RunTurns();
  } else if (!turns_.empty() && !turn_posted_) {
    turn_posted_ = true;
    post_turn_();
  }
  FlushChanged();
  Reap();
}

void ConnectionDriver::Reap() {
  for (auto it = connections_.begin(); it != connections_.end();) {
    Client& c = **it;
    if (!c.IsClosed()) {
      ++it;
      continue;
    }
    if (!c.disconnected) {
      c.disconnected = true;
      c.drain_since = service_.TickMs();
      Guarded([&] { service_.ServerSocket1ClientDisconnect(c.Peer()); });
    }
    if (c.Draining()) {
      ++it;  // the socket stays until its last output has gone out
      continue;
    }
    it = connections_.erase(it);
  }
}

void ConnectionDriver::Poll() {
  Guarded([&] { socket_.AcceptWaiting(); });
  const std::uint64_t now = service_.TickMs();
  for (auto& c : connections_) {
    Guarded([&] {
      if (c->disconnected) {
        // Closed by a command, draining: retry the write; give up when overdue.
        if (now - c->drain_since > kDrainLimitMs) {
          c->Gone();
        } else if (c->Output().Blocked()) {
          c->Writable();
        }
        return;
      }
      // A lost write or read notification must not stall the connection.
      if (c->Output().Blocked()) c->Writable();
      // Each connection not waiting for a turn takes a short one of its own.
      if (!BeginOwnTurn(*c)) return;
      Resume(*c);
      if (!c->IsClosed() && !c->InputPaused() && !c->input_ended) Read(*c);
    });
    QueueTurn(*c);
  }
  Settle();
}

}  // namespace halv
