// halvsyslog.dll loaded by full path, its exports resolved by name and by
// ordinal as halvsyslog.h lists them, with the log files' bytes compared
// exactly; and that list checked against the names and ordinals the DLL has
// always had.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "halvsyslog.h"
#include "scratch_files.h"

namespace {

using halv::test::Exists;
using halv::test::LibraryPath;
using halv::test::ReadShared;
using halv::test::ScratchDir;

using TextFn = halvsyslog_class_name_fn;
using OpenFn = halvsyslog_open_fn;
using CloseFn = halvsyslog_close_fn;
using WriteFn = halvsyslog_write_normal_fn;

// The seven exports, looked up either by name or by ordinal.
struct Exports {
  TextFn class_name;
  TextFn version;
  OpenFn open;
  CloseFn close;
  WriteFn write_error;
  WriteFn write_warning;
  WriteFn write_normal;
  halvsyslog_line_mode_fn line_mode;
};

template <typename Fn>
Fn As(FARPROC proc) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

class LibraryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = LoadLibraryA(LibraryPath().c_str());
    ASSERT_NE(module_, nullptr) << LibraryPath();
    by_name_ = Bind([](const char* name, int) { return GetProcAddress(module_, name); });
    by_ordinal_ = Bind([](const char*, int ordinal) {
      return GetProcAddress(module_, MAKEINTRESOURCEA(ordinal));
    });
  }
  static void TearDownTestSuite() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
  }

  template <typename Lookup>
  static Exports Bind(Lookup lookup) {
#define HALV_LOOK_UP(function) As<function##_fn>(lookup(function##_export, function##_ordinal))
    return {HALV_LOOK_UP(halvsyslog_class_name),  HALV_LOOK_UP(halvsyslog_version),
            HALV_LOOK_UP(halvsyslog_open),        HALV_LOOK_UP(halvsyslog_close),
            HALV_LOOK_UP(halvsyslog_write_error), HALV_LOOK_UP(halvsyslog_write_warning),
            HALV_LOOK_UP(halvsyslog_write_normal), HALV_LOOK_UP(halvsyslog_line_mode)};
#undef HALV_LOOK_UP
  }

  // The writer of a level: 'E' error, 'W' warning, 'S' status.
  static WriteFn Writer(char level, const Exports& e) {
    return level == 'E' ? e.write_error : level == 'W' ? e.write_warning : e.write_normal;
  }

  static HMODULE module_;
  static Exports by_name_;
  static Exports by_ordinal_;
  ScratchDir dir_;
};

HMODULE LibraryTest::module_ = nullptr;
Exports LibraryTest::by_name_;
Exports LibraryTest::by_ordinal_;

TEST_F(LibraryTest, EachExportByNameIsTheOneOfItsOrdinal) {
  const struct {
    const char* name;
    int ordinal;
  } kExports[] = {{"_class_name", 1},  {"_version", 2},       {"_open", 3},        {"_close", 4},
                  {"_write_error", 5}, {"_write_warning", 6}, {"_write_normal", 7},
                  {"_line_mode", 8}};
  // The header lists exactly these, in this order.
  const struct {
    std::string name;
    int ordinal;
  } kListed[] = {
#define HALV_ROW(ordinal, name, function, result, params) {#name, ordinal},
      HALVSYSLOG_EXPORTS(HALV_ROW)
#undef HALV_ROW
  };
  ASSERT_EQ(std::size(kListed), std::size(kExports));
  for (std::size_t i = 0; i < std::size(kExports); ++i) {
    EXPECT_EQ(kListed[i].name, kExports[i].name);
    EXPECT_EQ(kListed[i].ordinal, kExports[i].ordinal) << kExports[i].name;
  }
  for (const auto& e : kExports) {
    FARPROC by_name = GetProcAddress(module_, e.name);
    EXPECT_NE(by_name, nullptr) << e.name;
    EXPECT_EQ(by_name, GetProcAddress(module_, MAKEINTRESOURCEA(e.ordinal))) << e.name;
  }
  // Nothing else is exported: no internal names, no ninth ordinal.
  EXPECT_EQ(GetProcAddress(module_, "halvsyslog_open"), nullptr);
  EXPECT_EQ(GetProcAddress(module_, "open"), nullptr);
  EXPECT_EQ(GetProcAddress(module_, MAKEINTRESOURCEA(9)), nullptr);
}

