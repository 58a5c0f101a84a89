// How a distributed search cuts its work into units: byte ranges of the
// database times ranges of profiles. Plain logic, no MPI. Private to the
// distribution.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "search/records.h"

namespace tormid::distributed {

// `ranges` byte ranges of the database times `chunks` ranges of profiles,
// with about as many positions each; unit u is range u / chunks of
// profile chunk u % chunks.
struct Layout {
  std::uint64_t file_size = 0;
  long long ranges = 1, chunks = 1;
  std::vector<int> chunk_starts;  // chunks + 1 profile indices

  long long units() const { return ranges * chunks; }
  long long range_of(long long unit) const { return unit / chunks; }
  RecordRange range(long long unit) const;
};

// Enough units that every process stays busy to the end: about 16 per
// process, byte ranges of at least 64 KiB, and profile ranges when the
// database alone does not make that many.
Layout layout(std::uint64_t file_size, std::span<const Profile> profiles, int processes);

// The records of the byte ranges searched so far (each counted once, by
// its first unit): with Z unknown until the end, the running threshold of a
// unit may count on those of the other ranges. Safe from any thread.
class RecordsDone {
 public:
  explicit RecordsDone(const Layout& l) : layout_(l), counted_(static_cast<std::size_t>(l.ranges), 0) {}
  void finished(long long unit, std::uint64_t records);
  std::uint64_t before(long long unit) const;

 private:
  const Layout& layout_;
  mutable std::mutex mutex_;
  std::vector<std::uint64_t> counted_;
  std::uint64_t total_ = 0;
};

}  // namespace tormid::distributed
