#include "converters.h"

#include <cstdio>

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

std::string TwoDigits(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u", value);
  return text;
}

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

}  // namespace

void SetDateTexts(KTR_DATA& d, unsigned year, unsigned month, unsigned day) {
  // Two digits for the year too, so that "20" + year is the full year for
  // 2000-2009 as well (5 -> "2005", not "205").
  d.yearText = TwoDigits(year);
  d.monthText = TwoDigits(month);
  d.dayText = TwoDigits(day);
  d.dateText = d.dayText + "-" + d.monthText + "-20" + d.yearText;
  d.isoDateText = "20" + d.yearText + "-" + d.monthText + "-" + d.dayText;
}

void SetTimeTexts(KTR_DATA& d, unsigned hour, unsigned minute, unsigned second) {
  d.hourText = TwoDigits(hour);
  d.minuteText = TwoDigits(minute);
  d.secondText = TwoDigits(second);
  d.timeText = d.hourText + ":" + d.minuteText + ":" + d.secondText;
}

void ConvertDisplayData(const RegisterWords& image, KTR_DATA& data) {
  for (std::size_t i = 0; i < data.display.size(); ++i) data.display[i] = image[place::kDisplay + i];
}

void ConvertCounterData(const RegisterWords& image, KTR_DATA& data) {
  for (std::size_t i = 0; i < data.counter.size(); ++i) data.counter[i] = image[place::kCounter + i];
}

void ConvertDateTime(const RegisterWords& image, KTR_DATA& data) {
  const std::uint16_t* clock = image.data() + place::kClock;
  SetDateTexts(data, clock[0], clock[1], clock[2]);
  SetTimeTexts(data, clock[3], clock[4], clock[5]);
  data.tz = clock[6];
  data.dst = clock[7];
}

void ConvertMeasurements(const RegisterWords& image, KTR_DATA& data) {
  for (std::size_t i = 0; i < 10; ++i) {
    data.temperature[i] = image[place::kSensors + i];
    data.humidity[i] = image[place::kSensors + 10 + i];
    data.absoluteHumidity[i] = image[place::kAbsoluteHumidity + i];
  }
}

void ConvertSettings(const RegisterWords& image, KTR_DATA& data) {
  for (const table::DeviceSetting& setting : table::kDeviceSettings) {
    if (setting.reg == table::kPollRegister) continue;  // below
    data.*setting.field = image[table::SettingPlace(setting.reg)];
  }
  data.ConfigStatus = image[place::kConfigStatus];
  data.poll = data.diad == 1 ? image[place::kPoll] : 0U;
}

void ConvertDeviceList(const RegisterWords& image, KTR_DATA& data) {
  if (data.diad != 1) {
    data.DeviceListCount = 0;
    return;
  }
  data.DeviceListCount = table::DeviceListCount(image[place::kDeviceListCount]);
  data.DeviceList.fill(0);
  for (std::size_t i = 0; i < data.DeviceListCount; ++i) data.DeviceList[i] = image[place::kDeviceList + i];
}

void ConvertScheduleDay(const RegisterWords& image, int dayIndex, SCHEDULER_DATA& day) {
  const std::uint16_t* b = image.data() + place::ScheduleDay(dayIndex);
  day.ena = b[0];
  for (std::size_t i = 0; i < table::kPlanEntries; ++i) {
    const std::uint16_t* entry = b + table::kPlanOffset + 3 * i;
    day.status[i] = entry[0];
    day.time[i] = table::ScheduleTimeText(entry[1]);
    day.len[i] = entry[2];
  }
  // On the device a length entry runs ws, bb, eb.
  for (std::size_t j = 0; j < table::kLengthEntries; ++j) {
    const std::uint16_t* entry = b + table::kLengthOffset + 3 * j;
    day.len_ws[j] = entry[0];
    day.len_bb[j] = entry[1];
    day.len_eb[j] = entry[2];
  }
}

std::string SensorText(const KTR_DATA& data, int sensor) {
  const std::size_t entry = sensor == 1 ? 0 : 1;
  const std::uint32_t mode = sensor == 1 ? data.s1mo : data.s2mo;
  const std::uint32_t unit = sensor == 1 ? data.s1un : data.s2un;
  // Mode 0 switches the reading off; modes above 2 and unit codes above 3
  // are unknown to this configurator and show no reading either.
  if (mode != 1 && mode != 2) return kNoReading;

  // Tenths of a degree: "21.5 °C", " 5.3 °C".
  const auto temperature = [&](const char* scale) {
    const auto v = static_cast<unsigned>(data.temperature[entry]);
    return Padded(v / 10) + "." + std::to_string(v % 10) + " " + kDegreeSign + scale;
  };
  switch (unit) {
    case kUnitCelsius: return temperature("C");
    case kUnitFahrenheit:  // the device reports the value in Fahrenheit already
      return temperature("F");
    case kUnitRelativeHumidity:
      // Tenths of a percent, shown in whole percent rounded down.
      return Padded(static_cast<unsigned>(data.humidity[entry] / 10)) + " %RH";
    case kUnitAbsoluteHumidity: {
      // Thousandths of a gram per cubic metre: "12.005 g/m3".
      const auto v = static_cast<unsigned>(data.absoluteHumidity[entry]);
      return Padded(v / 1000) + "." + ThreeDigits(v % 1000) + " g/m3";
    }
    default: return kNoReading;
  }
}

}  // namespace ktr
