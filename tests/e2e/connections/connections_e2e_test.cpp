// Connections of the real service under Wine: a soak with bursts of
// clients that come and go (QUIT, close, reset), VIEW of a large log to a
// slow reader, pipelined commands read late, and a client that never reads,
// with the service's working set measured.
// Winsock's header must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "service_harness.h"

namespace {

using namespace std::chrono_literals;
using halv::e2e::Client;

const std::string kPrompt = "\n\r:: ";
const std::string kHelpEnd = "311-End of HELP info\n\r:: ";

// The working set of the running halvexa351.exe in bytes; 0 when unknown.
SIZE_T ServiceWorkingSet() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  DWORD pid = 0;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (_stricmp(entry.szExeFile, "halvexa351.exe") == 0) pid = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  if (pid == 0) return 0;
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (process == nullptr) return 0;
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  const SIZE_T size =
      GetProcessMemoryInfo(process, &counters, sizeof counters) ? counters.WorkingSetSize : 0;
  CloseHandle(process);
  return size;
}

// The service's working set once it has settled: sampled every 200 ms until
// three samples in a row lie within 256 KiB of each other, or the last one
// after 10 s.
SIZE_T SettledWorkingSet() {
  SIZE_T samples[3] = {ServiceWorkingSet(), 0, 0};
  int taken = 1;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    Sleep(200);
    samples[taken % 3] = ServiceWorkingSet();
    ++taken;
    if (taken < 3) continue;
    const auto [low, high] = std::minmax({samples[0], samples[1], samples[2]});
    if (high - low <= 256 * 1024) break;
  }
  return samples[(taken - 1) % 3];
}

