// The reading of a watch's bytes, in pieces of any size: the opening line,
// the changes, lines passed over, a refusal and a reply that is not a watch;
// and the time as the rows show it.
#include "watch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol_text.h"
#include "service_watch.h"

namespace halv::client {
namespace {

using Status = WatchReader::Status;

const std::string kStream =
    "320-Watching Spooler BITS\n\r"
    "321-Spooler: Running -> Stopping\n\r"
    "\n\rPLEASE DISCONNECT NOW, THE SERVER IS GOING DOWN IN 30 SECONDS!\n\r"
    "321-Spooler: Stopping -> Stopped\n\r"
    "321-BITS: Stopped -> Unknown\n\r"
    "321-Odd: name: Paused -> Continuing\n\r";

// Feeds `bytes` in pieces of `piece` bytes; the changes read, in order.
std::vector<WatchChange> FeedInPieces(WatchReader& reader, const std::string& bytes,
                                      std::size_t piece) {
  std::vector<WatchChange> all;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    std::vector<WatchChange> some;
    reader.Feed(bytes.substr(at, piece), &some);
    all.insert(all.end(), some.begin(), some.end());
  }
  return all;
}

TEST(WatchReaderTest, ChangesInOrderWhateverThePieces) {
  for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{7}, kStream.size()}) {
    SCOPED_TRACE(piece);
    WatchReader reader;
    const std::vector<WatchChange> changes = FeedInPieces(reader, kStream, piece);
    EXPECT_EQ(reader.status(), Status::kWatching);
    ASSERT_EQ(changes.size(), 4u);
    const std::vector<std::vector<std::string>> expected = {{"Spooler", "Running", "Stopping"},
                                                            {"Spooler", "Stopping", "Stopped"},
                                                            {"BITS", "Stopped", "Unknown"},
                                                            {"Odd: name", "Paused", "Continuing"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(changes[i].service, expected[i][0]);
      EXPECT_EQ(changes[i].previous, expected[i][1]);
      EXPECT_EQ(changes[i].state, expected[i][2]);
    }
  }
}

TEST(WatchReaderTest, TheServicesOwnLinesReadBack) {
  WatchReader reader;
  std::vector<WatchChange> changes;
  const std::string bytes =
      WatchOpeningText({}) + WatchChangeText("W32Time", 4, 3) + WatchChangeText("Gone", 1, 0);
  EXPECT_EQ(reader.Feed(bytes, &changes), Status::kWatching);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].state, "Stopping");
  EXPECT_EQ(changes[1].previous, "Stopped");
  EXPECT_EQ(changes[1].state, "Unknown");
}

TEST(WatchReaderTest, RefusalsAndOtherReplies) {
  const struct {
    std::string bytes;
    Status status;
    std::string error;
  } kCases[] = {
      {"\n\r500-Unknown command 'WATCH'\n\r:: ", Status::kRefused, "500-Unknown command 'WATCH'"},
      {"502-WATCH is not available here\n\r:: ", Status::kRefused,
       "502-WATCH is not available here"},
      {"321-Spooler: Running -> Stopped\n\r", Status::kBadReply,
       "the WATCH reply does not start with \"320-Watching \""},
      {"Retrieving Status\n\r", Status::kBadReply,
       "the WATCH reply does not start with \"320-Watching \""},
      {"320-Watch", Status::kWaiting, ""},
      {"320-Watching all services\n\r" + std::string(70000, 'x'), Status::kBadReply,
       "a line of the watch is longer than 64 KiB"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.bytes.substr(0, 40));
    WatchReader reader;
    std::vector<WatchChange> changes;
    EXPECT_EQ(reader.Feed(c.bytes, &changes), c.status);
    EXPECT_EQ(reader.error(), c.error);
    EXPECT_TRUE(changes.empty());
    // Nothing read after a refusal or a bad reply.
    if (c.status == Status::kRefused || c.status == Status::kBadReply) {
      EXPECT_EQ(reader.Feed("321-A: Running -> Stopped\n\r", &changes), c.status);
      EXPECT_TRUE(changes.empty());
    }
  }
}

TEST(WatchTimeTest, TableAndJsonForms) {
  std::tm t{};
  t.tm_year = 126;
  t.tm_mon = 11;
  t.tm_mday = 10;
  t.tm_hour = 9;
  t.tm_min = 5;
  t.tm_sec = 7;
  EXPECT_EQ(WatchTime(t, false), "2026-12-10 09:05:07");
  EXPECT_EQ(WatchTime(t, true), "2026-12-10T09:05:07");
}

}  // namespace
}  // namespace halv::client
