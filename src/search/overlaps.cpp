// Overlaps between the domains of different profiles on one sequence,
// resolved the way a domain architecture is drawn: the most significant
// domain keeps its stretch.
#include <algorithm>
#include <cmath>
#include <map>

#include "search/search.h"

namespace tormid {

namespace {

// More significant first: the lower E-value, else (without E-values) the
// higher score; then input order and position, so that the outcome never
// depends on how the hits came.
bool more_significant(const Hit& a, const Hit& b) {
  if (a.evalue < b.evalue || b.evalue < a.evalue) return a.evalue < b.evalue;
  if (a.score != b.score) return a.score > b.score;
  if (a.profile != b.profile) return a.profile < b.profile;
  return a.seq_from < b.seq_from;
}

bool overlap_too_much(const Hit& a, const Hit& b, double share) {
  const int shared = std::min(a.seq_to, b.seq_to) - std::max(a.seq_from, b.seq_from) + 1;
  const int shorter = std::min(a.seq_to - a.seq_from, b.seq_to - b.seq_from) + 1;
  return shared > 0 && static_cast<double>(shared) > share * static_cast<double>(shorter);
}

}  // namespace

ResolvedHits resolve_overlaps(const std::vector<Hit>& hits, double share) {
  // Each sequence's hits, most significant first.
  std::vector<std::size_t> order(hits.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (hits[a].record != hits[b].record) return hits[a].record < hits[b].record;
    return more_significant(hits[a], hits[b]);
  });
  std::vector<char> kept(hits.size(), 0);
  for (std::size_t first = 0; first < order.size();) {
    std::size_t last = first;
    while (last < order.size() && hits[order[last]].record == hits[order[first]].record) ++last;
    std::vector<std::size_t> taken;
    for (std::size_t k = first; k < last; ++k) {
      const Hit& h = hits[order[k]];
      const bool loses = std::any_of(taken.begin(), taken.end(), [&](std::size_t t) {
        return hits[t].profile != h.profile && overlap_too_much(hits[t], h, share);
      });
      if (loses) continue;
      kept[order[k]] = 1;
      taken.push_back(order[k]);
    }
    first = last;
  }
  ResolvedHits resolved;
  for (std::size_t k = 0; k < hits.size(); ++k)
    if (kept[k]) {
      resolved.hits.push_back(hits[k]);
      resolved.sources.push_back(k);
    }
  // A pair's domains numbered again along the sequence, among those kept.
  std::map<std::pair<std::uint64_t, int>, std::vector<Hit*>> pairs;
  for (Hit& h : resolved.hits) pairs[{h.record, h.profile}].push_back(&h);
  for (auto& [pair, domains] : pairs) {
    std::sort(domains.begin(), domains.end(), [](const Hit* a, const Hit* b) { return a->seq_from < b->seq_from; });
    for (std::size_t k = 0; k < domains.size(); ++k) {
      domains[k]->domain = static_cast<int>(k) + 1;
      domains[k]->n_domains = static_cast<int>(domains.size());
    }
  }
  return resolved;
}

}  // namespace tormid
