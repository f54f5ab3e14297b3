// Japanese eras (a table the caller fills) and the national holidays.
//
// Holidays follow the law in force in the year asked:
//   元旦 1 Jan; 成人の日 15 Jan, 2nd Monday of January from 2000;
//   建国記念の日 11 Feb; 天皇誕生日 29 Apr until 1988, 23 Dec 1989-2018, none in
//   2019, 23 Feb from 2020; 29 Apr みどりの日 1989-2006, 昭和の日 from 2007;
//   4 May 国民の休日 (Tuesday to Saturday) 1986-2006, みどりの日 from 2007;
//   海の日 from 1996: 20 Jul, 3rd Monday of July from 2003 (23 Jul 2020,
//   22 Jul 2021); 山の日 from 2016: 11 Aug (10 Aug 2020, 8 Aug 2021);
//   敬老の日 15 Sep, 3rd Monday of September from 2003; 体育の日 10 Oct,
//   2nd Monday of October 2000-2019, スポーツの日 from 2020 (24 Jul 2020,
//   23 Jul 2021); equinox days by the formula valid for 1980-2099.
//   A holiday on a Sunday gives the Monday as substitute (from 1973); from
//   2007 the substitute is the next day that is no holiday.
// Numbers are kept stable across these changes (the table in date.h).
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "lib/core/calendar.h"
#include "lib/core/report.h"
#include "platform/base/cp932.h"
#include "zemta/date.h"

namespace zemta {
namespace {

struct EraEntry {
  uint32_t start;  // ExDate
  char letter;
  char name[7];
};

std::mutex g_eraMutex;
std::vector<EraEntry>& eraTable() {
  static std::vector<EraEntry> table;
  return table;
}

constexpr const char kUnknownEraName[] = "？？";

}  // namespace

bool findEra(uint32_t exDate, char& letter, std::string& name, int32_t& eraYear) {
  std::lock_guard<std::mutex> lock(g_eraMutex);
  const auto& table = eraTable();
  const int32_t date = static_cast<int32_t>(exDate);
  for (auto it = table.rbegin(); it != table.rend(); ++it) {
    const int32_t start = static_cast<int32_t>(it->start);
    if (start > date) continue;
    // 100 years or more after the start: no longer this era.
    if (static_cast<int64_t>(date) >= static_cast<int64_t>(start) + (int64_t(100) << 9)) break;
    letter = it->letter;
    name = it->name;
    eraYear = (date >> 9) - (start >> 9) + 1;
    return true;
  }
  letter = '?';
  name = kUnknownEraName;
  eraYear = -1;
  return false;
}

namespace {

struct HolidayRule {
  int month = 0;   // 0: no holiday this year
  int day = 0;     // fixed day, or 0 with a Monday
  int monday = 0;  // k-th Monday
  const char* name = "";
  bool onlyTuesdayToSaturday = false;
};

int equinoxDay(int64_t year, double constant) {
  const int64_t y = year - 1980;
  return static_cast<int>(static_cast<double>(y) * 0.242194 + constant - static_cast<double>(y / 4));
}

HolidayRule fixedDay(int month, int day, const char* name) { return {month, day, 0, name, false}; }
HolidayRule nthMonday(int month, int k, const char* name) { return {month, 0, k, name, false}; }

HolidayRule ruleOf(int64_t year, int32_t number) {
  switch (number) {
    case 0: return fixedDay(1, 1, "元旦");
    case 1: return year >= 2000 ? nthMonday(1, 2, "成人の日") : fixedDay(1, 15, "成人の日");
    case 2: return year >= 1967 ? fixedDay(2, 11, "建国記念の日") : HolidayRule{};
    case 3: return fixedDay(3, equinoxDay(year, 20.8431), "春分の日");
    case 4:
      if (year <= 1988) return fixedDay(4, 29, "天皇誕生日");
      return fixedDay(4, 29, year <= 2006 ? "みどりの日" : "昭和の日");
    case 5: return fixedDay(5, 3, "憲法記念日");
    case 6:
      if (year >= 2007) return fixedDay(5, 4, "みどりの日");
      if (year >= 1986) return {5, 4, 0, "国民の休日", true};
      return {};
    case 7: return fixedDay(5, 5, "こどもの日");
    case 8:
      if (year == 2020) return fixedDay(7, 23, "海の日");
      if (year == 2021) return fixedDay(7, 22, "海の日");
      if (year >= 2003) return nthMonday(7, 3, "海の日");
      if (year >= 1996) return fixedDay(7, 20, "海の日");
      return {};
    case 9: return year >= 2003 ? nthMonday(9, 3, "敬老の日") : fixedDay(9, 15, "敬老の日");
    case 10: return fixedDay(9, equinoxDay(year, 23.2488), "秋分の日");
    case 11:
      if (year == 2020) return fixedDay(7, 24, "スポーツの日");
      if (year == 2021) return fixedDay(7, 23, "スポーツの日");
      if (year >= 2020) return nthMonday(10, 2, "スポーツの日");
      if (year >= 2000) return nthMonday(10, 2, "体育の日");
      return fixedDay(10, 10, "体育の日");
    case 12: return fixedDay(11, 3, "文化の日");
    case 13: return fixedDay(11, 23, "勤労感謝の日");
    case 14:
      if (year >= 2020) return fixedDay(2, 23, "天皇誕生日");
      if (year >= 1989 && year <= 2018) return fixedDay(12, 23, "天皇誕生日");
      return {};
    case 15:
      if (year == 2020) return fixedDay(8, 10, "山の日");
      if (year == 2021) return fixedDay(8, 8, "山の日");
      if (year >= 2016) return fixedDay(8, 11, "山の日");
      return {};
  }
  return {};
}

constexpr int32_t kHolidayCount = 16;

// The day of a rule in its year, before any substitute; 0 when none.
int dayOf(int64_t year, const HolidayRule& rule) {
  if (rule.month == 0) return 0;
  if (rule.monday) {
    // The k-th Monday is 7k − w, w the weekday of the 6th.
    return 7 * rule.monday - weekdayOf(year, rule.month, 6);
  }
  return rule.day;
}

bool isHolidayDay(int64_t year, int month, int day) {
  for (int32_t n = 0; n < kHolidayCount; ++n) {
    HolidayRule rule = ruleOf(year, n);
    if (rule.month != month || dayOf(year, rule) != day) continue;
    if (rule.onlyTuesdayToSaturday && (weekdayOf(year, month, day) < 2)) continue;
    return true;
  }
  return false;
}

void copyName(const std::string& text, char* name, int32_t size) {
  if (!name || size <= 0) return;
  std::memset(name, 0, static_cast<size_t>(size));
  // Cut to leave the terminating zero, never in the middle of a double-byte
  // character.
  const size_t room = static_cast<size_t>(size) - 1;
  size_t length = 0;
  while (length < text.size()) {
    size_t step = platform::cp932::isDoubleByteAt(text, length) ? 2 : 1;
    if (length + step > room) break;
    length += step;
  }
  std::memcpy(name, text.data(), length);
}

}  // namespace
}  // namespace zemta

