// "/get_sched_data.cgi&sun" ... "&sat": one day of the weekly schedule, a
// block of 76 registers from 14000 + 100 * day.
#include <cstdio>
#include <stdexcept>
#include <string>

#include "access_cycle.h"
#include "json_reply.h"
#include "ktr_device.h"

namespace ktr {
namespace {

constexpr int kDays = 7;
constexpr std::uint16_t kScheduleBase = 14000;
constexpr std::uint16_t kDayStride = 100;
constexpr std::uint16_t kDayLength = 76;
// Offsets in a day block: the enable word, then 20 plan entries (status,
// time, length), then 5 length entries (ws, bb, eb).
constexpr std::size_t kPlanEntries = 20;
constexpr std::size_t kLengthEntries = 5;
constexpr std::size_t kPlanOffset = 1;
constexpr std::size_t kLengthOffset = 61;

void CheckDay(int dayIndex) {
  if (dayIndex < 0 || dayIndex >= kDays) {
    throw std::out_of_range("schedule day " + std::to_string(dayIndex) + " is not 0 (Sunday) to 6");
  }
}

std::uint16_t DayStart(int dayIndex) {
  return static_cast<std::uint16_t>(kScheduleBase + kDayStride * dayIndex);
}

// Hour in the high byte, minute in the low byte, each "%02u" with no upper
// limit: 0x081E -> "08:30", 60 (the value written for an entry without a
// time) -> "00:60", 0x6400 -> "100:00".
std::string TimeText(std::uint16_t word) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u", static_cast<unsigned>(word >> 8U),
                static_cast<unsigned>(word & 0xFFU));
  return text;
}

}  // namespace

std::string TKtrDevice::GetSchedData(int dayIndex) {
  CheckDay(dayIndex);
  AccessCycle cycle(*this);
  if (!cycle.opened()) return {};
  ReadScheduleDay(dayIndex);
  cycle.Close();

  ConvertScheduleDay(dayIndex);

  const SCHEDULER_DATA& day = SchedulerData[static_cast<std::size_t>(dayIndex)];
  JsonReply json;
  json.StartObject();
  json.Member("ena", day.ena);
  json.Key("plan");
  json.StartArray();
  for (std::size_t i = 0; i < kPlanEntries; ++i) {
    json.StartObject();
    json.Member("status", day.status[i]);
    json.Member("time", day.time[i]);
    json.Member("len", day.len[i]);
    json.EndObject();
  }
  json.EndArray();
  json.Key("cfg");
  json.StartArray();
  for (std::size_t j = 0; j < kLengthEntries; ++j) {
    json.StartObject();
    json.Member("len_bb", day.len_bb[j]);
    json.Member("len_eb", day.len_eb[j]);
    json.Member("len_ws", day.len_ws[j]);
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  return json.Text();
}

void TKtrDevice::ReadScheduleDay(int dayIndex) {
  CheckDay(dayIndex);
  const std::uint16_t start = DayStart(dayIndex);
  const std::int32_t r =
      modbus_.ReadHoldingRegisters(start, kDayLength, RegisterImage.data() + place::ScheduleDay(dayIndex));
  if (r != 0) Log("Error read SET_" + std::to_string(start) + " registers !!!");
  NoteResult(r, BlockName(start, kDayLength));
}

void TKtrDevice::ConvertScheduleDay(int dayIndex) {
  CheckDay(dayIndex);
  const std::uint16_t* b = RegisterImage.data() + place::ScheduleDay(dayIndex);
  SCHEDULER_DATA& day = SchedulerData[static_cast<std::size_t>(dayIndex)];
  day.ena = b[0];
  for (std::size_t i = 0; i < kPlanEntries; ++i) {
    const std::uint16_t* entry = b + kPlanOffset + 3 * i;
    day.status[i] = entry[0];
    day.time[i] = TimeText(entry[1]);
    day.len[i] = entry[2];
  }
  // On the device a length entry runs ws, bb, eb.
  for (std::size_t j = 0; j < kLengthEntries; ++j) {
    const std::uint16_t* entry = b + kLengthOffset + 3 * j;
    day.len_ws[j] = entry[0];
    day.len_bb[j] = entry[1];
    day.len_eb[j] = entry[2];
  }
}

}  // namespace ktr
