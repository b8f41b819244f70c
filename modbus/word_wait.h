// The master's command word: a 16-bit value that one thread changes and
// another waits on. Every change is made under the word's lock and every
// waiter checks the word under that same lock before it sleeps, so a change
// can never fall between a waiter's last look and its sleep: no wake-up is
// lost, whatever the timing, by construction rather than by a primitive's
// promise. Reads stay lock-free, so a side that only looks at the word (the
// master's short look before it blocks) never takes the lock.
//
// One source file per platform (word_wait_posix.cpp, word_wait_win.cpp)
// holds the lock and the condition to sleep on.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace ktr {

class CommandWord {
 public:
  explicit CommandWord(std::uint16_t initial);
  ~CommandWord();
  CommandWord(const CommandWord&) = delete;
  CommandWord& operator=(const CommandWord&) = delete;

  // The current value, with acquire ordering: what the changing thread wrote
  // before Store is visible once its value is seen.
  std::uint16_t Load() const { return word_.load(std::memory_order_acquire); }

  // Sets the word and wakes every thread blocked on it.
  void Store(std::uint16_t value);

  // Returns once the word no longer holds `old`.
  void BlockWhileEquals(std::uint16_t old);

  // Blocked waits that the platform's periodic re-check had to end although
  // the word had changed: wake-ups the platform lost. Always 0 where the
  // wait has no re-check (POSIX); on Windows a non-zero count is a fault of
  // the system's condition variable (tests assert 0).
  std::uint64_t RescuedWaits() const { return rescued_.load(std::memory_order_relaxed); }

 private:
  struct Sync;  // the platform's lock and condition variable

  std::atomic<std::uint16_t> word_;
  std::unique_ptr<Sync> sync_;
  std::atomic<std::uint64_t> rescued_{0};
};

}  // namespace ktr
