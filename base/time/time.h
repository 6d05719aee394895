// Wall-clock time (Time), a monotonic clock (TimeTicks) and the signed span
// between two readings of either (TimeDelta). All three hold signed 64-bit
// microseconds; they are small values, copied freely, safe from any thread.
#ifndef BASE_TIME_TIME_H_
#define BASE_TIME_TIME_H_

#include <cstdint>

struct _FILETIME;

namespace base {

class TimeDelta {
 public:
  constexpr TimeDelta() = default;

  static constexpr TimeDelta FromMicroseconds(int64_t us) { return TimeDelta(us); }
  static constexpr TimeDelta FromMilliseconds(int64_t ms) { return TimeDelta(ms * 1000); }
  static constexpr TimeDelta FromSeconds(int64_t s) { return TimeDelta(s * 1000000); }

  constexpr int64_t InMicroseconds() const { return delta_; }
  // Rounded toward zero.
  constexpr int64_t InMilliseconds() const { return delta_ / 1000; }
  // Rounded up, for timers that must not fire early.
  constexpr int64_t InMillisecondsRoundedUp() const {
    return delta_ > 0 ? (delta_ + 999) / 1000 : delta_ / 1000;
  }
  constexpr double InSecondsF() const { return static_cast<double>(delta_) / 1e6; }

  constexpr TimeDelta operator+(TimeDelta other) const { return TimeDelta(delta_ + other.delta_); }
  constexpr TimeDelta operator-(TimeDelta other) const { return TimeDelta(delta_ - other.delta_); }
  TimeDelta& operator+=(TimeDelta other) { delta_ += other.delta_; return *this; }
  TimeDelta& operator-=(TimeDelta other) { delta_ -= other.delta_; return *this; }
  constexpr bool operator==(TimeDelta other) const { return delta_ == other.delta_; }
  constexpr bool operator!=(TimeDelta other) const { return delta_ != other.delta_; }
  constexpr bool operator<(TimeDelta other) const { return delta_ < other.delta_; }
  constexpr bool operator<=(TimeDelta other) const { return delta_ <= other.delta_; }
  constexpr bool operator>(TimeDelta other) const { return delta_ > other.delta_; }
  constexpr bool operator>=(TimeDelta other) const { return delta_ >= other.delta_; }

 private:
  explicit constexpr TimeDelta(int64_t us) : delta_(us) {}
  int64_t delta_ = 0;
};

// Microseconds since 1601-01-01 00:00 UTC (the FILETIME epoch).
class Time {
 public:
  // Local broken-down time.
  struct Exploded {
    int year = 0;
    int month = 0;         // 1-12
    int day_of_week = 0;   // 0 (Sunday) - 6
    int day_of_month = 0;  // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
  };

  constexpr Time() = default;

  static Time Now();
  static Time FromFileTime(const _FILETIME& file_time);
  static constexpr Time FromInternalValue(int64_t us) { return Time(us); }

  constexpr int64_t ToInternalValue() const { return us_; }
  constexpr bool is_null() const { return us_ == 0; }

  // Converts to the current time zone. Returns false (and a zeroed
  // |exploded|) when the system refuses the conversion.
  bool LocalExplode(Exploded* exploded) const;

  constexpr Time operator+(TimeDelta delta) const { return Time(us_ + delta.InMicroseconds()); }
  constexpr Time operator-(TimeDelta delta) const { return Time(us_ - delta.InMicroseconds()); }
  constexpr TimeDelta operator-(Time other) const {
    return TimeDelta::FromMicroseconds(us_ - other.us_);
  }
  constexpr bool operator==(Time other) const { return us_ == other.us_; }
  constexpr bool operator!=(Time other) const { return us_ != other.us_; }
  constexpr bool operator<(Time other) const { return us_ < other.us_; }
  constexpr bool operator<=(Time other) const { return us_ <= other.us_; }
  constexpr bool operator>(Time other) const { return us_ > other.us_; }
  constexpr bool operator>=(Time other) const { return us_ >= other.us_; }

 private:
  explicit constexpr Time(int64_t us) : us_(us) {}
  int64_t us_ = 0;
};

// Monotonic microseconds from an arbitrary origin (the performance counter);
// unaffected by changes of the wall clock. Used for delayed-task deadlines.
class TimeTicks {
 public:
  constexpr TimeTicks() = default;

  static TimeTicks Now();
  static constexpr TimeTicks FromInternalValue(int64_t us) { return TimeTicks(us); }

  constexpr int64_t ToInternalValue() const { return us_; }
  constexpr bool is_null() const { return us_ == 0; }

  constexpr TimeTicks operator+(TimeDelta delta) const {
    return TimeTicks(us_ + delta.InMicroseconds());
  }
  constexpr TimeTicks operator-(TimeDelta delta) const {
    return TimeTicks(us_ - delta.InMicroseconds());
  }
  constexpr TimeDelta operator-(TimeTicks other) const {
    return TimeDelta::FromMicroseconds(us_ - other.us_);
  }
  TimeTicks& operator+=(TimeDelta delta) { us_ += delta.InMicroseconds(); return *this; }
  constexpr bool operator==(TimeTicks other) const { return us_ == other.us_; }
  constexpr bool operator!=(TimeTicks other) const { return us_ != other.us_; }
  constexpr bool operator<(TimeTicks other) const { return us_ < other.us_; }
  constexpr bool operator<=(TimeTicks other) const { return us_ <= other.us_; }
  constexpr bool operator>(TimeTicks other) const { return us_ > other.us_; }
  constexpr bool operator>=(TimeTicks other) const { return us_ >= other.us_; }

 private:
  explicit constexpr TimeTicks(int64_t us) : us_(us) {}
  int64_t us_ = 0;
};

}  // namespace base

#endif  // BASE_TIME_TIME_H_
