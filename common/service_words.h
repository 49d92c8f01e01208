// The words that name a service's state and start type, as the service's
// LIST command and the console show them. Portable: no Windows headers.
#ifndef HALV_COMMON_SERVICE_WORDS_H_
#define HALV_COMMON_SERVICE_WORDS_H_

#include <array>
#include <cstdint>
#include <string_view>

namespace halv {

// States 1 (stopped) to 7 (paused), as LIST shows them.
inline constexpr std::array<std::string_view, 7> kListStateWords = {
    "Stopped", "Starting", "Stopping", "Running", "Continuing", "Pausing", "Paused"};
// The same states as the console's status box shows them.
inline constexpr std::array<std::string_view, 7> kConsoleStateWords = {
    "Stopped", "Starting", "Stopping", "Running", "Pending Continue", "Pending Pause", "Paused"};
// Start types 0 (boot) to 4 (disabled).
inline constexpr std::array<std::string_view, 5> kStartTypeWords = {"Boot", "System", "Automatic",
                                                                    "Demand", "Disabled"};
// The word for a number outside these ranges.
inline constexpr std::string_view kUnknownWord = "Unknown";

// The word of `value` in `words`, indexed from `first`; kUnknownWord outside.
template <std::size_t N>
constexpr std::string_view WordOf(const std::array<std::string_view, N>& words, std::uint32_t value,
                                  std::uint32_t first) {
  return value >= first && value - first < N ? words[value - first] : kUnknownWord;
}

}  // namespace halv

#endif  // HALV_COMMON_SERVICE_WORDS_H_
