// The device's real-time clock: the host clock plus an offset that the
// configurator sets by writing the date or the time.
#pragma once

#include <cstdint>

namespace ktr_sim {

// Calendar fields as the clock registers 10020-10025 hold them.
struct ClockFields {
  int year = 0;  // within the century, 0-99 (2000-2099)
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

class DeviceClock {
 public:
  // The device's current date and time. Without a write it follows the
  // host's local time, as a clock set from this PC would.
  ClockFields Now() const;

  // Makes the clock run on from these fields. The fields must be Valid().
  void Set(const ClockFields& fields);

  // True when the fields name a real date and time of 2000-2099.
  static bool Valid(const ClockFields& fields);

 private:
  std::int64_t offset_seconds_ = 0;
};

}  // namespace ktr_sim
