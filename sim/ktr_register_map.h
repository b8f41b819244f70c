// Register map of a simulated KTR device, shared by ktr-sim and the tests.
//
// Every register the configurator reads or writes is named here with its
// place on the device, together with the values a freshly reset device
// holds and the reserved addresses that make the simulator misbehave on
// purpose (fault triggers). Plain constexpr data and functions only, so a
// test can include this without linking libmodbus or the simulator.
//
// The configurator's own table (endpoints/register_table.h) is kept apart
// from this one on purpose: the simulator is the independent check of it.
//
// All addresses are Modbus register numbers as sent on the wire (0-based).
// The map is sparse: a request that touches any address outside the blocks
// listed by InMap() gets exception 2 (illegal data address).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ktr {

// A run of consecutive registers.
struct RegisterBlock {
  std::uint16_t start;
  std::uint16_t count;

  // One past the last register.
  constexpr std::uint32_t end() const { return std::uint32_t{start} + count; }
  constexpr bool Contains(std::uint32_t address) const { return address >= start && address < end(); }
};

// Firmware generations the simulator can play (`ktr-sim --firmware`).
enum class Firmware : std::uint8_t {
  kNew,   // 0.35.4: version registers present, settings block 10060-10078
  kOld,   // 0.35.3: version registers present, settings block ends at 10076
  kNone,  // older firmware without version registers 5000-5002 (exception 2)
};

struct Version {
  std::uint8_t major;
  std::uint8_t minor;
  std::uint8_t patch;
};

// Packed as the configurator keeps it: bytes 0, major, minor, patch.
constexpr std::uint32_t PackVersion(Version v) {
  return (std::uint32_t{v.major} << 16) | (std::uint32_t{v.minor} << 8) | v.patch;
}

// One version part as the device stores it: two ASCII digits, the tens
// digit in the high byte (a zero byte when the part is below 10) and the
// units digit in the low byte. 35 -> '3','5' = 0x3335; 4 -> 0x0034.
constexpr std::uint16_t VersionRegister(std::uint8_t part) {
  const unsigned tens = part / 10u % 10u;
  const unsigned units = part % 10u;
  const unsigned high = tens == 0 ? 0u : '0' + tens;
  return static_cast<std::uint16_t>((high << 8) | ('0' + units));
}

