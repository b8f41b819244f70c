// "/get_set_data.cgi": the general settings (registers 10060-10078,
// 10300-10303 and the poll register 10084). The same cycle refreshes the
// configuration status (10080) and, on the device at bus address 1, the
// device list (10100 onwards) that other endpoints report.
#include <algorithm>

#include "access_cycle.h"
#include "json_reply.h"
#include "ktr_device.h"
#include "register_table.h"

namespace ktr {
namespace {

// Only the device at bus address 1 keeps the poll setting and the list of
// the devices behind it.
constexpr std::uint8_t kListHolderAddress = 1;

// The device-list count is the high byte of register 10100; the image has
// room for 128 list registers.
std::uint16_t DeviceListCount(std::uint16_t countRegister) {
  return static_cast<std::uint16_t>(std::min<unsigned>(countRegister >> 8U, kDeviceListMax));
}

}  // namespace

std::string TKtrDevice::GetSetData() {
  AccessCycle cycle(*this);
  if (!cycle.opened()) return {};
  ReadSettingsBlocks();
  cycle.Close();

  ConvertSettings();

  // The sixteen settings in the order of the table, "poll" last.
  JsonReply json;
  json.StartObject();
  for (const table::DeviceSetting& setting : table::kDeviceSettings) json.Member(setting.key, KtrData.*setting.field);
  json.EndObject();
  return json.Text();
}

void TKtrDevice::ReadSettingsBlocks() {
  ReadSettingsBlock();
  AccessCycle::Pause();
  ReadBlock(10300, 4, place::kBrightness, "Error read SET_10300_10303 registers !!!");
  AccessCycle::Pause();
  ReadBlock(10080, 1, place::kConfigStatus, "Error read SET_10080 register !!!");

  if (Settings().slaveAddress != kListHolderAddress) return;
  AccessCycle::Pause();
  ReadBlock(10084, 1, place::kPoll, "Error read SET_10084 register !!!");
  AccessCycle::Pause();
  ReadBlock(10100, 1, place::kDeviceListCount, "Error read SET_10100 register !!!");
  // After a failed count read the last count read stands.
  const std::uint16_t listCount = DeviceListCount(RegisterImage[place::kDeviceListCount]);
  if (listCount == 0) return;
  AccessCycle::Pause();
  ReadBlock(10101, listCount, place::kDeviceList, "Error read SET_10101_10228 register !!!");
}

}  // namespace ktr
