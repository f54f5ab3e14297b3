#include "zemta/date.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr uint16_t dos(int y, int m, int d) { return static_cast<uint16_t>(((y - 1980) << 9) | (m << 5) | d); }
constexpr uint16_t dosTime(int h, int m, int s) { return static_cast<uint16_t>((h << 11) | (m << 5) | (s / 2)); }
constexpr uint32_t exDate(int y, int m, int d) { return (uint32_t(y) << 9) | (m << 5) | d; }

TEST(DateWords, EncodingsOf20240315) {
  EXPECT_EQ(dos(2024, 3, 15), 0x586F);
  // 2024-03-15 12:34:56 in Tokyo.
  const int64_t t = 1710473696;
  EXPECT_EQ(CastDate(t), 0x586F);
  EXPECT_EQ(CastTime(t), (12 << 11) | (34 << 5) | 28);
  EXPECT_EQ(TimeToExDate(t), 0xFD06Fu);
  EXPECT_EQ(TimeToExTime(t), (12u << 27) | (34u << 21) | (56u << 15) | 1u);
  const uint64_t fileTime = (uint64_t(t) + 11644473600ull) * 10000000ull + 1234567;
  EXPECT_EQ(FileTimeToExDate(fileTime), 0xFD06Fu);
  EXPECT_EQ(FileTimeToExTime(fileTime), (12u << 27) | (34u << 21) | (56u << 15) | (123u * 20 + 1));
  EXPECT_EQ(FileTimeToExTime(0x8000000000000000ull), 0u);
  EXPECT_EQ(GetWeek(0x586F), 5);
  EXPECT_EQ(GetWeekEx(0xFD06F), 5);
  EXPECT_EQ(GetWeek(dos(2024, 1, 1)), 1);
  EXPECT_EQ(GetWeek(dos(2023, 1, 1)), 0);
}

TEST(DateWords, TodayIsTheLocalDate) {
  uint16_t date = 0, time = 0;
  uint32_t exd = 0, ext = 0;
  GetDate(&date, &time);
  GetExDate(&exd, &ext);
  GetDate(nullptr, nullptr);
  EXPECT_EQ(date & 0x1F, exd & 0x1F);
  EXPECT_EQ((date >> 5) & 0xF, (exd >> 5) & 0xF);
  EXPECT_EQ((date >> 9) + 1980u, exd >> 9);
  EXPECT_EQ(ext & 1u, 1u);
}