namespace reg {

// Measurements (index page). Ten entries per quantity; entry 0 belongs to
// sensor 1, entry 1 to sensor 2, the rest are unused and read 0.
inline constexpr RegisterBlock kTemperature{0, 10};         // tenths of a degree, in the sensor's unit
inline constexpr RegisterBlock kHumidity{10, 10};           // relative humidity, tenths of a percent
inline constexpr RegisterBlock kSensors{0, 20};             // the two above, read as one block
inline constexpr RegisterBlock kAbsoluteHumidity{160, 10};  // thousandths of a gram per cubic metre

// Firmware version: major, minor, patch, each as VersionRegister().
inline constexpr RegisterBlock kVersion{5000, 3};

// Probe register of the device search: the number of registers of the
// firmware text that follows it.
inline constexpr std::uint16_t kFirmwareTextLength = 8000;
// Firmware text, two characters per register, high byte first, padded with
// zero registers. 128 registers so that a count of up to 128 in register
// 8000 can be read in one request.
inline constexpr RegisterBlock kFirmwareText{8001, 128};

// Display settings: tmpe, dtpe, cdpe, s1pe, s2pe, stpe.
inline constexpr RegisterBlock kDisplay{10000, 6};

// Clock: year within the century, month, day, hour, minute, second, time
// zone, daylight saving. Registers 10020-10025 run from the host clock plus
// an offset that a write of any of them sets (see ktr-sim's device_clock).
// Time zone and daylight saving are stored values; the time zone is a
// signed hour offset written as 16 bits (-2 reads 65534).
inline constexpr RegisterBlock kClock{10020, 8};
inline constexpr RegisterBlock kDate{10020, 3};  // written together by the date setting
inline constexpr RegisterBlock kTime{10023, 3};  // written together by the time setting
inline constexpr std::uint16_t kYear = 10020;
inline constexpr std::uint16_t kMonth = 10021;
inline constexpr std::uint16_t kDay = 10022;
inline constexpr std::uint16_t kHour = 10023;
inline constexpr std::uint16_t kMinute = 10024;
inline constexpr std::uint16_t kSecond = 10025;
inline constexpr std::uint16_t kTimeZone = 10026;
inline constexpr std::uint16_t kDst = 10027;

// Counter settings: cdir, lm_d, lm_h, lm_m, lm_s, rlpe, crpt.
inline constexpr RegisterBlock kCounter{10040, 7};

// Device settings. Firmware 0.35.4 and later have 19 registers (up to
// 10078); older firmware ends at 10076, so 10077 and 10078 are not in its
// map at all.
inline constexpr RegisterBlock kSettings{10060, 19};
inline constexpr RegisterBlock kSettingsShort{10060, 17};
inline constexpr std::uint16_t kDiad = 10060;  // the device's own bus address setting
inline constexpr std::uint16_t kS1ad = 10061;
inline constexpr std::uint16_t kS1un = 10062;  // unit: 0 C, 1 F, 2 %RH, 3 g/m3
inline constexpr std::uint16_t kS1mo = 10063;  // mode: 0 off, 1 and 2 shown
inline constexpr std::uint16_t kS2ad = 10068;
inline constexpr std::uint16_t kS2un = 10069;
inline constexpr std::uint16_t kS2mo = 10070;
inline constexpr std::uint16_t kSype = 10075;
inline constexpr std::uint16_t kStmo = 10076;
inline constexpr std::uint16_t kS1rf = 10077;  // 0.35.4 on
inline constexpr std::uint16_t kS2rf = 10078;  // 0.35.4 on

// Configuration status. Writing kCommandValue runs the configuration and the
// register then reads kConfigRunning; any other written value is refused
// with exception 3. Factory state: kConfigFactory.
inline constexpr std::uint16_t kConfigStatus = 10080;
// Factory defaults command: writing kCommandValue restores every register
// of the default map (the clock keeps running; see ktr-sim). Reads 0; any
// other written value is refused with exception 3.
inline constexpr std::uint16_t kFactoryDefaults = 10082;
// Poll setting (reported when diad is 1).
inline constexpr std::uint16_t kPoll = 10084;

// Device list: register 10100 holds the entry count in its high byte;
// entries from 10101 on, each with a value in the high byte and the device
// type code in the low byte (1 clock, 2 sensor, 3 sync device with
// temperature sensor, 4 sync device, 255 unknown).
inline constexpr std::uint16_t kDeviceListCount = 10100;
inline constexpr RegisterBlock kDeviceList{10101, 128};

// Brightness settings: bmod, blvl, bloc, bgra.
inline constexpr RegisterBlock kBrightness{10300, 4};

// Weekly schedule: one block of 76 registers per day, Sunday (0) first,
// at 14000 + 100 * day. Offsets within a day's block:
//   0                enable word of the day
//   1 + 3i .. 3 + 3i plan entry i (0-19): status, time (hour << 8 | minute), length
//   61 + 3j .. 63 + 3j length entry j (0-4): ws, bb, eb
inline constexpr std::uint16_t kScheduleBase = 14000;
inline constexpr std::uint16_t kScheduleDayStride = 100;
inline constexpr std::uint16_t kScheduleDayLength = 76;
inline constexpr int kPlanEntries = 20;
inline constexpr int kLengthEntries = 5;
constexpr RegisterBlock ScheduleDay(int day) {
  return {static_cast<std::uint16_t>(kScheduleBase + kScheduleDayStride * day), kScheduleDayLength};
}
constexpr std::uint16_t PlanOffset(int entry) { return static_cast<std::uint16_t>(1 + 3 * entry); }
constexpr std::uint16_t LengthOffset(int entry) { return static_cast<std::uint16_t>(61 + 3 * entry); }

}  // namespace reg

// Value of the run-configuration and factory-defaults commands.
inline constexpr std::uint16_t kCommandValue = 0x5555;
// Values of register 10080.
inline constexpr std::uint16_t kConfigFactory = 0;  // factory settings, no configuration run since
inline constexpr std::uint16_t kConfigRunning = 1;  // configuration applied and running

// Standard Modbus caps a register read at 125; this device answers up to
// 128 so the whole device list comes in one read (the one-byte byte count of
// a 128-register reply wraps to 0). Writes follow the standard cap of 123.
inline constexpr std::uint16_t kMaxReadCount = 128;
inline constexpr std::uint16_t kMaxWriteCount = 123;

// ---------------------------------------------------------------------------
// Fault triggers. A request (read 3/4 or write 6/16) whose first register is
// one of these gets the named fault on its reply, for that request only, so
// one simulator serves good and faulty requests in sequence. The registers
// lie outside the real device's map; each reads as its own address (9993
// reads 9993) and ignores writes. A trigger overrides `--fault`.
// ---------------------------------------------------------------------------

