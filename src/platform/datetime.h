#pragma once
// Local date-time values: days since 1899-12-30 00:00 local time as a double,
// the fraction being the time of day. Conversions go through localtime_r / mktime.
#include <cstdint>
#include <ctime>
#include <string>

namespace fv {

using TDateTime = double;

constexpr double kSecsPerDay = 86400.0;
constexpr double kMSecsPerDay = 86400000.0;
// days between 1899-12-30 and 1970-01-01
constexpr double kUnixDateDelta = 25569.0;

struct TDateTimeParts {
    int Year = 1899, Month = 12, Day = 30;
    int Hour = 0, Minute = 0, Second = 0, MilliSecond = 0;
    int DayOfWeek = 0;  // 0 Sunday .. 6 Saturday
};

// Calendar arithmetic without time zones (the value is already local).
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out);
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int msec = 0);
TDateTimeParts DecodeDateTime(TDateTime value);
bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// The current local time: the program's one clock. Tests fix it with SetNowForTesting (0 lets the
// real clock run again); nothing else reads the wall clock for a date the user sees.
TDateTime Now();
void SetNowForTesting(TDateTime fixed);
// Unix time (UTC seconds, with fraction) <-> local date-time value.
TDateTime UnixToLocalDateTime(double unixSeconds);
double LocalDateTimeToUnix(TDateTime value);

// "yyyy/mm/dd hh:nn:ss.zzz"
std::string FormatTimestamp(TDateTime value);
// "yyyy/mm/dd hh:nn:ss"
std::string FormatDateTimeText(TDateTime value);
// "yyyymmdd"
std::string FormatDateCompact(TDateTime value);

}  // namespace fv
