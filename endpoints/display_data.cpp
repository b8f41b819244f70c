// "/get_display_data.cgi": the six display settings, registers 10000-10005.
#include <array>
#include <string_view>

#include "access_cycle.h"
#include "json_reply.h"
#include "ktr_device.h"

namespace ktr {
namespace {

// Reply keys in register order, 10000 first.
constexpr std::array<std::string_view, 6> kDisplayKeys{"tmpe", "dtpe", "cdpe", "s1pe", "s2pe", "stpe"};

}  // namespace

std::string TKtrDevice::GetDisplayData() {
  AccessCycle cycle(*this);
  if (!cycle.opened()) return {};
  cycle.Read(10000, 6, place::kDisplay, "Error read SET_10000_10005 registers !!!");
  cycle.Close();

  ConvertDisplayData();

  JsonReply json;
  json.StartObject();
  for (std::size_t i = 0; i < kDisplayKeys.size(); ++i) json.Member(kDisplayKeys[i], KtrData.display[i]);
  json.EndObject();
  return json.Text();
}

void TKtrDevice::ConvertDisplayData() {
  for (std::size_t i = 0; i < KtrData.display.size(); ++i) {
    KtrData.display[i] = RegisterImage[place::kDisplay + i];
  }
}

}  // namespace ktr
