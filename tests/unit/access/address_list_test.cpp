// The allow-list parser with its errors, the matcher, and the listen
// address: tables of cases.
#include "address_list.h"

#include <gtest/gtest.h>

#include <string>

#include "halv_error.h"

namespace halv::access::testing {
namespace {

std::string ErrorOf(const std::string& text) {
  try {
    ParseAllowedClients(text);
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

TEST(AddressLiteralTest, ValidAndInvalidLiterals) {
  const struct {
    std::string text;
    bool valid;
  } cases[] = {
      {"127.0.0.1", true},
      {"0.0.0.0", true},
      {"255.255.255.255", true},
      {"10.0.0.300", false},
      {"1.2.3", false},
      {"1.2.3.4.5", false},
      {"01.2.3.4", false},
      {"1.2.3.04", false},
      {"1..3.4", false},
      {" 1.2.3.4", false},
      {"1.2.3.4 ", false},
      {"1.2.3.-4", false},
      {"1.2.3.4/", false},
      {"1234.1.1.1", false},
      {"::", true},
      {"::1", true},
      {"1::", true},
      {"2001:db8::8a2e:370:7334", true},
      {"2001:DB8:0:0:0:0:0:1", true},
      {"1:2:3:4:5:6:7:8", true},
      {"1:2:3:4:5:6:7:8:9", false},
      {"1:2:3:4:5:6:7", false},
      {"::1:2:3:4:5:6:7:8", false},
      {"1::2::3", false},
      {":::", false},
      {":1", false},
      {"1:", false},
      {"12345::", false},
      {"g::", false},
      {"::ffff:127.0.0.1", true},
      {"1:2:3:4:5:6:1.2.3.4", true},
      {"1:2:3:4:5:6:7:1.2.3.4", false},
      {"::1.2.3", false},
      {"fe80::1%3", false},
      {"[::1]", false},
      {"", false},
      {"localhost", false},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseIpAddress(c.text).has_value(), c.valid) << c.text;
}

TEST(AddressLiteralTest, BytesOfTheForms) {
  auto v6 = ParseIpAddress("2001:db8::1:2");
  ASSERT_TRUE(v6);
  EXPECT_TRUE(v6->v6);
  const std::array<std::uint8_t, 16> expected = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0,
                                                 0,    0,    0,    0,    0, 1, 0, 2};
  EXPECT_EQ(v6->bytes, expected);
  auto mapped = ParseIpAddress("::ffff:10.1.2.3");
  ASSERT_TRUE(mapped);
  EXPECT_EQ(mapped->Unmapped(), *ParseIpAddress("10.1.2.3"));
  EXPECT_EQ(ParseIpAddress("::ffff:a01:203"), mapped);
}

TEST(AllowListParserTest, ErrorsNameTheBadEntry) {
  const struct {
    std::string text;
    std::string error;  // "" when valid
  } cases[] = {
      {"127.0.0.1", ""},
      {"127.0.0.1, 10.0.0.0/8 ,::1", ""},
      {"10.0.0.0/8,192.168.0.0/16,2001:db8::/32", ""},
      {"0.0.0.0/0", ""},
      {"::/0", ""},
      {"10.0.0.7/32", ""},
      {"::ffff:10.0.0.0/104", ""},
      {"\t127.0.0.1\t", ""},
      {"10.0.0.300", "Invalid entry '10.0.0.300' in AllowedClients: not an IPv4 or IPv6 address"},
      {"127.0.0.1,host.example",
       "Invalid entry 'host.example' in AllowedClients: not an IPv4 or IPv6 address"},
      {"127.0.0.1,,::1",
       "Invalid entry '' in AllowedClients: an entry is empty (a comma too many?)"},
      {"127.0.0.1,", "Invalid entry '' in AllowedClients: an entry is empty (a comma too many?)"},
      {" ", "Invalid entry '' in AllowedClients: an entry is empty (a comma too many?)"},
      {"127.0.0.1;10.0.0.1",
       "Invalid entry '127.0.0.1;10.0.0.1' in AllowedClients: not an IPv4 or IPv6 address"},
      {"10.0.0.0/33",
       "Invalid entry '10.0.0.0/33' in AllowedClients: the prefix length must be a number from 0 "
       "to 32"},
      {"::/129",
       "Invalid entry '::/129' in AllowedClients: the prefix length must be a number from 0 to "
       "128"},
      {"10.0.0.0/",
       "Invalid entry '10.0.0.0/' in AllowedClients: the prefix length must be a number from 0 to "
       "32"},
      {"10.0.0.0/x8",
       "Invalid entry '10.0.0.0/x8' in AllowedClients: the prefix length must be a number from 0 "
       "to 32"},
      {"10.0.0.0/08",
       "Invalid entry '10.0.0.0/08' in AllowedClients: the prefix length must be a number from 0 "
       "to 32"},
      {"10.0.0.0/8/8",
       "Invalid entry '10.0.0.0/8/8' in AllowedClients: the prefix length must be a number from 0 "
       "to 32"},
      {"10.0.0.1/8",
       "Invalid entry '10.0.0.1/8' in AllowedClients: bits are set beyond the /8 prefix"},
      {"2001:db8::1/64",
       "Invalid entry '2001:db8::1/64' in AllowedClients: bits are set beyond the /64 prefix"},
      {"::ffff:0.0.0.0/80",
       "Invalid entry '::ffff:0.0.0.0/80' in AllowedClients: bits are set beyond the /80 prefix"},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorOf(c.text), c.error) << c.text;
}

TEST(AllowListMatcherTest, WhoIsAllowed) {
  const AllowList list = ParseAllowedClients("127.0.0.1, 10.20.0.0/16, 2001:db8:1::/48, ::1");
  const struct {
    std::string peer;
    bool allowed;
  } cases[] = {
      {"127.0.0.1", true},
      {"127.0.0.2", false},
      {"10.20.0.1", true},
      {"10.20.255.255", true},
      {"10.21.0.1", false},
      {"10.19.255.255", false},
      {"::ffff:127.0.0.1", true},  // an IPv4 client through an IPv6 socket
      {"::ffff:127.0.0.2", false},
      {"2001:db8:1:ffff::5", true},
      {"2001:db8:2::5", false},
      {"::1", true},
      {"::2", false},
      {"", false},  // no address known
      {"not an address", false},
  };
  for (const auto& c : cases) EXPECT_EQ(list.Allows(c.peer), c.allowed) << c.peer;
}

TEST(AllowListMatcherTest, PrefixesThatAreNotWholeBytes) {
  const AllowList list = ParseAllowedClients("192.168.4.0/22,0.0.0.0/1");
  EXPECT_TRUE(list.Allows("192.168.7.255"));
  EXPECT_FALSE(list.Allows("192.168.8.0"));
  EXPECT_FALSE(list.Allows("192.168.3.255"));
  EXPECT_TRUE(list.Allows("127.255.255.255"));  // 0.0.0.0/1
  EXPECT_FALSE(list.Allows("::1"));             // IPv4 ranges never match IPv6
}

TEST(ListenAddressTest, LiteralsOrAClearError) {
  EXPECT_EQ(ParseListenAddress("127.0.0.2"), *ParseIpAddress("127.0.0.2"));
  EXPECT_TRUE(ParseListenAddress("::1").v6);
  for (const std::string bad : {"127.0.0", "localhost", "0.0.0.0:9007", "::1/128"}) {
    try {
      ParseListenAddress(bad);
      ADD_FAILURE() << bad;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()),
                "Invalid ListenAddress '" + bad + "': not an IPv4 or IPv6 address");
    }
  }
}

}  // namespace
}  // namespace halv::access::testing
