// "/get_counter_data.cgi": the seven counter settings, registers 10040-10046.
#include <array>
#include <string_view>

#include "access_cycle.h"
#include "json_reply.h"
#include "ktr_device.h"

namespace ktr {
namespace {

// Reply keys in register order, 10040 first.
constexpr std::array<std::string_view, 7> kCounterKeys{"cdir", "lm_d", "lm_h", "lm_m",
                                                       "lm_s", "rlpe", "crpt"};

}  // namespace

std::string TKtrDevice::GetCounterData() {
  AccessCycle cycle(*this);
  if (!cycle.opened()) return {};
  cycle.Read(10040, 7, place::kCounter, "Error read SET_10040_10046 registers !!!");
  cycle.Close();

  ConvertCounterData();

  JsonReply json;
  json.StartObject();
  for (std::size_t i = 0; i < kCounterKeys.size(); ++i) json.Member(kCounterKeys[i], KtrData.counter[i]);
  json.EndObject();
  return json.Text();
}

void TKtrDevice::ConvertCounterData() {
  for (std::size_t i = 0; i < KtrData.counter.size(); ++i) {
    KtrData.counter[i] = RegisterImage[place::kCounter + i];
  }
}

}  // namespace ktr
