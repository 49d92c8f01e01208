// The halvexa command line: hosts, ports, time-outs, the password sources
// and the usage errors (exit status 64).
#include "options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace halv::client {
namespace {

std::string TempFile(const std::string& name, const std::string& content) {
  const std::string path = ::testing::TempDir() + name;
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

std::string Parse(const std::vector<std::string>& args, Options* options,
                  const char* password = nullptr) {
  return ParseOptions(
      args,
      [password](const char* name) {
        return std::string(name) == "HALVEXA_PASSWORD" ? password : nullptr;
      },
      options);
}

TEST(OptionsTest, HostsPortsAndDefaults) {
  const std::string hosts =
      TempFile("hosts.txt", "# the fleet\n  srv1  \nsrv2:9100 # second\n\n[::1]:9200\r\nfe80::1\n");
  Options o;
  ASSERT_EQ(
      Parse({"-H", "a", "-Hb:1", "--hosts", hosts, "--port", "9300", "status", "Spooler"}, &o), "");
  ASSERT_EQ(o.hosts.size(), 6u);
  const std::vector<std::pair<std::string, int>> expected = {
      {"a", 9300}, {"b", 1}, {"srv1", 9300}, {"srv2", 9100}, {"::1", 9200}, {"fe80::1", 9300}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(o.hosts[i].host, expected[i].first);
    EXPECT_EQ(o.hosts[i].port, expected[i].second);
  }
  EXPECT_EQ(o.hosts[3].label, "srv2:9100");
  EXPECT_EQ(o.command, Command::kStatus);
  EXPECT_EQ(o.words, (std::vector<std::string>{"status", "Spooler"}));
  EXPECT_EQ(o.parallel, 32);
  EXPECT_EQ(o.connect_timeout, 10);
  EXPECT_EQ(o.reply_timeout, 10);
  EXPECT_FALSE(o.json);
}

TEST(OptionsTest, TimeoutsParallelAndForms) {
  Options stop;
  ASSERT_EQ(Parse({"-H", "a", "stop", "Spooler"}, &stop), "");
  EXPECT_EQ(stop.reply_timeout, 120);  // a control command waits for the service
  EXPECT_EQ(stop.connect_timeout, 10);
  Options given;
  ASSERT_EQ(Parse({"--timeout=2.5", "--parallel", "1", "--json", "--raw", "-H", "a", "STOP", "x"},
                  &given),
            "");
  EXPECT_EQ(given.reply_timeout, 2.5);
  EXPECT_EQ(given.connect_timeout, 2.5);
  EXPECT_EQ(given.parallel, 1);
  EXPECT_TRUE(given.json);
  EXPECT_TRUE(given.raw);
  Options dashes;
  ASSERT_EQ(Parse({"-H", "a", "--", "help", "stop"}, &dashes), "");
  EXPECT_EQ(dashes.command, Command::kHelp);
}

TEST(OptionsTest, PasswordSources) {
  Options env;
  ASSERT_EQ(Parse({"--user", "ops", "-H", "a", "list"}, &env, "s3cret"), "");
  EXPECT_EQ(env.user, "ops");
  EXPECT_EQ(env.password, "s3cret");
  const std::string file = TempFile("password.txt", "fromfile\r\nsecond line\n");
  Options from_file;
  ASSERT_EQ(
      Parse({"--user", "ops", "--password-file", file, "-H", "a", "list"}, &from_file, "ignored"),
      "");
  EXPECT_EQ(from_file.password, "fromfile");
}

TEST(OptionsTest, UsageErrors) {
  const std::string hosts = TempFile("bad_hosts.txt", "good\nbad:99999\n");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"-H", "a"},
      {"list"},
      {"-H"},
      {"-H", "a:0", "list"},
      {"-H", "a:x", "list"},
      {"-H", ":9007", "list"},
      {"-H", "[::1", "list"},
      {"--hosts", hosts, "list"},
      {"--hosts", "/nonexistent/hosts", "list"},
      {"--port", "70000", "-H", "a", "list"},
      {"--parallel", "0", "-H", "a", "list"},
      {"--parallel", "many", "-H", "a", "list"},
      {"--timeout", "0", "-H", "a", "list"},
      {"--timeout", "-3", "-H", "a", "list"},
      {"--timeout", "1s", "-H", "a", "list"},
      {"--frobnicate", "-H", "a", "list"},
      {"-H", "a", "status"},
      {"-H", "a", "stop"},
      {"-H", "a", "stop", "two words"},
      {"-H", "a", "stop", "tab\tinside"},
      {"-H", "a", "help", std::string(600, 'x')},
      {"--user", "ops", "-H", "a", "list"},                     // no password anywhere
      {"--password-file", "/etc/hostname", "-H", "a", "list"},  // no user
      {"--user", "ops", "--password-file", "/nonexistent", "-H", "a", "list"},
      {"--dry-run", "-H", "a", "start", "Spooler"},  // only STOP has a dry run
      {"--dry-run", "-H", "a", "stop"},
      {"-H", "a", "deps"},
      {"-H", "a", "audit", "0"},
      {"-H", "a", "audit", "1001"},
      {"-H", "a", "audit", "-5"},
      {"-H", "a", "audit", "ten"},
      {"-H", "a", "audit", "10", "20"},
  };
  for (const std::vector<std::string>& args : cases) {
    Options o;
    std::string shown;
    for (const std::string& arg : args) shown += "[" + arg.substr(0, 20) + "]";
    EXPECT_NE(Parse(args, &o), "") << shown;
  }
  // The password as the server takes it: the rest of the line after the
  // user name, its words joined by one blank.
  const struct {
    std::string password;
    bool accepted;
  } passwords[] = {
      {"s3cret", true},
      {"two words", true},
      {"three word pass", true},
      {"", true},  // sent as no password: the server takes the user name
      {std::string(255, 'x'), true},
      {std::string(255, 'x') + " " + std::string(255, 'y'), true},
      {" lead", false},
      {"trail ", false},
      {"two  blanks", false},
      {"tab\tinside", false},
      {"line\nend", false},
      {"cr\r", false},
      {"esc\x1b", false},
      {"iac\xff", false},
      {std::string(256, 'x'), false},
  };
  for (const auto& p : passwords) {
    SCOPED_TRACE("[" + p.password.substr(0, 20) + "]");
    Options o;
    const std::string error = Parse({"--user", "ops", "-H", "a", "list"}, &o, p.password.c_str());
    EXPECT_EQ(error.empty(), p.accepted) << error;
    EXPECT_EQ(PasswordProblem(p.password).empty(), p.accepted);
    if (p.accepted) {
      EXPECT_EQ(o.password, p.password);
    }
  }
  Options help;
  EXPECT_EQ(Parse({"--help"}, &help), "");
  EXPECT_TRUE(help.help);
}

