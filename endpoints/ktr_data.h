// The register image and the decoded device data that the endpoint handlers
// share: where each register block lands in the image, and the records that
// the converters (converters.h) fill from it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ktr {

inline constexpr std::size_t kRegisterImageSize = 1234;
inline constexpr std::size_t kDeviceListMax = 128;
using RegisterWords = std::array<std::uint16_t, kRegisterImageSize>;

// Word index in the register image of each block's first register.
namespace place {
inline constexpr std::size_t kSensors = 0;            // registers 0-19
inline constexpr std::size_t kAbsoluteHumidity = 20;  // registers 160-169
inline constexpr std::size_t kProbe = 33;             // register 8000 (device search)
inline constexpr std::size_t kDisplay = 162;          // registers 10000-10005
inline constexpr std::size_t kClock = 168;            // registers 10020-10027
inline constexpr std::size_t kCounter = 176;          // registers 10040-10046
inline constexpr std::size_t kSettings = 183;         // registers 10060-10076 or -10078
inline constexpr std::size_t kConfigStatus = 202;     // register 10080
inline constexpr std::size_t kPoll = 203;             // register 10084
inline constexpr std::size_t kDeviceListCount = 204;  // register 10100
inline constexpr std::size_t kDeviceList = 205;       // registers 10101-10228
inline constexpr std::size_t kBrightness = 333;       // registers 10300-10303
inline constexpr std::size_t ScheduleDay(int dayIndex) {
  return 337 + 128 * static_cast<std::size_t>(dayIndex);
}
}  // namespace place

// Decoded device data. Numbers are registers zero-extended to 32 bits; texts
// are UTF-8.
struct KTR_DATA {
  std::array<std::uint32_t, 10> temperature{};       // registers 0-9
  std::array<std::uint32_t, 10> humidity{};          // registers 10-19
  std::array<std::uint32_t, 10> absoluteHumidity{};  // registers 160-169
  std::array<std::uint32_t, 6> display{};            // 10000-10005: tmpe dtpe cdpe s1pe s2pe stpe
  std::string yearText, monthText, dayText, hourText, minuteText, secondText;
  std::uint32_t tz = 0;
  std::uint32_t dst = 0;
  std::string dateText, isoDateText, timeText;
  std::array<std::uint32_t, 7> counter{};  // 10040-10046: cdir lm_d lm_h lm_m lm_s rlpe crpt
  std::uint32_t diad = 0, s1ad = 0, s1un = 0, s1mo = 0, s1rf = 0, s2ad = 0, s2un = 0, s2mo = 0, s2rf = 0,
                sype = 0, stmo = 0, poll = 0, bmod = 0, blvl = 0, bloc = 0, bgra = 0;
  std::uint32_t ConfigStatus = 0;
  // Written under TKtrDevice's report lock as well as DeviceMutex, because
  // the device list endpoint reads them without DeviceMutex.
  std::uint32_t DeviceListCount = 0;
  std::array<std::uint32_t, kDeviceListMax> DeviceList{};
};

// One converted weekday schedule (Sunday is day 0).
struct SCHEDULER_DATA {
  std::uint32_t ena = 0;
  std::array<std::uint32_t, 20> status{};
  std::array<std::string, 20> time{};  // "HH:MM"
  std::array<std::uint32_t, 20> len{};
  std::array<std::uint32_t, 5> len_bb{};
  std::array<std::uint32_t, 5> len_eb{};
  std::array<std::uint32_t, 5> len_ws{};
};

}  // namespace ktr
