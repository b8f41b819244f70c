// The device search: scan bus addresses 1 to 126 for the first device that
// answers, make it the device of every later access, then read its firmware
// text and version.
#include <algorithm>
#include <array>
#include <chrono>
#include <string>
#include <thread>
#include <tuple>

#include "access_cycle.h"
#include "config_document.h"
#include "json_reply.h"
#include "ktr_device.h"
#include "port_address.h"
#include "register_table.h"
#include "request_fields.h"

namespace ktr {
namespace {

constexpr int kFirstAddress = 1;
constexpr int kLastAddress = 126;
// A probe of an empty address costs one reply time-out: keep it short while
// scanning, and go back to the normal time-out afterwards.
constexpr std::int32_t kScanTimeoutMs = 100;
constexpr std::int32_t kNormalTimeoutMs = 1000;

using table::kFirmwareTextLengthRegister;
// The text has room for 256 characters; a longer count is cut to that.
using table::kFirmwareTextMax;

// Closes the port when the scope that opened it ends.
class PortCloser {
 public:
  explicit PortCloser(TModbus& modbus) : modbus_(modbus) {}
  ~PortCloser() { modbus_.ClosePort(); }
  PortCloser(const PortCloser&) = delete;
  PortCloser& operator=(const PortCloser&) = delete;

 private:
  TModbus& modbus_;
};

// Two characters per register, high byte first, up to the first zero byte.
std::string FirmwareTextOf(const std::array<std::uint16_t, kFirmwareTextMax>& words, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    const std::array<unsigned, 2> bytes{static_cast<unsigned>(words[i] >> 8U), words[i] & 0xFFU};
    for (const unsigned byte : bytes) {
      if (byte == 0) return text;
      text += static_cast<char>(byte);
    }
  }
  return text;
}

// One version part: the tens digit in the high byte (a zero byte when there
// is none) and the units digit in the low byte, both ASCII. Computed in 8
// bits, so stray bytes wrap within their own byte of the packed version
// instead of spilling into the next part.
std::uint8_t VersionPart(std::uint16_t word) {
  const auto high = static_cast<std::uint8_t>(word >> 8U);
  const auto low = static_cast<std::uint8_t>(word & 0xFFU);
  const auto tens = high == 0 ? std::uint8_t{0} : static_cast<std::uint8_t>((high - '0') * 10);
  return static_cast<std::uint8_t>(tens + static_cast<std::uint8_t>(low - '0'));
}

// Registers 8000, 8001.. and 5000-5002 of the device the open port
// addresses: the firmware text as read (8-bit) and the packed version (0
// when the version registers cannot be read, which does not fail the read).
std::int32_t ReadFirmware(TModbus& modbus, std::string& text, std::uint32_t& version) {
  std::uint16_t length = 0;
  std::int32_t result = modbus.ReadHoldingRegisters(kFirmwareTextLengthRegister, 1, &length);
  if (result != result::kOk) return result;
  const std::uint16_t count = std::min(length, kFirmwareTextMax);
  std::array<std::uint16_t, kFirmwareTextMax> words{};
  // A count of 0 is an empty text, not a request for no registers (which no
  // Modbus device answers).
  if (count > 0) {
    result = modbus.ReadHoldingRegisters(table::kFirmwareTextRegister, count, words.data());
    if (result != result::kOk) return result;
  }
  text = FirmwareTextOf(words, count);

  // Firmware without version registers answers with an exception: the
  // version stays 0 and the text read still counts as a success.
  version = 0;
  std::array<std::uint16_t, table::kVersionCount> parts{};
  if (modbus.ReadHoldingRegisters(table::kVersionRegister, table::kVersionCount, parts.data()) ==
      result::kOk) {
    version = (std::uint32_t{VersionPart(parts[0])} << 16U) | (std::uint32_t{VersionPart(parts[1])} << 8U) |
              VersionPart(parts[2]);
  }
  return result::kOk;
}

}  // namespace

