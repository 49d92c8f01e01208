// Turns between connections: a connection runs at most kLinesPerTurn lines
// before the others get theirs, so a long receipt from one client cannot
// hold back another's reply; each connection's replies keep their order.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver_fixture.h"

namespace halv::testing {
namespace {

class FairTurnsTest : public DriverTest {
 protected:
  FairTurnsTest() {
    // The host posts Turn to its loop; here the posts are counted and run
    // when the test says so.
    driver_.set_turn_poster([this] { ++posted_turns_; });
  }

  // Runs the posted turns until none is left (bounded, so a fault cannot
  // hang the test).
  void RunTurns() {
    for (int i = 0; i < 10000 && posted_turns_ > 0; ++i) {
      --posted_turns_;
      driver_.Turn();
    }
    ASSERT_EQ(posted_turns_, 0);
    ASSERT_FALSE(driver_.TurnsWaiting());
  }

  static int Count(const std::string& text, const std::string& piece) {
    int n = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos;
         at = text.find(piece, at + piece.size()))
      ++n;
    return n;
  }

  int posted_turns_ = 0;
};

TEST_F(FairTurnsTest, AnotherClientsLineIsAnsweredBeforeALongReceiptIsDone) {
  const std::string stime = ReplyTo({"stime"});
  const ConnectionId a = Connect();
  const ConnectionId b = Connect();
  Receive(a, Repeat("stime\r\n", 1000));
  EXPECT_EQ(commands_, ConnectionDriver::kLinesPerTurn);
  EXPECT_EQ(posted_turns_, 1);
  Receive(b, "stime\r\n");
  EXPECT_EQ(Out(b).received, stime);
  EXPECT_LT(Count(Out(a).received, stime), 1000);
  RunTurns();
  EXPECT_EQ(Out(a).received, Repeat(stime, 1000));
  EXPECT_EQ(commands_, 1001);
}

TEST_F(FairTurnsTest, BusyConnectionsTakeTurnsInRotation) {
  std::vector<ConnectionId> order;
  TestService service(server_, [&](ConnectionId id, Connection& client, const CommandLine& line) {
    order.push_back(id);
    ProcessCommand(server_, client, line);
  });
  FakeListeningSocket listener;
  ConnectionDriver driver(listener, service);
  listener.events = &driver;
  int posts = 0;
  driver.set_turn_poster([&] { ++posts; });
  std::vector<std::shared_ptr<FakePeer>> peers;
  for (int i = 0; i < 3; ++i) {
    peers.push_back(listener.Queue());
    driver.ListenerReady(0);
  }
  const std::vector<int> lines = {100, 40, 5};
  for (std::size_t i = 0; i < peers.size(); ++i) {
    peers[i]->inbound = Repeat("stime\r\n", lines[i]);
    driver.Readable(listener.accepted[i]);
  }
  for (int i = 0; i < 100 && posts > 0; ++i) {
    --posts;
    driver.Turn();
  }
  ASSERT_EQ(order.size(), 145u);
  // Runs of one connection's lines: none longer than a turn while another
  // connection waits; the last one, alone, runs its last two turns on end.
  std::vector<std::pair<ConnectionId, int>> runs;
  for (ConnectionId id : order) {
    if (runs.empty() || runs.back().first != id) runs.emplace_back(id, 0);
    ++runs.back().second;
  }
  const int turn = ConnectionDriver::kLinesPerTurn;
  for (std::size_t i = 0; i + 1 < runs.size(); ++i) EXPECT_LE(runs[i].second, turn) << i;
  const std::vector<std::pair<ConnectionId, int>> expected = {
      {listener.accepted[0], turn}, {listener.accepted[1], turn}, {listener.accepted[2], 5},
      {listener.accepted[0], turn}, {listener.accepted[1], 8},
      {listener.accepted[0], 100 - 2 * turn}};
  EXPECT_EQ(runs, expected);
}

TEST_F(FairTurnsTest, WhatArrivesMeanwhileRunsAfterTheLinesLeftFromTheTurn) {
  const std::string stime = ReplyTo({"stime"});
  const ConnectionId a = Connect();
  Receive(a, Repeat("stime\r\n", 100));
  Receive(a, "stime\r\nquit\r\n");  // read only once the hundred have run
  RunTurns();
  const std::string& text = Out(a).received;
  ASSERT_EQ(text.rfind(Repeat(stime, 101), 0), 0u);
  EXPECT_EQ(Count(text, stime), 101);
  EXPECT_EQ(Kept(a), nullptr);  // QUIT closed it
}

TEST_F(FairTurnsTest, AConnectionWaitingForItsTurnRunsNothingOnItsOwnEvents) {
  const std::string stime = ReplyTo({"stime"});
  const ConnectionId a = Connect();
  Receive(a, Repeat("stime\r\n", 1000));
  ASSERT_EQ(commands_, ConnectionDriver::kLinesPerTurn);
  // Read and write notifications, and more bytes, while it waits: no second turn.
  for (int i = 0; i < 5; ++i) {
    Receive(a, "stime\r\n");
    Writable(a);
    driver_.ServerSocket1ClientRead(a, "stime\r\n");
  }
  driver_.Poll();
  EXPECT_EQ(commands_, ConnectionDriver::kLinesPerTurn);
  EXPECT_EQ(posted_turns_, 1);
  RunTurns();
  EXPECT_EQ(Out(a).received, Repeat(stime, 1010));
}

// The lines each of N busy connections runs in one round, the lines of one
// turn event, and a newcomer's line answered at once between two events.
TEST_F(FairTurnsTest, TurnsShrinkAsMoreConnectionsWait) {
  const struct {
    int waiting;
    int lines_per_turn;
  } cases[] = {{1, 32}, {4, 32}, {8, 32}, {16, 16}, {100, 2}, {300, 1}};
  const std::string stime = ReplyTo({"stime"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.waiting);
    std::vector<ConnectionId> busy;
    for (int i = 0; i < c.waiting; ++i) {
      busy.push_back(Connect());
      Receive(busy.back(), Repeat("stime\r\n", 70));
    }
    ASSERT_TRUE(driver_.TurnsWaiting());
    order_.clear();
    // Turn events until every busy connection has had one turn, each event
    // a few dozen lines however many connections wait.
    const std::size_t round = static_cast<std::size_t>(c.waiting * c.lines_per_turn);
    for (int i = 0; i < 1000 && order_.size() < round && posted_turns_ > 0; ++i) {
      const std::size_t before = order_.size();
      --posted_turns_;
      driver_.Turn();
      EXPECT_LT(order_.size() - before,
                static_cast<std::size_t>(ConnectionDriver::kLinesPerEvent +
                                         ConnectionDriver::kLinesPerTurn));
    }
    ASSERT_GE(order_.size(), round);
    order_.resize(round);
    for (int i = 0; i < c.waiting; ++i)
      EXPECT_EQ(std::count(order_.begin(), order_.end(), busy[i]), c.lines_per_turn) << i;
    // In the order they began to wait.
    EXPECT_EQ(std::vector<ConnectionId>(order_.begin(), order_.begin() + c.lines_per_turn),
              std::vector<ConnectionId>(c.lines_per_turn, busy.front()));
    const ConnectionId newcomer = Connect();
    order_.clear();
    Receive(newcomer, "stime\r\n");
    EXPECT_NE(Out(newcomer).received.find(stime), std::string::npos);
    EXPECT_EQ(order_, std::vector<ConnectionId>{newcomer});
    // Its CR LF was taken whole: nothing keeps it waiting for a turn.
    EXPECT_FALSE(driver_.HasWaitingInput(newcomer));
    RunTurns();
    for (ConnectionId id : busy) {
      EXPECT_EQ(Count(Out(id).received, stime), 70);
      Receive(id, "quit\r\n");
    }
    Receive(newcomer, "quit\r\n");
    RunTurns();
  }
}

// Without a poster (the tests of single connections), an event runs every
// turn before it returns, so a long receipt is answered whole at once.
TEST_F(DriverTest, WithoutATurnPosterAnEventRunsEveryTurn) {
  const std::string stime = ReplyTo({"stime"});
  const ConnectionId a = Connect();
  Receive(a, Repeat("stime\r\n", 1000));
  EXPECT_EQ(Out(a).received, Repeat(stime, 1000));
  EXPECT_FALSE(driver_.TurnsWaiting());
}

}  // namespace
}  // namespace halv::testing
