#include "platform/datetime.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace fv {

bool IsLeapYear(int year) { return (year % 4 == 0) && ((year % 100 != 0) || (year % 400 == 0)); }

int DaysInMonth(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// days from civil (Howard Hinnant's algorithm), relative to 1970-01-01
static int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

static void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
    out = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day))) + kUnixDateDelta;
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 || msec > 999)
        return false;
    out = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / kMSecsPerDay;
    return true;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec) {
    TDateTime d = 0, t = 0;
    if (!TryEncodeDate(year, month, day, d)) return 0;
    TryEncodeTime(hour, minute, second, msec, t);
    return d >= 0 ? d + t : d - t;
}

TDateTimeParts DecodeDateTime(TDateTime value) {
    TDateTimeParts p;
    // round to the nearest millisecond first, so a value a hair below a full second decodes as that second
    double ms = std::round(value * kMSecsPerDay);
    int64_t totalMs = static_cast<int64_t>(ms);
    int64_t days = totalMs / 86400000;
    int64_t rem = totalMs % 86400000;
    if (rem < 0) {
        // negative values: the fraction counts forward from the date's midnight
        rem = -rem;
    }
    CivilFromDays(days - static_cast<int64_t>(kUnixDateDelta), p.Year, p.Month, p.Day);
    p.Hour = static_cast<int>(rem / 3600000);
    p.Minute = static_cast<int>(rem / 60000 % 60);
    p.Second = static_cast<int>(rem / 1000 % 60);
    p.MilliSecond = static_cast<int>(rem % 1000);
    int64_t dow = (days - static_cast<int64_t>(kUnixDateDelta) + 4) % 7;  // 1970-01-01 was a Thursday
    if (dow < 0) dow += 7;
    p.DayOfWeek = static_cast<int>(dow);
    return p;
}

TDateTime UnixToLocalDateTime(double unixSeconds) {
    double whole = std::floor(unixSeconds);
    time_t t = static_cast<time_t>(whole);
    struct tm lt {};
    localtime_r(&t, &lt);
    TDateTime v = EncodeDateTime(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec);
    return v + (unixSeconds - whole) / kSecsPerDay;
}

double LocalDateTimeToUnix(TDateTime value) {
    TDateTimeParts p = DecodeDateTime(value);
    struct tm lt {};
    lt.tm_year = p.Year - 1900;
    lt.tm_mon = p.Month - 1;
    lt.tm_mday = p.Day;
    lt.tm_hour = p.Hour;
    lt.tm_min = p.Minute;
    lt.tm_sec = p.Second;
    lt.tm_isdst = -1;
    time_t t = mktime(&lt);
    return static_cast<double>(t) + p.MilliSecond / 1000.0;
}

namespace {
std::atomic<double> gFixedNow{0};
}  // namespace

void SetNowForTesting(TDateTime fixed) { gFixedNow.store(fixed); }

TDateTime Now() {
    if (const double fixed = gFixedNow.load(); fixed != 0) return fixed;
    auto now = std::chrono::system_clock::now();
    double secs = std::chrono::duration<double>(now.time_since_epoch()).count();
    return UnixToLocalDateTime(secs);
}

std::string FormatTimestamp(TDateTime value) {
    TDateTimeParts p = DecodeDateTime(value);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d.%03d", p.Year, p.Month, p.Day, p.Hour, p.Minute,
                  p.Second, p.MilliSecond);
    return buf;
}

std::string FormatDateTimeText(TDateTime value) {
    TDateTimeParts p = DecodeDateTime(value);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second);
    return buf;
}

std::string FormatDateCompact(TDateTime value) {
    TDateTimeParts p = DecodeDateTime(value);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", p.Year, p.Month, p.Day);
    return buf;
}

}  // namespace fv
