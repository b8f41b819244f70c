#include "access_cycle.h"

#include <chrono>
#include <thread>

#include "serial_port_text.h"

namespace ktr {
namespace {

struct DeviceStatus {
  bool touched = false;
  std::string failure;  // empty: every request succeeded
  int address = 0;      // the bus address of the device the reply touched
  bool write = false;
  bool silent = false;  // a request found no reply or no port
  bool readsEnded = false;
  int expectedAddress = 0;
  bool other = false;  // another device than the expected one was in use
  std::function<void()> onLocked;
};

thread_local DeviceStatus replyStatus;
thread_local AccessCycle* currentCycle = nullptr;

const char* FailureName(RequestFailure failure) {
  switch (failure) {
    case RequestFailure::None:
    case RequestFailure::Port:
    case RequestFailure::Refused: return "port-error";
    case RequestFailure::NoReply: return "no-reply";
    case RequestFailure::BadReply: return "bad-reply";
    case RequestFailure::Exception: return "exception";
  }
  return "port-error";
}

}  // namespace

void BeginDeviceStatus(bool write, std::function<void()> onLocked, int expectedAddress) {
  replyStatus = DeviceStatus{};
  replyStatus.write = write;
  replyStatus.expectedAddress = expectedAddress;
  replyStatus.onLocked = std::move(onLocked);
}

bool DeviceSilentInReply() { return replyStatus.silent; }

void EndReadsOfReply() { replyStatus.readsEnded = true; }

bool ReadsOfReplyEnded() { return replyStatus.readsEnded; }

bool DeviceWasOther() { return replyStatus.other; }

std::string TakeDeviceStatus(int* address) {
  DeviceStatus status = std::move(replyStatus);
  replyStatus = DeviceStatus{};
  if (address != nullptr) *address = status.touched ? status.address : 0;
  if (!status.touched) return {};
  return status.failure.empty() ? std::string("ok") : status.failure;
}

void NoteDeviceAddress(int address) {
  replyStatus.touched = true;
  replyStatus.address = address;
}

void NoteDeviceFailure(RequestFailure failure, const std::string& block) {
  replyStatus.touched = true;
  if (failure == RequestFailure::NoReply || failure == RequestFailure::Port) replyStatus.silent = true;
  if (!replyStatus.failure.empty()) return;  // the first failure is the one reported
  replyStatus.failure = FailureName(failure);
  if (!block.empty()) replyStatus.failure += " " + block;
}

AccessCycle::AccessCycle(TKtrDevice& device)
    : device_(device), lock_(device.LockDevice(replyStatus.write)), outer_(currentCycle) {
  currentCycle = this;
  if (replyStatus.onLocked) {
    auto locked = std::move(replyStatus.onLocked);
    replyStatus.onLocked = nullptr;
    locked();
  }
  Open();
}

void AccessCycle::Open() {
  const SerialSettings settings = device_.Settings();
  NoteDeviceAddress(settings.slaveAddress);
  if (replyStatus.expectedAddress != 0 && replyStatus.expectedAddress != settings.slaveAddress) {
    replyStatus.other = true;
    lock_.unlock();
    return;
  }
  if (device_.modbus_.OpenPort(settings) != result::kOk) {
    NoteDeviceFailure(RequestFailure::Port, {});
    LogOpenFailure(device_);
    lock_.unlock();
    return;
  }
  opened_ = true;
  device_.linkLossLogged_ = false;
}

AccessCycle::~AccessCycle() {
  Close();
  currentCycle = outer_;
}

AccessCycle* AccessCycle::Current() { return currentCycle; }

bool AccessCycle::GiveWay() {
  Close();
  lock_.unlock();
  lock_ = device_.LockDevice(replyStatus.write);
  Open();
  return opened_;
}

std::int32_t AccessCycle::Read(const table::BlockRead& block) { return device_.ReadBlock(block); }

void AccessCycle::LogOpenFailure(TKtrDevice& device) {
  device.Log("Error open port !!!");
  device.Log(OpenFailureDetail(device.modbus_.LastOpenFailure()));
}

void AccessCycle::LogLinkLoss(TKtrDevice& device) {
  const TModbus& modbus = device.modbus_;
  if (device.linkLossLogged_ || modbus.LastFailure() != RequestFailure::Port ||
      modbus.LastLinkError().kind != SerialErrorKind::Disconnected) {
    return;
  }
  device.linkLossLogged_ = true;
  device.Log(OpenFailureDetail(modbus.LastLinkError()));
}

void AccessCycle::LogLineErrors(TKtrDevice& device) {
  if (const auto moved = device.modbus_.LineErrorsOfLastRequest()) {
    if (const std::string text = LineErrorsText(*moved); !text.empty()) device.Log(text);
  }
}

std::int32_t AccessCycle::Write(std::uint16_t start, const std::uint16_t* words, std::uint16_t count) {
  TModbus& modbus = device_.modbus_;
  const std::int32_t r = count == 1 ? modbus.WriteSingleRegister(start, words[0])
                                    : modbus.WriteMultipleRegisters(start, count, words);
  device_.NoteResult(r, BlockName(start, count));
  return r;
}

std::string BlockName(std::uint16_t start, std::uint16_t count) {
  std::string name = "SET_" + std::to_string(start);
  if (count > 1) name += "_" + std::to_string(start + count - 1);
  return name;
}

void AccessCycle::Pause() {
  if (ReadsOfReplyEnded()) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void AccessCycle::Close() {
  if (opened_) {
    device_.modbus_.ClosePort();
    opened_ = false;
  }
}

}  // namespace ktr