double MiB(SIZE_T bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

std::string Repeat(const std::string& text, int count) {
  std::string out;
  out.reserve(text.size() * count);
  for (int i = 0; i < count; ++i) out += text;
  return out;
}

class ConnectionsTest : public halv::e2e::InstalledServiceTest {
 protected:
  std::string LogPath() const { return log_dir_ + "\\serverlog.txt"; }

  // Fills the server log with about `bytes` bytes of log-like lines.
  void WriteLargeLog(std::size_t bytes) {
    std::ofstream out(LogPath(), std::ios::binary);
    std::string line;
    for (int i = 0; bytes > 0; ++i) {
      line = "09/12/2026 23:16:11 Status: Client (127.0.0.1) connected, line " + std::to_string(i) +
             "\r\n";
      out << line;
      bytes = line.size() >= bytes ? 0 : bytes - line.size();
    }
  }

  // A connected client that has read its greeting.
  bool Greeted(Client& client, int receive_buffer = 0,
               std::chrono::milliseconds limit = 10s) const {
    if (!client.Connect(Port(), receive_buffer)) return false;
    const std::string greeting = client.ReadUntil(kPrompt, limit);
    return greeting.rfind("\n\rHalvexa: Version ", 0) == 0 && greeting.size() > kPrompt.size() &&
           greeting.compare(greeting.size() - kPrompt.size(), kPrompt.size(), kPrompt) == 0;
  }

  // The reply to one command line, read up to `end`.
  static std::string Ask(Client& client, const std::string& line, const std::string& end) {
    client.Send(line + "\r\n");
    return client.ReadUntil(end, 10s);
  }
};

// One client's visit to the service on `port` during the soak; returns an
// empty text when all went as expected, else what went wrong.
std::string Visit(int port, int kind) {
  Client c;
  if (kind == 5) {  // connects and resets at once, before the greeting
    if (!c.Connect(port)) return "connect failed";
    c.Reset();
    return {};
  }
  if (!c.Connect(port)) return "connect failed";
  const std::string greeting = c.ReadUntil(kPrompt, 15s);
  if (greeting.rfind("\n\rHalvexa: Version ", 0) != 0) return "no greeting: " + greeting;
  auto ends_with = [](const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
  };
  switch (kind) {
    case 0: {
      c.Send("help\r\n");
      if (!ends_with(c.ReadUntil(kHelpEnd, 15s), kHelpEnd)) return "no help";
      c.Send("quit\r\n");
      if (!c.WaitClosed(10s)) return "quit did not close";
      return {};
    }
    case 1: {
      c.Send("stime\r\nwho\r\n");
      const std::string reply = c.ReadUntil("exec()       \n\r:: ", 15s);
      if (reply.find(" anonymous ") == std::string::npos) return "no who: " + reply;
      c.Reset();
      return {};
    }
    case 2: {
      c.Send("status NoSuchService\r\n");
      const std::string reply = c.ReadUntil(":: ", 15s);
      if (reply.rfind("Retrieving Status\n\r", 0) != 0) return "no status: " + reply;
      c.Close();
      return {};
    }
    case 3: {
      // A line in pieces, and telnet negotiation before it and within it.
      // Each refusal shows that the service has taken in the piece it ends,
      // so the next piece comes in a receipt of its own.
      c.Send("\xff\xfd\x01he");
      if (!ends_with(c.ReadUntil("\xff\xfc\x01", 15s), "\xff\xfc\x01")) return "no WONT ECHO";
      c.Send("lp st\xff\xfd\x03");
      if (!ends_with(c.ReadUntil("\xff\xfc\x03", 15s), "\xff\xfc\x03")) return "no WONT SGA";
      c.Send("op\r\nquit\r\n");
      const std::string reply = c.ReadUntil(kHelpEnd, 15s);
      if (reply.find("311-STOP") == std::string::npos) return "no help stop: " + reply;
      if (!c.WaitClosed(10s)) return "quit did not close";
      return {};
    }
    default: {
      // Leaves with a reply on its way.
      c.Send("help\r\nhelp\r\n");
      c.ReadSome(100, 2s);
      c.Reset();
      return {};
    }
  }
}

// Runs `count` visits at once; returns the failures.
std::vector<std::string> Burst(int port, int count, int round) {
  std::vector<std::string> failures(count);
  std::vector<std::thread> threads;
  for (int i = 0; i < count; ++i)
    threads.emplace_back(
        [&failures, port, i, round] { failures[i] = Visit(port, (i + round) % 6); });
  for (auto& t : threads) t.join();
  std::vector<std::string> out;
  for (auto& f : failures)
    if (!f.empty()) out.push_back(f);
  return out;
}

TEST_F(ConnectionsTest, SoakWithBurstsOfClientsNeverLosesTheListener) {
  StartRunning();
  int seconds = 150;
  if (const char* text = std::getenv("HALV_SOAK_SECONDS")) seconds = std::max(10, std::atoi(text));

  // An opening burst of 60 clients at once, then rounds of 20.
  std::vector<std::string> failures = Burst(Port(), 60, 0);
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::seconds(seconds);
  std::vector<std::pair<double, SIZE_T>> samples;
  auto next_sample = start;
  int visits = 60;
  for (int round = 1; std::chrono::steady_clock::now() < end; ++round) {
    for (const std::string& f : Burst(Port(), 20, round)) failures.push_back(f);
    visits += 20;
    if (std::chrono::steady_clock::now() >= next_sample) {
      const double at =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      samples.emplace_back(at, ServiceWorkingSet());
      next_sample += 10s;
    }
  }
  samples.emplace_back(seconds, ServiceWorkingSet());

  std::printf("soak: %d visits in %d s, %zu failed\n", visits, seconds, failures.size());
  for (const auto& [at, bytes] : samples)
    std::printf("  %6.1f s  working set %.1f MiB\n", at, MiB(bytes));
  for (std::size_t i = 0; i < failures.size() && i < 10; ++i)
    ADD_FAILURE() << "visit failed: " << failures[i];
  EXPECT_TRUE(failures.empty());

  // The listener still takes clients.
  Client after;
  EXPECT_TRUE(Greeted(after, 0, 5s));
  EXPECT_EQ(Ask(after, "", kPrompt), kPrompt);

  // Memory levels off: the second half of the soak does not grow past the
  // first half by more than a few MiB.
  ASSERT_GE(samples.size(), 4u);
  ASSERT_GT(samples.front().second, 0u) << "working set not readable";
  SIZE_T first_half = 0, second_half = 0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    SIZE_T& peak = i < samples.size() / 2 ? first_half : second_half;
    peak = std::max(peak, samples[i].second);
  }
  EXPECT_LE(second_half, first_half + 4 * 1024 * 1024)
      << MiB(first_half) << " MiB then " << MiB(second_half) << " MiB";
}

