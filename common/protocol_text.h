// The texts of the command language that both ends know: the prompts, the
// rule under a column header, the words for a service's state and start
// type, the STATUS texts, the lines around START, STOP and RSTRT, and the
// texts of the service-control error codes. The service sends them; the
// halvexa client's reply parser reads them; the console shows the state and
// start-type words. Portable: no Windows headers, no I/O.
//
// Every line the service sends ends in "\n\r" (LF then CR). The constants
// that are whole lines hold that ending; the ones named ...Line do not, for
// a reader that has already split the reply into lines.
#ifndef HALV_COMMON_PROTOCOL_TEXT_H_
#define HALV_COMMON_PROTOCOL_TEXT_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace halv {

// Whether `word` equals `keyword` when both are mapped to upper case
// character by character (ASCII mapping): how a line's words are matched
// against command words and help topics, by the service and the client.
bool SameWordIgnoringCase(std::string_view word, std::string_view keyword);

// The end of every line the service sends.
inline constexpr std::string_view kLineEnd = "\n\r";

// The prompt after most replies, and the one after the greeting, HELP,
// CYCLE and VIEW.
inline constexpr std::string_view kPrompt = ":: ";
// The line to a connection closed because it did not log in in time
// (LoginTimeout), and to the longest-waiting one closed because a newer one
// needs its slot (MaxClients while logins are required).
inline constexpr std::string_view kLoginTimeoutText =
    "\n\r421-Login time-out, closing the connection\n\r";
inline constexpr std::string_view kLoginSlotTakenText =
    "\n\r421-Too many connections waiting for a login, closing the connection\n\r";
inline constexpr std::string_view kNewLinePrompt = "\n\r:: ";

// 80 hyphens and a line end, under the column headers of LIST, WHO and
// DISPLAY; kRuleLine is the same without the line end.
inline constexpr std::string_view kRule =
    "--------------------------------------------------------------------------------\n\r";
inline constexpr std::string_view kRuleLine = kRule.substr(0, kRule.size() - kLineEnd.size());

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

// STATUS: the line before the state, the state's line for states 1 to 7 (in
// the order of kListStateWords), and the line for any failure to read it.
inline constexpr std::string_view kRetrievingStatusLine = "Retrieving Status";
inline constexpr std::array<std::string_view, 7> kStatusLines = {
    "The service is stopped.", "The service is starting.",         "The service is stopping.",
    "The service is running.", "The service continue is pending.", "The service pause is pending.",
    "The service is paused."};
inline constexpr std::string_view kStatusUnknownLine = "Unable to determine status.";

// START, STOP and RSTRT: the line before the wait is the heading followed by
// the service name as typed; then each step's error text or its success line.
inline constexpr std::string_view kStartingHeading = "Starting Service...";
inline constexpr std::string_view kStoppingHeading = "Stopping Service...";
inline constexpr std::string_view kRestartingHeading = "Restarting Service...";
inline constexpr std::string_view kStartedLine = "Service started";
inline constexpr std::string_view kStoppedLine = "Service Stopped";
// RSTRT's own success lines for its stop and its start.
inline constexpr std::string_view kRestartStoppedLine = "Service Stopped...";
inline constexpr std::string_view kRestartStartedLine = "Service Started";

// DEPS: the column header of its table (then the rule, then a row per
// running dependant: " %-34s %-34s %-11s", name, display name, state word).
inline constexpr std::string_view kDependantsHeader =
    " Service Name                       Display Name                       Status\n\r";

// RSTRT with RestartDependents: one line for each dependant started again,
// "Dependent service started: NAME", or on failure
// "Dependent service not started: NAME, error CODE: " and the code's text.
inline constexpr std::string_view kDependantStartedLead = "Dependent service started: ";
inline constexpr std::string_view kDependantNotStartedLead = "Dependent service not started: ";
std::string DependantStartText(std::string_view dependant, std::uint32_t code);

// The refusal of STOP or RSTRT naming this service itself (which would cut
// every client off until someone logs on to the server): the code, then
// "STOP" or "RSTRT", the name as typed and the pointer to CYCLE.
inline constexpr std::string_view kSelfControlCode = "553";
std::string SelfControlRefusalText(std::string_view command, std::string_view service);

// AUDIT's reply: the records, each a line of audit.log (a JSON object), or
// this line when there are none.
inline constexpr std::string_view kNoAuditRecordsLine = "312-No audit records";

// UPDATE with UpdateEnabled: the line of a change made, the lead, then the
// service as typed, the property and its new value, blank-separated
// ("Service updated: Spooler StartType Manual"). A change the manager
// refused is answered with the code's error text instead.
inline constexpr std::string_view kServiceUpdatedLead = "Service updated: ";
// The properties and the start types UPDATE takes, in the spelling it
// answers with (a line may give them in any case).
inline constexpr std::string_view kStartTypeProperty = "StartType";
inline constexpr std::string_view kDisplayNameProperty = "DisplayName";
inline constexpr std::array<std::string_view, 4> kUpdateStartTypes = {"Automatic", "Delayed",
                                                                      "Manual", "Disabled"};

// WATCH with WatchEnabled: an opening line, "320-Watching " and the names
// as typed, blank-separated (or "all services"), then one line per change
// of state, "321-NAME: OLD -> NEW" with LIST's state words ("Unknown" for a
// state that cannot be read or a service that has gone); any line from the
// client ends it, answered by the prompt alone.
inline constexpr std::string_view kWatchOpeningLead = "320-Watching ";
inline constexpr std::string_view kWatchEveryService = "all services";
inline constexpr std::string_view kWatchChangeLead = "321-";
inline constexpr std::string_view kWatchArrow = " -> ";
std::string WatchChangeText(std::string_view service, std::uint32_t old_state,
                            std::uint32_t new_state);
// Reads a change line (no line end) back: true with the three parts filled,
// false, nothing touched, for any other line.
bool ReadWatchChange(std::string_view line, std::string* service, std::string* old_state,
                     std::string* new_state);

// One service-control error code and its text, without the line end.
struct ScmErrorEntry {
  std::uint32_t code;
  std::string_view text;
};

// The codes that have a text of their own, in ascending order (the 124 text
// keeps its unbalanced parenthesis).
std::span<const ScmErrorEntry> ScmErrorEntries();

// How the text of any other code starts; the code follows in unsigned
// decimal, then ".".
inline constexpr std::string_view kUnknownScmErrorLead =
    "The specified service error is not known for error code ";

// The client text for a code: "" for 0, the table's text for a known code,
// else the generic text with the code. Every text ends in "\n\r". Any thread.
std::string ScmErrorText(std::uint32_t code);

// Reads an error text back: true, with the code in `*code`, when `line` (no
// line end) is the text of a known code or the generic text with a number
// that fits 32 bits; false, `*code` untouched, for any other line.
bool ScmErrorCodeOf(std::string_view line, std::uint32_t* code);

}  // namespace halv

#endif  // HALV_COMMON_PROTOCOL_TEXT_H_
