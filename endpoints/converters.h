// The converters: register image -> KTR_DATA / SCHEDULER_DATA, as the read
// endpoints and the configuration files show the device's data. They never
// touch the device; where each block lies in the image is register_table.h's.
#pragma once

#include <string>

#include "ktr_data.h"

namespace ktr {

// Date and time texts of the device clock, from the register values: the
// year within the century, month, day, hour, minute, second, each written
// with two digits at least ("%02u"); dateText is day-month-20year,
// isoDateText 20year-month-day, timeText hour:minute:second.
void SetDateTexts(KTR_DATA& data, unsigned year, unsigned month, unsigned day);
void SetTimeTexts(KTR_DATA& data, unsigned hour, unsigned minute, unsigned second);

void ConvertDisplayData(const RegisterWords& image, KTR_DATA& data);
void ConvertCounterData(const RegisterWords& image, KTR_DATA& data);
// The clock block: the date and time texts, tz and dst.
void ConvertDateTime(const RegisterWords& image, KTR_DATA& data);
// The temperatures, humidities and absolute humidities.
void ConvertMeasurements(const RegisterWords& image, KTR_DATA& data);
// The device settings and the configuration status. Poll belongs to the
// device whose bus address setting (diad) is 1: 0 on any other.
void ConvertSettings(const RegisterWords& image, KTR_DATA& data);
// After ConvertSettings: the device list count and entries of the device
// whose diad is 1; on any other the count is 0 (the older entries stay,
// unreported).
void ConvertDeviceList(const RegisterWords& image, KTR_DATA& data);
void ConvertScheduleDay(const RegisterWords& image, int dayIndex, SCHEDULER_DATA& day);

// Sensor text of sensor 1 or 2 for the index page (UTF-8), from the
// converted settings and measurements.
std::string SensorText(const KTR_DATA& data, int sensor);

}  // namespace ktr
