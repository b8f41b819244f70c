#include "ktr_device.h"

#include "access_cycle.h"
#include "register_table.h"

namespace ktr {

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

std::int32_t TKtrDevice::ReadBlock(const table::BlockRead& block) {
  // A device that did not answer a request of this cycle, and other
  // requests (a save, other pages' reads, a search of the bus) waiting for
  // the device: the rest of the reads would each cost a whole time-out only
  // to fail alike while they wait. The cycle ends its reads here; its reply
  // already says that the device does not answer. Alone, a cycle reads
  // every block (and logs each failure).
  // The pauses between the reads go with them.
  const auto othersWait = [this] {
    return writesWaiting_.load() > 0 || cyclesWaiting_.load() > 0 || probesWaiting_.load() > 0;
  };
  if (ReadsOfReplyEnded() || (DeviceSilentInReply() && othersWait())) {
    EndReadsOfReply();
    return result::kNoReply;
  }
  // A read that must first wait for a quiet line (the device did not answer
  // a request like it a moment ago, and its late reply could pass for this
  // one's) lets a save that comes meanwhile go first, rather than hold it
  // up for that wait and its own time-out: on a silent device, a save then
  // waits for one request at most. The check is set only while this cycle
  // holds the device: the master is everyone's once the cycle lets go.
  AccessCycle* const cycle = AccessCycle::Current();
  const auto read = [&] {
    if (cycle != nullptr) modbus_.SetGiveWay([this] { return writesWaiting_.load() > 0; });
    const std::int32_t code =
        modbus_.ReadHoldingRegisters(block.start, block.count, RegisterImage.data() + block.place);
    modbus_.SetGiveWay({});
    return code;
  };
  std::int32_t r = read();
  bool reopened = true;
  while (r == result::kGaveWay && reopened) {
    reopened = cycle->GiveWay();
    r = reopened ? read() : result::kNotOpen;
  }
  if (!reopened) {
    // The port would not open again: recorded and logged as at the start of
    // a cycle; the rest of the reads go with it.
    EndReadsOfReply();
    return r;
  }
  if (r != result::kOk) {
    Log(std::string(block.errorLine));
    AccessCycle::LogLinkLoss(*this);
    AccessCycle::LogLineErrors(*this);
  }
  NoteResult(r, BlockName(block.start, block.count));
  if (DeviceSilentInReply() && othersWait()) EndReadsOfReply();
  return r;
}

void TKtrDevice::NoteResult(std::int32_t r, const std::string& block) const {
  if (r != result::kOk) NoteDeviceFailure(modbus_.LastFailure(), block);
}

void TKtrDevice::ReadSettingsRegisters() {
  for (const std::uint16_t reg : table::kLongSettingsRegisters) RegisterImage[table::SettingPlace(reg)] = 1;
  ReadBlock(table::kSettingsBlock.First(table::SettingsCount(FirmwareVersion)));
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
