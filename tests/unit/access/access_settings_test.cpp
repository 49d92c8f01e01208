// Reading the optional access values: absent means today's behaviour, each
// bad value ends the read with a message naming it.
#include "access_settings.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "halv_error.h"

namespace halv::access::testing {
namespace {

struct Registry {
  std::map<std::string, std::string> values;
  std::vector<std::string> reads;
  std::function<std::string(const char*)> Reader() {
    return [this](const char* name) {
      reads.push_back(name);
      const auto it = values.find(name);
      return it == values.end() ? std::string() : it->second;
    };
  }
};

TEST(AccessSettingsTest, AbsentValuesChangeNothing) {
  Registry registry;
  const AccessSettings s = ReadAccessSettings(registry.Reader());
  EXPECT_FALSE(s.require_auth);
  EXPECT_FALSE(s.listen_address);
  EXPECT_FALSE(s.allowed_clients);
  EXPECT_FALSE(s.max_clients);
  EXPECT_FALSE(s.idle_timeout);
  EXPECT_FALSE(s.log_max_bytes);
  EXPECT_TRUE(DescribeAccessSettings(s).empty());
  EXPECT_EQ(registry.reads, (std::vector<std::string>{
                                "RequireAuth", "ListenAddress", "AllowedClients", "MaxClients",
                                "IdleTimeout", "LogMaxBytes", "RestartDependents", "ListFilter",
                   "UpdateEnabled", "WatchEnabled",
                   "AuditLog", "AuditMaxBytes", "AuditMaxFiles", "LogTimestamps", "LogMaxFiles",
                   "LoginTimeout", "MaxClientsPerAddress"}));
}

TEST(AccessSettingsTest, EveryValueSet) {
  Registry registry;
  registry.values = {
      {"RequireAuth", "1"}, {"ListenAddress", "::1"}, {"AllowedClients", "::1, 127.0.0.0/8"},
      {"MaxClients", "10"}, {"IdleTimeout", "300"},   {"LogMaxBytes", "1048576"}};
  const AccessSettings s = ReadAccessSettings(registry.Reader());
  EXPECT_TRUE(s.require_auth);
  ASSERT_TRUE(s.listen_address);
  EXPECT_TRUE(s.listen_address->v6);
  ASSERT_TRUE(s.allowed_clients);
  EXPECT_TRUE(s.allowed_clients->Allows("127.1.2.3"));
  EXPECT_EQ(s.max_clients, 10);
  EXPECT_EQ(s.idle_timeout, 300);
  EXPECT_EQ(s.log_max_bytes, 1048576);
  EXPECT_EQ(DescribeAccessSettings(s),
            (std::vector<std::string>{"Service requires clients to log in",
                                      "Service is listening on address ::1",
                                      "Service accepts clients from ::1, 127.0.0.0/8",
                                      "Service serves at most 10 clients at once",
                                      "Service closes connections idle for 300 seconds",
                                      "Service keeps the server log under 1048576 bytes"}));
}

// RequireAuth takes "", "0" or "1"; anything else is an error, and the read
// that goes on past errors then requires logins.
TEST(AccessSettingsTest, RequireAuthIsExactAndFailsClosed) {
  const struct {
    std::string text;
    bool valid, require_auth;
  } cases[] = {
      {"", true, false},    {"0", true, false},    {"1", true, true},   {"yes", false, true},
      {"Yes", false, true}, {"true", false, true}, {" 1", false, true}, {"1 ", false, true},
      {"01", false, true},  {"-1", false, true},   {"2", false, true},  {"00", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("'" + c.text + "'");
    Registry registry;
    if (!c.text.empty()) registry.values = {{"RequireAuth", c.text}};
    if (c.valid) {
      EXPECT_EQ(ReadAccessSettings(registry.Reader()).require_auth, c.require_auth);
    } else {
      try {
        ReadAccessSettings(registry.Reader());
        ADD_FAILURE() << "no error";
      } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Invalid RequireAuth '" + c.text +
                                             "': must be 0 or 1; logins are required until it "
                                             "is corrected");
      }
    }
    for (const bool in_force : {false, true}) {
      AccessSettings before;
      before.require_auth = in_force;
      std::vector<std::string> errors;
      EXPECT_EQ(ReadAccessSettings(registry.Reader(), before, errors).require_auth, c.require_auth);
      EXPECT_EQ(errors.size(), c.valid ? 0u : 1u);
    }
  }
}

// Going on past errors: every right value applies, each wrong one keeps
// what was in force and is reported, in table order.
TEST(AccessSettingsTest, TheReadGoesOnPastWrongValues) {
  AccessSettings before;
  before.max_clients = 7;
  before.allowed_clients = ParseAllowedClients("127.0.0.1");
  before.allowed_clients_text = "127.0.0.1";
  Registry registry;
  registry.values = {
      {"RequireAuth", "1"}, {"ListenAddress", "nowhere"}, {"AllowedClients", "10.0.0.300"},
      {"MaxClients", "0"},  {"IdleTimeout", "30"},        {"LogMaxBytes", "x"}};
  std::vector<std::string> errors;
  const AccessSettings s = ReadAccessSettings(registry.Reader(), before, errors);
  EXPECT_TRUE(s.require_auth);
  EXPECT_FALSE(s.listen_address);
  ASSERT_TRUE(s.allowed_clients);
  EXPECT_TRUE(s.allowed_clients->Allows("127.0.0.1"));
  EXPECT_FALSE(s.allowed_clients->Allows("127.0.0.2"));
  EXPECT_EQ(s.allowed_clients_text, "127.0.0.1");
  EXPECT_EQ(s.max_clients, 7);
  EXPECT_EQ(s.idle_timeout, 30);
  EXPECT_FALSE(s.log_max_bytes);
  EXPECT_EQ(errors,
            (std::vector<std::string>{
                "Invalid ListenAddress 'nowhere': not an IPv4 or IPv6 address",
                "Invalid entry '10.0.0.300' in AllowedClients: not an IPv4 or IPv6 address",
                "MaxClients must be 1 or more, not '0'", "'x' is not a valid integer value"}));
  EXPECT_EQ(registry.reads.size(), config::kOptionalSystemValues.size());  // every one
}

TEST(AccessSettingsTest, ABadValueEndsTheReadNamingIt) {
  const struct {
    std::string name, text, error;
  } cases[] = {
      {"ListenAddress", "localhost",
       "Invalid ListenAddress 'localhost': not an IPv4 or IPv6 address"},
      {"AllowedClients", "10.0.0.1,bad",
       "Invalid entry 'bad' in AllowedClients: not an IPv4 or IPv6 address"},
      {"MaxClients", "0", "MaxClients must be 1 or more, not '0'"},
      {"IdleTimeout", "5s", "'5s' is not a valid integer value"},
      {"LogMaxBytes", "-1", "LogMaxBytes must be 1 or more, not '-1'"},
  };
  for (const auto& c : cases) {
    Registry registry;
    registry.values = {{c.name, c.text}};
    try {
      ReadAccessSettings(registry.Reader());
      ADD_FAILURE() << c.name;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), c.error);
    }
    EXPECT_EQ(registry.reads.back(), c.name);  // nothing after it was read
  }
}

