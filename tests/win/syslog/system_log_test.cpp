// DynamicLibrary and SystemLog against the real halvsyslog.dll, a missing
// library and a library without the log exports; the search path of the
// load and the size limit with its one rotated generation.
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
using halv::test::WriteWhole;

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

TEST_F(SystemLogTest, WritesStatusLinesThatReachTheFileAsEachIsWritten) {
  {
    SystemLog log(LibraryPath(), log_path_);
    ASSERT_TRUE(log.IsLoaded());
    ASSERT_TRUE(log.IsOpen());
    EXPECT_EQ(log.path(), log_path_);
    log.Write("Server logging started.");
    // The open switched the library to line mode: no line waits in its buffer.
    EXPECT_EQ(ReadShared(log_path_), "date Status: Server logging started.\r\n");
    log.Write("Receive buffer is >>stop %s\n<<");
    EXPECT_EQ(ReadShared(log_path_),
              "date Status: Server logging started.\r\n"
              "date Status: Receive buffer is >>stop %s\r\n<<\r\n");
  }
  EXPECT_EQ(ReadShared(log_path_),
            "date Status: Server logging started.\r\n"
            "date Status: Receive buffer is >>stop %s\r\n<<\r\n");
}

TEST_F(SystemLogTest, ExportsSitInTheirSlotsAndAreLookedUpOnlyWhenNeeded) {
  SystemLog log(LibraryPath(), log_path_);
  ASSERT_TRUE(log.IsOpen());
  // The open also switches the line mode on.
  ASSERT_EQ(log.slots().size(), 8u);
  EXPECT_TRUE(log.slots()[SystemLog::kOpenSlot].looked_up);
  EXPECT_EQ(log.slots()[SystemLog::kOpenSlot].address, Export("_open"));
  EXPECT_EQ(log.slots()[SystemLog::kLineModeSlot].address, Export("_line_mode"));
  EXPECT_FALSE(log.slots()[0].looked_up);
  EXPECT_FALSE(log.slots()[1].looked_up);
  EXPECT_FALSE(log.slots()[SystemLog::kWriteNormalSlot].looked_up);

  log.Write("one");
  ASSERT_EQ(log.slots().size(), 8u);
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

// Only a full path, or a name in System32, is loaded: a bare name is not
// looked for in the program's folder (where this test's copy of the library
// sits) nor in the current folder.
TEST_F(SystemLogTest, ABareNameIsTakenFromSystem32Only) {
  char program_dir[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, program_dir);
  const std::string dir = LibraryPath().substr(0, LibraryPath().find_last_of('\\'));
  SetCurrentDirectoryA(dir.c_str());
  {
    DynamicLibrary bare("halvsyslog.dll");
    EXPECT_FALSE(bare.IsLoaded());
    DynamicLibrary relative(".\\halvsyslog.dll");
    EXPECT_FALSE(relative.IsLoaded());
    DynamicLibrary full(LibraryPath());
    EXPECT_TRUE(full.IsLoaded());
    DynamicLibrary system("kernel32.dll");
    EXPECT_TRUE(system.IsLoaded());
  }
  SetCurrentDirectoryA(program_dir);
}

TEST(SystemLogNamesTest, RotatedPathAndLineBytes) {
  EXPECT_EQ(SystemLog::RotatedPath("C:\\logs\\serverlog.txt"), "C:\\logs\\serverlog.1.txt");
  EXPECT_EQ(SystemLog::RotatedPath("C:\\my.logs\\serverlog"), "C:\\my.logs\\serverlog.1");
  EXPECT_EQ(SystemLog::RotatedPath("C:\\logs\\.log"), "C:\\logs\\.log.1");
  EXPECT_EQ(SystemLog::LineBytes(""), 15u);
  EXPECT_EQ(SystemLog::LineBytes("abc"), 18u);
  EXPECT_EQ(SystemLog::LineBytes("a\nb"), 19u);
  EXPECT_EQ(SystemLog::LineBytes(std::string("ab\0cd", 5)), 17u);
}

// The counted bytes are the file's: lines with line feeds and zero bytes.
TEST_F(SystemLogTest, CountedBytesMatchTheFile) {
  {
    SystemLog log(LibraryPath(), log_path_);
    log.set_max_bytes(1000000);
    log.Write("Receive buffer is >>help\n<<");
    log.Write(std::string("cut\0here", 8));
    log.Write("\n\n");
    EXPECT_EQ(log.written(), 13u + 27 + 1 + 2 + 13 + 3 + 2 + 13 + 2 + 2 + 2);
    log.Close();
  }
  EXPECT_EQ(ReadShared(log_path_).size(), 13u + 27 + 1 + 2 + 13 + 3 + 2 + 13 + 2 + 2 + 2);
}

TEST_F(SystemLogTest, ALineThatWouldPassTheLimitStartsANewFile) {
  const std::string rotated = dir_.File("serverlog.1.txt");
  WriteWhole(rotated, "an older generation\r\n");
  WriteWhole(log_path_, "date Status: before\r\n");  // 21 bytes, counted from the open
  {
    SystemLog log(LibraryPath(), log_path_);
    log.set_max_bytes(60);
    EXPECT_EQ(log.written(), 21u);
    log.Write("one");    // 18 bytes: 39
    log.Write("two22");  // 20 bytes: 59, still within
    EXPECT_EQ(ReadShared(rotated), "an older generation\r\n");
    log.Write("three");  // would make 79: the file is renamed first
    EXPECT_EQ(ReadShared(rotated),
              "date Status: before\r\ndate Status: one\r\ndate Status: two22\r\n");
    EXPECT_EQ(log.path(), log_path_);
    EXPECT_EQ(log.written(), 20u);
    log.Write(std::string(100, 'x'));  // longer than the limit: a file of its own
    log.Write("last");
  }
  EXPECT_EQ(ReadShared(rotated), "date Status: " + std::string(100, 'x') + "\r\n");
  EXPECT_EQ(ReadShared(log_path_), "date Status: last\r\n");
}

TEST_F(SystemLogTest, NoLimitLetsTheFileGrow) {
  {
    SystemLog log(LibraryPath(), log_path_);
    for (int i = 0; i < 50; ++i) log.Write("a line of the server log");
  }
  EXPECT_EQ(ReadShared(log_path_).size(), 50u * 39);
  EXPECT_FALSE(Exists(dir_.File("serverlog.1.txt")));
}

// A file held open without shared deletion cannot be renamed: the log goes
// on in the same file and tries again with the next line.
TEST_F(SystemLogTest, ARenameThatFailsKeepsWritingAndTriesAgain) {
  SystemLog log(LibraryPath(), log_path_);
  log.set_max_bytes(40);
  log.Write("first line");  // 25 bytes
  HANDLE holder = CreateFileA(log_path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  log.Write("second line");  // would pass 40: the rename fails
  EXPECT_TRUE(log.IsOpen());
  EXPECT_FALSE(Exists(dir_.File("serverlog.1.txt")));
  CloseHandle(holder);
  log.Write("third line");
  log.Close();
  EXPECT_EQ(ReadShared(dir_.File("serverlog.1.txt")),
            "date Status: first line\r\ndate Status: second line\r\n");
  EXPECT_EQ(ReadShared(log_path_), "date Status: third line\r\n");
}

}  // namespace
