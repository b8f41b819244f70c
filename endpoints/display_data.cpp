// "/get_display_data.cgi": the six display settings, registers 10000-10005.
#include <string>

#include "access_cycle.h"
#include "converters.h"
#include "json_reply.h"
#include "ktr_device.h"
#include "register_table.h"

namespace ktr {

std::string TKtrDevice::GetDisplayData() {
  AccessCycle cycle(*this);
  if (!cycle.opened()) return {};
  cycle.Read(table::kDisplayBlock);
  cycle.Close();

  ConvertDisplayData(RegisterImage, KtrData);

  // Reply keys in register order, 10000 first.
  JsonReply json;
  json.StartObject();
  for (std::size_t i = 0; i < table::kDisplay.size(); ++i)
    json.Member(table::kDisplay[i].key, KtrData.display[i]);
  json.EndObject();
  return json.Text();
}

}  // namespace ktr