using namespace zemta;

ZEMTA_API int32_t GetHoliday(int32_t year, int32_t number, uint16_t* date, char* name, int32_t size) {
  HolidayRule rule = number >= 0 && number < kHolidayCount ? ruleOf(year, number) : HolidayRule{};
  int day = dayOf(year, rule);
  int month = rule.month;
  bool holiday = month != 0;
  if (holiday && rule.onlyTuesdayToSaturday && weekdayOf(year, month, day) < 2) holiday = false;
  if (!holiday) {
    if (date) *date = 0;
    copyName(std::string(), name, size);
    return 0;
  }
  std::string text = rule.name;
  if (year >= 1973 && weekdayOf(year, month, day) == 0) {
    int64_t days = daysFromCivil(year, month, day) + 1;
    if (year >= 2007) {
      // The substitute is the next day that is no holiday itself.
      for (;;) {
        int64_t y;
        int m, d;
        civilFromDays(days, y, m, d);
        if (!isHolidayDay(y, m, d)) break;
        ++days;
      }
    }
    int64_t y;
    civilFromDays(days, y, month, day);
    text += "の振替休日";
  }
  if (date) *date = toDosDate(year, month, day);
  copyName(text, name, size);
  return 1;
}

ZEMTA_API int32_t AddEra(int32_t year, int32_t month, int32_t day, char letter, const char* name) {
  if (!name) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  EraEntry entry{};
  entry.start = toExDate(year, month, day);
  entry.letter = letter;
  copyName(name, entry.name, 7);
  std::lock_guard<std::mutex> lock(g_eraMutex);
  auto& table = eraTable();
  try {
    if (table.size() == table.capacity()) table.reserve(table.size() + 8);
    table.push_back(entry);
  } catch (const std::bad_alloc&) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  return 0;
}

ZEMTA_API int32_t GetEra(uint32_t date, char* letter, char* name) {
  char eraLetter;
  std::string eraName;
  int32_t eraYear;
  findEra(date, eraLetter, eraName, eraYear);
  if (letter) *letter = eraLetter;
  if (name) copyName(eraName, name, 7);
  return eraYear;
}

ZEMTA_API void DeleteEra(void) {
  std::lock_guard<std::mutex> lock(g_eraMutex);
  std::vector<EraEntry>().swap(eraTable());
}
