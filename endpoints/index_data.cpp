// "/get_index_data.cgi": the clock and the two sensor readings of the start
// page.
#include <string>

#include "access_cycle.h"
#include "converters.h"
#include "json_reply.h"
#include "ktr_device.h"
#include "register_table.h"

namespace ktr {

std::string TKtrDevice::GetIndexData() {
  AccessCycle cycle(*this);
  if (!cycle.opened()) return {};
  ReadIndexBlocks();
  cycle.Close();

  ConvertSettingsAndList();
  ConvertDateTime(RegisterImage, KtrData);
  ConvertMeasurements(RegisterImage, KtrData);

  JsonReply json;
  json.StartObject();
  json.Member("time", KtrData.timeText);
  json.Member("date", KtrData.dateText);
  json.Member("sensor1unit", SensorText(KtrData, 1));
  json.Member("sensor2unit", SensorText(KtrData, 2));
  json.EndObject();
  return json.Text();
}

void TKtrDevice::ReadIndexBlocks() {
  ReadSettingsRegisters();
  for (const table::BlockRead& block :
       {table::kSensorsBlock, table::kAbsoluteHumidityBlock, table::kClockBlock}) {
    AccessCycle::Pause();
    ReadBlock(block);
  }
}

}  // namespace ktr