// AUDIT with no count or one from 1 to 1000, across every host given.
TEST(OptionsTest, AuditTakesAnOptionalCount) {
  for (const std::vector<std::string>& words :
       std::vector<std::vector<std::string>>{{"audit"}, {"AUDIT", "1"}, {"audit", "1000"}}) {
    Options o;
    std::vector<std::string> args = {"-H", "a", "-H", "b:9100"};
    args.insert(args.end(), words.begin(), words.end());
    ASSERT_EQ(Parse(args, &o), "") << words.size();
    EXPECT_EQ(o.command, Command::kAudit);
    EXPECT_EQ(o.words, words);
    EXPECT_EQ(o.hosts.size(), 2u);
    EXPECT_TRUE(ServicesOf(o).empty());
  }
}

// STOP --dry-run asks DEPS instead, for each service, and changes nothing.
TEST(OptionsTest, StopDryRunAsksDeps) {
  Options o;
  ASSERT_EQ(Parse({"-H", "a", "stop", "W32Time", "--dry-run", "Spooler"}, &o), "");
  EXPECT_EQ(o.command, Command::kDeps);
  EXPECT_EQ(o.words, (std::vector<std::string>{"DEPS", "W32Time", "Spooler"}));
  EXPECT_EQ(ServicesOf(o), (std::vector<std::string>{"W32Time", "Spooler"}));
  Options deps;
  ASSERT_EQ(Parse({"-H", "a", "deps", "W32Time"}, &deps), "");
  EXPECT_EQ(deps.command, Command::kDeps);
  EXPECT_EQ(deps.reply_timeout, o.reply_timeout);  // no wait: the short default
}

// UPDATE: a quoted display name is split into the words the server joins
// again; the line needs a service, a property and a value.
TEST(OptionsTest, UpdateTakesADisplayNameInOneArgumentOrMany) {
  Options quoted;
  ASSERT_EQ(Parse({"-H", "a", "update", "Spooler", "DisplayName", " Print  Queue\t2 "}, &quoted),
            "");
  EXPECT_EQ(quoted.command, Command::kUpdate);
  EXPECT_EQ(quoted.words,
            (std::vector<std::string>{"update", "Spooler", "DisplayName", "Print", "Queue", "2"}));
  EXPECT_TRUE(ServicesOf(quoted).empty());  // one line, not one per word
  Options words;
  ASSERT_EQ(Parse({"-H", "a", "UPDATE", "Spooler", "DisplayName", "Print", "Queue", "2"}, &words),
            "");
  EXPECT_EQ(words.words.size(), 6u);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-H", "a", "update", "Spooler", "StartType"},
        std::vector<std::string>{"-H", "a", "update", "Spooler", "DisplayName", "  "},
        std::vector<std::string>{"-H", "a", "update"},
        std::vector<std::string>{"-H", "a", "update", "Spooler", "DisplayName", "a\x01b"}}) {
    Options o;
    EXPECT_NE(Parse(args, &o), "") << args.back();
  }
}