TEST_F(LibraryTest, IdentificationTextsAreTruncatedToTheBuffer) {
  const struct {
    bool version;
    int size;
    const char* expected;
  } kCases[] = {
      {false, 1, ""},          {false, 2, "S"},          {false, 5, "Syst"},
      {false, 9, "SystemLo"},  {false, 10, "SystemLog"}, {false, 64, "SystemLog"},
      {true, 1, ""},           {true, 4, "1.0"},         {true, 9, "1.0.1.12"},
      {true, 10, "1.0.1.123"}, {true, 64, "1.0.1.123"},
  };
  for (const Exports* e : {&by_name_, &by_ordinal_}) {
    for (const auto& c : kCases) {
      SCOPED_TRACE(std::string(c.version ? "_version" : "_class_name") + " size " +
                   std::to_string(c.size) + (e == &by_name_ ? " by name" : " by ordinal"));
      char buffer[80];
      std::memset(buffer, 'x', sizeof buffer);
      TextFn fn = c.version ? e->version : e->class_name;
      EXPECT_EQ(fn(buffer, c.size), buffer);
      EXPECT_STREQ(buffer, c.expected);
      // Nothing is stored beyond the terminating zero.
      const std::size_t n = std::strlen(c.expected);
      EXPECT_EQ(buffer[n + 1], 'x');
    }
  }
}

TEST_F(LibraryTest, EachWriteAppendsOneFormattedLine) {
  const struct {
    char level;
    const char* text;
    const char* bytes;
    int count;
  } kCases[] = {
      {'S', "hello", "date Status: hello\r\n", 19},
      {'W', "disk almost full", "date Warning: disk almost full\r\n", 31},
      {'E', "disk full", "date Error: disk full\r\n", 22},
      {'S', "", "date Status: \r\n", 14},
      // The text is never taken as a format.
      {'S', "%s%d%n%%", "date Status: %s%d%n%%\r\n", 22},
      {'E', "%s", "date Error: %s\r\n", 15},
      // A line feed inside the text starts a second line without the prefix.
      {'S', "first\nsecond", "date Status: first\r\nsecond\r\n", 26},
      {'W', "\n", "date Warning: \r\n\r\n", 16},
      // Only line feeds are translated.
      {'S', "a\rb\tc", "date Status: a\rb\tc\r\n", 19},
      {'S', "crlf\r\n", "date Status: crlf\r\r\n\r\n", 20},
  };
  for (const Exports* e : {&by_name_, &by_ordinal_}) {
    for (const auto& c : kCases) {
      SCOPED_TRACE(std::string(1, c.level) + " \"" + c.text + "\"" +
                   (e == &by_name_ ? " by name" : " by ordinal"));
      const std::string path = dir_.File("line.txt");
      DeleteFileA(path.c_str());
      halvsyslog_handle log = e->open(path.c_str());
      ASSERT_NE(log, nullptr);
      EXPECT_EQ(Writer(c.level, *e)(log, c.text), c.count);
      EXPECT_EQ(e->close(log), 0);
      EXPECT_EQ(ReadShared(path), c.bytes);
    }
  }
}

TEST_F(LibraryTest, LinesOfMixedLevelsFollowEachOtherAndExistingContentStays) {
  const std::string path = dir_.File("serverlog.txt");
  halv::test::WriteWhole(path, "earlier\r\n");
  halvsyslog_handle log = by_name_.open(path.c_str());
  ASSERT_NE(log, nullptr);
  by_name_.write_normal(log, "one");
  by_name_.write_warning(log, "two");
  by_name_.write_error(log, "three");
  by_name_.write_normal(log, "four");
  ASSERT_EQ(by_name_.close(log), 0);
  EXPECT_EQ(ReadShared(path),
            "earlier\r\n"
            "date Status: one\r\n"
            "date Warning: two\r\n"
            "date Error: three\r\n"
            "date Status: four\r\n");
}

TEST_F(LibraryTest, NullHandleReturnsMinusOneAndTouchesNothing) {
  const std::string path = dir_.File("kept.txt");
  halv::test::WriteWhole(path, "kept\r\n");
  for (char level : {'S', 'W', 'E'}) {
    EXPECT_EQ(Writer(level, by_name_)(nullptr, "text"), -1) << level;
  }
  EXPECT_EQ(by_name_.close(nullptr), -1);
  EXPECT_EQ(ReadShared(path), "kept\r\n");
  EXPECT_EQ(dir_.Entries(), std::vector<std::string>{"kept.txt"});
}

// A null text is refused without a line and without harm to the stream.
TEST_F(LibraryTest, NullTextReturnsMinusOneAndWritesNothing) {
  const std::string path = dir_.File("null.txt");
  halvsyslog_handle log = by_name_.open(path.c_str());
  ASSERT_NE(log, nullptr);
  for (char level : {'S', 'W', 'E'}) {
    EXPECT_EQ(Writer(level, by_name_)(log, nullptr), -1) << level;
  }
  EXPECT_EQ(by_name_.write_normal(log, "after"), 19);
  EXPECT_EQ(by_name_.close(log), 0);
  EXPECT_EQ(ReadShared(path), "date Status: after\r\n");
}