enum class Fault : std::uint8_t {
  kNone,
  kSilent,     // no reply at all
  kBadCrc,     // correct reply with the lowest bit of its last (CRC high) byte flipped
  kException,  // exception reply (function | 0x80) with the given code; the request is not carried out
  kShort,      // only the first kShortReplyLength bytes of the correct reply
  kLong,       // correct reply followed by kLongReplySurplus, in one write
  kSlow,       // correct reply after the given number of milliseconds
  kGarbage,    // random bytes, as many as the correct reply, that never form a valid frame
  // Faults of the line rather than of the device:
  kEcho,     // the line returns every request (any address) before the reply, as an adapter
             // without echo suppression does
  kNoise,    // one stray byte (kNoiseByte) before the reply, as at an unbiased bus turnaround
  kForeign,  // before the reply, the late reply of the next address (same function and
             // length, other data: kForeignXor) with a good CRC
};

struct FaultMode {
  Fault kind = Fault::kNone;
  unsigned value = 0;  // exception code for kException, milliseconds for kSlow
};

inline constexpr std::size_t kShortReplyLength = 3;
inline constexpr std::array<std::uint8_t, 4> kLongReplySurplus{0x00, 0xFF, 0x55, 0xAA};
inline constexpr std::uint8_t kBadCrcFlip = 0x01;
inline constexpr std::uint8_t kNoiseByte = 0x00;
inline constexpr std::uint8_t kForeignXor = 0x5A;

namespace trigger {
inline constexpr RegisterBlock kBlock{9990, 7};
inline constexpr std::uint16_t kSilent = 9990;
inline constexpr std::uint16_t kBadCrc = 9991;
inline constexpr std::uint16_t kShort = 9992;
inline constexpr std::uint16_t kLong = 9993;
inline constexpr std::uint16_t kSlow = 9994;       // slow, kSlowMs
inline constexpr std::uint16_t kException = 9995;  // exception, kExceptionCode
inline constexpr std::uint16_t kGarbage = 9996;
inline constexpr unsigned kSlowMs = 1500;
inline constexpr std::uint8_t kExceptionCode = 4;  // slave device failure
}  // namespace trigger

// The fault that a request starting at this register triggers (kNone when
// it is no trigger register).
constexpr FaultMode TriggeredFault(std::uint16_t start) {
  switch (start) {
    case trigger::kSilent: return {Fault::kSilent, 0};
    case trigger::kBadCrc: return {Fault::kBadCrc, 0};
    case trigger::kShort: return {Fault::kShort, 0};
    case trigger::kLong: return {Fault::kLong, 0};
    case trigger::kSlow: return {Fault::kSlow, trigger::kSlowMs};
    case trigger::kException: return {Fault::kException, trigger::kExceptionCode};
    case trigger::kGarbage: return {Fault::kGarbage, 0};
    default: return {};
  }
}

// ---------------------------------------------------------------------------
// Default (factory) values.
// ---------------------------------------------------------------------------

