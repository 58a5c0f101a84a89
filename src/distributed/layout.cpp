#include "distributed/layout.h"

#include <algorithm>
#include <limits>

namespace tormid::distributed {

RecordRange Layout::range(long long unit) const {
  const auto r = static_cast<std::uint64_t>(unit / chunks);
  const auto n = static_cast<std::uint64_t>(ranges);
  return {file_size * r / n, r + 1 == n ? std::numeric_limits<std::uint64_t>::max() : file_size * (r + 1) / n};
}

Layout layout(std::uint64_t file_size, std::span<const Profile> profiles, int processes) {
  Layout l;
  l.file_size = file_size;
  const long long wanted = 16LL * processes;
  l.ranges = std::clamp<long long>(static_cast<long long>(file_size / (64 * 1024)), 1, wanted);
  l.chunks = std::clamp<long long>((wanted + l.ranges - 1) / l.ranges, 1, static_cast<long long>(profiles.size()));
  // Positions before each profile.
  std::vector<std::uint64_t> before(profiles.size() + 1, 0);
  for (std::size_t p = 0; p < profiles.size(); ++p)
    before[p + 1] = before[p] + static_cast<std::uint64_t>(profiles[p].length());
  const int count = static_cast<int>(profiles.size());
  const auto chunks = static_cast<std::uint64_t>(l.chunks);
  l.chunk_starts.push_back(0);
  for (long long c = 1; c < l.chunks; ++c) {
    // Where c / chunks of the positions lie before, leaving at least one
    // profile to every chunk.
    int start = l.chunk_starts.back() + 1;
    const std::uint64_t share = before.back() * static_cast<std::uint64_t>(c);
    while (start < count && before[static_cast<std::size_t>(start)] * chunks < share) ++start;
    l.chunk_starts.push_back(std::min(start, count - static_cast<int>(l.chunks - c)));
  }
  l.chunk_starts.push_back(count);
  return l;
}

void RecordsDone::finished(long long unit, std::uint64_t records) {
  if (unit < 0 || unit % layout_.chunks != 0) return;
  const std::lock_guard<std::mutex> lock(mutex_);
  counted_[static_cast<std::size_t>(layout_.range_of(unit))] = records;
  total_ += records;
}

std::uint64_t RecordsDone::before(long long unit) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return total_ - counted_[static_cast<std::size_t>(layout_.range_of(unit))];
}

}  // namespace tormid::distributed
