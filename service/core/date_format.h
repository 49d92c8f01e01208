// The date and time texts of the service.
//
// A pattern is copied character by character except for these tokens:
// "d"/"dd" day of month without/with a leading zero, "mmm"/"mmmm" abbreviated/
// full month name, "mm" after "hh" the minutes (elsewhere the month number
// with two digits), "yyyy" the year, "hh" the hour with two digits, "ss" the
// seconds, and "AM/PM" or "am/pm" the half of the day in that case. When either
// half-of-day token is present "hh" counts on a 12-hour clock (12 for the
// first hour after midnight and after noon).
#ifndef HALV_SERVICE_CORE_DATE_FORMAT_H_
#define HALV_SERVICE_CORE_DATE_FORMAT_H_

#include <array>
#include <string>
#include <string_view>

namespace halv {

struct LocalTime {
  int year = 2000;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;   // 0..23
  int minute = 0;
  int second = 0;
};

struct MonthNames {
  std::array<std::string, 12> full;
  std::array<std::string, 12> abbreviated;
};

// English names, used where the platform offers none.
const MonthNames& EnglishMonthNames();

std::string FormatDateTime(std::string_view pattern, const LocalTime& time,
                           const MonthNames& months);

// The patterns the service uses.
inline constexpr std::string_view kGreetingDateForm = "d mmmm yyyy hh:mm:ss AM/PM";
inline constexpr std::string_view kLogDateForm = "dd mmmm yyyy hh:mm:ss AM/PM";
inline constexpr std::string_view kReplyDateForm = "d mmmm yyyy hh:mm:ss am/pm";
inline constexpr std::string_view kWhoRowDateForm = "d mmm yyyy hh:mm";

}  // namespace halv

#endif  // HALV_SERVICE_CORE_DATE_FORMAT_H_
