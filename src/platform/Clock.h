// Local time and a monotonic clock.
#pragma once
#include <cstdint>

namespace platform {

struct LocalTime {
  int year, month, day;      // month 1-12
  int dayOfWeek;             // 0 = Sunday
  int hour, minute, second, milliseconds;
};

LocalTime localTime();
// Offset of local time from UTC in minutes (east positive), e.g. +540 for JST.
int utcOffsetMinutes();
// Milliseconds from an arbitrary start; never goes backwards.
uint64_t monotonicMs();
void sleepMs(unsigned ms);

}  // namespace platform
