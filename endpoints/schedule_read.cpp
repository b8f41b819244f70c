// "/get_sched_data.cgi&sun" ... "&sat": one day of the weekly schedule, a
// block of 76 registers from 14000 + 100 * day.
#include <stdexcept>
#include <string>

#include "access_cycle.h"
#include "converters.h"
#include "json_reply.h"
#include "ktr_device.h"
#include "register_table.h"

namespace ktr {
namespace {

void CheckDay(int dayIndex) {
  if (dayIndex < 0 || dayIndex >= table::kDays) {
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

  SCHEDULER_DATA& day = SchedulerData[static_cast<std::size_t>(dayIndex)];
  ConvertScheduleDay(RegisterImage, dayIndex, day);

  JsonReply json;
  json.StartObject();
  json.Member("ena", day.ena);
  json.Key("plan");
  json.StartArray();
  for (std::size_t i = 0; i < table::kPlanEntries; ++i) {
    json.StartObject();
    json.Member("status", day.status[i]);
    json.Member("time", day.time[i]);
    json.Member("len", day.len[i]);
    json.EndObject();
  }
  json.EndArray();
  json.Key("cfg");
  json.StartArray();
  for (std::size_t j = 0; j < table::kLengthEntries; ++j) {
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
  // Not through ReadBlock: a failed day read logs its own line (and why the
  // port went away, if it did), not the line errors after it.
  const table::BlockRead& block = table::kScheduleDayBlocks[static_cast<std::size_t>(dayIndex)];
  const std::int32_t r =
      modbus_.ReadHoldingRegisters(block.start, block.count, RegisterImage.data() + block.place);
  if (r != result::kOk) {
    Log(std::string(block.errorLine));
    AccessCycle::LogLinkLoss(*this);
  }
  NoteResult(r, BlockName(block.start, block.count));
}

}  // namespace ktr