TEST(DateWords, CalendarSteps) {
  struct Case {
    const char* what;
    uint16_t got, expected;
  } cases[] = {
      {"next month of 31 Jan", GetNextMonth(dos(2024, 1, 31)), dos(2024, 2, 29)},
      {"next month of 30 Jan", GetNextMonth(dos(2024, 1, 30)), dos(2024, 2, 29)},
      {"next month of 29 Feb", GetNextMonth(dos(2024, 2, 29)), dos(2024, 3, 31)},
      {"last month of 30 Apr", GetLastMonth(dos(2024, 4, 30)), dos(2024, 3, 31)},
      {"last month of 31 Mar", GetLastMonth(dos(2023, 3, 31)), dos(2023, 2, 28)},
      {"next month of 31 Dec", GetNextMonth(dos(2023, 12, 31)), dos(2024, 1, 31)},
      {"last month of 15 Jan", GetLastMonth(dos(2024, 1, 15)), dos(2023, 12, 15)},
      {"13 months from 31 Jan", GetAddMon(dos(2024, 1, 31), 13), dos(2025, 2, 28)},
      {"-15 months", GetAddMon(dos(2024, 3, 15), -15), dos(2022, 12, 15)},
      {"yesterday of 1 Mar", GetYesterday(dos(2024, 3, 1)), dos(2024, 2, 29)},
      {"tomorrow of 31 Dec", GetTomorrow(dos(2023, 12, 31)), dos(2024, 1, 1)},
      {"+2 days", GetAddDay(dos(2024, 2, 28), 2), dos(2024, 3, 1)},
      {"-1 day", GetAddDay(dos(2024, 1, 1), -1), dos(2023, 12, 31)},
      {"+366 days", GetAddDay(dos(2024, 1, 1), 366), dos(2025, 1, 1)},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
  EXPECT_EQ(GetYesterdayEx(exDate(2024, 3, 1)), exDate(2024, 2, 29));
  EXPECT_EQ(GetTomorrowEx(exDate(2023, 12, 31)), exDate(2024, 1, 1));
  EXPECT_EQ(GetLastDay(dos(2024, 2, 1)), 29);
  EXPECT_EQ(GetLastDay(dos(2100 - 128, 2, 1)), 28);
  EXPECT_EQ(GetLastDayEx(1900, 2), 28);
  EXPECT_EQ(LastDayOfMonth(2000, 2), 29);
  EXPECT_EQ(LastDayOfMonth(2023, 9), 30);
}

TEST(DateWords, Spans) {
  EXPECT_EQ(GetDaySpan(dos(2024, 3, 1), dos(2024, 2, 1)), 29);
  EXPECT_EQ(GetDaySpan(dos(2024, 2, 1), dos(2024, 3, 1)), 29);
  EXPECT_EQ(GetMonSpan(dos(2024, 1, 31), dos(2024, 3, 1)), 1);
  EXPECT_EQ(GetMonSpan(dos(2024, 3, 15), dos(2024, 1, 15)), 2);
  EXPECT_EQ(GetMonSpan(dos(2024, 3, 15), dos(2024, 3, 15)), 0);
  EXPECT_EQ(GetMonSpan(dos(2024, 1, 15), dos(2025, 1, 15)), 12);
}

TEST(DateWords, TextForms) {
  struct Case {
    const char* text;
    uint16_t expected;
  } cases[] = {
      {"24/2/30", dos(2024, 2, 29)}, {"23/2/29", dos(2023, 2, 28)}, {"24/13/1", 0}, {"24/0/1", 0},
      {"24/4/31", dos(2024, 4, 30)}, {"24/4/32", 0}, {"99/12/31", dos(1999, 12, 31)}, {"80/1/1", dos(1980, 1, 1)},
      {"79/1/1", dos(2079, 1, 1)}, {"2024/3/15", dos(2024, 3, 15)}, {"1979/1/1", 0}, {"24/2", 0}, {"", 0},
      {"24/256/1", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(StrToDate(c.text), c.expected) << c.text;

  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(DateToStr(buffer, dos(2024, 3, 15)), 8);
  EXPECT_STREQ(buffer, "24/ 3/15");
  DateToStr(buffer, dos(1999, 12, 31));
  EXPECT_STREQ(buffer, "99/12/31");
  DateToStr(buffer, dos(2105, 1, 2));
  EXPECT_STREQ(buffer, "05/ 1/ 2");
}

TEST(DateWords, Ranges) {
  const uint16_t from = dosTime(22, 0, 0), to = dosTime(5, 0, 0);
  EXPECT_EQ(TimeInRange(from, to, dosTime(23, 30, 0)), 1);
  EXPECT_EQ(TimeInRange(from, to, dosTime(4, 59, 0)), 1);
  EXPECT_EQ(TimeInRange(from, to, dosTime(22, 0, 0)), 1);
  EXPECT_EQ(TimeInRange(from, to, dosTime(5, 0, 0)), 0);
  EXPECT_EQ(TimeInRange(from, to, dosTime(12, 0, 0)), 0);
  EXPECT_EQ(TimeInRange(dosTime(9, 0, 0), dosTime(17, 0, 0), dosTime(9, 0, 0)), 1);
  EXPECT_EQ(TimeInRange(dosTime(9, 0, 0), dosTime(17, 0, 0), dosTime(17, 0, 0)), 0);

  // Month and day only; the end of a date range is included.
  EXPECT_EQ(DateInRange(dos(2000, 12, 1), dos(2000, 1, 31), dos(2024, 12, 25)), 1);
  EXPECT_EQ(DateInRange(dos(2000, 12, 1), dos(2000, 1, 31), dos(2024, 1, 31)), 1);
  EXPECT_EQ(DateInRange(dos(2000, 12, 1), dos(2000, 1, 31), dos(2024, 2, 1)), 0);
  EXPECT_EQ(DateInRange(dos(2000, 3, 1), dos(2000, 3, 31), dos(2030, 3, 31)), 1);
  EXPECT_EQ(DateInRange(dos(2000, 3, 1), dos(2000, 3, 31), dos(2030, 4, 1)), 0);
}

struct HolidayCase {
  int year, number;
  uint16_t date;  // 0: no holiday
  const char* name;
};

// The Part's examples, then the law as it changed.
const HolidayCase kHolidays[] = {
    {2024, 3, dos(2024, 3, 20), "春分の日"},
    {2024, 0, dos(2024, 1, 1), "元旦"},
    {2023, 0, dos(2023, 1, 2), "元旦の振替休日"},
    {2024, 1, dos(2024, 1, 8), "成人の日"},
    {1999, 1, dos(1999, 1, 15), "成人の日"},
    {2024, 2, dos(2024, 2, 12), "建国記念の日の振替休日"},
    {2024, 4, dos(2024, 4, 29), "昭和の日"},
    {2005, 4, dos(2005, 4, 29), "みどりの日"},
    {1988, 4, dos(1988, 4, 29), "天皇誕生日"},
    {2024, 5, dos(2024, 5, 3), "憲法記念日"},
    {2005, 6, dos(2005, 5, 4), "国民の休日"},
    {2003, 6, 0, ""},  // a Sunday
    {2004, 6, dos(2004, 5, 4), "国民の休日"},  // a Tuesday
    {2024, 6, dos(2024, 5, 4), "みどりの日"},
    {2014, 6, dos(2014, 5, 6), "みどりの日の振替休日"},  // Sunday 4 May; 5 May is a holiday too
    {2008, 6, dos(2008, 5, 6), "みどりの日の振替休日"},
    {2009, 5, dos(2009, 5, 6), "憲法記念日の振替休日"},  // Sunday 3 May skips 4 and 5 May
    {1998, 5, dos(1998, 5, 4), "憲法記念日の振替休日"},  // before 2007: the Monday
    {2024, 7, dos(2024, 5, 6), "こどもの日の振替休日"},
    {2024, 8, dos(2024, 7, 15), "海の日"},
    {2020, 8, dos(2020, 7, 23), "海の日"},
    {2001, 8, dos(2001, 7, 20), "海の日"},
    {1995, 8, 0, ""},
    {2024, 9, dos(2024, 9, 16), "敬老の日"},
    {2002, 9, dos(2002, 9, 16), "敬老の日の振替休日"},
    {2024, 10, dos(2024, 9, 23), "秋分の日の振替休日"},
    {2024, 11, dos(2024, 10, 14), "スポーツの日"},
    {2019, 11, dos(2019, 10, 14), "体育の日"},
    {2021, 11, dos(2021, 7, 23), "スポーツの日"},
    {1999, 11, dos(1999, 10, 11), "体育の日の振替休日"},
    {2024, 12, dos(2024, 11, 4), "文化の日の振替休日"},
    {2024, 13, dos(2024, 11, 23), "勤労感謝の日"},
    {2024, 14, dos(2024, 2, 23), "天皇誕生日"},
    {2018, 14, dos(2018, 12, 24), "天皇誕生日の振替休日"},
    {2019, 14, 0, ""},
    {2024, 15, dos(2024, 8, 12), "山の日の振替休日"},
    {2021, 15, dos(2021, 8, 9), "山の日の振替休日"},
    {2016, 15, dos(2016, 8, 11), "山の日"},
    {2015, 15, 0, ""},
    {2024, 16, 0, ""},
    {2024, -1, 0, ""},
};

TEST(Holidays, TheLawOfEachYear) {
  for (const auto& c : kHolidays) {
    uint16_t date = 0xFFFF;
    char name[32];
    std::memset(name, 'x', sizeof name);
    const int32_t result = GetHoliday(c.year, c.number, &date, name, sizeof name);
    EXPECT_EQ(result, c.date ? 1 : 0) << c.year << " #" << c.number;
    EXPECT_EQ(date, c.date) << c.year << " #" << c.number;
    EXPECT_STREQ(name, c.name) << c.year << " #" << c.number;
    EXPECT_EQ(name[sizeof name - 1], 0);
  }
  uint16_t date = 0;
  EXPECT_EQ(GetHoliday(2004, 6, &date, nullptr, 0), 1);  // outputs are optional
  EXPECT_EQ(date, dos(2004, 5, 4));
}

TEST(Holidays, NameIsCutToTheBuffer) {
  char name[8];
  std::memset(name, 'x', sizeof name);
  EXPECT_EQ(GetHoliday(2023, 0, nullptr, name, 7), 1);
  EXPECT_STREQ(name, "元旦の");
  EXPECT_EQ(name[7], 'x');
  EXPECT_EQ(GetHoliday(2023, 0, nullptr, name, 2), 1);
  EXPECT_STREQ(name, "");  // half a character is never written
}

TEST(Eras, Table) {
  char letter = 0;
  char name[7];
  DeleteEra();
  EXPECT_EQ(GetEra(exDate(2024, 3, 15), &letter, name), -1);
  EXPECT_EQ(letter, '?');
  EXPECT_STREQ(name, "？？");

  EXPECT_EQ(AddEra(1989, 1, 8, 'H', "平成"), 0);
  EXPECT_EQ(AddEra(2019, 5, 1, 'R', "令和"), 0);
  EXPECT_EQ(GetEra(exDate(2019, 4, 30), &letter, name), 31);
  EXPECT_EQ(letter, 'H');
  EXPECT_STREQ(name, "平成");
  EXPECT_EQ(GetEra(exDate(2019, 5, 1), &letter, name), 1);
  EXPECT_STREQ(name, "令和");
  EXPECT_EQ(GetEra(exDate(2024, 3, 15), &letter, name), 6);
  EXPECT_EQ(letter, 'R');
  EXPECT_EQ(GetEra(exDate(1989, 1, 7), &letter, name), -1);
  EXPECT_EQ(GetEra(exDate(2119, 4, 30), nullptr, nullptr), 101);
  EXPECT_EQ(GetEra(exDate(2119, 5, 1), &letter, name), -1);
  EXPECT_STREQ(name, "？？");

  for (int i = 0; i < 20; ++i) EXPECT_EQ(AddEra(2200 + i, 1, 1, 'X', "ABCDEFGH"), 0);
  EXPECT_EQ(GetEra(exDate(2230, 1, 1), &letter, name), 12);
  EXPECT_STREQ(name, "ABCDEF");
  DeleteEra();
  EXPECT_EQ(GetEra(exDate(2024, 3, 15), nullptr, nullptr), -1);
}

}  // namespace
