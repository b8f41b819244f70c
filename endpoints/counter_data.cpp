// "/get_counter_data.cgi": the seven counter settings, registers 10040-10046.
#include <string>

#include "access_cycle.h"
#include "json_reply.h"
#include "ktr_device.h"
#include "register_table.h"

namespace ktr {

std::string TKtrDevice::GetCounterData() {
  AccessCycle cycle(*this);
  if (!cycle.opened()) return {};
  const table::BlockRead& block = table::kCounterBlock;
  cycle.Read(block.start, block.count, block.place, std::string(block.errorLine));
  cycle.Close();

  ConvertCounterData();

  // Reply keys in register order, 10040 first.
  JsonReply json;
  json.StartObject();
  for (std::size_t i = 0; i < table::kCounter.size(); ++i) json.Member(table::kCounter[i].key, KtrData.counter[i]);
  json.EndObject();
  return json.Text();
}

void TKtrDevice::ConvertCounterData() {
  for (std::size_t i = 0; i < KtrData.counter.size(); ++i) {
    KtrData.counter[i] = RegisterImage[place::kCounter + i];
  }
}

}  // namespace ktr
