// "/get_sched_data.cgi&sun" ... "&sat": one day of the weekly schedule, a
// block of 76 registers from 14000 + 100 * day.
#include <cstdio>
#include <stdexcept>
#include <string>

#include "access_cycle.h"
#include "json_reply.h"
#include "ktr_device.h"
#include "register_table.h"

namespace ktr {
namespace {

using table::kDays;
using table::kLengthEntries;
using table::kLengthOffset;
using table::kPlanEntries;
using table::kPlanOffset;
using table::ScheduleDayStart;

void CheckDay(int dayIndex) {
  if (dayIndex < 0 || dayIndex >= kDays) {
    throw std::out_of_range("schedule day " + std::to_string(dayIndex) + " is not 0 (Sunday) to 6");
  }
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
  const std::uint16_t start = ScheduleDayStart(dayIndex);
  const std::int32_t r =
      modbus_.ReadHoldingRegisters(start, table::kScheduleDayLength, RegisterImage.data() + place::ScheduleDay(dayIndex));
  if (r != result::kOk) Log("Error read SET_" + std::to_string(start) + " registers !!!");
  NoteResult(r, BlockName(start, table::kScheduleDayLength));
}

void TKtrDevice::ConvertScheduleDay(int dayIndex) {
  CheckDay(dayIndex);
  const std::uint16_t* b = RegisterImage.data() + place::ScheduleDay(dayIndex);
  SCHEDULER_DATA& day = SchedulerData[static_cast<std::size_t>(dayIndex)];
  day.ena = b[0];
  for (std::size_t i = 0; i < kPlanEntries; ++i) {
    const std::uint16_t* entry = b + kPlanOffset + 3 * i;
    day.status[i] = entry[0];
    day.time[i] = table::ScheduleTimeText(entry[1]);
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
