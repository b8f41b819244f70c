// "/get_display_data.cgi": the six display settings, registers 10000-10005.
#include <string>

#include "access_cycle.h"
#include "json_reply.h"
#include "ktr_device.h"
#include "register_table.h"

namespace ktr {

std::string TKtrDevice::GetDisplayData() {
  AccessCycle cycle(*this);
  if (!cycle.opened()) return {};
  const table::BlockRead& block = table::kDisplayBlock;
  cycle.Read(block.start, block.count, block.place, std::string(block.errorLine));
  cycle.Close();

  ConvertDisplayData();

  // Reply keys in register order, 10000 first.
  JsonReply json;
  json.StartObject();
  for (std::size_t i = 0; i < table::kDisplay.size(); ++i) json.Member(table::kDisplay[i].key, KtrData.display[i]);
  json.EndObject();
  return json.Text();
}

void TKtrDevice::ConvertDisplayData() {
  for (std::size_t i = 0; i < KtrData.display.size(); ++i) {
    KtrData.display[i] = RegisterImage[place::kDisplay + i];
  }
}

}  // namespace ktr
