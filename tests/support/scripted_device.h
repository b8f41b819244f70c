// A device on the master side of a PtyPair that answers each request frame
// with bytes chosen by the test: exact replies, cut replies, corrupted ones,
// late ones or none. Requests are split by the Modbus RTU request lengths
// (8 bytes, or 9 + byte count for functions 15 and 16) and recorded.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "pty_pair.h"

namespace ktr::test {

struct ScriptedReply {
  Bytes bytes;      // what to send back (empty: stay silent)
  int delayMs = 0;  // wait before sending
};

class ScriptedDevice {
 public:
  using Script = std::function<ScriptedReply(const Bytes& request)>;

  ScriptedDevice(const PtyPair& pty, Script script);
  ~ScriptedDevice();
  ScriptedDevice(const ScriptedDevice&) = delete;
  ScriptedDevice& operator=(const ScriptedDevice&) = delete;

  std::vector<Bytes> Requests() const;

 private:
  void Serve();

  const PtyPair& pty_;
  Script script_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<Bytes> requests_;
  std::thread thread_;
};

}  // namespace ktr::test
