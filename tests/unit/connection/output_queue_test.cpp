// The output queue over a fake socket: partial sends, would-block,
// resumption, order, byte sources, failure and release.
#include "output_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fake_socket.h"

namespace halv::testing {
namespace {

// A byte source over a string that counts its live instances and can fail
// after some bytes.
class StringSource : public ByteSource {
 public:
  StringSource(std::string text, int* live, std::size_t fail_after = std::string::npos)
      : text_(std::move(text)), live_(live), fail_after_(fail_after) {
    ++*live_;
  }
  ~StringSource() override { --*live_; }
  long Read(void* buffer, std::size_t size) override {
    if (at_ >= fail_after_) return -1;
    std::size_t n = std::min(size, text_.size() - at_);
    if (fail_after_ != std::string::npos) n = std::min(n, fail_after_ - at_);
    std::memcpy(buffer, text_.data() + at_, n);
    at_ += n;
    ++reads;
    return static_cast<long>(n);
  }
  int reads = 0;

 private:
  std::string text_;
  int* live_;
  std::size_t at_ = 0;
  std::size_t fail_after_;
};

// One step of a case: append a text, flush, or report the socket writable.
struct Step {
  enum Kind { kAppend, kFlush, kWritable } kind;
  std::string text;
};
Step Append(std::string text) { return {Step::kAppend, std::move(text)}; }
const Step kFlush{Step::kFlush, ""};
const Step kWritable{Step::kWritable, ""};

struct Case {
  const char* name;
  std::vector<std::size_t> script;  // what each send takes (0: would block)
  std::vector<Step> steps;
  std::vector<std::string> sends;  // what the socket took, send by send
  std::size_t left;                // bytes still queued at the end
  bool blocked;
};

class QueueCases : public ::testing::TestWithParam<Case> {};

TEST_P(QueueCases, WritesInOrderWhatTheSocketTakes) {
  const Case& c = GetParam();
  FakeSocket socket;
  socket.script.assign(c.script.begin(), c.script.end());
  OutputQueue queue(socket);
  std::string all;
  for (const Step& step : c.steps) {
    if (step.kind == Step::kAppend) {
      queue.Append(step.text);
      all += step.text;
    } else if (step.kind == Step::kFlush) {
      queue.Flush();
    } else {
      queue.Writable();
    }
  }
  EXPECT_EQ(socket.sends, c.sends);
  EXPECT_EQ(queue.QueuedBytes(), c.left);
  EXPECT_EQ(queue.Blocked(), c.blocked);
  EXPECT_EQ(queue.Empty(), c.left == 0);
  // Nothing lost, reordered or duplicated: what was taken is a prefix of
  // everything appended, and the rest is what is still queued.
  EXPECT_EQ(socket.received, all.substr(0, all.size() - c.left));
}

INSTANTIATE_TEST_SUITE_P(
    Queue, QueueCases,
    ::testing::Values(
        // The pieces of one reply leave in one send.
        Case{"pieces_of_a_reply_in_one_send",
             {},
             {Append("311-HELP"), Append("\n\r311-Use"), Append("\n\r:: "), kFlush},
             {"311-HELP\n\r311-Use\n\r:: "},
             0,
             false},
        Case{"one_send_per_command",
             {},
             {Append("a"), Append("b"), kFlush, Append("c"), kFlush},
             {"ab", "c"},
             0,
             false},
        Case{"nothing_sent_before_the_flush", {}, {Append("abc")}, {}, 3, false},
        Case{"partial_sends_go_on_until_done",
             {2, 3},
             {Append("abcdefg"), kFlush},
             {"ab", "cde", "fg"},
             0,
             false},
        Case{"would_block_keeps_the_rest", {4, 0}, {Append("abcdefg"), kFlush}, {"abcd"}, 3, true},
        Case{"resumes_on_writable",
             {4, 0},
             {Append("abcdefg"), kFlush, kWritable},
             {"abcd", "efg"},
             0,
             false},
        Case{"no_send_while_blocked",
             {0},
             {Append("abc"), kFlush, Append("def"), kFlush, kFlush},
             {},
             6,
             true},
        // Order across commands: a later reply waits behind an earlier one.
        Case{"order_across_commands",
             {2, 0},
             {Append("first"), kFlush, Append("second"), kFlush, kWritable, Append("third"), kFlush,
              kWritable},
             {"fi", "rstsecond", "third"},
             0,
             false},
        Case{"blocked_again_after_resuming",
             {1, 0, 1, 0},
             {Append("abc"), kFlush, kWritable, kWritable},
             {"a", "b", "c"},
             0,
             false}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(OutputQueue, SourceIsReadOnlyAsTheQueueDrains) {
  FakeSocket socket;
  socket.limit = 1000;
  OutputQueue queue(socket);
  int live = 0;
  std::string content;
  for (int i = 0; i < 300000; ++i) content.push_back(static_cast<char>(i % 251));
  auto source = std::make_unique<StringSource>(content, &live);
  StringSource* raw = source.get();
  queue.Append("before");
  queue.AppendSource(std::move(source));
  queue.Append("\n\r:: ");
  EXPECT_TRUE(queue.AboveHighWater());  // a source in progress holds the input
  // The socket takes 1000 bytes a send and then blocks: each writable
  // notification reads at most one chunk more.
  std::size_t most = 0;
  int rounds = 0;
  while (!queue.Empty() && rounds < 10000) {
    socket.script.assign({1000, 1000, 0});
    queue.Writable();
    most = std::max(most, queue.QueuedBytes());
    ++rounds;
  }
  EXPECT_TRUE(queue.Empty());
  EXPECT_EQ(socket.received, "before" + content + "\n\r:: ");
  EXPECT_LE(most, OutputQueue::kSourceChunk + 6);
  EXPECT_EQ(live, 0);  // released at its end
  EXPECT_FALSE(queue.AboveHighWater());
  (void)raw;
}

TEST(OutputQueue, SourceReadErrorEndsLikeTheEnd) {
  FakeSocket socket;
  OutputQueue queue(socket);
  int live = 0;
  queue.AppendSource(std::make_unique<StringSource>(std::string(100, 'x'), &live, 30));
  queue.Append(":: ");
  queue.Flush();
  EXPECT_EQ(socket.received, std::string(30, 'x') + ":: ");
  EXPECT_EQ(live, 0);
}

TEST(OutputQueue, HighWaterMark) {
  FakeSocket socket;
  socket.limit = 0;  // never takes anything
  OutputQueue queue(socket);
  queue.Append(std::string(OutputQueue::kHighWater, 'x'));
  queue.Flush();
  EXPECT_FALSE(queue.AboveHighWater());
  queue.Append("y");
  EXPECT_TRUE(queue.AboveHighWater());
  socket.limit = 10;
  socket.script.assign({10, 0});
  queue.Writable();
  EXPECT_FALSE(queue.AboveHighWater());
  EXPECT_EQ(queue.QueuedBytes(), OutputQueue::kHighWater - 9);
}

TEST(OutputQueue, FailedSendReleasesAndRaises) {
  FakeSocket socket;
  OutputQueue queue(socket);
  int live = 0;
  queue.Append("abc");
  queue.AppendSource(std::make_unique<StringSource>("file", &live));
  socket.fail = true;
  EXPECT_THROW(queue.Flush(), Error);
  EXPECT_TRUE(queue.Empty());
  EXPECT_EQ(queue.QueuedBytes(), 0u);
  EXPECT_EQ(live, 0);
}

TEST(OutputQueue, ReleaseDropsEverythingAtOnce) {
  FakeSocket socket;
  socket.limit = 0;
  OutputQueue queue(socket);
  int live = 0;
  queue.Append(std::string(100000, 'a'));
  queue.AppendSource(std::make_unique<StringSource>("file", &live));
  queue.Flush();
  EXPECT_EQ(live, 1);
  queue.Release();
  EXPECT_TRUE(queue.Empty());
  EXPECT_FALSE(queue.AboveHighWater());
  EXPECT_EQ(live, 0);
}

}  // namespace
}  // namespace halv::testing
