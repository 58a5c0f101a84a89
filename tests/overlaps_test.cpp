// Resolving overlaps between profiles: checked on random domains against
// what an architecture must be, whatever the order the hits come in.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "search/search.h"

namespace {

using namespace tormid;

std::vector<Hit> random_hits(std::mt19937_64& rng, bool with_evalues) {
  std::vector<Hit> hits;
  for (std::uint64_t record = 0; record < 30; ++record)
    for (int profile = 0; profile < 5; ++profile) {
      // Domains of one pair do not overlap each other.
      int at = 1 + static_cast<int>(rng() % 20);
      for (int d = 0, n = static_cast<int>(rng() % 3); d < n; ++d) {
        Hit h;
        h.record = record;
        h.profile = profile;
        h.seq_len = 400;
        h.seq_from = at;
        h.seq_to = at + 5 + static_cast<int>(rng() % 80);
        at = h.seq_to + 1 + static_cast<int>(rng() % 30);
        // Ties in E-value too, which the score then decides.
        h.score = static_cast<double>(rng() % 50);
        h.evalue = with_evalues ? std::ldexp(1.0, -static_cast<int>(rng() % 12)) : NAN;
        hits.push_back(h);
      }
    }
  return hits;
}

bool too_much(const Hit& a, const Hit& b) {
  const int shared = std::min(a.seq_to, b.seq_to) - std::max(a.seq_from, b.seq_from) + 1;
  const int shorter = std::min(a.seq_to - a.seq_from, b.seq_to - b.seq_from) + 1;
  return a.record == b.record && a.profile != b.profile && 2 * shared > shorter;
}

bool better(const Hit& a, const Hit& b) {
  if (a.evalue < b.evalue || b.evalue < a.evalue) return a.evalue < b.evalue;
  return a.score > b.score || (a.score == b.score && std::tie(a.profile, a.seq_from) < std::tie(b.profile, b.seq_from));
}

using Key = std::tuple<std::uint64_t, int, int, int>;
Key key(const Hit& h) { return {h.record, h.profile, h.seq_from, h.seq_to}; }

TEST(ResolveOverlaps, KeepsTheMostSignificantOfEachOverlapInAnyOrder) {
  std::mt19937_64 rng(8);
  for (int trial = 0; trial < 40; ++trial) {
    std::vector<Hit> hits = random_hits(rng, trial % 4 != 3);
    sort_hits(hits);
    const ResolvedHits resolved = resolve_overlaps(hits);
    std::set<Key> kept;
    for (std::size_t k = 0; k < resolved.hits.size(); ++k) {
      const Hit& h = resolved.hits[k];
      kept.insert(key(h));
      // Taken from the hit it names, in the same order, its values kept.
      ASSERT_LT(resolved.sources[k], hits.size());
      EXPECT_EQ(key(hits[resolved.sources[k]]), key(h));
      EXPECT_EQ(hits[resolved.sources[k]].score, h.score);
      if (k > 0) {
        EXPECT_LT(resolved.sources[k - 1], resolved.sources[k]);
      }
      for (const Hit& other : resolved.hits) EXPECT_FALSE(too_much(h, other)) << "two kept overlap";
    }
    // Whatever was dropped lost to a kept domain that is more significant.
    for (const Hit& h : hits) {
      if (kept.count(key(h))) continue;
      EXPECT_TRUE(std::any_of(resolved.hits.begin(), resolved.hits.end(),
                              [&](const Hit& k) { return too_much(h, k) && better(k, h); }))
          << "a domain dropped for nothing";
    }
    // Each pair's kept domains are numbered 1..n along the sequence.
    std::map<std::pair<std::uint64_t, int>, std::vector<const Hit*>> pairs;
    for (const Hit& h : resolved.hits) pairs[{h.record, h.profile}].push_back(&h);
    for (auto& [pair, domains] : pairs) {
      std::sort(domains.begin(), domains.end(), [](const Hit* a, const Hit* b) { return a->seq_from < b->seq_from; });
      for (std::size_t d = 0; d < domains.size(); ++d) {
        EXPECT_EQ(domains[d]->domain, static_cast<int>(d) + 1);
        EXPECT_EQ(domains[d]->n_domains, static_cast<int>(domains.size()));
      }
    }
    // The same architecture from the hits in another order.
    std::shuffle(hits.begin(), hits.end(), rng);
    std::set<Key> again;
    for (const Hit& h : resolve_overlaps(hits).hits) again.insert(key(h));
    EXPECT_EQ(again, kept);
  }
}

}  // namespace
