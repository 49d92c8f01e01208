// DynamicLibrary and SystemLog against the real halvsyslog.dll, a missing
// library and a library without the log exports.
#include "system_log.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "scratch_files.h"

namespace {

using halv::DynamicLibrary;
using halv::SystemLog;
using halv::test::Exists;
using halv::test::LibraryPath;
using halv::test::ReadShared;
using halv::test::ScratchDir;

DynamicLibrary::Address Export(const char* name) {
  HMODULE module = GetModuleHandleA(LibraryPath().c_str());
  if (module == nullptr) return nullptr;
  return reinterpret_cast<DynamicLibrary::Address>(GetProcAddress(module, name));
}

class SystemLogTest : public ::testing::Test {
 protected:
  ScratchDir dir_;
  const std::string log_path_ = dir_.File("serverlog.txt");
};

TEST_F(SystemLogTest, WritesStatusLinesThatReachTheFileAtClose) {
  {
    SystemLog log(LibraryPath(), log_path_);
    ASSERT_TRUE(log.IsLoaded());
    ASSERT_TRUE(log.IsOpen());
    EXPECT_EQ(log.path(), log_path_);
    log.Write("Server logging started.");
    log.Write("Receive buffer is >>stop %s\n<<");
    EXPECT_EQ(ReadShared(log_path_), "");  // still in the library's buffer
  }
  EXPECT_EQ(ReadShared(log_path_),
            "date Status: Server logging started.\r\n"
            "date Status: Receive buffer is >>stop %s\r\n<<\r\n");
}

TEST_F(SystemLogTest, ExportsSitInTheirSlotsAndAreLookedUpOnlyWhenNeeded) {
  SystemLog log(LibraryPath(), log_path_);
  ASSERT_TRUE(log.IsOpen());
  ASSERT_EQ(log.slots().size(), 3u);
  EXPECT_TRUE(log.slots()[SystemLog::kOpenSlot].looked_up);
  EXPECT_EQ(log.slots()[SystemLog::kOpenSlot].address, Export("_open"));
  EXPECT_FALSE(log.slots()[0].looked_up);
  EXPECT_FALSE(log.slots()[1].looked_up);

  log.Write("one");
  ASSERT_EQ(log.slots().size(), 7u);
  EXPECT_EQ(log.slots()[SystemLog::kWriteNormalSlot].address, Export("_write_normal"));
  EXPECT_FALSE(log.slots()[SystemLog::kCloseSlot].looked_up);
  for (std::size_t unused : {0, 1, 4, 5}) EXPECT_FALSE(log.slots()[unused].looked_up) << unused;

  log.Close();
  EXPECT_TRUE(log.slots()[SystemLog::kCloseSlot].looked_up);
  EXPECT_EQ(log.slots()[SystemLog::kCloseSlot].address, Export("_close"));
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(log.path(), "");
  EXPECT_EQ(ReadShared(log_path_), "date Status: one\r\n");
}

// A slot keeps what its first look-up found: a later resolve does not look
// the export up again, whatever name it passes.
TEST_F(SystemLogTest, ResolveLooksEachSlotUpOncePerLoad) {
  DynamicLibrary library(LibraryPath());
  ASSERT_TRUE(library.IsLoaded());
  const auto open = library.Resolve("_open", 2);
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(library.Resolve("_close", 2), open);

  EXPECT_EQ(library.Resolve("_no_such_export", 9), nullptr);
  ASSERT_EQ(library.slots().size(), 10u);
  EXPECT_TRUE(library.slots()[9].looked_up);
  EXPECT_EQ(library.Resolve("_open", 9), nullptr);
  EXPECT_TRUE(library.slots()[9].looked_up);
  EXPECT_FALSE(library.slots()[5].looked_up);

  library.Unload();
  EXPECT_FALSE(library.IsLoaded());
  EXPECT_TRUE(library.slots().empty());
  EXPECT_EQ(library.Resolve("_open", 2), nullptr);
  EXPECT_TRUE(library.slots().empty());
}

TEST_F(SystemLogTest, MissingLibraryWritesNothing) {
  const std::string cases[] = {"", dir_.File("halvsyslog.dll"),
                               dir_.File("nowhere\\halvsyslog.dll")};
  for (const std::string& library_path : cases) {
    SCOPED_TRACE("\"" + library_path + "\"");
    SystemLog log(library_path, log_path_);
    EXPECT_FALSE(log.IsLoaded());
    EXPECT_FALSE(log.IsOpen());
    EXPECT_FALSE(log.Open(log_path_));
    log.Write("Server logging started.");
    log.Close();
    EXPECT_TRUE(log.slots().empty());
  }
  EXPECT_TRUE(dir_.Entries().empty());
}

TEST_F(SystemLogTest, LibraryWithoutOpenLeavesTheLogClosed) {
  SystemLog log("kernel32.dll", log_path_);
  ASSERT_TRUE(log.IsLoaded());
  EXPECT_FALSE(log.IsOpen());
  ASSERT_EQ(log.slots().size(), 3u);
  EXPECT_TRUE(log.slots()[SystemLog::kOpenSlot].looked_up);
  EXPECT_EQ(log.slots()[SystemLog::kOpenSlot].address, nullptr);
  EXPECT_FALSE(log.Open(log_path_));
  log.Write("text");
  EXPECT_EQ(log.slots().size(), 3u);  // a closed log resolves nothing to write
  EXPECT_FALSE(Exists(log_path_));
}

TEST_F(SystemLogTest, FileThatCannotBeOpenedLeavesTheLogClosed) {
  const std::string path = dir_.File("missing\\serverlog.txt");
  SystemLog log(LibraryPath(), path);
  EXPECT_TRUE(log.IsLoaded());
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(log.path(), "");
  log.Write("text");
  EXPECT_TRUE(dir_.Entries().empty());
}

TEST_F(SystemLogTest, OpenTakesANonEmptyPathOnlyWhileClosed) {
  SystemLog log(LibraryPath(), "");
  EXPECT_TRUE(log.IsLoaded());
  EXPECT_FALSE(log.IsOpen());
  EXPECT_FALSE(log.Open(""));
  EXPECT_TRUE(dir_.Entries().empty());

  EXPECT_TRUE(log.Open(log_path_));
  const std::string other = dir_.File("other.txt");
  EXPECT_TRUE(log.Open(other));  // already open: nothing changes
  EXPECT_EQ(log.path(), log_path_);
  EXPECT_FALSE(Exists(other));
  log.Write("first");
  log.Close();
  log.Write("after close");
  log.Close();
  EXPECT_EQ(ReadShared(log_path_), "date Status: first\r\n");

  EXPECT_TRUE(log.Open(log_path_));
  log.Write("again");
  log.Close();
  EXPECT_EQ(ReadShared(log_path_), "date Status: first\r\ndate Status: again\r\n");
}

// Replacing the log object, as a configuration reload does, reloads the
// library and appends to the same file.
TEST_F(SystemLogTest, ANewObjectAppendsToTheSameFile) {
  auto log = std::make_unique<SystemLog>(LibraryPath(), log_path_);
  log->Write("Server logging started.");
  log.reset();
  EXPECT_EQ(GetModuleHandleA(LibraryPath().c_str()), nullptr);  // unloaded
  log = std::make_unique<SystemLog>(LibraryPath(), log_path_);
  log->Write("Server logging started.");
  log->Write("Service is stopped.");
  log.reset();
  EXPECT_EQ(ReadShared(log_path_),
            "date Status: Server logging started.\r\n"
            "date Status: Server logging started.\r\n"
            "date Status: Service is stopped.\r\n");
}

}  // namespace
