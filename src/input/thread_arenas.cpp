#include "input/thread_arenas.h"

#include <map>
#include <mutex>
#include <vector>

namespace tormid {
namespace {

struct ArenaPool {
  std::mutex mutex;
  std::map<int, std::vector<std::unique_ptr<tbb::task_arena>>> idle;
};

// Never destroyed: arenas torn down while the program exits would race
// oneTBB's own shutdown, and the pool stays reachable, so nothing is reported
// as leaked.
ArenaPool& pool() {
  static ArenaPool* const instance = new ArenaPool;
  return *instance;
}

}  // namespace

ArenaLease::ArenaLease(int threads) : threads_(threads) {
  {
    ArenaPool& arenas = pool();
    const std::lock_guard lock(arenas.mutex);
    std::vector<std::unique_ptr<tbb::task_arena>>& idle = arenas.idle[threads];
    if (!idle.empty()) {
      arena_ = std::move(idle.back());
      idle.pop_back();
    }
  }
  if (!arena_) arena_ = std::make_unique<tbb::task_arena>(threads);
}

ArenaLease::~ArenaLease() {
  ArenaPool& arenas = pool();
  const std::lock_guard lock(arenas.mutex);
  try {
    arenas.idle[threads_].push_back(std::move(arena_));
  } catch (...) {
    // No room to keep it: the arena is simply dropped.
  }
}

}  // namespace tormid
