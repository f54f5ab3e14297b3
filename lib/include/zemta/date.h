// Dates and times: the 16-bit DOS date and time words of the journals and
// daily files, the 32-bit extended date and time of typed data, calendar
// arithmetic, text forms, ranges, Japanese eras and national holidays.
//
//   DOS date  bits 9-15 year - 1980 (mod 128), 5-8 month, 0-4 day
//   DOS time  bits 11-15 hour, 5-10 minute, 0-4 second / 2
//   ExDate    full year << 9 | month << 5 | day
//   ExTime    hour << 27 | minute << 21 | second << 15 | millisecond * 20 + 1
//
// Every time is local time.
#pragma once

#include "zemta/export.h"

// The current local date and time as DOS words; either pointer may be null.
ZEMTA_API void GetDate(uint16_t* date, uint16_t* time);
// The local date and time of a C time (seconds since 1970).
ZEMTA_API uint16_t CastDate(int64_t cTime);
ZEMTA_API uint16_t CastTime(int64_t cTime);
// Weekday, 0 Sunday to 6 Saturday.
ZEMTA_API int32_t GetWeek(uint16_t date);
// Days of the date's month.
ZEMTA_API int32_t GetLastDay(uint16_t date);
ZEMTA_API uint16_t GetYesterday(uint16_t date);
ZEMTA_API uint16_t GetTomorrow(uint16_t date);
// A month back or on; the last day of a month goes to the last day of the
// target month, any other day keeps its number cut to the target month.
ZEMTA_API uint16_t GetLastMonth(uint16_t date);
ZEMTA_API uint16_t GetNextMonth(uint16_t date);
// Days between two dates, never negative.
ZEMTA_API int32_t GetDaySpan(uint16_t date1, uint16_t date2);
// Month steps from the earlier date until it reaches or passes the later one.
ZEMTA_API int32_t GetMonSpan(uint16_t date1, uint16_t date2);
ZEMTA_API uint16_t GetAddDay(uint16_t date, int32_t days);
ZEMTA_API uint16_t GetAddMon(uint16_t date, int32_t months);
// "yy/m/d" (or a four-digit year) to a date; 0 when it is no date. A day past
// the month's end becomes its last day.
ZEMTA_API uint16_t StrToDate(const char* text);
// Writes "yy/mm/dd" ("%02u/%2u/%2u"); the buffer takes 9 bytes. Returns the length.
ZEMTA_API int32_t DateToStr(char* buffer, uint16_t date);
// from <= time < to, or across midnight when to < from: 1 or 0.
ZEMTA_API int32_t TimeInRange(uint16_t from, uint16_t to, uint16_t time);
// Month and day only: from <= date <= to, or across the year end when to < from.
ZEMTA_API int32_t DateInRange(uint16_t from, uint16_t to, uint16_t date);

// National holidays of a full year by number: 0 元旦, 1 成人の日, 2 建国記念の日,
// 3 春分の日, 4 29 April (天皇誕生日 / みどりの日 / 昭和の日), 5 憲法記念日,
// 6 4 May (国民の休日 / みどりの日), 7 こどもの日, 8 海の日, 9 敬老の日, 10 秋分の日,
// 11 体育の日 / スポーツの日, 12 文化の日, 13 勤労感謝の日, 14 天皇誕生日, 15 山の日,
// each by the law in force in that year. 1 and the date (moved to the
// substitute holiday, "の振替休日" appended, when the day falls on a Sunday),
// or 0 when the number is no holiday that year (date 0, empty name). The
// name buffer is zero-filled over its size and the name cut to fit.
ZEMTA_API int32_t GetHoliday(int32_t year, int32_t number, uint16_t* date, char* name, int32_t size);

// Extended forms.
ZEMTA_API void GetExDate(uint32_t* date, uint32_t* time);
ZEMTA_API uint32_t TimeToExTime(int64_t cTime);
ZEMTA_API uint32_t TimeToExDate(int64_t cTime);
// A Windows file time (100 ns units since 1601, UTC) in local time; 0 when it
// cannot be converted.
ZEMTA_API uint32_t FileTimeToExTime(uint64_t fileTime);
ZEMTA_API uint32_t FileTimeToExDate(uint64_t fileTime);
ZEMTA_API int32_t LastDayOfMonth(int32_t year, int32_t month);
ZEMTA_API int32_t GetLastDayEx(int32_t year, int32_t month);
ZEMTA_API int32_t GetWeekEx(uint32_t date);
ZEMTA_API uint32_t GetYesterdayEx(uint32_t date);
ZEMTA_API uint32_t GetTomorrowEx(uint32_t date);

// Eras, added in date order: a start date, a letter and a name of up to 6
// bytes. 0, or -1 when memory runs out.
ZEMTA_API int32_t AddEra(int32_t year, int32_t month, int32_t day, char letter, const char* name);
// The era year of a date with its letter and name (name buffer 7 bytes;
// either may be null); -1 with "?" and "？？" when no era (of under 100 years) fits.
ZEMTA_API int32_t GetEra(uint32_t date, char* letter, char* name);
ZEMTA_API void DeleteEra(void);
