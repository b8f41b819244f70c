// POSIX: std::mutex and std::condition_variable (pthread). A blocked waiter
// sleeps without a time-out, so an idle worker costs no wake-ups at all.
#include <condition_variable>
#include <mutex>

#include "word_wait.h"

namespace ktr {

struct CommandWord::Sync {
  std::mutex lock;
  std::condition_variable changed;
  int blocked = 0;  // threads inside BlockWhileEquals' sleep; under `lock`
};

CommandWord::CommandWord(std::uint16_t initial) : word_(initial), sync_(std::make_unique<Sync>()) {}

CommandWord::~CommandWord() = default;

void CommandWord::Store(std::uint16_t value) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> hold(sync_->lock);
    word_.store(value, std::memory_order_release);
    wake = sync_->blocked > 0;
  }
  // Outside the lock: a waiter woken here can take the lock at once. It was
  // already asleep (it counted itself under the lock before the store), so
  // it cannot miss this.
  if (wake) sync_->changed.notify_all();
}

void CommandWord::BlockWhileEquals(std::uint16_t old) {
  std::unique_lock<std::mutex> hold(sync_->lock);
  ++sync_->blocked;
  sync_->changed.wait(hold, [&] { return word_.load(std::memory_order_acquire) != old; });
  --sync_->blocked;
}

}  // namespace ktr
