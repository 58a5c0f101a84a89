// Running work on exactly N threads. Private to the search.
#pragma once

#include <tbb/global_control.h>
#include <tbb/task_arena.h>

#include <algorithm>

namespace tormid {

// Runs work() in an arena of `threads` threads (the caller's included).
// The global limit is raised to match, so that asking for more threads
// than cores is honoured (and TBB does not warn about it).
template <class Work>
void run_on_threads(int threads, Work work) {
  threads = std::max(1, threads);
  tbb::global_control limit(tbb::global_control::max_allowed_parallelism, static_cast<std::size_t>(threads));
  tbb::task_arena arena(threads);
  arena.execute(work);
}

}  // namespace tormid
