// "/get_index_data.cgi": the clock and the two sensor readings of the start
// page, and the converters that other endpoints share with it (settings,
// date and time, measurements).
#include <algorithm>
#include <cstdio>
#include <string>

#include "access_cycle.h"
#include "json_reply.h"
#include "ktr_device.h"
#include "register_table.h"

namespace ktr {
namespace {

// Sensor mode and unit codes of registers 10062/10063 and 10069/10070.
constexpr std::uint32_t kUnitCelsius = 0;
constexpr std::uint32_t kUnitFahrenheit = 1;
constexpr std::uint32_t kUnitRelativeHumidity = 2;
constexpr std::uint32_t kUnitAbsoluteHumidity = 3;

constexpr const char* kDegreeSign = "\xC2\xB0";  // U+00B0 in UTF-8
constexpr const char* kNoReading = "---";

// "%2u": right-aligned in two places, padded with a blank.
std::string Padded(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%2u", value);
  return text;
}

std::string ThreeDigits(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%03u", value);
  return text;
}

// The device-list count is the high byte of register 10100; the list holds
// at most 128 entries.
std::uint32_t DeviceListCount(std::uint16_t countRegister) {
  return std::min<std::uint32_t>(countRegister >> 8U, kDeviceListMax);
}

}  // namespace

std::string TKtrDevice::GetIndexData() {
  AccessCycle cycle(*this);
  if (!cycle.opened()) return {};
  ReadIndexBlocks();
  cycle.Close();

  ConvertSettings();
  ConvertDateTime();
  ConvertMeasurements();

  JsonReply json;
  json.StartObject();
  json.Member("time", KtrData.timeText);
  json.Member("date", KtrData.dateText);
  json.Member("sensor1unit", SensorText(1));
  json.Member("sensor2unit", SensorText(2));
  json.EndObject();
  return json.Text();
}

void TKtrDevice::ReadIndexBlocks() {
  ReadSettingsBlock();
  AccessCycle::Pause();
  ReadBlock(0, 20, place::kSensors, "Error read SET_0_19 registers !!!");
  AccessCycle::Pause();
  ReadBlock(160, 10, place::kAbsoluteHumidity, "Error read SET_160_169 registers !!!");
  AccessCycle::Pause();
  const table::BlockRead& clock = table::kClockBlock;
  ReadBlock(clock.start, clock.count, clock.place, std::string(clock.errorLine));
}

void TKtrDevice::ConvertSettings() {
  for (const table::DeviceSetting& setting : table::kDeviceSettings) {
    if (setting.reg == table::kPollRegister) continue;  // below
    KtrData.*setting.field = RegisterImage[table::SettingPlace(setting.reg)];
  }
  KtrData.ConfigStatus = RegisterImage[place::kConfigStatus];

  // Poll and the device list belong to the device at bus address setting 1.
  const bool listHolder = KtrData.diad == 1;
  KtrData.poll = listHolder ? RegisterImage[place::kPoll] : 0U;

  // The device list endpoint reads these without DeviceMutex.
  std::lock_guard<std::mutex> report(reportMutex_);
  if (!listHolder) {
    KtrData.DeviceListCount = 0;  // older entries stay, unreported
    return;
  }
  KtrData.DeviceListCount = DeviceListCount(RegisterImage[place::kDeviceListCount]);
  KtrData.DeviceList.fill(0);
  for (std::size_t i = 0; i < KtrData.DeviceListCount; ++i) {
    KtrData.DeviceList[i] = RegisterImage[place::kDeviceList + i];
  }
}

void TKtrDevice::ConvertDateTime() {
  const std::uint16_t* clock = RegisterImage.data() + place::kClock;
  SetDateTexts(KtrData, clock[0], clock[1], clock[2]);
  SetTimeTexts(KtrData, clock[3], clock[4], clock[5]);
  KtrData.tz = clock[6];
  KtrData.dst = clock[7];
}

void TKtrDevice::ConvertMeasurements() {
  for (std::size_t i = 0; i < 10; ++i) {
    KtrData.temperature[i] = RegisterImage[place::kSensors + i];
    KtrData.humidity[i] = RegisterImage[place::kSensors + 10 + i];
    KtrData.absoluteHumidity[i] = RegisterImage[place::kAbsoluteHumidity + i];
  }
}

std::string TKtrDevice::SensorText(int sensor) const {
  const std::size_t entry = sensor == 1 ? 0 : 1;
  const std::uint32_t mode = sensor == 1 ? KtrData.s1mo : KtrData.s2mo;
  const std::uint32_t unit = sensor == 1 ? KtrData.s1un : KtrData.s2un;
  // Mode 0 switches the reading off; modes above 2 and unit codes above 3
  // are unknown to this configurator and show no reading either.
  if (mode != 1 && mode != 2) return kNoReading;

  // Tenths of a degree: "21.5 °C", " 5.3 °C".
  const auto temperature = [&](const char* scale) {
    const auto v = static_cast<unsigned>(KtrData.temperature[entry]);
    return Padded(v / 10) + "." + std::to_string(v % 10) + " " + kDegreeSign + scale;
  };
  switch (unit) {
    case kUnitCelsius:
      return temperature("C");
    case kUnitFahrenheit:  // the device reports the value in Fahrenheit already
      return temperature("F");
    case kUnitRelativeHumidity:
      // Tenths of a percent, shown in whole percent rounded down.
      return Padded(static_cast<unsigned>(KtrData.humidity[entry] / 10)) + " %RH";
    case kUnitAbsoluteHumidity: {
      // Thousandths of a gram per cubic metre: "12.005 g/m3".
      const auto v = static_cast<unsigned>(KtrData.absoluteHumidity[entry]);
      return Padded(v / 1000) + "." + ThreeDigits(v % 1000) + " g/m3";
    }
    default:
      return kNoReading;
  }
}

}  // namespace ktr
