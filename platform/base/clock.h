// Tick counts and local time.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary start, wrapping at 2^32 like the original's tick count.
uint32_t tickCount();
uint64_t tickCount64();

// Broken-down local time (the time zone of the process, TZ honoured).
struct LocalTime {
  int year = 0;      // full year
  int month = 0;     // 1-12
  int day = 0;       // 1-31
  int dayOfWeek = 0; // 0 Sunday
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

LocalTime localTime();
LocalTime localTimeOf(int64_t unixSeconds);
// Seconds since 1970 of a local time; -1 when it does not exist.
int64_t unixSecondsOf(const LocalTime& t);

void sleepMilliseconds(uint32_t ms);

// The current time as a Windows FILETIME: 100-nanosecond steps since
// 1601-01-01 UTC.
uint64_t fileTimeUtcNow();
// Seconds since 1970 (UTC) of a FILETIME.
int64_t unixSecondsOfFileTime(uint64_t fileTime);

}  // namespace platform
