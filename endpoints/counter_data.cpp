// "/get_counter_data.cgi": the seven counter settings, registers 10040-10046.
#include <string>

#include "access_cycle.h"
#include "converters.h"
#include "json_reply.h"
#include "ktr_device.h"
#include "register_table.h"

namespace ktr {

std::string TKtrDevice::GetCounterData() {
  AccessCycle cycle(*this);
  if (!cycle.opened()) return {};
  cycle.Read(table::kCounterBlock);
  cycle.Close();

  ConvertCounterData(RegisterImage, KtrData);

  // Reply keys in register order, 10040 first.
  JsonReply json;
  json.StartObject();
  for (std::size_t i = 0; i < table::kCounter.size(); ++i)
    json.Member(table::kCounter[i].key, KtrData.counter[i]);
  json.EndObject();
  return json.Text();
}

}  // namespace ktr
