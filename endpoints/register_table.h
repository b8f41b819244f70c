// The product's register table: every block the handlers read (where it
// lands in the register image, and the log line of a failed read), the
// registers each key of the pages stands for (display, counter, device
// settings), the weekly schedule's layout, the clock, the firmware
// registers and the device commands. The endpoint handlers (reads and
// writes) and the configuration files (backup, restore) take their
// register knowledge from here. sim/ktr_register_map.h describes the same
// device on its own, on purpose: the simulator is the independent check of
// this table.
#pragma once

#include <algorithm>
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
// of a failed read (as the log has always given it, which is not always
// the block's own name).
struct BlockRead {
  std::uint16_t start;
  std::uint16_t count;
  std::size_t place;
  std::string_view errorLine;

  // The first `n` registers of the block, into the same place, with the
  // same log line (a shorter settings block, the device list's entries).
  constexpr BlockRead First(std::uint16_t n) const { return {start, n, place, errorLine}; }
};

// The sensor readings: temperatures 0-9, humidities 10-19, and the
// absolute humidities 160-169.
inline constexpr BlockRead kSensorsBlock{0, 20, place::kSensors, "Error read SET_0_19 registers !!!"};
inline constexpr BlockRead kAbsoluteHumidityBlock{160, 10, place::kAbsoluteHumidity,
                                                  "Error read SET_160_169 registers !!!"};

// Display settings, registers 10000-10005, in register order (the reply's
// order too); kept in KTR_DATA::display in the same order.
inline constexpr std::array<KeyedRegister, 6> kDisplay{{
    {"tmpe", 10000},
    {"dtpe", 10001},
    {"cdpe", 10002},
    {"s1pe", 10003},
    {"s2pe", 10004},
    {"stpe", 10005},
}};
inline constexpr BlockRead kDisplayBlock{10000, 6, place::kDisplay,
                                         "Error read SET_10000_10005 registers !!!"};

// Counter settings, registers 10040-10046, in register order; kept in
// KTR_DATA::counter.
inline constexpr std::array<KeyedRegister, 7> kCounter{{
    {"cdir", 10040},
    {"lm_d", 10041},
    {"lm_h", 10042},
    {"lm_m", 10043},
    {"lm_s", 10044},
    {"rlpe", 10045},
    {"crpt", 10046},
}};
inline constexpr BlockRead kCounterBlock{10040, 7, place::kCounter,
                                         "Error read SET_10040_10046 registers !!!"};

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
// The blocks that hold them: the settings block from 10060 (see
// SettingsCount), the brightness 10300-10303 and the poll register.
inline constexpr BlockRead kSettingsBlock{10060, 19, place::kSettings,
                                          "Error read SET_10060_10078 registers !!!"};
inline constexpr BlockRead kBrightnessBlock{10300, 4, place::kBrightness,
                                            "Error read SET_10300_10303 registers !!!"};
inline constexpr BlockRead kPollBlock{10084, 1, place::kPoll, "Error read SET_10084 register !!!"};
inline constexpr std::uint16_t kDiadRegister = 10060;
inline constexpr std::uint16_t kPollRegister = kPollBlock.start;
// The settings block grew from 17 to 19 registers, these two at its end,
// with firmware 0.35.4 (packed 0x2304).
inline constexpr std::array<std::uint16_t, 2> kLongSettingsRegisters{10077, 10078};
inline constexpr std::uint32_t kLongSettingsFirmware = 0x2304;
constexpr std::uint16_t SettingsCount(std::uint32_t firmwareVersion) {
  return firmwareVersion >= kLongSettingsFirmware
             ? kSettingsBlock.count
             : static_cast<std::uint16_t>(kSettingsBlock.count - kLongSettingsRegisters.size());
}
constexpr bool IsLongSetting(std::uint16_t reg) {
  return reg == kLongSettingsRegisters[0] || reg == kLongSettingsRegisters[1];
}
// The image word of a device setting's register.
constexpr std::size_t SettingPlace(std::uint16_t reg) {
  for (const BlockRead& b : {kBrightnessBlock, kPollBlock}) {
    if (reg >= b.start && reg < b.start + b.count) return b.place + (reg - b.start);
  }
  return kSettingsBlock.place + (reg - kSettingsBlock.start);
}

