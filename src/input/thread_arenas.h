// Running work on exactly N threads, for the readers and the search.
#pragma once

#include <tbb/global_control.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <utility>

namespace tormid {

// A task arena of `threads` threads, borrowed from a process-wide pool for
// as long as the lease lives. oneTBB keeps memory for arenas that are made
// and dropped in quick succession, so a library called thousands of times
// (read_profiles or scan in a Python loop) grew without bound when each call
// made its own. The pool holds, for each thread count, as many arenas as
// callers ever used at once; callers never share one, so concurrent calls
// keep their own threads.
class ArenaLease {
 public:
  explicit ArenaLease(int threads);
  ~ArenaLease();
  ArenaLease(const ArenaLease&) = delete;
  ArenaLease& operator=(const ArenaLease&) = delete;

  tbb::task_arena& arena() { return *arena_; }

 private:
  int threads_;
  std::unique_ptr<tbb::task_arena> arena_;
};

// Runs work() on `threads` threads (the caller's included) and returns what
// it returns. The global limit is raised to match, so that asking for more
// threads than cores is honoured (and TBB does not warn about it).
template <class Work>
decltype(auto) run_on_threads(int threads, Work&& work) {
  threads = std::max(1, threads);
  tbb::global_control limit(tbb::global_control::max_allowed_parallelism, static_cast<std::size_t>(threads));
  ArenaLease lease(threads);
  return lease.arena().execute(std::forward<Work>(work));
}

}  // namespace tormid
