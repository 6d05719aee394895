#include "base/time/time.h"

#include <windows.h>

namespace base {
namespace {

// The wall clock is read from the system only now and then; in between, Now()
// advances it by the monotonic clock so successive readings never go back
// when the system clock is adjusted within the interval.
constexpr int64_t kRebaseIntervalUs = 60 * 1000000LL;

SRWLOCK g_now_lock = SRWLOCK_INIT;
bool g_now_initialized = false;
int64_t g_base_time_us = 0;
TimeTicks g_base_ticks;

int64_t FileTimeToMicroseconds(const FILETIME& file_time) {
  ULARGE_INTEGER value;
  value.LowPart = file_time.dwLowDateTime;
  value.HighPart = file_time.dwHighDateTime;
  return static_cast<int64_t>(value.QuadPart / 10);
}

int64_t SystemTimeNowUs() {
  FILETIME file_time;
  ::GetSystemTimeAsFileTime(&file_time);
  return FileTimeToMicroseconds(file_time);
}

int64_t PerformanceFrequency() {
  static const int64_t frequency = [] {
    LARGE_INTEGER value;
    // Cannot fail on Windows XP and later.
    ::QueryPerformanceFrequency(&value);
    return value.QuadPart > 0 ? value.QuadPart : 1;
  }();
  return frequency;
}

}  // namespace

// static
Time Time::Now() {
  const TimeTicks now_ticks = TimeTicks::Now();
  ::AcquireSRWLockExclusive(&g_now_lock);
  if (!g_now_initialized ||
      (now_ticks - g_base_ticks).InMicroseconds() > kRebaseIntervalUs) {
    g_base_time_us = SystemTimeNowUs();
    g_base_ticks = now_ticks;
    g_now_initialized = true;
  }
  const int64_t now =
      g_base_time_us + (now_ticks - g_base_ticks).InMicroseconds();
  ::ReleaseSRWLockExclusive(&g_now_lock);
  return Time(now);
}

// static
Time Time::FromFileTime(const FILETIME& file_time) {
  return Time(FileTimeToMicroseconds(file_time));
}

bool Time::LocalExplode(Exploded* exploded) const {
  *exploded = Exploded();
  if (us_ < 0)
    return false;
  ULARGE_INTEGER value;
  value.QuadPart = static_cast<ULONGLONG>(us_) * 10;
  FILETIME file_time;
  file_time.dwLowDateTime = value.LowPart;
  file_time.dwHighDateTime = value.HighPart;
  SYSTEMTIME utc;
  SYSTEMTIME local;
  if (!::FileTimeToSystemTime(&file_time, &utc) ||
      !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
    return false;
  }
  exploded->year = local.wYear;
  exploded->month = local.wMonth;
  exploded->day_of_week = local.wDayOfWeek;
  exploded->day_of_month = local.wDay;
  exploded->hour = local.wHour;
  exploded->minute = local.wMinute;
  exploded->second = local.wSecond;
  exploded->millisecond = local.wMilliseconds;
  return true;
}

// static
TimeTicks TimeTicks::Now() {
  LARGE_INTEGER counter;
  ::QueryPerformanceCounter(&counter);
  const int64_t frequency = PerformanceFrequency();
  // Split to keep counter * 1e6 from overflowing on long uptimes.
  const int64_t whole_seconds = counter.QuadPart / frequency;
  const int64_t remainder = counter.QuadPart % frequency;
  return TimeTicks(whole_seconds * 1000000 + remainder * 1000000 / frequency);
}

}  // namespace base
