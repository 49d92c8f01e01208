// The service-control error texts, turning a code into its text and a text
// back into its code, and the matching of words without regard to case.
#include "protocol_text.h"

namespace halv {
namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

constexpr ScmErrorEntry kErrorTexts[] = {
    {3, "The service binary file could not be found."},
    {5, "The requested access was denied."},
    {6, "The specified handle is invalid."},
    {87, "A parameter that was specified is invalid."},
    {123, "The specified service name is invalid."},
    {124,
     "The InfoLevel parameter contains an unsupported value (Info may not be available for your "
     "operating system."},
    {234, "The buffer is not large enough."},
    {1051, "The service cannot be stopped because other running services are dependent on it."},
    {1052, "The requested control code is not valid, or it is unacceptable to the service."},
    {1053, "The service did not respond to the start request in a timely fashion."},
    {1054, "A thread could not be created for the Win32 service."},
    {1055, "The database is locked."},
    {1056, "An instance of the service is already running."},
    {1058, "The service has been disabled."},
    {1060, "Service does not exist."},
    {1061,
     "The requested control code cannot be sent to the service because the state of the service "
     "is SERVICE_STOPPED, SERVICE_START_PENDING, or SERVICE_STOP_PENDING."},
    {1062, "The service has not been started."},
    {1065, "The specified database does not exist."},
    {1068, "The service depends on another service that has failed to start."},
    {1069, "The service could not be logged on."},
    {1072, "The service has been marked for deletion."},
    {1075, "The service depends on a service that does not exist or has been marked for deletion."},
    {1115, "The system is shutting down; this function cannot be called."},
};

}  // namespace

bool SameWordIgnoringCase(std::string_view word, std::string_view keyword) {
  if (word.size() != keyword.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (AsciiUpper(word[i]) != AsciiUpper(keyword[i])) return false;
  }
  return true;
}

std::span<const ScmErrorEntry> ScmErrorEntries() { return kErrorTexts; }

std::string DependantStartText(std::string_view dependant, std::uint32_t code) {
  if (code == 0)
    return std::string(kDependantStartedLead) + std::string(dependant) + std::string(kLineEnd);
  return std::string(kDependantNotStartedLead) + std::string(dependant) + ", error " +
         std::to_string(code) + ": " + ScmErrorText(code);
}

std::string SelfControlRefusalText(std::string_view command, std::string_view service) {
  std::string word(command);
  for (char& c : word) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return std::string(kSelfControlCode) + "-" + word + " " + std::string(service) +
         " refused: this service cannot stop itself; use CYCLE to restart its listener" +
         std::string(kLineEnd);
}

std::string WatchChangeText(std::string_view service, std::uint32_t old_state,
                            std::uint32_t new_state) {
  return std::string(kWatchChangeLead) + std::string(service) + ": " +
         std::string(WordOf(kListStateWords, old_state, 1)) + std::string(kWatchArrow) +
         std::string(WordOf(kListStateWords, new_state, 1)) + std::string(kLineEnd);
}

bool ReadWatchChange(std::string_view line, std::string* service, std::string* old_state,
                     std::string* new_state) {
  if (line.substr(0, kWatchChangeLead.size()) != kWatchChangeLead) return false;
  line.remove_prefix(kWatchChangeLead.size());
  // The state words hold neither ": " nor the arrow, so both are looked for
  // from the right: a name may hold anything.
  const std::size_t arrow = line.rfind(kWatchArrow);
  if (arrow == std::string_view::npos) return false;
  const std::size_t colon = line.substr(0, arrow).rfind(": ");
  if (colon == std::string_view::npos || colon == 0) return false;
  const std::string_view before = line.substr(colon + 2, arrow - colon - 2);
  const std::string_view after = line.substr(arrow + kWatchArrow.size());
  if (before.empty() || after.empty()) return false;
  *service = std::string(line.substr(0, colon));
  *old_state = std::string(before);
  *new_state = std::string(after);
  return true;
}

std::string ScmErrorText(std::uint32_t code) {
  if (code == 0) return {};
  for (const ScmErrorEntry& entry : kErrorTexts) {
    if (entry.code == code) return std::string(entry.text) + std::string(kLineEnd);
  }
  return std::string(kUnknownScmErrorLead) + std::to_string(code) + "." + std::string(kLineEnd);
}

bool ScmErrorCodeOf(std::string_view line, std::uint32_t* code) {
  for (const ScmErrorEntry& entry : kErrorTexts) {
    if (line == entry.text) {
      *code = entry.code;
      return true;
    }
  }
  if (line.substr(0, kUnknownScmErrorLead.size()) != kUnknownScmErrorLead ||
      line.size() <= kUnknownScmErrorLead.size() || line.back() != '.')
    return false;
  const std::string_view digits =
      line.substr(kUnknownScmErrorLead.size(), line.size() - kUnknownScmErrorLead.size() - 1);
  if (digits.empty() || digits.size() > 10) return false;
  std::uint64_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFFu) return false;
  *code = static_cast<std::uint32_t>(value);
  return true;
}

}  // namespace halv
