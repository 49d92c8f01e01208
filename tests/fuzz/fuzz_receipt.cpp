// Fuzz target: arbitrary receipts through the word splitter.
//
// The first byte picks verbose mode; the rest is the receipt. Checks that
// every line handed on has a non-empty command word, that no word exceeds its
// slot and that the buffer is empty afterwards; the sanitizers catch any
// write past a slot.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "words.h"

namespace {

class Checker : public halv::ReceiptEvents {
 public:
  void LogLine(const std::string&) override {}
  void SendPrompt() override {}
  bool RunCommand(const halv::CommandLine& line) override {
    if (line.WordCount < 1 || line.WordCount > halv::CommandLine::kMaxWords) std::abort();
    if (line.Word(0).empty()) std::abort();
    for (int i = 0; i < line.WordCount; ++i)
      if (std::strlen(line.CommandWords[i]) > 255) std::abort();
    return true;
  }
};

halv::CommandLine g_line;  // shared across inputs, as in the service

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool verbose = (data[0] & 1) != 0;
  const std::string receipt(reinterpret_cast<const char*>(data + 1), size - 1);
  Checker checker;
  halv::HandleReceipt(receipt, verbose, g_line, checker);
  if (g_line.WordCount != 0) std::abort();
  for (int i = 0; i < halv::CommandLine::kMaxWords; ++i)
    if (g_line.CommandWords[i][0] != '\0') std::abort();
  return 0;
}
