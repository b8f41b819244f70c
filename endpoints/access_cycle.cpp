#include "access_cycle.h"

#include <chrono>
#include <thread>

#include "serial_port_text.h"

namespace ktr {
namespace {

struct DeviceStatus {
  bool touched = false;
  std::string failure;  // empty: every request succeeded
};

thread_local DeviceStatus replyStatus;

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

void BeginDeviceStatus() { replyStatus = DeviceStatus{}; }

std::string TakeDeviceStatus() {
  DeviceStatus status = std::move(replyStatus);
  replyStatus = DeviceStatus{};
  if (!status.touched) return {};
  return status.failure.empty() ? std::string("ok") : status.failure;
}

void NoteDeviceFailure(RequestFailure failure, const std::string& block) {
  replyStatus.touched = true;
  if (!replyStatus.failure.empty()) return;  // the first failure is the one reported
  replyStatus.failure = FailureName(failure);
  if (!block.empty()) replyStatus.failure += " " + block;
}

AccessCycle::AccessCycle(TKtrDevice& device) : device_(device), lock_(device.LockDevice()) {
  replyStatus.touched = true;
  if (device_.modbus_.OpenPort(device_.Settings()) != result::kOk) {
    NoteDeviceFailure(RequestFailure::Port, {});
    LogOpenFailure(device_);
    lock_.unlock();
    return;
  }
  opened_ = true;
  device_.linkLossLogged_ = false;
}

AccessCycle::~AccessCycle() { Close(); }

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

void AccessCycle::Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

void AccessCycle::Close() {
  if (opened_) {
    device_.modbus_.ClosePort();
    opened_ = false;
  }
}

}  // namespace ktr