// The configuration status (reply "value").
inline constexpr BlockRead kConfigStatusBlock{10080, 1, place::kConfigStatus,
                                              "Error read SET_10080 register !!!"};

// The list of the devices behind the one at bus address 1: the count in
// the high byte of 10100, then one register per device from 10101 (the
// image has room for kDeviceListMax).
inline constexpr BlockRead kDeviceListCountBlock{10100, 1, place::kDeviceListCount,
                                                 "Error read SET_10100 register !!!"};
inline constexpr BlockRead kDeviceListBlock{10101, kDeviceListMax, place::kDeviceList,
                                            "Error read SET_10101_10228 register !!!"};
constexpr std::uint16_t DeviceListCount(std::uint16_t countRegister) {
  return static_cast<std::uint16_t>(std::min<std::size_t>(countRegister >> 8U, kDeviceListMax));
}

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
// The days' block reads; a failed read's line names the block's start only.
inline constexpr std::array<BlockRead, kDays> kScheduleDayBlocks{{
    {ScheduleDayStart(0), kScheduleDayLength, place::ScheduleDay(0), "Error read SET_14000 registers !!!"},
    {ScheduleDayStart(1), kScheduleDayLength, place::ScheduleDay(1), "Error read SET_14100 registers !!!"},
    {ScheduleDayStart(2), kScheduleDayLength, place::ScheduleDay(2), "Error read SET_14200 registers !!!"},
    {ScheduleDayStart(3), kScheduleDayLength, place::ScheduleDay(3), "Error read SET_14300 registers !!!"},
    {ScheduleDayStart(4), kScheduleDayLength, place::ScheduleDay(4), "Error read SET_14400 registers !!!"},
    {ScheduleDayStart(5), kScheduleDayLength, place::ScheduleDay(5), "Error read SET_14500 registers !!!"},
    {ScheduleDayStart(6), kScheduleDayLength, place::ScheduleDay(6), "Error read SET_14600 registers !!!"},
}};
// The time stored for a plan entry whose time came empty: hour 0, minute
// 60, which reads back as "00:60".
inline constexpr std::uint16_t kNoTime = 60;

// A plan entry's time word as the schedule reply shows it: the hour (high
// byte) and the minute (low byte), each "%02u" with no upper limit:
// 0x081E -> "08:30", 60 -> "00:60", 0x6400 -> "100:00".
std::string ScheduleTimeText(std::uint16_t word);

// The two commands, each the command word written with function 6; the
// run-configuration command goes to the status register.
inline constexpr std::uint16_t kRunConfigRegister = kConfigStatusBlock.start;
inline constexpr std::uint16_t kFactoryDefaultsRegister = 10082;
inline constexpr std::uint16_t kCommandWord = 0x5555;  // 21845

// The device clock, 10020-10027: year within the century, month, day,
// hour, minute, second, time zone, daylight saving. The date and the time
// are each written with one function 16 (the "dt" and "tm" settings), the
// time zone and daylight saving with function 6.
inline constexpr BlockRead kClockBlock{10020, 8, place::kClock, "Error read SET_10020_10027 registers !!!"};
inline constexpr std::uint16_t kDateRegister = 10020;
inline constexpr std::uint16_t kTimeRegister = 10023;
inline constexpr std::uint16_t kTimeZoneRegister = 10026;
inline constexpr std::uint16_t kDstRegister = 10027;

// The firmware (the device search and the firmware reads): 8000 gives the
// length in registers of the text from 8001 on (two characters a
// register; room for kFirmwareTextMax), 5000-5002 hold the version parts.
// The search's probe reads 8000 into place::kProbe.
inline constexpr std::uint16_t kFirmwareTextLengthRegister = 8000;
inline constexpr std::uint16_t kFirmwareTextRegister = 8001;
inline constexpr std::uint16_t kFirmwareTextMax = 128;
inline constexpr std::uint16_t kVersionRegister = 5000;
inline constexpr std::uint16_t kVersionCount = 3;

}  // namespace ktr::table
