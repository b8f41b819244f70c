// Which register each key of the pages stands for: the display, counter and
// device-settings keys, the weekly schedule's layout, and the device
// commands. The endpoint handlers (reads and writes) and the configuration
// files (backup, restore) take their register knowledge from here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ktr_data.h"

namespace ktr::table {

// A key of the pages and the one register it stands for.
struct KeyedRegister {
  std::string_view key;
  std::uint16_t reg;
};

// A block read of a handler: where it lands in the image and the log line
// of a failed read.
struct BlockRead {
  std::uint16_t start;
  std::uint16_t count;
  std::size_t place;
  std::string_view errorLine;
};

// Display settings, registers 10000-10005, in register order (the reply's
// order too); kept in KTR_DATA::display in the same order.
inline constexpr std::array<KeyedRegister, 6> kDisplay{{
    {"tmpe", 10000}, {"dtpe", 10001}, {"cdpe", 10002}, {"s1pe", 10003}, {"s2pe", 10004}, {"stpe", 10005},
}};
inline constexpr BlockRead kDisplayBlock{10000, 6, place::kDisplay, "Error read SET_10000_10005 registers !!!"};

// Counter settings, registers 10040-10046, in register order; kept in
// KTR_DATA::counter.
inline constexpr std::array<KeyedRegister, 7> kCounter{{
    {"cdir", 10040}, {"lm_d", 10041}, {"lm_h", 10042}, {"lm_m", 10043},
    {"lm_s", 10044}, {"rlpe", 10045}, {"crpt", 10046},
}};
inline constexpr BlockRead kCounterBlock{10040, 7, place::kCounter, "Error read SET_10040_10046 registers !!!"};

// Device settings in the order of the settings reply, with the KTR_DATA
// field each is kept in.
struct DeviceSetting {
  std::string_view key;
  std::uint16_t reg;
  std::uint32_t KTR_DATA::*field;
};
inline constexpr std::array<DeviceSetting, 16> kDeviceSettings{{
    {"bmod", 10300, &KTR_DATA::bmod},
    {"blvl", 10301, &KTR_DATA::blvl},
    {"bloc", 10302, &KTR_DATA::bloc},
    {"bgra", 10303, &KTR_DATA::bgra},
    {"diad", 10060, &KTR_DATA::diad},  // the device's own bus address setting
    {"s1ad", 10061, &KTR_DATA::s1ad},
    {"s1un", 10062, &KTR_DATA::s1un},
    {"s1mo", 10063, &KTR_DATA::s1mo},
    {"s1rf", 10077, &KTR_DATA::s1rf},  // firmware 0.35.4 on
    {"s2ad", 10068, &KTR_DATA::s2ad},
    {"s2un", 10069, &KTR_DATA::s2un},
    {"s2mo", 10070, &KTR_DATA::s2mo},
    {"s2rf", 10078, &KTR_DATA::s2rf},  // firmware 0.35.4 on
    {"sype", 10075, &KTR_DATA::sype},
    {"stmo", 10076, &KTR_DATA::stmo},
    {"poll", 10084, &KTR_DATA::poll},  // kept by the device whose diad is 1
}};
// The image word of a device setting's register.
constexpr std::size_t SettingPlace(std::uint16_t reg) {
  if (reg >= 10300) return place::kBrightness + (reg - 10300U);
  if (reg == 10084) return place::kPoll;
  return place::Setting(reg);
}
inline constexpr std::uint16_t kDiadRegister = 10060;
inline constexpr std::uint16_t kPollRegister = 10084;
// The settings block from 10060 grew from 17 to 19 registers (10077 and
// 10078) with firmware 0.35.4 (packed 0x2304).
inline constexpr std::uint32_t kLongSettingsFirmware = 0x2304;

// Weekly schedule: one block of 76 registers per day, Sunday (day 0) first,
// at 14000 + 100 * day. In a block: the day's enable word, then 20 plan
// entries of three registers (status, time, length), then 5 length
// entries of three registers (ws, bb, eb).
inline constexpr std::uint16_t kScheduleBase = 14000;
inline constexpr std::uint16_t kScheduleDayStride = 100;
inline constexpr std::uint16_t kScheduleDayLength = 76;
inline constexpr std::size_t kPlanEntries = 20;
inline constexpr std::size_t kLengthEntries = 5;
inline constexpr std::size_t kPlanOffset = 1;     // + 3 * entry
inline constexpr std::size_t kLengthOffset = 61;  // + 3 * entry
inline constexpr int kDays = 7;
// The day names of the schedule paths and of the write's "day" field.
inline constexpr std::array<std::string_view, 7> kDayNames{"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
constexpr std::uint16_t ScheduleDayStart(int dayIndex) {
  return static_cast<std::uint16_t>(kScheduleBase + kScheduleDayStride * dayIndex);
}
// The time stored for a plan entry whose time came empty: hour 0, minute
// 60, which reads back as "00:60".
inline constexpr std::uint16_t kNoTime = 60;

// A plan entry's time word as the schedule reply shows it: the hour (high
// byte) and the minute (low byte), each "%02u" with no upper limit:
// 0x081E -> "08:30", 60 -> "00:60", 0x6400 -> "100:00".
std::string ScheduleTimeText(std::uint16_t word);

// The configuration status (reply "value") and the two commands, each the
// command word written with function 6.
inline constexpr std::uint16_t kConfigStatusRegister = 10080;
inline constexpr BlockRead kConfigStatusBlock{10080, 1, place::kConfigStatus, "Error read SET_10080 register !!!"};
inline constexpr std::uint16_t kRunConfigRegister = 10080;
inline constexpr std::uint16_t kFactoryDefaultsRegister = 10082;
inline constexpr std::uint16_t kCommandWord = 0x5555;  // 21845

// The device clock: date 10020-10022 and time 10023-10025, each written
// with one function 16 (the "dt" and "tm" settings).
inline constexpr std::uint16_t kDateRegister = 10020;
inline constexpr std::uint16_t kTimeRegister = 10023;
inline constexpr BlockRead kClockBlock{10020, 8, place::kClock, "Error read SET_10020_10027 registers !!!"};

}  // namespace ktr::table
