// DOS and extended date and time words, and the calendar arithmetic over
// them. Day steps and spans count calendar days (the same as going through
// local midnight in a zone without daylight saving, and still right in one
// with it).
#include "zemta/date.h"

#include <cstdio>
#include <cstring>

#include "lib/core/calendar.h"
#include "lib/core/report.h"
#include "platform/base/clock.h"

namespace zemta {

int64_t daysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int64_t& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2);
}

int weekdayOf(int64_t y, int m, int d) {
  // 1970-01-01 was a Thursday.
  int64_t w = (daysFromCivil(y, m, d) + 4) % 7;
  return static_cast<int>(w < 0 ? w + 7 : w);
}

namespace {

uint16_t dosDateOf(const platform::LocalTime& t) { return toDosDate(t.year, t.month, t.day); }
uint16_t dosTimeOf(const platform::LocalTime& t) {
  return static_cast<uint16_t>((t.hour << 11) | (t.minute << 5) | (t.second / 2));
}

// Day number of a DOS date; a day or month out of its range still counts
// from the month's start, so nothing here can fail.
int64_t dayNumber(uint16_t w) {
  CivilDate c = fromDosDate(w);
  return daysFromCivil(c.year, c.month, c.day);
}

uint16_t dosDateOfDay(int64_t days) {
  int64_t y;
  int m, d;
  civilFromDays(days, y, m, d);
  return toDosDate(y, m, d);
}

uint16_t addMonths(uint16_t w, int64_t months) {
  CivilDate c = fromDosDate(w);
  const bool lastDay = c.day == daysInMonth(c.year, c.month);
  int64_t index = c.year * 12 + (c.month - 1) + months;
  int64_t year = index >= 0 ? index / 12 : (index - 11) / 12;
  int month = static_cast<int>(index - year * 12) + 1;
  int last = daysInMonth(year, month);
  int day = lastDay || c.day > last ? last : c.day;
  return toDosDate(year, month, day);
}

}  // namespace
}  // namespace zemta

using namespace zemta;

ZEMTA_API void GetDate(uint16_t* date, uint16_t* time) {
  const platform::LocalTime now = platform::localTime();
  if (date) *date = dosDateOf(now);
  if (time) *time = dosTimeOf(now);
}

ZEMTA_API uint16_t CastDate(int64_t cTime) { return dosDateOf(platform::localTimeOf(cTime)); }
ZEMTA_API uint16_t CastTime(int64_t cTime) { return dosTimeOf(platform::localTimeOf(cTime)); }

ZEMTA_API int32_t GetWeek(uint16_t date) {
  CivilDate c = fromDosDate(date);
  return weekdayOf(c.year, c.month, c.day);
}

ZEMTA_API int32_t GetLastDay(uint16_t date) {
  CivilDate c = fromDosDate(date);
  return daysInMonth(c.year, c.month);
}

ZEMTA_API uint16_t GetYesterday(uint16_t date) { return dosDateOfDay(dayNumber(date) - 1); }
ZEMTA_API uint16_t GetTomorrow(uint16_t date) { return dosDateOfDay(dayNumber(date) + 1); }
ZEMTA_API uint16_t GetLastMonth(uint16_t date) { return addMonths(date, -1); }
ZEMTA_API uint16_t GetNextMonth(uint16_t date) { return addMonths(date, 1); }
ZEMTA_API uint16_t GetAddDay(uint16_t date, int32_t days) { return dosDateOfDay(dayNumber(date) + days); }
ZEMTA_API uint16_t GetAddMon(uint16_t date, int32_t months) { return addMonths(date, months); }

ZEMTA_API int32_t GetDaySpan(uint16_t date1, uint16_t date2) {
  int64_t span = dayNumber(date1) - dayNumber(date2);
  return static_cast<int32_t>(span < 0 ? -span : span);
}

ZEMTA_API int32_t GetMonSpan(uint16_t date1, uint16_t date2) {
  int64_t from = dayNumber(date1), to = dayNumber(date2);
  if (from > to) std::swap(from, to);
  int32_t steps = 0;
  while (from < to) {
    int64_t y;
    int m, d;
    civilFromDays(from, y, m, d);
    from += daysInMonth(y, m);
    ++steps;
  }
  return steps;
}

