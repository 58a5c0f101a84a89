// Iterative search: search, take the significant domains into the family
// of each profile, build the profile again, search again, as jackhmmer and
// PSI-BLAST do. The positions stay the profile's: each round's family is
// the profile's seed (the sequence or alignment it was built from, where
// it has one) and the included domains, each aligned to the positions.
#pragma once

#include <functional>
#include <span>
#include <vector>

#include "builder/builder.h"
#include "search/search.h"

namespace tormid {

// A sequence joins a profile's family when its sequence E-value is at most
// inclusion_evalue; with it, each of its domains whose E-value among the
// sequences reported (its P-value times their number) is too, as in
// HMMER's inclusion (a weaker repeat of a significant protein joins).
struct IterationSettings {
  int rounds = 1;
  double inclusion_evalue = 1e-3;
};

// One round's search of these profiles (with their stored laws, empty for
// profiles built in an earlier round). Alignment lines must be kept for
// every round but the last.
using RoundSearch = std::function<SearchResult(std::span<const Profile> profiles, std::span<const StoredLaw> laws,
                                               bool keep_alignments)>;

struct RoundReport {
  int round = 0;
  int profiles_searched = 0;
  std::vector<Hit> new_hits;  // hits of sequences that had none with their profile before (profile indices as given)
  SearchStats stats;
  double calibration_seconds = 0;
};

struct IterativeResult {
  // Each profile's hits from its last round (report order, profile
  // indices as given), the round each hit's sequence first had one, and
  // the statistics of every round added up.
  SearchResult result;
  std::vector<int> joined;  // one per hit
  std::vector<RoundReport> rounds;
  std::vector<int> last_round;  // per profile: the round it stopped at
};

// The domains of a search aligned to a profile's positions, as a family:
// each domain a row (named "sequence/from-to"), the positions it does not
// reach gaps.
Family family_of_hits(const std::string& name, int positions, const std::vector<const Hit*>& hits);

// Up to settings.rounds rounds; a profile stops early when the domains it
// includes are those of its round before, or when it includes none. The
// result is the same on any number of threads or processes.
IterativeResult search_iteratively(std::span<const Profile> profiles, std::span<const StoredLaw> laws,
                                   std::span<const Family> seeds, const IterationSettings& settings,
                                   const RoundSearch& search_round);

}  // namespace tormid