// Every optional value of the configuration table is read, in table order,
// and each limit holds from its lower bound up: a row added to the table
// without its reading here shows.
TEST(AccessSettingsTest, ReadsTheTablesOptionalValuesWithTheirBounds) {
  Registry registry;
  ReadAccessSettings(registry.Reader());
  std::vector<std::string> names;
  for (const config::ValueDef& value : config::kOptionalSystemValues) names.push_back(value.name);
  EXPECT_EQ(registry.reads, names);

  const struct {
    const char* name;
    std::optional<std::int32_t> AccessSettings::*field;
  } limits[] = {{"MaxClients", &AccessSettings::max_clients},
                {"IdleTimeout", &AccessSettings::idle_timeout},
                {"LogMaxBytes", &AccessSettings::log_max_bytes}};
  for (const auto& limit : limits) {
    SCOPED_TRACE(limit.name);
    const std::int32_t min = config::SystemValue(limit.name).min.value();
    Registry at_bound;
    at_bound.values = {{limit.name, std::to_string(min)}};
    EXPECT_EQ(ReadAccessSettings(at_bound.Reader()).*limit.field, min);
    Registry below;
    below.values = {{limit.name, std::to_string(min - 1)}};
    EXPECT_THROW(ReadAccessSettings(below.Reader()), Error);
  }
}

}  // namespace
}  // namespace halv::access::testing
