// The date forms and the 12-hour rules.
#include "date_format.h"

#include <gtest/gtest.h>

namespace {

struct Case {
  std::string_view pattern;
  halv::LocalTime time;
  const char* expected;
};

TEST(DateFormat, Forms) {
  const Case cases[] = {
      {halv::kGreetingDateForm, {2026, 12, 7, 23, 5, 9}, "7 December 2026 11:05:09 PM"},
      {halv::kLogDateForm, {2026, 12, 7, 23, 5, 9}, "07 December 2026 11:05:09 PM"},
      {halv::kReplyDateForm, {2026, 12, 7, 23, 5, 9}, "7 December 2026 11:05:09 pm"},
      {halv::kWhoRowDateForm, {2026, 12, 7, 23, 5, 9}, "7 Dec 2026 23:05"},
      // The first hour after midnight and after noon is 12 on the 12-hour clock.
      {halv::kReplyDateForm, {2027, 1, 31, 0, 0, 0}, "31 January 2027 12:00:00 am"},
      {halv::kGreetingDateForm, {2027, 1, 31, 12, 30, 1}, "31 January 2027 12:30:01 PM"},
      {halv::kGreetingDateForm, {2027, 5, 1, 11, 59, 59}, "1 May 2027 11:59:59 AM"},
      {halv::kWhoRowDateForm, {2027, 5, 1, 0, 7, 0}, "1 May 2027 00:07"},
      {"d mmmm yyyy hh:mm:ss am/pm\n\r\n\r",
       {2026, 2, 3, 13, 4, 5},
       "3 February 2026 01:04:05 pm\n\r\n\r"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(halv::FormatDateTime(c.pattern, c.time, halv::EnglishMonthNames()), c.expected)
        << c.pattern;
}

TEST(DateFormat, UsesTheGivenMonthNames) {
  halv::MonthNames names = halv::EnglishMonthNames();
  names.full[2] = "Maerz";
  names.abbreviated[2] = "Mrz";
  const halv::LocalTime t{2026, 3, 9, 8, 0, 0};
  EXPECT_EQ(halv::FormatDateTime("d mmmm / d mmm", t, names), "9 Maerz / 9 Mrz");
}

}  // namespace
