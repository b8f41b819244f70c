// Blocking on a 16-bit atomic word until another thread changes it: the
// master's command word. One source file per platform (word_wait_posix.cpp,
// word_wait_win.cpp): std::atomic::wait is only as good as the standard
// library under it, and GCC 12's libstdc++ without futexes (mingw-w64) can
// lose a wake-up.
#pragma once

#include <atomic>
#include <cstdint>

namespace ktr {

// Returns once `word` no longer holds `old` (the change is seen with
// acquire ordering).
void BlockWhileEquals(const std::atomic<std::uint16_t>& word, std::uint16_t old);

// Wakes every thread blocked on `word`; call after storing the new value.
void WakeBlocked(std::atomic<std::uint16_t>& word);

}  // namespace ktr
