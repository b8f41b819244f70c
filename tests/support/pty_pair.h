// A pseudo-terminal pair for tests: the code under test opens the slave side
// by its path, the test plays the device on the master side. One slave fd is
// kept open here for the pair's lifetime, so that the master never sees a
// hang-up when the code under test closes its port between requests.
#pragma once

#include <cstdint>
#include <string>

#include "frame_hex.h"

namespace ktr::test {

class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  int master() const { return master_; }
  const std::string& slavePath() const { return slavePath_; }

  // Reads from the master until `n` bytes have arrived or `timeoutMs` passed.
  Bytes ReadMaster(std::size_t n, int timeoutMs) const;
  // Reads whatever arrives until the line stays quiet for `quietMs`.
  Bytes DrainMaster(int quietMs) const;
  void WriteMaster(const Bytes& bytes) const;

 private:
  int master_ = -1;
  int slaveKeeper_ = -1;
  std::string slavePath_;
};

}  // namespace ktr::test