TEST_F(LibraryTest, OpenFailsWithoutCreatingAnything) {
  const std::string cases[] = {"", dir_.File("missing\\serverlog.txt"),
                               dir_.File("missing\\deeper\\serverlog.txt"), dir_.path()};
  for (const std::string& path : cases) {
    EXPECT_EQ(by_name_.open(path.c_str()), nullptr) << "\"" << path << "\"";
  }
  EXPECT_EQ(by_name_.open(nullptr), nullptr);
  EXPECT_TRUE(dir_.Entries().empty());
}

TEST_F(LibraryTest, OpenCreatesAnEmptyFileAndCloseOfNoLinesLeavesItEmpty) {
  const std::string path = dir_.File("new.txt");
  halvsyslog_handle log = by_name_.open(path.c_str());
  ASSERT_NE(log, nullptr);
  EXPECT_TRUE(Exists(path));
  EXPECT_EQ(by_name_.close(log), 0);
  EXPECT_EQ(ReadShared(path), "");
}

// Another reader sees nothing of the lines until 512 bytes of the file have
// accumulated, then exactly those 512 bytes, and the rest once closed.
TEST_F(LibraryTest, AnotherReaderSeesLinesOnlyPerFullBufferOrAfterClose) {
  const std::string path = dir_.File("serverlog.txt");
  halvsyslog_handle log = by_name_.open(path.c_str());
  ASSERT_NE(log, nullptr);
  std::string expected;
  for (int i = 0; i < 40; ++i) {
    const std::string text = "line number " + std::to_string(i);
    ASSERT_EQ(by_name_.write_normal(log, text.c_str()), static_cast<int>(13 + text.size() + 1));
    expected += "date Status: " + text + "\r\n";
    const std::size_t visible = expected.size() / 512 * 512;
    ASSERT_EQ(ReadShared(path), expected.substr(0, visible)) << "after line " << i;
  }
  ASSERT_GT(expected.size(), 1024u);
  ASSERT_NE(expected.size() % 512, 0u);
  EXPECT_EQ(by_name_.close(log), 0);
  EXPECT_EQ(ReadShared(path), expected);
}

// In line mode every line is in the file, whole, as soon as it is written:
// what was buffered before goes out when the mode is switched on, lines
// longer than the buffer included, and the bytes are those of the buffered
// mode. Switched off, lines wait in the buffer again.
TEST_F(LibraryTest, InLineModeAnotherReaderSeesEachLineWholeAtOnce) {
  for (const Exports* e : {&by_name_, &by_ordinal_}) {
    const std::string path = dir_.File(e == &by_name_ ? "named.txt" : "numbered.txt");
    halvsyslog_handle log = e->open(path.c_str());
    ASSERT_NE(log, nullptr);
    ASSERT_EQ(e->write_normal(log, "before"), 20);
    EXPECT_EQ(ReadShared(path), "");
    ASSERT_EQ(e->line_mode(log, 1), 0);
    std::string expected = "date Status: before\r\n";
    EXPECT_EQ(ReadShared(path), expected);
    for (const std::string& text :
         {std::string("short"), std::string(700, 'x'), std::string("two\nparts")}) {
      ASSERT_EQ(e->write_warning(log, text.c_str()), static_cast<int>(14 + text.size() + 1));
      std::string formatted;
      for (char c : text) formatted += c == '\n' ? std::string("\r\n") : std::string(1, c);
      expected += "date Warning: " + formatted + "\r\n";
      EXPECT_EQ(ReadShared(path), expected);
    }
    ASSERT_EQ(e->line_mode(log, 0), 0);
    ASSERT_EQ(e->write_normal(log, "after"), 19);
    EXPECT_EQ(ReadShared(path), expected);
    EXPECT_EQ(e->close(log), 0);
    EXPECT_EQ(ReadShared(path), expected + "date Status: after\r\n");
  }
  EXPECT_EQ(by_name_.line_mode(nullptr, 1), -1);
}

