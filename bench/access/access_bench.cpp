// The costs that logins add on the service thread, timed in the Windows
// build (run under Wine): a permission read from a user's key, the listing
// of the user keys, and the password transform. Five rounds, each printing
// the mean per call. Writes and then removes a scratch key of its own under
// HKLM\SOFTWARE\Tenmark\HalvBench.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "auth/auth.h"
#include "win/registry.h"

int main() {
  const std::string users = "SOFTWARE\\Tenmark\\HalvBench\\Security\\Users";
  const std::string bob = users + "\\bob";
  halv::WriteRegString(bob, "AllowStop", "1", true);
  using Clock = std::chrono::steady_clock;
  for (int round = 0; round < 5; ++round) {
    constexpr int kReads = 2000;
    constexpr int kTransforms = 200;
    int granted = 0;
    const auto t0 = Clock::now();
    for (int i = 0; i < kReads; ++i) granted += halv::ReadRegString(bob, "AllowStop") == "1";
    const auto t1 = Clock::now();
    std::vector<std::string> names;
    for (int i = 0; i < kReads; ++i) halv::ListRegSubKeys(users, names);
    const auto t2 = Clock::now();
    std::size_t chars = 0;
    for (int i = 0; i < kTransforms; ++i)
      chars += halv::auth::AuthFromPassword("secret pw" + std::to_string(i)).size();
    const auto t3 = Clock::now();
    std::printf("permission read %.1f us, user listing %.1f us, transform %.2f ms (%d %zu)\n",
                std::chrono::duration<double, std::micro>(t1 - t0).count() / kReads,
                std::chrono::duration<double, std::micro>(t2 - t1).count() / kReads,
                std::chrono::duration<double, std::milli>(t3 - t2).count() / kTransforms, granted,
                chars);
  }
  halv::DeleteRegKeyTree("SOFTWARE\\Tenmark", "HalvBench");
  return 0;
}
