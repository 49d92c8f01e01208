// WATCH over the connection driver, the command runner and the simulated
// manager on its virtual clock: the polls run as manual jobs, a second of
// virtual time between ticks, and each watch reports the changes of state
// it sees, until its connection sends a line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol_text.h"
#include "service_watch.h"
#include "waits_fixture.h"

namespace halv::testing {
namespace {

class WatchTest : public WaitsTest {
 protected:
  WatchTest() {
    server_.fields().watch_enabled = true;
    runner_.set_watch(&watch_);
    watch_.set_on_active([this](bool on) { active_.push_back(on); });
    // Spooler takes 1.5 s to stop and 2.5 s to start.
    SimulatedService& spooler = scm_.AddService("Spooler", "Print Spooler", kStateRunning);
    spooler.stop_delay_ms = 1500;
    spooler.start_delay_ms = 2500;
    scm_.AddService("W32Time", "Windows Time", kStateRunning);
  }

  // One second passes; the host's timer ticks, the poll runs and its result
  // is delivered as the host does (an error recorded, then the driver
  // settles).
  void Second() {
    scm_.Advance(kWatchPollMs);
    watch_.Tick();
    RunPolls();
  }
  void RunPolls() {
    RunJobs();
    std::vector<WatchPoll> polls;
    polls.swap(polls_);
    for (const WatchPoll& poll : polls) {
      try {
        watch_.Deliver(poll);
      } catch (const std::exception& e) {
        service_.LogEventError(e.what());
      }
      driver_.Settle();
    }
  }
  // What `id` was sent since the last call.
  std::string Fresh(ConnectionId id) {
    const std::string all = SendsOf(id).text;
    std::string& seen = seen_[id];
    std::string fresh = all.substr(seen.size());
    seen = all;
    return fresh;
  }