TEST_F(LibraryTest, TextLongerThanTheBufferIsWrittenWhole) {
  const std::string path = dir_.File("long.txt");
  std::string text;
  for (int i = 0; i < 300; ++i) text += i % 50 == 49 ? '\n' : static_cast<char>('a' + i % 26);
  std::string expected = "date Error: ";
  for (char c : text) expected += c == '\n' ? std::string("\r\n") : std::string(1, c);
  expected += "\r\n";
  halvsyslog_handle log = by_name_.open(path.c_str());
  ASSERT_NE(log, nullptr);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(by_name_.write_error(log, text.c_str()), static_cast<int>(12 + text.size() + 1));
  }
  std::string all;
  for (int i = 0; i < 5; ++i) all += expected;
  EXPECT_EQ(ReadShared(path), all.substr(0, all.size() / 512 * 512));
  EXPECT_EQ(by_name_.close(log), 0);
  EXPECT_EQ(ReadShared(path), all);
}

// Each handle writes its buffer at the end of the file as it is at that
// moment, so neither overwrites the other.
TEST_F(LibraryTest, TwoHandlesOnOneFileBothAppend) {
  const std::string path = dir_.File("shared.txt");
  halvsyslog_handle first = by_name_.open(path.c_str());
  halvsyslog_handle second = by_ordinal_.open(path.c_str());
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  ASSERT_NE(first, second);

  std::string first_bytes;
  for (int i = 0; i < 30; ++i) {
    const std::string text = "first handle " + std::to_string(i);
    by_name_.write_normal(first, text.c_str());
    first_bytes += "date Status: " + text + "\r\n";
  }
  ASSERT_GT(first_bytes.size(), 512u);
  ASSERT_LT(first_bytes.size(), 1024u);
  by_name_.write_warning(second, "second handle");
  const std::string second_bytes = "date Warning: second handle\r\n";

  EXPECT_EQ(ReadShared(path), first_bytes.substr(0, 512));
  EXPECT_EQ(by_name_.close(second), 0);
  EXPECT_EQ(ReadShared(path), first_bytes.substr(0, 512) + second_bytes);
  EXPECT_EQ(by_name_.close(first), 0);
  EXPECT_EQ(ReadShared(path), first_bytes.substr(0, 512) + second_bytes + first_bytes.substr(512));
}

// The file stays open to others for reading and writing while a log holds it.
TEST_F(LibraryTest, OthersMayOpenTheFileForWritingMeanwhile) {
  const std::string path = dir_.File("open.txt");
  halvsyslog_handle log = by_name_.open(path.c_str());
  ASSERT_NE(log, nullptr);
  by_name_.write_normal(log, "from the log");
  HANDLE other = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  DWORD put = 0;
  ASSERT_TRUE(WriteFile(other, "other\r\n", 7, &put, nullptr));
  CloseHandle(other);
  EXPECT_EQ(by_name_.close(log), 0);
  EXPECT_EQ(ReadShared(path), "other\r\ndate Status: from the log\r\n");
}

// A log opened on a pipe: the pipe takes no appended data, so the first
// write-out fails. The stream then stays failed: even a short line, which
// would only be buffered, is refused, and so is the close.
TEST_F(LibraryTest, AFailedWriteKeepsTheStreamFailedUntilClosed) {
  const std::string name = "\\\\.\\pipe\\halv_syslog_" + std::to_string(GetCurrentProcessId());
  HANDLE reader = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, 1, 4096, 4096,
                                   0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  halvsyslog_handle log = by_name_.open(name.c_str());
  ASSERT_NE(log, nullptr);

  EXPECT_EQ(by_name_.write_normal(log, "buffered"), 22);
  const std::string text(600, 'p');
  EXPECT_LT(by_name_.write_normal(log, text.c_str()), 0);
  EXPECT_LT(by_name_.write_warning(log, "short"), 0);
  EXPECT_LT(by_name_.write_error(log, "short"), 0);
  EXPECT_EQ(by_name_.close(log), -1);

  CloseHandle(reader);
}

TEST_F(LibraryTest, ManyLogsMayBeOpenAtOnce) {
  std::vector<halvsyslog_handle> logs;
  for (int i = 0; i < 200; ++i) {
    halvsyslog_handle log = by_name_.open(dir_.File("log" + std::to_string(i) + ".txt").c_str());
    ASSERT_NE(log, nullptr) << i;
    by_name_.write_normal(log, std::to_string(i).c_str());
    logs.push_back(log);
  }
  for (halvsyslog_handle log : logs) EXPECT_EQ(by_name_.close(log), 0);
  EXPECT_EQ(ReadShared(dir_.File("log137.txt")), "date Status: 137\r\n");
}

TEST_F(LibraryTest, CarriesAVersionResourceOfItsOwn) {
  const std::string path = LibraryPath();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> data(size);
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, data.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &len));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
  char* name = nullptr;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\StringFileInfo\\040904E4\\OriginalFilename",
                             reinterpret_cast<void**>(&name), &len));
  EXPECT_STREQ(name, "halvsyslog.dll");
}

}  // namespace
