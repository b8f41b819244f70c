#include "access_cycle.h"

#include <chrono>
#include <thread>

#include "serial_port_text.h"

namespace ktr {

AccessCycle::AccessCycle(TKtrDevice& device) : device_(device), lock_(device.DeviceMutex) {
  if (device_.modbus_.OpenPort(device_.Settings()) != 0) {
    device_.Log("Error open port !!!");
    LogOpenFailure(device_);
    lock_.unlock();
    return;
  }
  opened_ = true;
}

AccessCycle::~AccessCycle() { Close(); }

std::int32_t AccessCycle::Read(std::uint16_t start, std::uint16_t count, std::size_t place,
                               const std::string& errorLine) {
  return device_.ReadBlock(start, count, place, errorLine);
}

void AccessCycle::LogOpenFailure(TKtrDevice& device) {
  device.Log(OpenFailureDetail(device.modbus_.LastOpenFailure()));
}

void AccessCycle::LogLineErrors(TKtrDevice& device) {
  if (const auto moved = device.modbus_.LineErrorsOfLastRequest()) {
    if (const std::string text = LineErrorsText(*moved); !text.empty()) device.Log(text);
  }
}

void AccessCycle::Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

void AccessCycle::Close() {
  if (opened_) {
    device_.modbus_.ClosePort();
    opened_ = false;
  }
}

}  // namespace ktr
