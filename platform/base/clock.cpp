#include "platform/base/clock.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace platform {

uint64_t tickCount64() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint32_t tickCount() { return static_cast<uint32_t>(tickCount64()); }

namespace {
LocalTime fromTm(const std::tm& tm, int ms) {
  LocalTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.dayOfWeek = tm.tm_wday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.millisecond = ms;
  return t;
}
}  // namespace

LocalTime localTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  time_t secs = ts.tv_sec;
  localtime_r(&secs, &tm);
  return fromTm(tm, static_cast<int>(ts.tv_nsec / 1000000));
}

LocalTime localTimeOf(int64_t unixSeconds) {
  std::tm tm{};
  time_t secs = static_cast<time_t>(unixSeconds);
  localtime_r(&secs, &tm);
  return fromTm(tm, 0);
}

int64_t unixSecondsOf(const LocalTime& t) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  tm.tm_isdst = -1;
  time_t secs = mktime(&tm);
  return secs == static_cast<time_t>(-1) ? -1 : static_cast<int64_t>(secs);
}

void sleepMilliseconds(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

namespace {
// Seconds from 1601-01-01 to 1970-01-01.
constexpr uint64_t kEpochDifference = 11644473600ull;
}  // namespace

int64_t unixSecondsOfFileTime(uint64_t fileTime) {
  return static_cast<int64_t>(fileTime / 10000000ull) - static_cast<int64_t>(kEpochDifference);
}

uint64_t fileTimeUtcNow() {
  const auto since1970 = std::chrono::system_clock::now().time_since_epoch();
  const auto steps = std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count() / 100;
  return kEpochDifference * 10000000ull + static_cast<uint64_t>(steps);
}

}  // namespace platform
