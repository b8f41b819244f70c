// "/get_web_data.cgi" (firmware text of the found device),
// "/get_config_status.cgi" (register 10080) and "/get_ktr_list.cgi" (the
// devices behind the one at bus address 1, as the last settings read found
// them). The firmware text and the list answer at once, without waiting
// for a device cycle: they copy their state under the short report lock.
#include <algorithm>
#include <array>
#include <string_view>

#include "access_cycle.h"
#include "json_reply.h"
#include "ktr_device.h"
#include "register_table.h"

namespace ktr {
namespace {

// "desc" of a device-list entry, by the row (type code + 1) modulo 256, so
// that type code 255 is row 0.
constexpr std::array<std::string_view, 6> DeviceTypeNames{
    "Unknown device",             // 255
    "",                           // 0
    "KTR Clock",                  // 1
    "Sensor",                     // 2
    "Sync. dev. + temp. sensor",  // 3
    "Sync. dev.",                 // 4
};

std::string_view DeviceTypeName(std::uint32_t entry) {
  const std::size_t row = ((entry & 0xFFU) + 1U) % 256U;
  // Type codes 5 to 254 are not known to this configurator.
  return row < DeviceTypeNames.size() ? DeviceTypeNames[row] : DeviceTypeNames[0];
}

}  // namespace

std::string TKtrDevice::GetWebData() {
  JsonReply json;
  json.StartObject();
  json.Member("firmware", FirmwareTextCopy());
  json.EndObject();
  return json.Text();
}

std::string TKtrDevice::GetConfigStatus() {
  AccessCycle cycle(*this);
  if (!cycle.opened()) return {};
  // Straight into ConfigStatus, not through the image; a failed read keeps
  // the value that the last writer left and is not logged.
  const table::BlockRead& block = table::kConfigStatusBlock;
  std::uint16_t status = 0;
  const std::int32_t r = cycle.modbus().ReadHoldingRegisters(block.start, block.count, &status);
  if (r == result::kOk) KtrData.ConfigStatus = status;
  NoteResult(r, BlockName(block.start, block.count));
  cycle.Close();

  JsonReply json;
  json.StartObject();
  json.Member("value", KtrData.ConfigStatus);
  json.EndObject();
  return json.Text();
}

std::string TKtrDevice::GetKtrList() {
  std::size_t count = 0;
  std::array<std::uint32_t, kDeviceListMax> entries{};
  {
    std::lock_guard<std::mutex> report(reportMutex_);
    count = std::min<std::size_t>(KtrData.DeviceListCount, kDeviceListMax);
    entries = KtrData.DeviceList;
  }

  JsonReply json;
  json.StartArray();
  for (std::size_t i = 0; i < count; ++i) {
    json.StartObject();
    json.Member("value", (entries[i] >> 8U) & 0xFFU);
    json.Member("desc", DeviceTypeName(entries[i]));
    json.EndObject();
  }
  json.EndArray();
  return json.Text();
}

}  // namespace ktr