TEST_F(ConnectionsTest, ViewOfALargeLogToASlowReaderArrivesWhole) {
  WriteLargeLog(4 * 1024 * 1024);
  StartRunning();
  Client slow, other;
  ASSERT_TRUE(Greeted(slow, 8 * 1024));
  ASSERT_TRUE(Greeted(other));
  slow.Send("view\r\n");
  // The reader takes 16 KiB every few milliseconds; meanwhile another client
  // is served at once.
  std::string received;
  bool other_served = false;
  const auto deadline = std::chrono::steady_clock::now() + 120s;
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string piece = slow.ReadSome(16 * 1024, 5s);
    if (piece.empty()) break;
    received += piece;
    if (!other_served && received.size() > 1024 * 1024) {
      const auto asked = std::chrono::steady_clock::now();
      const std::string time = Ask(other, "stime", ":: ");
      EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s);
      EXPECT_NE(time.find(" 20"), std::string::npos) << time;
      other_served = true;
    }
    if (received.size() >= kPrompt.size() &&
        received.compare(received.size() - kPrompt.size(), kPrompt.size(), kPrompt) == 0 &&
        received.size() > 4 * 1024 * 1024)
      break;
    Sleep(3);  // the reader's pace
  }
  EXPECT_TRUE(other_served);
  const std::string file = halv::e2e::ReadFileBytes(LogPath());
  ASSERT_GT(file.size(), 4u * 1024 * 1024);
  EXPECT_EQ(received.size(), file.size() + kPrompt.size());
  EXPECT_TRUE(received == file + kPrompt) << "the file arrived altered";
}

TEST_F(ConnectionsTest, PipelinedCommandsReadLateAreAllAnsweredInOrder) {
  StartRunning();
  Client c;
  ASSERT_TRUE(Greeted(c));
  const std::string help = Ask(c, "help", kHelpEnd);
  const std::string help_stop = Ask(c, "help stop", kHelpEnd);
  ASSERT_EQ(help.rfind("311-This is Halvexa Version", 0), 0u) << help;
  ASSERT_EQ(help_stop.rfind("311-STOP", 0), 0u) << help_stop;
  c.Send(Repeat("help\r\nhelp stop\r\n", 200));
  const std::string expected = Repeat(help + help_stop, 200);
  // The client reads late: only once the service has sent all it can
  // without the client reading.
  c.WaitBacklog(expected.size(), 500ms, 30s);
  std::string received;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (received.size() < expected.size() && std::chrono::steady_clock::now() < deadline) {
    const std::string piece = c.ReadSome(64 * 1024, 5s);
    if (piece.empty()) break;
    received += piece;
  }
  EXPECT_EQ(received.size(), expected.size());
  EXPECT_TRUE(received == expected) << "replies lost, reordered or altered";
}

TEST_F(ConnectionsTest, ClientThatNeverReadsDelaysNoOneAndMemoryStaysBounded) {
  WriteLargeLog(8 * 1024 * 1024);
  StartRunning();
  Client warm;
  ASSERT_TRUE(Greeted(warm));
  EXPECT_EQ(Ask(warm, "view", kPrompt).size() > 8u * 1024 * 1024, true);
  ASSERT_TRUE(warm.Leave());
  const SIZE_T before = SettledWorkingSet();

  // Asks for the whole log and 20,000 help texts (about 9 MB) and reads none of it.
  Client stalled;
  ASSERT_TRUE(Greeted(stalled, 4 * 1024));
  stalled.Send("view\r\n" + Repeat("help\r\n", 20000));
  // Until the service has filled the stalled client's window and holds back.
  stalled.WaitBacklog(SIZE_MAX, 500ms, 10s);

  Client other;
  const auto asked = std::chrono::steady_clock::now();
  ASSERT_TRUE(Greeted(other, 0, 5s));
  const std::string time = Ask(other, "stime", ":: ");
  const auto took = std::chrono::steady_clock::now() - asked;
  EXPECT_LT(took, 2s);
  EXPECT_NE(time.find(" 20"), std::string::npos) << time;
  const SIZE_T after = SettledWorkingSet();
  std::printf(
      "working set before %.1f MiB, with a client that never reads %.1f MiB; "
      "greeting and STIME for another client in %lld ms\n",
      MiB(before), MiB(after),
      static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
  ASSERT_GT(before, 0u) << "working set not readable";
  EXPECT_LT(after, before + 4 * 1024 * 1024);

  // Stopping the service closes the stalled connection promptly.
  const auto stop_asked = std::chrono::steady_clock::now();
  EXPECT_EQ(halv::e2e::StopAndWait(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_LT(std::chrono::steady_clock::now() - stop_asked, 10s);
}

}  // namespace