  std::vector<WatchPoll> polls_;
  ServiceWatch watch_{executor_, std::shared_ptr<ServiceManager>(&scm_, [](ServiceManager*) {}),
                      [this](WatchPoll poll) { polls_.push_back(std::move(poll)); },
                      [this](ConnectionId id) { return driver_.FindById(id); }};
  std::vector<bool> active_;
  std::map<ConnectionId, std::string> seen_;
};

// A stop and a start of Spooler, second by second: each state it is seen in
// is reported once, W32Time (unchanged) never; a line ends the watch with
// the prompt and is not run.
TEST_F(WatchTest, ASequenceOfChangesOnTheVirtualClock) {
  const ConnectionId a = Connect();
  Receive(a, "watch Spooler w32time SPOOLER\r\n");
  EXPECT_EQ(Fresh(a), "320-Watching Spooler w32time\n\r");
  EXPECT_EQ(active_, (std::vector<bool>{true}));
  RunPolls();  // the first poll: the states to compare with
  EXPECT_EQ(Fresh(a), "");

  struct Step {
    const char* event;  // what happens before the second passes
    std::string lines;
  } steps[] = {
      {"", ""},
      {"stop", "321-Spooler: Running -> Stopping\n\r"},
      {"", "321-Spooler: Stopping -> Stopped\n\r"},
      {"", ""},
      {"start", "321-Spooler: Stopped -> Starting\n\r"},
      {"", ""},
      {"", "321-Spooler: Starting -> Running\n\r"},
      {"", ""},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.lines);
    if (std::string(step.event) == "stop") scm_.SetState("Spooler", kStateStopPending);
    if (std::string(step.event) == "start") scm_.SetState("Spooler", kStateStartPending);
    Second();
    EXPECT_EQ(Fresh(a), step.lines);
  }
  Receive(a, "status Spooler\r\n");
  EXPECT_EQ(Fresh(a), ":: ");
  EXPECT_EQ(active_, (std::vector<bool>{true, false}));
  EXPECT_FALSE(watch_.Watching(a));
  // No watch, no poll.
  scm_.SetState("Spooler", kStateStopped);
  Second();
  EXPECT_EQ(executor_.Pending(), 0u);
  EXPECT_EQ(Fresh(a), "");
  // The connection's lines are commands again.
  Receive(a, "status Spooler\r\n");
  EXPECT_EQ(Fresh(a), "Retrieving Status\n\rThe service is stopped.\n\r:: ");
  EXPECT_EQ(scm_.OpenHandleCount(), 0u);
}

// With no name every service is followed, in the order of their names: one
// that appears comes from Unknown, one that cannot be read goes to Unknown.
TEST_F(WatchTest, WithoutANameEveryService) {
  const ConnectionId a = Connect();
  Receive(a, "WATCH\n");
  EXPECT_EQ(Fresh(a), "320-Watching all services\n\r");
  RunPolls();
  scm_.SetState("W32Time", kStateStopped);
  scm_.SetState("Spooler", kStatePaused);
  scm_.AddService("Audio", "Audio", kStateRunning);
  Second();
  EXPECT_EQ(Fresh(a),
            "321-Audio: Unknown -> Running\n\r"
            "321-Spooler: Running -> Paused\n\r"
            "321-W32Time: Running -> Stopped\n\r");
  Second();
  EXPECT_EQ(Fresh(a), "");
  // A list that cannot be had compares nothing.
  scm_.RefuseEnumServices(kErrorAccessDenied);
  scm_.SetState("Audio", kStateStopped);
  Second();
  EXPECT_EQ(Fresh(a), "");
  scm_.RefuseEnumServices(0);
  Second();
  EXPECT_EQ(Fresh(a), "321-Audio: Running -> Stopped\n\r");
}

// A named service that does not exist is Unknown until it does.
TEST_F(WatchTest, AServiceThatAppearsLater) {
  const ConnectionId a = Connect();
  Receive(a, "watch Later\n");
  RunPolls();
  Second();
  EXPECT_EQ(Fresh(a), "320-Watching Later\n\r");
  scm_.AddService("Later", "Later", kStateStopped);
  Second();
  EXPECT_EQ(Fresh(a), "321-Later: Unknown -> Stopped\n\r");
}

// Watches of two connections share the polls but end each on its own; one
// whose connection went is dropped at the next result.
TEST_F(WatchTest, WatchesOfSeveralConnections) {
  const ConnectionId a = Connect();
  const ConnectionId b = Connect();
  const ConnectionId c = Connect();
  Receive(a, "watch Spooler\n");
  Receive(b, "watch W32Time Spooler\n");
  // A poll is running: the second watch does not start another.
  EXPECT_EQ(executor_.Pending(), 1u);
  RunPolls();  // began before b's watch: a compares from here, b not yet
  Second();
  Receive(c, "watch\n");
  EXPECT_EQ(watch_.Count(), 3u);
  scm_.SetState("W32Time", kStateStopped);
  scm_.SetState("Spooler", kStatePaused);
  watch_.Tick();
  watch_.Tick();
  EXPECT_EQ(executor_.Pending(), 1u);
  RunPolls();
  EXPECT_EQ(Fresh(a), "320-Watching Spooler\n\r321-Spooler: Running -> Paused\n\r");
  EXPECT_EQ(Fresh(b),
            "320-Watching W32Time Spooler\n\r"
            "321-W32Time: Running -> Stopped\n\r321-Spooler: Running -> Paused\n\r");
  EXPECT_EQ(Fresh(c), "320-Watching all services\n\r");  // its first poll
  // An empty line is no line with a word: answered as ever, the watch goes on.
  Receive(a, "\n");
  EXPECT_EQ(Fresh(a), "\n\r:: ");
  EXPECT_TRUE(watch_.Watching(a));
  Receive(a, "end\n");
  EXPECT_EQ(Fresh(a), ":: ");
  Disconnect(b);
  scm_.SetState("Spooler", kStateRunning);
  Second();
  EXPECT_EQ(Fresh(a), "");
  EXPECT_EQ(Fresh(c), "321-Spooler: Paused -> Running\n\r");
  EXPECT_EQ(watch_.Count(), 1u);
  EXPECT_EQ(active_, (std::vector<bool>{true}));
  Receive(c, "quit\n");
  EXPECT_EQ(Fresh(c), ":: ");
  EXPECT_EQ(active_, (std::vector<bool>{true, false}));
}

// A WATCH held behind a wait opens when the wait ends; the held line after
// it ends the watch.
TEST_F(WatchTest, HeldBehindAWait) {
  const ConnectionId a = Connect();
  Receive(a, "stop W32Time\nwatch Spooler\nstime\n");
  Settle();
  EXPECT_EQ(SendsOf(a), (Sends{"Stopping Service...W32Time\n\r", "Service Stopped\n\r", ":: ",
                               "320-Watching Spooler\n\r", ":: "}));
  EXPECT_EQ(watch_.Count(), 0u);
}

// The change lines read back in the client's way, whatever the name holds.
TEST(WatchTextTest, ChangeLinesReadBack) {
  struct {
    std::string service;
    std::uint32_t from, to;
    std::string old_word, new_word;
  } cases[] = {
      {"Spooler", kStateRunning, kStateStopPending, "Running", "Stopping"},
      {"odd: name -> x", kStateStopped, 0, "Stopped", "Unknown"},
      {"a", 0, kStatePaused, "Unknown", "Paused"},
  };
  for (const auto& c : cases) {
    const std::string text = WatchChangeText(c.service, c.from, c.to);
    ASSERT_EQ(text.substr(text.size() - 2), "\n\r");
    std::string service, old_word, new_word;
    ASSERT_TRUE(ReadWatchChange(text.substr(0, text.size() - 2), &service, &old_word, &new_word))
        << text;
    EXPECT_EQ(service, c.service);
    EXPECT_EQ(old_word, c.old_word);
    EXPECT_EQ(new_word, c.new_word);
  }
  std::string s, o, n;
  for (const char* line : {"321-", "321-x: -> Running", "320-Watching x", "321-: A -> B",
                           "321-x Running -> Stopped", "321-x: Running ->"})
    EXPECT_FALSE(ReadWatchChange(line, &s, &o, &n)) << line;
}

}  // namespace
}  // namespace halv::testing
