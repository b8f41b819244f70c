// A device played by the test itself on a pseudo-terminal: it answers
// "read holding registers" (function 3) from a register map that the test
// sets and changes at will, answers exception 2 when a request touches a
// register outside the map, stays silent for other bus addresses, and
// records every request frame in order. For what ktr-sim cannot do: a clock
// that stands still, a block that is missing only for one request, replies
// that come late, and the exact request bytes on the line.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "pty_pair.h"
#include "scripted_device.h"
#include "serial_settings.h"

namespace ktr::test {

class RegisterMapDevice {
 public:
  explicit RegisterMapDevice(std::uint8_t address = 1)
      : address_(address), device_(pty_, [this](const Bytes& request) { return Reply(request); }) {}

  // Settings that reach this device.
  SerialSettings Settings() const {
    SerialSettings s;
    s.portName = pty_.slavePath();
    s.slaveAddress = address_;
    return s;
  }

  void Set(std::uint16_t start, const std::vector<std::uint16_t>& values) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < values.size(); ++i) map_[static_cast<std::uint16_t>(start + i)] = values[i];
  }
  void Remove(std::uint16_t start, std::uint16_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::uint32_t a = start; a < std::uint32_t{start} + count; ++a)
      map_.erase(static_cast<std::uint16_t>(a));
  }
  // Wait before every reply from now on.
  void SetReplyDelay(int ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    delayMs_ = ms;
  }

  std::vector<Bytes> Requests() const { return device_.Requests(); }
  // (start, count) of every request so far, from the request frames.
  std::vector<std::pair<unsigned, unsigned>> Reads() const {
    std::vector<std::pair<unsigned, unsigned>> reads;
    for (const Bytes& r : device_.Requests()) {
      reads.emplace_back((r[2] << 8U) | r[3], (r[4] << 8U) | r[5]);
    }
    return reads;
  }

 private:
  ScriptedReply Reply(const Bytes& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (request[0] != address_) return {};
    if (request[1] != 3)
      return {WithCrc({address_, static_cast<std::uint8_t>(request[1] | 0x80), 1}), delayMs_};
    const unsigned start = (request[2] << 8U) | request[3];
    const unsigned count = (request[4] << 8U) | request[5];
    Bytes reply{address_, 3, static_cast<std::uint8_t>(2 * count)};
    for (unsigned a = start; a < start + count; ++a) {
      const auto it = map_.find(static_cast<std::uint16_t>(a));
      if (a > 0xFFFF || it == map_.end()) return {WithCrc({address_, 0x83, 2}), delayMs_};
      reply.push_back(static_cast<std::uint8_t>(it->second >> 8));
      reply.push_back(static_cast<std::uint8_t>(it->second & 0xFF));
    }
    return {WithCrc(reply), delayMs_};
  }

  const std::uint8_t address_;
  PtyPair pty_;
  std::mutex mutex_;
  std::map<std::uint16_t, std::uint16_t> map_;
  int delayMs_ = 0;
  ScriptedDevice device_;  // last: its thread uses the members above
};

}  // namespace ktr::test