namespace defaults {

inline constexpr std::uint8_t kAddress = 1;  // factory bus address, also the default diad

inline constexpr Version kVersionNew{0, 35, 4};
inline constexpr Version kVersionOld{0, 35, 3};
inline constexpr std::string_view kFirmwareTextNew = "KTR Clock fw 0.35.4";
inline constexpr std::string_view kFirmwareTextOld = "KTR Clock fw 0.35.3";
inline constexpr std::string_view kFirmwareTextNone = "KTR Clock fw 0.34.1";

// 21.5 C and 45.5 %RH on sensor 1, 18.7 C and 52.0 %RH on sensor 2, with
// the matching absolute humidities 8.600 and 8.320 g/m3.
inline constexpr std::array<std::uint16_t, 10> kTemperature{215, 187};
inline constexpr std::array<std::uint16_t, 10> kHumidity{455, 520};
inline constexpr std::array<std::uint16_t, 10> kAbsoluteHumidity{8600, 8320};

inline constexpr std::array<std::uint16_t, 6> kDisplay{10, 3, 0, 3, 3, 0};
inline constexpr std::array<std::uint16_t, 7> kCounter{0, 0, 1, 30, 0, 0, 1};

// 10060-10078: diad 1; sensor 1 at address 2 in C, shown; sensor 2 at
// address 3 in %RH, shown; sype 1, stmo 0; s1rf and s2rf 5. ktr-sim starts
// each device with its own bus address in diad; factory defaults set 1.
inline constexpr std::array<std::uint16_t, 19> kSettings{
    1, 2, 0, 1, 0, 0, 0, 0,  // 10060-10067
    3, 2, 1, 0, 0, 0, 0,     // 10068-10074
    1, 0,                    // 10075-10076
    5, 5,                    // 10077-10078
};

inline constexpr std::uint16_t kPoll = 30;
inline constexpr std::uint16_t kTimeZone = 1;
inline constexpr std::uint16_t kDst = 1;
inline constexpr std::array<std::uint16_t, 4> kBrightness{1, 8, 0, 2};

// Three devices on the bus behind this one: a sensor (value 2), a sync
// device (3) and a sync device with temperature sensor (5).
inline constexpr std::array<std::uint16_t, 3> kDeviceList{0x0202, 0x0304, 0x0503};
inline constexpr std::uint16_t kDeviceListCount = static_cast<std::uint16_t>(kDeviceList.size() << 8);

// A school-day plan for Monday to Friday: (status, hour, minute, length).
// Status 2 marks the short warning signals. Saturday and Sunday are
// disabled and empty. Unused plan entries hold status 0, time 0 and
// length 1, the form the configurator writes for an empty entry.
struct PlanEntry {
  std::uint16_t status;
  std::uint8_t hour;
  std::uint8_t minute;
  std::uint16_t length;
};
inline constexpr std::array<PlanEntry, 12> kWorkdayPlan{{
    {2, 7, 55, 3},
    {1, 8, 0, 5},
    {1, 8, 45, 5},
    {2, 8, 55, 3},
    {1, 9, 0, 5},
    {1, 9, 45, 5},
    {1, 10, 5, 5},
    {1, 10, 50, 5},
    {1, 11, 0, 5},
    {1, 11, 45, 5},
    {1, 11, 55, 5},
    {1, 12, 40, 5},
}};
// Length entries (ws, bb, eb), the same on every day.
inline constexpr std::array<std::array<std::uint16_t, 3>, 5> kLengths{{
    {5, 3, 3},
    {10, 5, 5},
    {3, 2, 2},
    {0, 0, 0},
    {0, 0, 0},
}};

constexpr bool IsWorkday(int day) { return day >= 1 && day <= 5; }

constexpr std::array<std::uint16_t, reg::kScheduleDayLength> ScheduleDay(int day) {
  std::array<std::uint16_t, reg::kScheduleDayLength> b{};
  b[0] = static_cast<std::uint16_t>(IsWorkday(day) ? 1 : 0);
  for (int i = 0; i < reg::kPlanEntries; ++i) {
    const std::size_t at = reg::PlanOffset(i);
    if (IsWorkday(day) && i < static_cast<int>(kWorkdayPlan.size())) {
      const PlanEntry& e = kWorkdayPlan[static_cast<std::size_t>(i)];
      b[at] = e.status;
      b[at + 1] = static_cast<std::uint16_t>((e.hour << 8) | e.minute);
      b[at + 2] = e.length;
    } else {
      b[at] = 0;
      b[at + 1] = 0;
      b[at + 2] = 1;
    }
  }
  for (int j = 0; j < reg::kLengthEntries; ++j) {
    const std::size_t at = reg::LengthOffset(j);
    for (std::size_t k = 0; k < 3; ++k) b[at + k] = kLengths[static_cast<std::size_t>(j)][k];
  }
  return b;
}

constexpr std::string_view FirmwareText(Firmware fw) {
  switch (fw) {
    case Firmware::kNew: return kFirmwareTextNew;
    case Firmware::kOld: return kFirmwareTextOld;
    case Firmware::kNone: break;
  }
  return kFirmwareTextNone;
}

// Register 8000: registers needed for the text, two characters each.
constexpr std::uint16_t FirmwareTextRegisters(Firmware fw) {
  return static_cast<std::uint16_t>((FirmwareText(fw).size() + 1) / 2);
}

// Register 8001 + index of the firmware text (0 past its end).
constexpr std::uint16_t FirmwareTextRegister(Firmware fw, std::size_t index) {
  const std::string_view text = FirmwareText(fw);
  const auto byte = [&](std::size_t at) -> unsigned {
    return at < text.size() ? static_cast<unsigned char>(text[at]) : 0u;
  };
  return static_cast<std::uint16_t>((byte(2 * index) << 8) | byte(2 * index + 1));
}

}  // namespace defaults

