// IdleTimeout: only the connections silent for the whole time-out are told
// and closed.
#include "idle_connections.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recording_connection.h"

namespace halv::testing {
namespace {

TEST(IdleConnectionsTest, SilentOnesAreToldAndClosed) {
  RecordingConnection silent("10.0.0.1"), busy("10.0.0.2"), broken("10.0.0.3"), gone("10.0.0.4");
  silent.set_last_receipt_ms(1000);
  busy.set_last_receipt_ms(4000);
  broken.set_last_receipt_ms(0);
  broken.set_fail_sends(true);
  gone.set_last_receipt_ms(0);
  gone.Close();
  const std::vector<Connection*> clients = {&silent, &busy, &broken, &gone};
  EXPECT_EQ(CloseIdleConnections(clients, 6000, 5),
            (std::vector<std::string>{"10.0.0.1", "10.0.0.3"}));
  EXPECT_EQ(silent.sends(),
            std::vector<std::string>{"\n\r421-Idle time-out, closing the connection\n\r"});
  EXPECT_TRUE(silent.IsClosed());
  EXPECT_TRUE(busy.sends().empty());
  EXPECT_FALSE(busy.IsClosed());
  EXPECT_TRUE(broken.IsClosed());
  EXPECT_TRUE(gone.sends().empty());
  // At 9000 the busy one has been silent for 5 s too.
  EXPECT_EQ(CloseIdleConnections(clients, 9000, 5), std::vector<std::string>{"10.0.0.2"});
  EXPECT_TRUE(busy.IsClosed());
}

TEST(IdleConnectionsTest, TheWholeTimeOutMustPass) {
  RecordingConnection c("10.0.0.1");
  c.set_last_receipt_ms(1000);
  EXPECT_TRUE(CloseIdleConnections({&c}, 2999, 2).empty());
  EXPECT_FALSE(c.IsClosed());
  EXPECT_EQ(CloseIdleConnections({&c}, 3000, 2), std::vector<std::string>{"10.0.0.1"});
}

}  // namespace
}  // namespace halv::testing
