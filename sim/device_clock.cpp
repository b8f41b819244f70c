#include "device_clock.h"

#include <ctime>

namespace ktr_sim {
namespace {

// Host local time expressed as seconds of a UTC calendar, so that calendar
// arithmetic can use timegm/gmtime_r and never meets DST gaps.
std::int64_t HostLocalSeconds() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<std::int64_t>(timegm(&local));
}

std::int64_t FieldSeconds(const ClockFields& f) {
  std::tm t{};
  t.tm_year = 2000 + f.year - 1900;
  t.tm_mon = f.month - 1;
  t.tm_mday = f.day;
  t.tm_hour = f.hour;
  t.tm_min = f.minute;
  t.tm_sec = f.second;
  return static_cast<std::int64_t>(timegm(&t));
}

bool LeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && LeapYear(year)) return 29;
  return kDays[month - 1];
}

}  // namespace

ClockFields DeviceClock::Now() const {
  const std::time_t device = static_cast<std::time_t>(HostLocalSeconds() + offset_seconds_);
  std::tm t{};
  gmtime_r(&device, &t);
  ClockFields f;
  f.year = (t.tm_year + 1900) % 100;
  f.month = t.tm_mon + 1;
  f.day = t.tm_mday;
  f.hour = t.tm_hour;
  f.minute = t.tm_min;
  f.second = t.tm_sec;
  return f;
}

void DeviceClock::Set(const ClockFields& fields) {
  offset_seconds_ = FieldSeconds(fields) - HostLocalSeconds();
}

bool DeviceClock::Valid(const ClockFields& f) {
  if (f.year < 0 || f.year > 99 || f.month < 1 || f.month > 12) return false;
  if (f.day < 1 || f.day > DaysInMonth(2000 + f.year, f.month)) return false;
  return f.hour >= 0 && f.hour <= 23 && f.minute >= 0 && f.minute <= 59 && f.second >= 0 && f.second <= 59;
}

}  // namespace ktr_sim
