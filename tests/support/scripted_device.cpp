#include "scripted_device.h"

#include <chrono>

namespace ktr::test {

ScriptedDevice::ScriptedDevice(const PtyPair& pty, Script script)
    : pty_(pty), script_(std::move(script)), thread_([this] { Serve(); }) {}

ScriptedDevice::~ScriptedDevice() {
  stop_ = true;
  thread_.join();
}

std::vector<Bytes> ScriptedDevice::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void ScriptedDevice::Serve() {
  Bytes pending;
  while (!stop_) {
    Bytes more = pty_.ReadMaster(1, 20);
    pending.insert(pending.end(), more.begin(), more.end());
    if (pending.size() < 8) continue;
    std::size_t length = 8;
    if (pending[1] == 15 || pending[1] == 16) {
      length = 9U + pending[6];
      if (pending.size() < length) {
        Bytes rest = pty_.ReadMaster(length - pending.size(), 500);
        pending.insert(pending.end(), rest.begin(), rest.end());
        if (pending.size() < length) continue;
      }
    }
    Bytes request(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(length));
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(length));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    const ScriptedReply reply = script_(request);
    if (reply.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMs));
    if (!reply.bytes.empty()) pty_.WriteMaster(reply.bytes);
  }
}

}  // namespace ktr::test
