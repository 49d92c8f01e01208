// Formatting of local times through the service's date patterns.
#include "date_format.h"

#include <cstdio>

namespace halv {

const MonthNames& EnglishMonthNames() {
  static const MonthNames names = {
      {"January", "February", "March", "April", "May", "June", "July", "August", "September",
       "October", "November", "December"},
      {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"}};
  return names;
}

namespace {

std::string TwoDigits(int value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", value);
  return buf;
}

bool StartsWith(std::string_view text, std::size_t at, std::string_view token) {
  return text.substr(at, token.size()) == token;
}

}  // namespace

std::string FormatDateTime(std::string_view pattern, const LocalTime& time,
                           const MonthNames& months) {
  const bool twelve_hour = pattern.find("AM/PM") != std::string_view::npos ||
                           pattern.find("am/pm") != std::string_view::npos;
  const int month_index = (time.month >= 1 && time.month <= 12) ? time.month - 1 : 0;
  std::string out;
  bool after_hour = false;  // "mm" right after "hh" means minutes
  std::size_t i = 0;
  while (i < pattern.size()) {
    if (StartsWith(pattern, i, "AM/PM")) {
      out += time.hour < 12 ? "AM" : "PM";
      i += 5;
    } else if (StartsWith(pattern, i, "am/pm")) {
      out += time.hour < 12 ? "am" : "pm";
      i += 5;
    } else if (StartsWith(pattern, i, "yyyy")) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "%04d", time.year);
      out += buf;
      i += 4;
    } else if (StartsWith(pattern, i, "mmmm")) {
      out += months.full[month_index];
      i += 4;
    } else if (StartsWith(pattern, i, "mmm")) {
      out += months.abbreviated[month_index];
      i += 3;
    } else if (StartsWith(pattern, i, "mm")) {
      out += TwoDigits(after_hour ? time.minute : time.month);
      after_hour = false;
      i += 2;
      continue;
    } else if (StartsWith(pattern, i, "dd")) {
      out += TwoDigits(time.day);
      i += 2;
    } else if (pattern[i] == 'd') {
      out += std::to_string(time.day);
      i += 1;
    } else if (StartsWith(pattern, i, "hh")) {
      int hour = time.hour;
      if (twelve_hour) {
        hour %= 12;
        if (hour == 0) hour = 12;
      }
      out += TwoDigits(hour);
      after_hour = true;
      i += 2;
      continue;
    } else if (StartsWith(pattern, i, "ss")) {
      out += TwoDigits(time.second);
      i += 2;
    } else {
      out += pattern[i];
      i += 1;
      continue;  // separators keep "mm" bound to a preceding "hh"
    }
    after_hour = false;
  }
  return out;
}

}  // namespace halv
