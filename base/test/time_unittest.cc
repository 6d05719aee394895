#include "base/time/time.h"

#include <windows.h>

#include "gtest/gtest.h"

namespace base {
namespace {

Time SystemNow() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return Time::FromFileTime(now);
}

TEST(TimeTest, NowFollowsTheSystemClock) {
  const Time system = SystemNow();
  const Time now = Time::Now();
  EXPECT_LT((now - system).InMicroseconds(), 2000000);
  EXPECT_GT((now - system).InMicroseconds(), -2000000);
  // Microseconds since 1601: a date after 2020 is above 1.3e16.
  EXPECT_GT(now.ToInternalValue(), 13200000000000000LL);
}

TEST(TimeTest, NowAdvancesAndNeverGoesBack) {
  Time previous = Time::Now();
  for (int i = 0; i < 1000; ++i) {
    const Time next = Time::Now();
    ASSERT_GE(next, previous);
    previous = next;
  }
  const Time before = Time::Now();
  ::Sleep(100);
  const TimeDelta slept = Time::Now() - before;
  EXPECT_GE(slept.InMilliseconds(), 90);
  EXPECT_LT(slept.InMilliseconds(), 5000);
}

TEST(TimeTest, FromFileTimeUsesMicroseconds) {
  FILETIME file_time;
  file_time.dwHighDateTime = 0x1;
  file_time.dwLowDateTime = 0x2;  // 0x100000002 hundred-nanosecond units.
  EXPECT_EQ(0x100000002LL / 10, Time::FromFileTime(file_time).ToInternalValue());
}

TEST(TimeTest, LocalExplodeMatchesTheSystemsLocalTime) {
  SYSTEMTIME local;
  Time::Exploded exploded;
  // Retry if a second boundary falls between the two readings.
  for (int attempt = 0; attempt < 5; ++attempt) {
    ::GetLocalTime(&local);
    ASSERT_TRUE(Time::Now().LocalExplode(&exploded));
    if (exploded.second == local.wSecond)
      break;
  }
  EXPECT_EQ(local.wYear, exploded.year);
  EXPECT_EQ(local.wMonth, exploded.month);
  EXPECT_EQ(local.wDay, exploded.day_of_month);
  EXPECT_EQ(local.wDayOfWeek, exploded.day_of_week);
  EXPECT_EQ(local.wHour, exploded.hour);
  EXPECT_EQ(local.wMinute, exploded.minute);
  EXPECT_EQ(local.wSecond, exploded.second);
  EXPECT_GE(exploded.millisecond, 0);
  EXPECT_LE(exploded.millisecond, 999);
}

TEST(TimeTest, LocalExplodeOfAKnownInstant) {
  // 2014-09-25 09:30:05.123 UTC; the local fields differ from UTC by the
  // time zone's offset, a whole number of quarter hours.
  SYSTEMTIME utc = {2014, 9, 4, 25, 9, 30, 5, 123};
  FILETIME file_time;
  ASSERT_TRUE(::SystemTimeToFileTime(&utc, &file_time));
  Time::Exploded exploded;
  ASSERT_TRUE(Time::FromFileTime(file_time).LocalExplode(&exploded));
  EXPECT_EQ(2014, exploded.year);
  EXPECT_EQ(9, exploded.month);
  EXPECT_EQ(5, exploded.second);
  EXPECT_EQ(123, exploded.millisecond);
  EXPECT_EQ(0, exploded.minute % 15);
  EXPECT_NEAR(25, exploded.day_of_month, 1);
}

TEST(TimeTest, NegativeTimeCannotBeExploded) {
  Time::Exploded exploded;
  exploded.year = 99;
  EXPECT_FALSE(Time::FromInternalValue(-1).LocalExplode(&exploded));
  EXPECT_EQ(0, exploded.year);
}

TEST(TimeTicksTest, IsMonotonicAndCountsMicroseconds) {
  TimeTicks previous = TimeTicks::Now();
  EXPECT_FALSE(previous.is_null());
  for (int i = 0; i < 1000; ++i) {
    const TimeTicks next = TimeTicks::Now();
    ASSERT_GE(next, previous);
    previous = next;
  }
  const TimeTicks before = TimeTicks::Now();
  ::Sleep(100);
  const int64_t elapsed = (TimeTicks::Now() - before).InMicroseconds();
  EXPECT_GE(elapsed, 90000);
  EXPECT_LT(elapsed, 5000000);
}

TEST(TimeDeltaTest, Conversions) {
  EXPECT_EQ(6000000, TimeDelta::FromSeconds(6).InMicroseconds());
  EXPECT_EQ(1500, TimeDelta::FromMilliseconds(1500).InMilliseconds());
  EXPECT_EQ(1, TimeDelta::FromMicroseconds(1).InMillisecondsRoundedUp());
  EXPECT_EQ(0, TimeDelta::FromMicroseconds(999).InMilliseconds());
  EXPECT_EQ(-1, TimeDelta::FromMicroseconds(-1500).InMillisecondsRoundedUp());
  EXPECT_DOUBLE_EQ(2.5, TimeDelta::FromMilliseconds(2500).InSecondsF());
  const TimeTicks t = TimeTicks::FromInternalValue(100);
  EXPECT_EQ(TimeTicks::FromInternalValue(1100), t + TimeDelta::FromMilliseconds(1));
  EXPECT_EQ(TimeDelta::FromMicroseconds(-1000), t - (t + TimeDelta::FromMilliseconds(1)));
}

}  // namespace
}  // namespace base