bool TKtrDevice::SearchDevice(const std::string& portName, const SearchProgress& progress) {
  const auto gauge = [&progress](int position) {
    if (progress.gauge) progress.gauge(kFirstAddress, kLastAddress, position);
  };
  const auto editSettings = [this](auto&& change) {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    change(SerialSettings_);
  };

  Log("Search for connected device...");
  ReplaceAddressList({});
  gauge(0);
  editSettings([&](SerialSettings& s) {
    std::ignore = SetPortName(s, portName);  // a bad address fails each open with its reason
    s.timeoutMs = kScanTimeoutMs;
  });

  int found = 0;
  bool stopped = false;
  {
    const auto device = LockDevice();
    for (int address = kFirstAddress; address <= kLastAddress && found == 0; ++address) {
      if (progress.stopRequested && progress.stopRequested()) {
        stopped = true;
        break;
      }
      editSettings([address](SerialSettings& s) { s.slaveAddress = static_cast<std::uint8_t>(address); });
      if (modbus_.OpenPort(Settings()) != result::kOk) {
        AccessCycle::LogOpenFailure(*this);
        // A malformed address or a host name that does not resolve fails
        // every address alike: once is enough.
        const SerialErrorKind why = modbus_.LastOpenFailure().kind;
        if (why == SerialErrorKind::BadAddress || why == SerialErrorKind::NoHost) break;
        continue;
      }
      PortCloser closer(modbus_);
      if (modbus_.ReadHoldingRegisters(kFirmwareTextLengthRegister, 1,
                                       RegisterImage.data() + place::kProbe) == result::kOk) {
        found = address;
        ReplaceAddressList({std::to_string(address)});
      } else {
        gauge(address);  // the gauge shows the last address that did not answer
      }
    }
  }
  editSettings([](SerialSettings& s) { s.timeoutMs = kNormalTimeoutMs; });
  if (stopped) return false;

  if (found == 0) {
    Log("Please check the device connection");
    return false;
  }
  Log("Device found");

  std::string text;
  if (ReadDeviceVersion(text) != result::kOk) {
    Log("Error read device version !!!");  // the previous firmware text stays
  } else {
    std::lock_guard<std::mutex> device(DeviceMutex);
    std::lock_guard<std::mutex> report(reportMutex_);
    FirmwareText = Latin1ToUtf8(text);
  }
  Log(FirmwareTextCopy());
  Log("Press 'Start' button for setting device");
  return true;
}

std::string TKtrDevice::SelectAddress(int address) {
  if (address < kFirstBusAddress || address > kLastBusAddress) {
    return "address " + std::to_string(address) + " is outside 1-247";
  }
  const auto device = LockDevice(/*write=*/true);
  SerialSettings s = Settings();
  s.slaveAddress = static_cast<std::uint8_t>(address);
  NoteDeviceAddress(address);
  if (modbus_.OpenPort(s) != result::kOk) {
    NoteDeviceFailure(RequestFailure::Port, {});
    AccessCycle::LogOpenFailure(*this);
    return "the serial port could not be opened (the log says why)";
  }
  std::string latin1;
  std::uint32_t version = 0;
  std::int32_t r = result::kOk;
  {
    PortCloser closer(modbus_);
    r = ReadFirmware(modbus_, latin1, version);
    if (r != result::kOk) NoteDeviceFailure(modbus_.LastFailure(), BlockName(kFirmwareTextLengthRegister, 1));
  }
  if (r != result::kOk) {
    return "address " + std::to_string(address) + " does not answer (error: " + std::to_string(r) + " " +
           ResultText(r) + ")";
  }
  {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    SerialSettings_.slaveAddress = static_cast<std::uint8_t>(address);
  }
  {
    std::lock_guard<std::mutex> report(reportMutex_);
    FirmwareText = Latin1ToUtf8(latin1);
    FirmwareVersion = version;
  }
  ReplaceAddressList({std::to_string(address)});
  Log("Device at address " + std::to_string(address) + ": " + FirmwareTextCopy());
  return {};
}

std::string TKtrDevice::SelectDevice(const std::string& parameters) {
  std::string value;
  bool given = false;
  ForEachField(parameters, [&](const std::string& key, const std::string& v) {
    if (key == "address" && !given) {
      value = v;
      given = true;
    }
  });
  std::string reason;
  int address = 0;
  if (!given) {
    reason = "no address given (address=N, N from 1 to 247)";
  } else {
    try {
      const std::int32_t n = FieldInteger(value);
      if (n < kFirstBusAddress || n > kLastBusAddress) {
        reason = "address " + value + " is outside 1-247";
      } else {
        address = n;
      }
    } catch (const FieldConversionError&) {
      reason = "'" + value + "' is no address (N from 1 to 247)";
    }
  }
  if (reason.empty()) reason = SelectAddress(address);

  JsonReply json;
  json.StartObject();
  if (!reason.empty()) {
    json.Member("answer", "no");
    json.Member("reason", reason);
  } else {
    json.Member("answer", "yes");
    json.Member("address", static_cast<std::uint32_t>(address));
    json.Member("firmware", FirmwareTextCopy());
    json.Member("version", VersionText(FirmwareVersionValue()));
  }
  json.EndObject();
  return json.Text();
}

