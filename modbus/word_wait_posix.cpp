// POSIX: std::atomic::wait and notify_all. On Linux libstdc++ waits on a
// futex keyed by the word's address, which the kernel checks and sleeps on
// in one step, so no wake-up is lost.
#include "word_wait.h"

namespace ktr {

void BlockWhileEquals(const std::atomic<std::uint16_t>& word, std::uint16_t old) {
  word.wait(old, std::memory_order_acquire);
}

void WakeBlocked(std::atomic<std::uint16_t>& word) { word.notify_all(); }

}  // namespace ktr
