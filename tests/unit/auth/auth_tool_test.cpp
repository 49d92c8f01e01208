// Runs the halvexa-auth tool on a few inputs and checks that it prints what
// the library computes. The tool's path is the first command-line argument.
// Each run feeds a temporary file as standard input and reads standard
// output back from another, through the platform's command shell.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "auth/auth.h"

namespace {

std::string g_tool_path;

// A temporary file removed when the object goes out of scope.
class TempFile {
 public:
  explicit TempFile(const std::string& tag) {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("halv_auth_tool_" + std::to_string(counter++) + "_" + tag);
  }
  ~TempFile() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// The tool's path as the shell wants it. Under Wine the build hands over a
// Unix path, which Wine's shell reaches through the Z: drive.
std::string ToolCommandPath() {
#ifdef _WIN32
  std::string p = g_tool_path;
  if (!p.empty() && p[0] == '/') p = "Z:" + p;
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  return p;
#else
  return g_tool_path;
#endif
}

struct RunResult {
  int status;
  std::string out;
};

RunResult RunTool(const std::string& input) {
  TempFile in("in"), out("out");
  {
    std::ofstream f(in.path(), std::ios::binary);
    f.write(input.data(), static_cast<std::streamsize>(input.size()));
  }
  std::string command = Quote(ToolCommandPath()) + " < " + Quote(in.path().string()) + " > " +
                        Quote(out.path().string());
#ifdef _WIN32
  command = "\"" + command + "\"";  // cmd /c strips one outer pair of quotes
#endif
  RunResult r;
  r.status = std::system(command.c_str());
  std::ifstream f(out.path(), std::ios::binary);
  r.out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return r;
}

TEST(AuthToolTest, PrintsTheLibraryResultAndALineEnd) {
  ASSERT_FALSE(g_tool_path.empty()) << "usage: auth_tool_test <path of halvexa-auth>";
  struct Case {
    std::string input;
    std::string password;
  } cases[] = {
      {"abc", "abc"},
      {"abc\n", "abc"},
      {"abc\r\n", "abc"},
      {"", ""},
      {"\n", ""},
      {"abc\n\n", "abc\n"},  // only one line end is stripped
      {"abc\r", "abc\r"},    // a lone CR is part of the password
      {"a b\tc\r\n\r\n", "a b\tc\r\n"},
      {std::string("p\0q\x1a\xff", 5), std::string("p\0q\x1a\xff", 5)},
  };
  for (const Case& c : cases) {
    const RunResult r = RunTool(c.input);
    EXPECT_EQ(r.status, 0) << "input size " << c.input.size();
    std::string line = r.out;
    // The line end is "\n", or "\r\n" where standard output is in text mode.
    ASSERT_TRUE(!line.empty() && line.back() == '\n') << "output: " << r.out;
    line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    EXPECT_EQ(line, halv::auth::AuthFromPassword(c.password)) << "input size " << c.input.size();
  }
}

TEST(AuthToolTest, AbcGivesItsKnownStoredForm) {
  ASSERT_FALSE(g_tool_path.empty());
  const RunResult r = RunTool("abc\n");
  EXPECT_EQ(r.out.substr(0, 64),
            "c5fe2077faf81cc9a762e8cd8ec5af59bdbf3d22ab4b31328503eca3e6e49258");
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc > 1) g_tool_path = argv[1];
  return RUN_ALL_TESTS();
}