std::int32_t TKtrDevice::ReadDeviceVersion(std::string& text) {
  const auto device = LockDevice();
  std::int32_t result = modbus_.OpenPort(Settings());
  if (result != result::kOk) return result;
  PortCloser closer(modbus_);
  std::uint32_t version = 0;
  result = ReadFirmware(modbus_, text, version);
  if (result != result::kOk) return result;
  std::lock_guard<std::mutex> report(reportMutex_);
  FirmwareVersion = version;
  return result::kOk;
}

void TKtrDevice::SetFirmware(const std::string& text, std::uint32_t version) {
  std::lock_guard<std::mutex> device(DeviceMutex);
  std::lock_guard<std::mutex> report(reportMutex_);
  FirmwareText = text;
  FirmwareVersion = version;
}

TKtrDevice::DeviceLock TKtrDevice::LockDevice(bool write) {
  cyclesWaiting_.fetch_add(1);
  {
    std::unique_lock<std::mutex> gate(gateMutex_);
    if (write) writesWaiting_.fetch_add(1);
    gateFree_.wait(gate, [&] { return !gateHeld_ && (write || writesWaiting_.load() == 0); });
    if (write) writesWaiting_.fetch_sub(1);
    gateHeld_ = true;
  }
  // The probes of a search of every address take DeviceMutex without the
  // gate, one short probe at a time.
  DeviceMutex.lock();
  cyclesWaiting_.fetch_sub(1);
  return DeviceLock(this);
}

TKtrDevice::DeviceLock& TKtrDevice::DeviceLock::operator=(DeviceLock&& other) noexcept {
  if (this != &other) {
    unlock();
    device_ = other.device_;
    other.device_ = nullptr;
  }
  return *this;
}

void TKtrDevice::DeviceLock::unlock() {
  if (device_ == nullptr) return;
  TKtrDevice& d = *device_;
  device_ = nullptr;
  d.DeviceMutex.unlock();
  {
    std::lock_guard<std::mutex> gate(d.gateMutex_);
    d.gateHeld_ = false;
  }
  d.gateFree_.notify_all();
}

std::unique_lock<std::mutex> TKtrDevice::LockForProbe() {
  probesWaiting_.fetch_add(1);
  while (cyclesWaiting_.load() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::unique_lock<std::mutex> lock(DeviceMutex);
  probesWaiting_.fetch_sub(1);
  return lock;
}

TKtrDevice::Probe TKtrDevice::ProbeAddress(std::uint8_t address, std::int32_t timeoutMs) {
  const auto device = LockForProbe();
  SerialSettings s = Settings();
  s.slaveAddress = address;
  s.timeoutMs = timeoutMs;
  Probe probe;
  probe.code = modbus_.OpenPort(s);
  if (probe.code != result::kOk) {
    AccessCycle::LogOpenFailure(*this);
    probe.failure = RequestFailure::Port;
    return probe;
  }
  PortCloser closer(modbus_);
  std::uint16_t length = 0;  // not the image: it belongs to this object's device
  probe.code = modbus_.ReadHoldingRegisters(kFirmwareTextLengthRegister, 1, &length);
  probe.failure = modbus_.LastFailure();
  probe.replyBytes = modbus_.LastReplyBytes();
  return probe;
}

std::int32_t TKtrDevice::ReadFirmwareAt(std::uint8_t address, std::int32_t timeoutMs, std::string& text,
                                        std::uint32_t& version, RequestFailure* failure) {
  const auto device = LockForProbe();
  SerialSettings s = Settings();
  s.slaveAddress = address;
  s.timeoutMs = timeoutMs;
  std::int32_t result = modbus_.OpenPort(s);
  if (result != result::kOk) {
    AccessCycle::LogOpenFailure(*this);
    if (failure != nullptr) *failure = RequestFailure::Port;
    return result;
  }
  PortCloser closer(modbus_);
  std::string latin1;
  result = ReadFirmware(modbus_, latin1, version);
  if (failure != nullptr) *failure = modbus_.LastFailure();
  if (result == result::kOk) text = Latin1ToUtf8(latin1);
  return result;
}

}  // namespace ktr
