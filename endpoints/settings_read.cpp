// "/get_set_data.cgi": the general settings (registers 10060-10078,
// 10300-10303 and the poll register 10084). The same cycle refreshes the
// configuration status (10080) and, on the device at bus address 1, the
// device list (10100 onwards) that other endpoints report.
#include "access_cycle.h"
#include "converters.h"
#include "json_reply.h"
#include "ktr_device.h"
#include "register_table.h"

namespace ktr {
namespace {

// Only the device at bus address 1 keeps the poll setting and the list of
// the devices behind it.
constexpr std::uint8_t kListHolderAddress = 1;

}  // namespace

std::string TKtrDevice::GetSetData() {
  AccessCycle cycle(*this);
  if (!cycle.opened()) return {};
  ReadSettingsCycle();
  cycle.Close();

  ConvertSettingsAndList();

  // The sixteen settings in the order of the table, "poll" last.
  JsonReply json;
  json.StartObject();
  for (const table::DeviceSetting& setting : table::kDeviceSettings)
    json.Member(setting.key, KtrData.*setting.field);
  json.EndObject();
  return json.Text();
}

void TKtrDevice::ReadSettingsCycle() {
  ReadSettingsRegisters();
  AccessCycle::Pause();
  ReadBlock(table::kBrightnessBlock);
  AccessCycle::Pause();
  ReadBlock(table::kConfigStatusBlock);

  if (Settings().slaveAddress != kListHolderAddress) return;
  AccessCycle::Pause();
  ReadBlock(table::kPollBlock);
  AccessCycle::Pause();
  ReadBlock(table::kDeviceListCountBlock);
  // After a failed count read the last count read stands.
  const std::uint16_t listCount = table::DeviceListCount(RegisterImage[place::kDeviceListCount]);
  if (listCount == 0) return;
  AccessCycle::Pause();
  ReadBlock(table::kDeviceListBlock.First(listCount));
}

void TKtrDevice::ConvertSettingsAndList() {
  ConvertSettings(RegisterImage, KtrData);
  // The device list endpoint reads these without DeviceMutex.
  std::lock_guard<std::mutex> report(reportMutex_);
  ConvertDeviceList(RegisterImage, KtrData);
}

}  // namespace ktr