// WATCH: --count and --timeout end it (the time-out also bounds the connect,
// as for every command); --count goes with no other command, and WATCH
// prints no --json document or --raw bytes.
TEST(OptionsTest, WatchCountAndTimeout) {
  Options o;
  ASSERT_EQ(Parse({"-H", "a", "watch", "Spooler", "BITS", "--count", "3", "--timeout=2.5"}, &o),
            "");
  EXPECT_EQ(o.command, Command::kWatch);
  EXPECT_EQ(o.count, 3);
  EXPECT_EQ(o.watch_seconds, 2.5);
  EXPECT_EQ(o.connect_timeout, 2.5);
  Options all;
  ASSERT_EQ(Parse({"-H", "a", "--json-lines", "watch"}, &all), "");
  EXPECT_EQ(all.count, 0);
  EXPECT_EQ(all.watch_seconds, 0);
  Options status;
  ASSERT_EQ(Parse({"-H", "a", "--timeout", "4", "status", "Spooler"}, &status), "");
  EXPECT_EQ(status.watch_seconds, 0);
  const std::vector<std::vector<std::string>> bad = {
      {"-H", "a", "status", "Spooler", "--count", "2"},
      {"-H", "a", "watch", "--count", "0"},
      {"-H", "a", "watch", "--count", "x"},
      {"-H", "a", "watch", "--count"},
      {"-H", "a", "--json", "watch", "Spooler"},
      {"-H", "a", "--raw", "watch", "Spooler"},
  };
  for (const auto& args : bad) {
    Options each;
    std::string shown;
    for (const std::string& arg : args) shown += "[" + arg + "]";
    EXPECT_NE(Parse(args, &each), "") << shown;
  }
}

TEST(OptionsTest, OptionsAnywhereOnTheLine) {
  Options o;
  ASSERT_EQ(Parse({"status", "-H", "a", "Spooler", "--json", "BITS", "--retries=4"}, &o), "");
  EXPECT_EQ(o.words, (std::vector<std::string>{"status", "Spooler", "BITS"}));
  EXPECT_EQ(o.hosts.size(), 1u);
  EXPECT_TRUE(o.json);
  EXPECT_EQ(o.retries, 4);
  EXPECT_EQ(ServicesOf(o), (std::vector<std::string>{"Spooler", "BITS"}));
  // After "--" every argument is a word, even one that looks like an option.
  Options dashes;
  ASSERT_EQ(Parse({"help", "-H", "a", "--", "--json"}, &dashes), "");
  EXPECT_EQ(dashes.words, (std::vector<std::string>{"help", "--json"}));
  EXPECT_FALSE(dashes.json);
  // Only service commands take several services.
  Options help;
  ASSERT_EQ(Parse({"-H", "a", "help", "stop"}, &help), "");
  EXPECT_TRUE(ServicesOf(help).empty());
  Options one;
  ASSERT_EQ(Parse({"-H", "a", "stop", "Spooler"}, &one), "");
  EXPECT_EQ(ServicesOf(one), (std::vector<std::string>{"Spooler"}));
}

TEST(OptionsTest, NewOptionsAndTheirErrors) {
  Options lines;
  ASSERT_EQ(Parse({"--json-lines", "-H", "a", "list"}, &lines), "");
  EXPECT_TRUE(lines.json_lines);
  EXPECT_FALSE(lines.json);
  EXPECT_EQ(lines.retries, kDefaultRetries);
  Options version;
  ASSERT_EQ(Parse({"-H", "a", "--version"}, &version), "");
  EXPECT_TRUE(version.version);
  EXPECT_EQ(VersionText().rfind("halvexa ", 0), 0u);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--retries", "-1", "-H", "a", "list"},
           {"--retries", "11", "-H", "a", "list"},
           {"--retries", "two", "-H", "a", "list"},
           {"-H", "a", "list", "--retries"},
           {"--json", "--json-lines", "-H", "a", "list"},
           // each service's line is checked against the server's 500 characters
           {"-H", "a", "status", "Spooler", std::string(600, 'x')},
       }) {
    Options o;
    EXPECT_NE(Parse(args, &o), "") << args[0] << " " << args[1];
  }
  Options many;
  std::vector<std::string> args = {"-H", "a", "status"};
  for (int i = 0; i < 40; ++i) args.push_back(std::string(20, 'a' + static_cast<char>(i % 26)));
  EXPECT_EQ(Parse(args, &many), "");  // 800 characters in all, each line short
  EXPECT_EQ(ServicesOf(many).size(), 40u);
  EXPECT_NE(std::string(ShortUsageText()).find("--help"), std::string::npos);
  EXPECT_EQ(std::string(ShortUsageText()).find('\n'), std::string(ShortUsageText()).size() - 1);
}

}  // namespace
}  // namespace halv::client
