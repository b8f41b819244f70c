// Windows: WaitOnAddress and WakeByAddressAll, which compare the word and
// go to sleep in one step, as a futex does.
//
// Not std::atomic::wait: with mingw-w64's GCC 12, libstdc++ has no futex and
// falls back to a mutex and condition variable, comparing the word before it
// takes the mutex while notify_all does not take it at all. A store and
// notify that land between the comparison and the wait are lost, and both
// sides of the master's hand-off then sleep for ever (seen as ktr-cli hanging
// in one run of five after a read that timed out, under Wine).
#include <windows.h>

#include "word_wait.h"

namespace ktr {

void BlockWhileEquals(const std::atomic<std::uint16_t>& word, std::uint16_t old) {
  // The word is lock-free, so its object representation is the value itself.
  static_assert(std::atomic<std::uint16_t>::is_always_lock_free);
  while (word.load(std::memory_order_acquire) == old) {
    WaitOnAddress(const_cast<std::atomic<std::uint16_t>*>(&word), &old, sizeof old, INFINITE);
  }
}

void WakeBlocked(std::atomic<std::uint16_t>& word) { WakeByAddressAll(&word); }

}  // namespace ktr
