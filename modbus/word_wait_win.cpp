// Windows: a slim reader/writer lock and a condition variable of the system
// (SRWLOCK, CONDITION_VARIABLE), not std::mutex and std::condition_variable:
// with mingw-w64 those go through winpthreads' own emulation.
//
// The sleep re-checks the word once a second. With the word changed under
// the lock no wake-up can be lost, but the one hang of the hand-off ever
// seen (under Wine, while the wait was WaitOnAddress) came from below our
// code: Wine builds both WaitOnAddress and its condition variables on one
// thread-alert mechanism. The re-check bounds what such a platform fault
// can cost to one second instead of a frozen program, and every wait it had
// to rescue is counted, so the tests see it. An idle worker therefore wakes
// once a second on Windows (none on POSIX).
#include <windows.h>

#include "word_wait.h"

namespace ktr {
namespace {

constexpr DWORD kRecheckMs = 1000;
// A sleep that times out just as a store's wake-up is on its way is no
// lost wake-up; one that times out this long after the store is.
constexpr ULONGLONG kLostAfterMs = kRecheckMs / 2;

}  // namespace

struct CommandWord::Sync {
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
  int blocked = 0;           // under `lock`
  ULONGLONG storedAtMs = 0;  // GetTickCount64 of the last Store; under `lock`
};

CommandWord::CommandWord(std::uint16_t initial) : word_(initial), sync_(std::make_unique<Sync>()) {}

CommandWord::~CommandWord() = default;

void CommandWord::Store(std::uint16_t value) {
  AcquireSRWLockExclusive(&sync_->lock);
  word_.store(value, std::memory_order_release);
  sync_->storedAtMs = GetTickCount64();
  const bool wake = sync_->blocked > 0;
  ReleaseSRWLockExclusive(&sync_->lock);
  if (wake) WakeAllConditionVariable(&sync_->changed);
}

void CommandWord::BlockWhileEquals(std::uint16_t old) {
  AcquireSRWLockExclusive(&sync_->lock);
  ++sync_->blocked;
  while (word_.load(std::memory_order_acquire) == old) {
    if (!SleepConditionVariableSRW(&sync_->changed, &sync_->lock, kRecheckMs, 0) &&
        GetLastError() == ERROR_TIMEOUT && word_.load(std::memory_order_acquire) != old &&
        GetTickCount64() - sync_->storedAtMs >= kLostAfterMs) {
      // Timed out long after the word changed while this thread slept: the
      // wake-up of that change never arrived.
      rescued_.fetch_add(1, std::memory_order_relaxed);
    }
  }
  --sync_->blocked;
  ReleaseSRWLockExclusive(&sync_->lock);
}

}  // namespace ktr