ZEMTA_API uint16_t StrToDate(const char* text) {
  if (!text) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return 0;
  }
  // Fields are read as whole numbers: a four-digit year is taken as the full
  // year, where a byte-wide field would wrap "2024" to 232 and land in 2004.
  unsigned year = 0, month = 0, day = 0;
  if (std::sscanf(text, "%u/%u/%u", &year, &month, &day) != 3) return 0;
  if (month < 1 || month > 12 || day < 1 || day > 31) return 0;
  int64_t fullYear;
  if (year < 100)
    fullYear = year < 80 ? 2000 + year : 1900 + year;
  else if (year >= 1980 && year <= 2107)
    fullYear = year;
  else
    return 0;
  const int last = daysInMonth(fullYear, static_cast<int>(month));
  return toDosDate(fullYear, static_cast<int>(month), static_cast<int>(day) > last ? last : static_cast<int>(day));
}

ZEMTA_API int32_t DateToStr(char* buffer, uint16_t date) {
  if (!buffer) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  CivilDate c = fromDosDate(date);
  // Two digits always: 2100-2107 show 00-07, so the text keeps its 8 characters.
  const unsigned yy = static_cast<unsigned>(c.year % 100);
  char text[32];
  int n = std::snprintf(text, sizeof text, "%02u/%2u/%2u", yy, static_cast<unsigned>(c.month),
                        static_cast<unsigned>(c.day));
  std::memcpy(buffer, text, static_cast<size_t>(n) + 1);
  return n;
}

ZEMTA_API int32_t TimeInRange(uint16_t from, uint16_t to, uint16_t time) {
  if (to < from) return time >= from || time < to ? 1 : 0;
  return from <= time && time < to ? 1 : 0;
}

ZEMTA_API int32_t DateInRange(uint16_t from, uint16_t to, uint16_t date) {
  from &= 0x1FF;
  to &= 0x1FF;
  date &= 0x1FF;
  if (to < from) return date >= from || date <= to ? 1 : 0;
  return from <= date && date <= to ? 1 : 0;
}

namespace {

uint32_t exTimeOf(const platform::LocalTime& t, bool withMilliseconds) {
  return toExTime(t.hour, t.minute, t.second, withMilliseconds ? t.millisecond : 0);
}
uint32_t exDateOf(const platform::LocalTime& t) { return toExDate(t.year, t.month, t.day); }

// 100 ns intervals from 1601-01-01 to 1970-01-01.
constexpr uint64_t kFileTimeOf1970 = 116444736000000000ull;

bool localTimeOfFileTime(uint64_t fileTime, platform::LocalTime& t) {
  // Windows converts file times up to 0x7FFFFFFFFFFFFFFF only.
  if (fileTime > 0x7FFFFFFFFFFFFFFFull) return false;
  const int64_t units = static_cast<int64_t>(fileTime) - static_cast<int64_t>(kFileTimeOf1970);
  int64_t seconds = units / 10000000;
  int64_t rest = units % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --seconds;
  }
  t = platform::localTimeOf(seconds);
  if (t.year == 0 && t.month == 0) return false;
  t.millisecond = static_cast<int>(rest / 10000);
  return true;
}

}  // namespace

ZEMTA_API void GetExDate(uint32_t* date, uint32_t* time) {
  const platform::LocalTime now = platform::localTime();
  if (date) *date = exDateOf(now);
  if (time) *time = exTimeOf(now, true);
}

ZEMTA_API uint32_t TimeToExTime(int64_t cTime) { return exTimeOf(platform::localTimeOf(cTime), false); }
ZEMTA_API uint32_t TimeToExDate(int64_t cTime) { return exDateOf(platform::localTimeOf(cTime)); }

ZEMTA_API uint32_t FileTimeToExTime(uint64_t fileTime) {
  platform::LocalTime t;
  return localTimeOfFileTime(fileTime, t) ? exTimeOf(t, true) : 0;
}

ZEMTA_API uint32_t FileTimeToExDate(uint64_t fileTime) {
  platform::LocalTime t;
  return localTimeOfFileTime(fileTime, t) ? exDateOf(t) : 0;
}

ZEMTA_API int32_t LastDayOfMonth(int32_t year, int32_t month) { return daysInMonth(year, month); }
ZEMTA_API int32_t GetLastDayEx(int32_t year, int32_t month) { return daysInMonth(year, month); }

ZEMTA_API int32_t GetWeekEx(uint32_t date) {
  CivilDate c = fromExDate(date);
  return weekdayOf(c.year, c.month, c.day);
}

ZEMTA_API uint32_t GetYesterdayEx(uint32_t date) {
  CivilDate c = fromExDate(date);
  int64_t y;
  int m, d;
  civilFromDays(daysFromCivil(c.year, c.month, c.day) - 1, y, m, d);
  return toExDate(y, m, d);
}

ZEMTA_API uint32_t GetTomorrowEx(uint32_t date) {
  CivilDate c = fromExDate(date);
  int64_t y;
  int m, d;
  civilFromDays(daysFromCivil(c.year, c.month, c.day) + 1, y, m, d);
  return toExDate(y, m, d);
}
