// A queued connection with the interpreter behind it, driven by the
// connection driver over a fake socket: pipelined commands read late, the
// high-water pause and resumption of input, VIEW of a large log to a slow
// reader, QUIT with output still queued, a client that goes, a failing
// socket and telnet answers.
#include "queued_connection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver_fixture.h"

namespace halv::testing {
namespace {

class QueuedConnectionTest : public DriverTest {
 protected:
  QueuedConnectionTest() : id_(Connect()), socket_(Out(id_)) {}

  // A receipt, read as the listener reports it.
  void Receive(const std::string& receipt) { DriverTest::Receive(id_, receipt); }
  // The socket's writable notification; lines that waited run again.
  void Writable() { DriverTest::Writable(id_); }
  QueuedConnection& Client() { return *Kept(id_); }

  const ConnectionId id_;
  FakeSocket& socket_;
};

TEST_F(QueuedConnectionTest, EachCommandIsOneSend) {
  Receive("help\r\nstime\r\nhelp stop\r\n");
  EXPECT_EQ(socket_.sends, (std::vector<std::string>{ReplyTo({"help"}), ReplyTo({"stime"}),
                                                     ReplyTo({"help", "stop"})}));
}

TEST_F(QueuedConnectionTest, PipelinedCommandsReadLateAreAllAnsweredInOrder) {
  socket_.limit = 0;  // the client reads nothing yet
  Receive(Repeat("help\r\nstime\r\n", 200));
  EXPECT_EQ(commands_, 400);
  EXPECT_TRUE(socket_.received.empty());
  socket_.limit = FakeSocket::kAll;
  Writable();
  EXPECT_EQ(socket_.received, Repeat(ReplyTo({"help"}) + ReplyTo({"stime"}), 200));
  EXPECT_TRUE(Client().Output().Empty());
}

TEST_F(QueuedConnectionTest, InputPausesAboveTheHighWaterMarkAndResumes) {
  const std::string help = ReplyTo({"help"});
  const int lines = static_cast<int>(2 * OutputQueue::kHighWater / help.size());
  socket_.limit = 0;
  Receive(Repeat("help\r\n", lines));
  // Lines stop running once the queue passes the mark; the rest wait.
  EXPECT_TRUE(Client().InputPaused());
  EXPECT_TRUE(Client().HasInput());
  EXPECT_EQ(commands_, static_cast<int>(OutputQueue::kHighWater / help.size()) + 1);
  EXPECT_LE(Client().Output().QueuedBytes(), OutputQueue::kHighWater + help.size());
  // The client reads a little: still above the mark, nothing runs.
  const int before = commands_;
  socket_.script.assign({100, 0});
  Writable();
  EXPECT_EQ(commands_, before);
  // The client reads everything: the rest run, in order.
  socket_.limit = FakeSocket::kAll;
  while (Client().HasInput() || !Client().Output().Empty()) Writable();
  EXPECT_EQ(commands_, lines);
  EXPECT_EQ(socket_.received, Repeat(help, lines));
  EXPECT_FALSE(Client().InputPaused());
}

TEST_F(QueuedConnectionTest, ViewOfALargeLogToASlowReader) {
  std::string log;
  for (int i = 0; log.size() < 3 * 1024 * 1024; ++i)
    log +=
        "9 December 2026 11:16:11 PM Status: Client (127.0.0.1) line " + std::to_string(i) + "\r\n";
  server_.SetFile(server_.fields().log_pathfile, log);
  socket_.limit = 4096;
  socket_.script.assign({4096, 0});
  Receive("view\r\nstime\r\n");
  EXPECT_EQ(commands_, 1);  // STIME waits until the file has gone out
  std::size_t most = 0;
  int rounds = 0;
  while ((Client().HasInput() || !Client().Output().Empty()) && rounds < 100000) {
    socket_.script.assign({4096, 4096, 0});
    Writable();
    most = std::max(most, Client().Output().QueuedBytes());
    ++rounds;
  }
  EXPECT_EQ(commands_, 2);
  EXPECT_EQ(socket_.received, log + "\n\r:: " + ReplyTo({"stime"}));
  EXPECT_LE(most, OutputQueue::kSourceChunk + 16);
  EXPECT_EQ(server_.open_sources(), 0);
}

TEST_F(QueuedConnectionTest, ClientGoneReleasesItsQueueAtOnce) {
  server_.SetFile(server_.fields().log_pathfile, std::string(1000000, 'x'));
  socket_.limit = 0;
  Receive("view\r\nhelp\r\n");
  EXPECT_EQ(server_.open_sources(), 1);
  QueuedConnection& client = Client();
  client.Gone();
  EXPECT_TRUE(client.IsClosed());
  EXPECT_TRUE(client.Output().Empty());
  EXPECT_EQ(server_.open_sources(), 0);
  EXPECT_FALSE(client.Draining());
  Writable();  // a late notification: the driver drops the connection
  EXPECT_EQ(Kept(id_), nullptr);
  EXPECT_TRUE(Peer(id_).closed);
  Writable();  // and one after that changes nothing
  EXPECT_TRUE(socket_.received.empty());
  EXPECT_EQ(commands_, 1);
}

TEST_F(QueuedConnectionTest, QuitWithOutputQueuedDrainsThenEnds) {
  socket_.limit = 0;
  Receive("help\r\nquit\r\nwho\r\n");
  EXPECT_EQ(commands_, 2);  // WHO is never run
  EXPECT_TRUE(Client().IsClosed());
  EXPECT_TRUE(Client().Draining());
  EXPECT_FALSE(Peer(id_).closed);  // kept until its output has gone
  socket_.limit = FakeSocket::kAll;
  Writable();
  EXPECT_EQ(socket_.received, ReplyTo({"help"}));
  EXPECT_EQ(Kept(id_), nullptr);  // drained, then dropped
  EXPECT_TRUE(Peer(id_).closed);
}

// The driver records the failure; the connection goes and its other
// lines never run.
TEST_F(QueuedConnectionTest, FailedSendClosesAndIsRecorded) {
  socket_.fail = true;
  Receive("help\r\nwho\r\n");
  EXPECT_EQ(service_.errors,
            std::vector<std::string>{"Windows socket error: reset (10054), on API 'send'"});
  EXPECT_EQ(Kept(id_), nullptr);
  EXPECT_TRUE(Peer(id_).closed);
  EXPECT_EQ(commands_, 1);
}

TEST_F(QueuedConnectionTest, TelnetAnswersGoOutInOrderWithTheReplies) {
  Receive("\xff\xfd\x01\xff\xfb\x18help\r\n");
  EXPECT_EQ(socket_.received, "\xff\xfc\x01\xff\xfe\x18" + ReplyTo({"help"}));
}

TEST_F(QueuedConnectionTest, OverLongLineAnswersOneErrorLine) {
  Receive(std::string(700, 'a') + "\r\nstime\r\n");
  EXPECT_EQ(socket_.received, std::string(kLineTooLongReply) + ReplyTo({"stime"}));
  EXPECT_EQ(commands_, 1);
}

}  // namespace
}  // namespace halv::testing
