// The connection driver's state machine over fake sockets: reads pending
// while a connection is paused and read once it resumes, input ended with
// lines still waiting, QUIT draining into a blocked socket and the drain
// limit, reaping with the disconnection line, the poll standing in for a
// lost notification, a client gone in mid-reply, and writes that touch only
// the connections whose output changed.
#include "connection_driver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver_fixture.h"

namespace halv::testing {
namespace {

using Lines = std::vector<std::string>;

// --- A pause and its end: the bytes wait in the socket, unread, and are
// read and run when the pause ends, in the order they came.

enum class Pause { kWait, kHighWater };

struct PauseCase {
  const char* label;
  Pause pause;
  std::vector<std::string> receipts;  // arriving during the pause
  bool ended;                         // the client finished sending meanwhile
};

const PauseCase kPauseCases[] = {
    {"WaitOneReceipt", Pause::kWait, {"stime\r\n"}, false},
    {"WaitSeveralReceipts", Pause::kWait, {"sti", "me\r\nup", "date\r\n"}, false},
    {"WaitThenEnded", Pause::kWait, {"stime\r\nupdate\r\n"}, true},
    {"HighWaterOneReceipt", Pause::kHighWater, {"stime\r\n"}, false},
    {"HighWaterThenEnded", Pause::kHighWater, {"stime\r\nupdate\r\n"}, true},
};

class PauseTest : public DriverTest, public ::testing::WithParamInterface<PauseCase> {};

TEST_P(PauseTest, BytesWaitUnreadAndRunInOrderWhenThePauseEnds) {
  const PauseCase& c = GetParam();
  const ConnectionId id = Connect();
  std::string before;  // what the client gets before the pause ends
  if (c.pause == Pause::kWait) {
    driver_.PauseInput(id);
  } else {
    // A reply larger than the high-water mark, unread by the client.
    server_.SetFile(server_.fields().log_pathfile, std::string(OutputQueue::kHighWater + 1, 'x'));
    Out(id).limit = 0;
    Receive(id, "view\r\n");
    ASSERT_TRUE(Kept(id)->InputPaused());
  }
  const int commands_before = commands_;
  std::string all;
  for (const std::string& receipt : c.receipts) {
    Receive(id, receipt);
    all += receipt;
  }
  if (c.ended) {
    Peer(id).ended = true;
    driver_.Readable(id);
  }
  // Nothing was read: the bytes are still in the socket.
  EXPECT_EQ(Peer(id).inbound, all);
  EXPECT_EQ(commands_, commands_before);

  if (c.pause == Pause::kWait) {
    driver_.ResumeInput(id);
    EXPECT_EQ(Peer(id).inbound, all);  // not inside the caller
    driver_.Settle();
  } else {
    Out(id).limit = FakeSocket::kAll;
    while (Kept(id) != nullptr && !Kept(id)->Output().Empty()) Writable(id);
  }
  EXPECT_TRUE(Peer(id).inbound.empty());
  std::string expected = ReplyTo({"stime"});
  if (all.find("update") != std::string::npos) expected += ReplyTo({"update"});
  EXPECT_TRUE(Out(id).received.size() >= expected.size() &&
              Out(id).received.compare(Out(id).received.size() - expected.size(), expected.size(),
                                       expected) == 0)
      << Out(id).received.substr(Out(id).received.size() > 200 ? Out(id).received.size() - 200 : 0);
  // Input that had ended closes the connection once its lines have run.
  EXPECT_EQ(Kept(id) == nullptr, c.ended);
  EXPECT_EQ(service_.disconnected, c.ended ? Lines{"127.0.0.1"} : Lines{});
}

INSTANTIATE_TEST_SUITE_P(Driver, PauseTest, ::testing::ValuesIn(kPauseCases),
                         [](const auto& info) { return std::string(info.param.label); });

// Input ended while received lines still wait in the line input (behind a
// reply above the high-water mark): they run first, then the connection
// closes; a late read notification changes nothing.
TEST_F(DriverTest, InputEndedWithLinesStillWaitingRunsThemThenCloses) {
  server_.SetFile(server_.fields().log_pathfile, std::string(OutputQueue::kHighWater + 1, 'x'));
  const ConnectionId id = Connect();
  Out(id).limit = 0;
  Receive(id, "view\r\nstime\r\n");
  EXPECT_EQ(commands_, 1);
  EXPECT_TRUE(driver_.HasWaitingInput(id));
  Peer(id).ended = true;
  driver_.InputEnded(id);  // the peer's close; nothing left in the socket
  ASSERT_NE(Kept(id), nullptr);
  EXPECT_FALSE(Kept(id)->IsClosed());
  EXPECT_TRUE(service_.disconnected.empty());
  Out(id).limit = FakeSocket::kAll;
  while (Kept(id) != nullptr && !Kept(id)->Output().Empty()) Writable(id);
  EXPECT_EQ(commands_, 2);
  const std::string tail = ReplyTo({"stime"});
  EXPECT_EQ(Out(id).received.substr(Out(id).received.size() - tail.size()), tail);
  EXPECT_EQ(Kept(id), nullptr);
  EXPECT_EQ(service_.disconnected, Lines{"127.0.0.1"});
  driver_.Readable(id);
  EXPECT_EQ(service_.disconnected, Lines{"127.0.0.1"});
}

// --- QUIT with output queued: the socket stays until its output has gone,
// the poll retries the write, and the drain ends at its limit.

struct DrainCase {
  const char* label;
  std::uint64_t wait_ms;  // from the QUIT to the poll
  bool unblocks;          // the client reads again before the poll
  bool drained;           // everything reached the client
};

const DrainCase kDrainCases[] = {
    {"ClientReadsAgainWithinTheLimit", 1000, true, true},
    {"BlockedUpToTheLimitStays", ConnectionDriver::kDrainLimitMs, false, false},
    {"BlockedPastTheLimitIsDropped", ConnectionDriver::kDrainLimitMs + 1, false, false},
};

class DrainTest : public DriverTest, public ::testing::WithParamInterface<DrainCase> {};

TEST_P(DrainTest, QuitDrainsIntoABlockedSocketUpToTheLimit) {
  const DrainCase& c = GetParam();
  const ConnectionId id = Connect();
  Out(id).limit = 0;
  server_.set_tick_ms(5000);
  Receive(id, "help\r\nquit\r\nstime\r\n");
  EXPECT_EQ(commands_, 2);  // nothing runs after QUIT
  ASSERT_NE(Kept(id), nullptr);
  EXPECT_TRUE(Kept(id)->Draining());
  EXPECT_EQ(service_.disconnected, Lines{"127.0.0.1"});  // at once, written once
  EXPECT_TRUE(driver_.Clients().empty());

  if (c.unblocks) Out(id).limit = FakeSocket::kAll;
  server_.set_tick_ms(5000 + c.wait_ms);
  driver_.Poll();  // no write notification came: the poll retries
  const bool kept = !c.drained && c.wait_ms <= ConnectionDriver::kDrainLimitMs;
  EXPECT_EQ(Kept(id) != nullptr, kept);
  EXPECT_EQ(Peer(id).closed, !kept);
  EXPECT_EQ(Out(id).received == ReplyTo({"help"}), c.drained);
  EXPECT_EQ(service_.disconnected, Lines{"127.0.0.1"});
}

INSTANTIATE_TEST_SUITE_P(Driver, DrainTest, ::testing::ValuesIn(kDrainCases),
                         [](const auto& info) { return std::string(info.param.label); });

// --- Reaping: every way a connection ends gives one disconnection line and
// drops it; an error of the socket is recorded.

struct ReapCase {
  const char* label;
  std::string receipt;  // "" for none
  int read_error;       // the read fails with this code
  int failed;           // -1: no Failed event; else its code
  Lines errors;
};

const ReapCase kReapCases[] = {
    {"Quit", "quit\r\n", 0, -1, {}},
    {"QuitAfterAReply", "stime\r\nquit\r\n", 0, -1, {}},
    {"Reset", "", 0, 0, {}},
    {"AsynchronousError", "", 0, 10053, {"Asynchronous socket error 10053"}},
    {"FailedRead", "stime\r\n", 10054, -1, {"Asynchronous socket error 10054"}},
};

class ReapTest : public DriverTest, public ::testing::WithParamInterface<ReapCase> {};

TEST_P(ReapTest, OneDisconnectionLineThenDropped) {
  const ReapCase& c = GetParam();
  const ConnectionId other = Connect("127.0.0.9");
  const ConnectionId id = Connect();
  Peer(id).read_error = c.read_error;
  if (!c.receipt.empty()) Receive(id, c.receipt);
  if (c.failed >= 0) driver_.Failed(id, c.failed);
  EXPECT_EQ(Kept(id), nullptr);
  EXPECT_TRUE(Peer(id).closed);
  EXPECT_EQ(service_.disconnected, Lines{"127.0.0.1"});
  EXPECT_EQ(service_.errors, c.errors);
  // A late event for the dropped number changes nothing.
  driver_.Readable(id);
  driver_.Failed(id, 10054);
  EXPECT_EQ(service_.disconnected, Lines{"127.0.0.1"});
  EXPECT_EQ(service_.errors, c.errors);
  // The other client is untouched.
  EXPECT_EQ(driver_.Clients(), std::vector<Connection*>{driver_.FindById(other)});
}

INSTANTIATE_TEST_SUITE_P(Driver, ReapTest, ::testing::ValuesIn(kReapCases),
                         [](const auto& info) { return std::string(info.param.label); });

// --- The poll: a lost read or write notification does not stall a
// connection, and connections no accept notification announced are taken.

TEST_F(DriverTest, PollReadsWhatNoNotificationAnnounced) {
  const ConnectionId id = Connect();
  Peer(id).inbound = "stime\r\n";  // no read notification
  driver_.Poll();
  EXPECT_EQ(Out(id).received, ReplyTo({"stime"}));
}

TEST_F(DriverTest, PollRetriesAWriteWhoseNotificationWasLost) {
  const ConnectionId id = Connect();
  Out(id).script.assign({0});  // the first send would block
  Receive(id, "stime\r\n");
  EXPECT_TRUE(Out(id).received.empty());
  EXPECT_TRUE(Kept(id)->Output().Blocked());
  driver_.Poll();  // no write notification came
  EXPECT_EQ(Out(id).received, ReplyTo({"stime"}));
}

TEST_F(DriverTest, PollAcceptsWhatNoNotificationAnnounced) {
  listener_.Queue("127.0.0.2");
  listener_.Queue("127.0.0.3");
  driver_.Poll();
  ASSERT_EQ(driver_.Clients().size(), 2u);
  EXPECT_EQ(driver_.Clients()[1]->PeerAddress(), "127.0.0.3");
}

TEST_F(DriverTest, AListenerErrorIsRecordedAndTheQueueStillTaken) {
  listener_.Queue();
  driver_.ListenerReady(10055);
  EXPECT_EQ(service_.errors, Lines{"Asynchronous socket error 10055"});
  EXPECT_EQ(driver_.Clients().size(), 1u);
}

// Numbers are never used again, and Close drops every connection without
// disconnection lines.
TEST_F(DriverTest, NumbersAreNeverReusedAndCloseDropsAllSilently) {
  const ConnectionId a = Connect();
  Receive(a, "quit\r\n");
  const ConnectionId b = Connect();
  EXPECT_NE(a, b);
  EXPECT_EQ(driver_.FindById(a), nullptr);
  service_.disconnected.clear();
  driver_.Close();
  EXPECT_FALSE(listener_.Active());
  EXPECT_EQ(driver_.Count(), 0u);
  EXPECT_TRUE(Peer(b).closed);
  EXPECT_TRUE(service_.disconnected.empty());
  const ConnectionId c = (listener_.Open(), Connect());
  EXPECT_GT(c, b);
}

// --- A client gone in mid-reply: its queue and file are released at once
// and nothing more is written or run.

TEST_F(DriverTest, AClientGoneInMidReplyReleasesEverything) {
  server_.SetFile(server_.fields().log_pathfile, std::string(1000000, 'x'));
  const ConnectionId id = Connect();
  Out(id).script.assign({4096, 0});
  Receive(id, "view\r\nstime\r\n");
  EXPECT_EQ(server_.open_sources(), 1);
  EXPECT_EQ(Out(id).received.size(), 4096u);
  driver_.Failed(id, 0);
  EXPECT_EQ(server_.open_sources(), 0);
  EXPECT_EQ(Kept(id), nullptr);
  Writable(id);
  driver_.Poll();
  EXPECT_EQ(Out(id).received.size(), 4096u);
  EXPECT_EQ(commands_, 1);
}

// --- Writes touch only the connections whose output changed.

TEST_F(DriverTest, ACommandWritesOnlyItsOwnConnection) {
  const ConnectionId a = Connect();
  const ConnectionId b = Connect();
  // B has output blocked in its socket.
  Out(b).script.assign({0});
  Receive(b, "stime\r\n");
  const int b_tries = Out(b).would_block;
  ASSERT_EQ(b_tries, 1);
  Receive(a, "stime\r\nupdate\r\n");
  EXPECT_EQ(Out(a).sends, (Lines{ReplyTo({"stime"}), ReplyTo({"update"})}));
  EXPECT_EQ(Out(b).would_block, b_tries);  // not offered anything again
  EXPECT_TRUE(Out(b).sends.empty());
}

// CYCLE changes every client's output: each is written when it ends.
TEST_F(DriverTest, CyclesWarningReachesEveryClientAtOnce) {
  const ConnectionId a = Connect("127.0.0.1");
  const ConnectionId b = Connect("127.0.0.2");
  const ConnectionId c = Connect("127.0.0.3");
  Receive(a, "cycle\r\n");
  const std::string warning = "\n\rPLEASE DISCONNECT NOW, THE SERVER IS GOING DOWN IN " +
                              std::to_string(server_.fields().grace_period / 1000) +
                              " SECONDS!\n\r";
  EXPECT_EQ(Out(a).received, "Restarting the Halvexa Service" + warning + "\n\r:: ");
  EXPECT_EQ(Out(b).sends, Lines{warning});
  EXPECT_EQ(Out(c).sends, Lines{warning});
  EXPECT_EQ(server_.arm_calls().size(), 1u);
}

// A receipt handed over by number runs at once; a number that has gone
// runs nothing.
TEST_F(DriverTest, AReceiptByNumberRunsItsLines) {
  const ConnectionId id = Connect();
  driver_.ServerSocket1ClientRead(id, "stime\r\nupd");
  EXPECT_EQ(Out(id).received, ReplyTo({"stime"}));
  EXPECT_EQ(commands_, 1);  // "upd" waits for its line end
  driver_.ServerSocket1ClientRead(id, "ate\r\n");
  EXPECT_EQ(Out(id).received, ReplyTo({"stime"}) + ReplyTo({"update"}));
  driver_.ServerSocket1ClientRead(id + 1, "stime\r\n");
  EXPECT_EQ(commands_, 2);
}

// A receipt in verbose mode is logged; telnet negotiation alone is not.
TEST_F(DriverTest, VerboseReceiptsAreLogged) {
  service_.verbose = true;
  const ConnectionId id = Connect();
  Receive(id, " stime\r\n");
  Receive(id, "\xff\xfd\x01");
  EXPECT_EQ(service_.log_lines,
            (Lines{"Received buffer size is 5", "Receive buffer is >>stime\n<<"}));
  EXPECT_EQ(Out(id).received, ReplyTo({"stime"}) + "\xff\xfc\x01");
}

}  // namespace
}  // namespace halv::testing
