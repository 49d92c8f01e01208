// A queued connection with the interpreter behind it, over a fake socket:
// pipelined commands read late, the high-water pause and resumption of
// input, VIEW of a large log to a slow reader, QUIT with output still
// queued, a client that goes, a failing socket and telnet answers.
#include "queued_connection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake_server_context.h"
#include "fake_socket.h"
#include "interpreter.h"
#include "recording_connection.h"
#include "simulated_manager.h"
#include "transcript.h"

namespace halv::testing {
namespace {

class QueuedConnectionTest : public ::testing::Test {
 protected:
  QueuedConnectionTest() { server_.AddClient(&client_); }

  // The reply the interpreter gives to `words`, all pieces joined.
  std::string ReplyTo(const std::vector<std::string>& words) {
    RecordingConnection recorder;
    ProcessCommand(server_, recorder, *MakeLine(words));
    std::string out;
    for (const std::string& piece : recorder.sends()) out += piece;
    return out;
  }

  // Takes a receipt as the listener does: the lines run, each command's
  // reply written when it ends.
  void Receive(const std::string& receipt) {
    client_.Receive(receipt, false, words_, run_, nullptr);
  }
  // The socket's writable notification, and the lines that may run again.
  void Writable() {
    client_.Writable();
    client_.RunLines(words_, run_);
  }

  SimulatedManager scm_;
  FakeServerContext server_{scm_};
  FakeSocket socket_;
  QueuedConnection client_{socket_, "127.0.0.1"};
  CommandLine words_;
  int commands_ = 0;
  QueuedConnection::CommandRunner run_ = [this](QueuedConnection& client,
                                                const CommandLine& words) {
    ++commands_;
    ProcessCommand(server_, client, words);
    client.Flush();
  };
};

std::string Repeat(const std::string& text, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += text;
  return out;
}

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
  EXPECT_TRUE(client_.Output().Empty());
}

TEST_F(QueuedConnectionTest, InputPausesAboveTheHighWaterMarkAndResumes) {
  const std::string help = ReplyTo({"help"});
  const int lines = static_cast<int>(2 * OutputQueue::kHighWater / help.size());
  socket_.limit = 0;
  Receive(Repeat("help\r\n", lines));
  // Lines stop running once the queue passes the mark; the rest wait.
  EXPECT_TRUE(client_.InputPaused());
  EXPECT_TRUE(client_.HasInput());
  EXPECT_EQ(commands_, static_cast<int>(OutputQueue::kHighWater / help.size()) + 1);
  EXPECT_LE(client_.Output().QueuedBytes(), OutputQueue::kHighWater + help.size());
  // The client reads a little: still above the mark, nothing runs.
  const int before = commands_;
  socket_.script.assign({100, 0});
  Writable();
  EXPECT_EQ(commands_, before);
  // The client reads everything: the rest run, in order.
  socket_.limit = FakeSocket::kAll;
  while (client_.HasInput() || !client_.Output().Empty()) Writable();
  EXPECT_EQ(commands_, lines);
  EXPECT_EQ(socket_.received, Repeat(help, lines));
  EXPECT_FALSE(client_.InputPaused());
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
  while ((client_.HasInput() || !client_.Output().Empty()) && rounds < 100000) {
    socket_.script.assign({4096, 4096, 0});
    Writable();
    most = std::max(most, client_.Output().QueuedBytes());
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
  client_.Gone();
  EXPECT_TRUE(client_.IsClosed());
  EXPECT_TRUE(client_.Output().Empty());
  EXPECT_EQ(server_.open_sources(), 0);
  EXPECT_FALSE(client_.Draining());
  Writable();  // a late notification changes nothing
  EXPECT_TRUE(socket_.received.empty());
  EXPECT_EQ(commands_, 1);
}

TEST_F(QueuedConnectionTest, QuitWithOutputQueuedDrainsThenEnds) {
  socket_.limit = 0;
  Receive("help\r\nquit\r\nwho\r\n");
  EXPECT_EQ(commands_, 2);  // WHO is never run
  EXPECT_TRUE(client_.IsClosed());
  EXPECT_TRUE(client_.Draining());
  socket_.limit = FakeSocket::kAll;
  Writable();
  EXPECT_EQ(socket_.received, ReplyTo({"help"}));
  EXPECT_FALSE(client_.Draining());
}

TEST_F(QueuedConnectionTest, FailedSendClosesAndRaises) {
  socket_.fail = true;
  EXPECT_THROW(Receive("help\r\nwho\r\n"), Error);
  EXPECT_TRUE(client_.IsClosed());
  EXPECT_FALSE(client_.Draining());
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
