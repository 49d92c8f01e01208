// The command table as a table of cases: every command in its order of
// matching with its permission, whether it is audited, what it waits for
// and whether it has a help topic; every word unique; and the look-ups that
// the permission check, the audit trail and the command runner make over it,
// in any letter case.
#include "command_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "interpreter.h"
#include "service_operation.h"
#include "transcript.h"

namespace halv::testing {
namespace {

using access::Permission;

struct RowCase {
  std::string word;
  Permission permission;
  bool audited;
  OperationKind operation;
  bool help;  // HELP <word> has a topic
};

// Every command of the language, in its order of matching.
const RowCase kRows[] = {
    {"open", Permission::kNone, false, OperationKind::kNone, false},
    {"auth", Permission::kNone, false, OperationKind::kNone, false},
    {"start", Permission::kAllowStart, true, OperationKind::kStart, true},
    {"cycle", Permission::kAdminUser, true, OperationKind::kNone, false},
    {"stop", Permission::kAllowStop, true, OperationKind::kStop, true},
    {"rstrt", Permission::kAllowRestart, true, OperationKind::kRestart, true},
    {"who", Permission::kLoginOrAllowList, false, OperationKind::kNone, true},
    {"init", Permission::kAdminUser, true, OperationKind::kNone, false},
    {"stime", Permission::kNone, false, OperationKind::kNone, true},
    {"display", Permission::kAllowList, false, OperationKind::kNone, false},
    {"view", Permission::kAdminUser, false, OperationKind::kNone, true},
    {"list", Permission::kAllowList, false, OperationKind::kNone, true},
    {"update", Permission::kAllowUpdate, true, OperationKind::kNone, true},
    {"quit", Permission::kNone, false, OperationKind::kNone, true},
    {"status", Permission::kAllowStatus, false, OperationKind::kNone, true},
    {"help", Permission::kNone, false, OperationKind::kNone, true},
    {"deps", Permission::kAllowStatus, false, OperationKind::kNone, true},
    {"watch", Permission::kAllowStatus, false, OperationKind::kNone, true},
    {"audit", Permission::kAllowList, false, OperationKind::kNone, true},
};

// The configuration with every switch that adds a command on.
ServiceFields AllOn() {
  ServiceFields fields;
  fields.restart_dependents = fields.list_filter = fields.update_enabled = true;
  fields.watch_enabled = fields.audit_log = true;
  return fields;
}

// Words that are no command (or only part of one).
const char* const kNotCommands[] = {"sto", "stopp", "xyz", "", "auth2", "helpp", " help"};

// `word` in upper case, and with only its first letter in upper case.
std::vector<std::string> Spellings(const std::string& word) {
  std::string upper = word;
  for (char& c : upper) c = static_cast<char>(c - 'a' + 'A');
  std::string first = word;
  first[0] = upper[0];
  return {word, upper, first};
}

TEST(CommandTableTest, EveryRowInItsOrderOfMatching) {
  const auto table = CommandTable();
  ASSERT_EQ(table.size(), std::size(kRows));
  for (std::size_t i = 0; i < table.size(); ++i) {
    const RowCase& expected = kRows[i];
    const CommandRow& row = table[i];
    SCOPED_TRACE(expected.word);
    EXPECT_EQ(row.word, expected.word);
    EXPECT_NE(row.handler, nullptr);
    EXPECT_EQ(row.permission, expected.permission);
    EXPECT_EQ(row.audited, expected.audited);
    EXPECT_EQ(row.operation, expected.operation);
    EXPECT_EQ(row.help != nullptr, expected.help);
  }
}

TEST(CommandTableTest, EveryWordIsUniqueInAnyLetterCase) {
  std::set<std::string> upper;
  for (const CommandRow& row : CommandTable()) {
    const std::string word(row.word);
    EXPECT_TRUE(upper.insert(Spellings(word)[1]).second) << word;
    for (const CommandRow& other : CommandTable()) {
      if (&other != &row) {
        EXPECT_FALSE(SameWordIgnoringCase(row.word, other.word)) << word;
      }
    }
  }
}

TEST(CommandTableTest, LookUpsFindTheRowInAnyLetterCase) {
  for (const RowCase& c : kRows) {
    for (const std::string& spelling : Spellings(c.word)) {
      SCOPED_TRACE(spelling);
      const CommandRow* row = FindCommand(spelling, AllOn());
      ASSERT_NE(row, nullptr);
      EXPECT_EQ(row->word, c.word);
      EXPECT_EQ(RequiredPermission(spelling, AllOn()), c.permission);
      EXPECT_EQ(IsAudited(spelling, AllOn()), c.audited);
    }
  }
  // Words that are no command need nothing and are not audited: they get
  // the unknown-command reply.
  for (const char* word : kNotCommands) {
    SCOPED_TRACE(word);
    EXPECT_EQ(FindCommand(word, AllOn()), nullptr);
    EXPECT_EQ(RequiredPermission(word, AllOn()), Permission::kNone);
    EXPECT_FALSE(IsAudited(word, AllOn()));
  }
}

// WATCH and AUDIT are commands only with WatchEnabled and AuditLog: without
// them the word is unknown, needs nothing and is not audited, as before. The
// other rows are there whatever the switches say.
TEST(CommandTableTest, WatchAndAuditAreCommandsOnlyWithTheirSwitches) {
  const ServiceFields off;
  for (const RowCase& c : kRows) {
    SCOPED_TRACE(c.word);
    const CommandRow* row = FindCommand(c.word, off);
    if (c.word == "watch" || c.word == "audit") {
      EXPECT_EQ(row, nullptr);
      EXPECT_EQ(RequiredPermission(c.word, off), Permission::kNone);
    } else {
      ASSERT_NE(row, nullptr);
      EXPECT_EQ(RequiredPermission(c.word, off), c.permission);
    }
  }
}

// The topics a switch changes or adds: with it off, LIST and UPDATE show
// their old topics and DEPS has none; with it on, each its own.
TEST(CommandTableTest, TopicsFollowTheirSwitches) {
  const ServiceFields off;
  const ServiceFields on = AllOn();
  struct {
    std::string word;
    std::string off_line, on_line;  // a text of the topic shown; "" for none
  } cases[] = {
      {"list", "\n\r311- usage:  LIST [ <service_name> ]\n\r311-End of HELP info",
       "\n\r311- usage:  LIST [ <pattern> ]\n\r311-End of HELP info"},
      {"update", "\n\r311-LIST command to see the available service properties.",
       "\n\r311-         UPDATE <service_name> DisplayName <text>\n\r311-End of HELP info"},
      {"deps", "", "\n\r311- usage:  DEPS <service_name>\n\r311-End of HELP info"},
      {"watch", "", "\n\r311- usage:  WATCH [ <service_name> ... ]\n\r311-End of HELP info"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    for (const bool switched : {false, true}) {
      const ServiceFields& fields = switched ? on : off;
      const std::string& want = switched ? c.on_line : c.off_line;
      const CommandRow* row = FindCommand(c.word, on);
      ASSERT_NE(row, nullptr);
      const HelpTopic* topic = HelpTopicOf(*row, fields);
      if (want.empty()) {
        EXPECT_EQ(topic, nullptr);
        continue;
      }
      ASSERT_NE(topic, nullptr);
      EXPECT_NE(std::find(std::begin(topic->texts), std::end(topic->texts), want),
                std::end(topic->texts));
    }
  }
}

// The command runner asks the table which lines wait: the operation of the
// row, on the service named by word 1, with the settings of the moment.
TEST(CommandTableTest, TheOperationOfEachLineIsItsRows) {
  ServiceFields fields;
  fields.stop_dependencies = false;
  fields.stop_timeout = 4500;
  for (const RowCase& c : kRows) {
    for (const std::string& spelling : Spellings(c.word)) {
      SCOPED_TRACE(spelling);
      const std::optional<ServiceOperation> operation =
          ServiceOperationOf(*MakeLine({spelling, "Spooler", "extra"}), fields);
      if (c.operation == OperationKind::kNone) {
        EXPECT_FALSE(operation.has_value());
        continue;
      }
      ASSERT_TRUE(operation.has_value());
      EXPECT_EQ(operation->kind, c.operation);
      EXPECT_EQ(operation->service, "Spooler");
      EXPECT_FALSE(operation->settings.stop_dependencies);
      EXPECT_EQ(operation->settings.stop_timeout_ms, 4500u);
    }
  }
  for (const char* word : kNotCommands) {
    if (*word == '\0') continue;  // a line always has a word 0
    EXPECT_FALSE(ServiceOperationOf(*MakeLine({word, "Spooler"}), fields).has_value()) << word;
  }
  // Without a name the operation names the empty service.
  const auto bare = ServiceOperationOf(*MakeLine({"stop"}), fields);
  ASSERT_TRUE(bare.has_value());
  EXPECT_EQ(bare->service, "");
}

// Each topic's first text names its command in capitals.
TEST(CommandTableTest, EachHelpTopicStartsWithItsCommand) {
  for (const CommandRow& row : CommandTable()) {
    SCOPED_TRACE(std::string(row.word));
    for (const HelpTopic* topic = row.help; topic != nullptr; topic = topic->otherwise)
      EXPECT_EQ(topic->texts[0], "311-" + Spellings(std::string(row.word))[1]);
  }
}

}  // namespace
}  // namespace halv::testing
