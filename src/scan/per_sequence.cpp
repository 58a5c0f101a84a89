#include "scan/per_sequence.h"

#include <algorithm>

namespace tormid::scan {

std::vector<std::vector<std::size_t>> overlapping(const std::vector<const Hit*>& ordered) {
  std::vector<std::vector<std::size_t>> overlaps(ordered.size());
  for (std::size_t first = 0; first < ordered.size();) {
    std::size_t last = first;  // one past this sequence's hits
    while (last < ordered.size() && ordered[last]->record == ordered[first]->record) ++last;
    // Sorted by start: a hit overlaps those after it that start before it ends.
    for (std::size_t a = first; a < last; ++a)
      for (std::size_t b = a + 1; b < last && ordered[b]->seq_from <= ordered[a]->seq_to; ++b) {
        overlaps[a].push_back(b);
        overlaps[b].push_back(a);
      }
    first = last;
  }
  for (auto& list : overlaps) std::sort(list.begin(), list.end());
  return overlaps;
}

}  // namespace tormid::scan
