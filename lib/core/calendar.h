// Calendar arithmetic shared by the date words, typed values and item types.
#pragma once

#include <cstdint>
#include <string>

namespace zemta {

constexpr bool isLeapYear(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Days of a month; months outside 1-12 count 31.
constexpr int daysInMonth(int64_t year, int month) {
  switch (month) {
    case 2: return isLeapYear(year) ? 29 : 28;
    case 4: case 6: case 9: case 11: return 30;
    default: return 31;
  }
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t daysFromCivil(int64_t y, int m, int d);
void civilFromDays(int64_t days, int64_t& y, int& m, int& d);
// 0 Sunday.
int weekdayOf(int64_t y, int m, int d);

struct CivilDate {
  int64_t year = 0;
  int month = 0;
  int day = 0;
};

// DOS date word (year - 1980 mod 128).
inline CivilDate fromDosDate(uint16_t w) { return {1980 + (w >> 9), (w >> 5) & 15, w & 31}; }
inline uint16_t toDosDate(int64_t y, int m, int d) {
  int64_t yy = ((y - 1980) % 128 + 128) % 128;
  return static_cast<uint16_t>((yy << 9) | ((m & 15) << 5) | (d & 31));
}
// ExDate: the year is the signed top 23 bits.
inline CivilDate fromExDate(uint32_t w) {
  return {static_cast<int32_t>(w) >> 9, static_cast<int>((w >> 5) & 15), static_cast<int>(w & 31)};
}
inline uint32_t toExDate(int64_t y, int m, int d) {
  return (static_cast<uint32_t>(y) << 9) | (static_cast<uint32_t>(m & 15) << 5) | static_cast<uint32_t>(d & 31);
}
inline uint32_t toExTime(int h, int mi, int s, int ms) {
  return (static_cast<uint32_t>(h) << 27) | (static_cast<uint32_t>(mi) << 21) | (static_cast<uint32_t>(s) << 15) |
         static_cast<uint32_t>(ms * 20 + 1);
}

// The era of an ExDate from the era table: letter, name and era year; false
// (letter "?", name "？？") when none fits.
bool findEra(uint32_t exDate, char& letter, std::string& name, int32_t& eraYear);

}  // namespace zemta
