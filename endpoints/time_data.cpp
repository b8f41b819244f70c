// "/get_time_data.cgi": the device clock, registers 10020-10027, with the
// date in ISO order.
#include "access_cycle.h"
#include "converters.h"
#include "json_reply.h"
#include "ktr_device.h"
#include "register_table.h"

namespace ktr {

std::string TKtrDevice::GetTimeData() {
  AccessCycle cycle(*this);
  if (!cycle.opened()) return {};
  cycle.Read(table::kClockBlock);
  cycle.Close();

  ConvertDateTime(RegisterImage, KtrData);

  JsonReply json;
  json.StartObject();
  json.Member("date", KtrData.isoDateText);
  json.Member("time", KtrData.timeText);
  json.Member("tz", KtrData.tz);
  json.Member("dst", KtrData.dst);
  json.EndObject();
  return json.Text();
}

}  // namespace ktr
