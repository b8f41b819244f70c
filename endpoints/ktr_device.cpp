#include "ktr_device.h"

#include <cstdio>

#include "access_cycle.h"
#include "register_table.h"

namespace ktr {
namespace {

std::string TwoDigits(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u", value);
  return text;
}

}  // namespace

void SetDateTexts(KTR_DATA& d, unsigned year, unsigned month, unsigned day) {
  // Two digits for the year too, so that "20" + year is the full year for
  // 2000-2009 as well (5 -> "2005", not "205").
  d.yearText = TwoDigits(year);
  d.monthText = TwoDigits(month);
  d.dayText = TwoDigits(day);
  d.dateText = d.dayText + "-" + d.monthText + "-20" + d.yearText;
  d.isoDateText = "20" + d.yearText + "-" + d.monthText + "-" + d.dayText;
}

void SetTimeTexts(KTR_DATA& d, unsigned hour, unsigned minute, unsigned second) {
  d.hourText = TwoDigits(hour);
  d.minuteText = TwoDigits(minute);
  d.secondText = TwoDigits(second);
  d.timeText = d.hourText + ":" + d.minuteText + ":" + d.secondText;
}

TKtrDevice::TKtrDevice(TModbus& modbus, LogFn log, AddressListFn addressList)
    : modbus_(modbus), log_(std::move(log)), addressList_(std::move(addressList)) {}

TKtrDevice::~TKtrDevice() = default;

SerialSettings TKtrDevice::Settings() const {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  return SerialSettings_;
}

void TKtrDevice::SetSettings(const SerialSettings& settings) {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  SerialSettings_ = settings;
}

void TKtrDevice::Log(const std::string& line) const {
  if (log_) log_(line);
}

void TKtrDevice::ReplaceAddressList(const std::vector<std::string>& addresses) const {
  if (addressList_) addressList_(addresses);
}

std::int32_t TKtrDevice::ReadBlock(std::uint16_t start, std::uint16_t count, std::size_t place,
                                   const std::string& errorLine) {
  const std::int32_t r = modbus_.ReadHoldingRegisters(start, count, RegisterImage.data() + place);
  if (r != result::kOk && !errorLine.empty()) {
    Log(errorLine);
    AccessCycle::LogLineErrors(*this);
  }
  NoteResult(r, BlockName(start, count));
  return r;
}

void TKtrDevice::NoteResult(std::int32_t r, const std::string& block) const {
  if (r != result::kOk) NoteDeviceFailure(modbus_.LastFailure(), block);
}

void TKtrDevice::ReadSettingsBlock() {
  // Firmware 0.35.4 (0x2304) added 10077 and 10078 to the block.
  const std::uint16_t count = FirmwareVersion >= table::kLongSettingsFirmware ? 19 : 17;
  RegisterImage[place::Setting(10077)] = 1;
  RegisterImage[place::Setting(10078)] = 1;
  ReadBlock(10060, count, place::kSettings, "Error read SET_10060_10078 registers !!!");
}

std::string TKtrDevice::FirmwareTextCopy() const {
  std::lock_guard<std::mutex> lock(reportMutex_);
  return FirmwareText;
}

std::uint32_t TKtrDevice::FirmwareVersionValue() const {
  std::lock_guard<std::mutex> lock(reportMutex_);
  return FirmwareVersion;
}

std::array<std::uint16_t, kRegisterImageSize> TKtrDevice::ImageCopy() {
  std::lock_guard<std::mutex> lock(DeviceMutex);
  return RegisterImage;
}

}  // namespace ktr