// The version the firmware reports, or nothing for Firmware::kNone.
constexpr std::optional<Version> FirmwareVersion(Firmware fw) {
  switch (fw) {
    case Firmware::kNew: return defaults::kVersionNew;
    case Firmware::kOld: return defaults::kVersionOld;
    case Firmware::kNone: break;
  }
  return std::nullopt;
}

// The device's settings block for this firmware.
constexpr RegisterBlock SettingsBlock(Firmware fw) {
  return fw == Firmware::kNew ? reg::kSettings : reg::kSettingsShort;
}

// True when the register exists on a device with this firmware. The
// fault-trigger registers are always present.
constexpr bool InMap(Firmware fw, std::uint16_t address) {
  constexpr std::array<RegisterBlock, 14> kAlways{{
      reg::kSensors,
      reg::kAbsoluteHumidity,
      {reg::kFirmwareTextLength, 1},
      reg::kFirmwareText,
      trigger::kBlock,
      reg::kDisplay,
      reg::kClock,
      reg::kCounter,
      {reg::kConfigStatus, 1},
      {reg::kFactoryDefaults, 1},
      {reg::kPoll, 1},
      {reg::kDeviceListCount, 1},
      reg::kDeviceList,
      reg::kBrightness,
  }};
  for (const RegisterBlock& b : kAlways) {
    if (b.Contains(address)) return true;
  }
  if (fw != Firmware::kNone && reg::kVersion.Contains(address)) return true;
  if (SettingsBlock(fw).Contains(address)) return true;
  for (int day = 0; day < 7; ++day) {
    if (reg::ScheduleDay(day).Contains(address)) return true;
  }
  return false;
}

// Factory value of a register, or nothing when it is not in the map. The
// clock registers 10020-10025 run live on the simulator; their entry here
// is 0 and only says that they exist.
constexpr std::optional<std::uint16_t> DefaultValue(Firmware fw, std::uint16_t address) {
  if (!InMap(fw, address)) return std::nullopt;
  const auto in = [address](RegisterBlock b) { return b.Contains(address); };
  const auto at = [address](RegisterBlock b) { return static_cast<std::size_t>(address - b.start); };

  if (in(reg::kTemperature)) return defaults::kTemperature[at(reg::kTemperature)];
  if (in(reg::kHumidity)) return defaults::kHumidity[at(reg::kHumidity)];
  if (in(reg::kAbsoluteHumidity)) return defaults::kAbsoluteHumidity[at(reg::kAbsoluteHumidity)];
  if (in(reg::kVersion)) {
    const Version v = *FirmwareVersion(fw);
    const std::uint8_t parts[3] = {v.major, v.minor, v.patch};
    return VersionRegister(parts[at(reg::kVersion)]);
  }
  if (address == reg::kFirmwareTextLength) return defaults::FirmwareTextRegisters(fw);
  if (in(reg::kFirmwareText)) return defaults::FirmwareTextRegister(fw, at(reg::kFirmwareText));
  if (in(trigger::kBlock)) return address;
  if (in(reg::kDisplay)) return defaults::kDisplay[at(reg::kDisplay)];
  if (address == reg::kTimeZone) return defaults::kTimeZone;
  if (address == reg::kDst) return defaults::kDst;
  if (in(reg::kClock)) return std::uint16_t{0};
  if (in(reg::kCounter)) return defaults::kCounter[at(reg::kCounter)];
  if (in(reg::kSettings)) return defaults::kSettings[at(reg::kSettings)];
  if (address == reg::kConfigStatus) return kConfigFactory;
  if (address == reg::kFactoryDefaults) return std::uint16_t{0};
  if (address == reg::kPoll) return defaults::kPoll;
  if (address == reg::kDeviceListCount) return defaults::kDeviceListCount;
  if (in(reg::kDeviceList)) {
    const std::size_t i = at(reg::kDeviceList);
    return i < defaults::kDeviceList.size() ? defaults::kDeviceList[i] : std::uint16_t{0};
  }
  if (in(reg::kBrightness)) return defaults::kBrightness[at(reg::kBrightness)];
  for (int day = 0; day < 7; ++day) {
    if (in(reg::ScheduleDay(day))) return defaults::ScheduleDay(day)[at(reg::ScheduleDay(day))];
  }
  return std::nullopt;
}

}  // namespace ktr
