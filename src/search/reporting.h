// Which candidate domains are reported, with their E-values, once the
// number of sequences searched is known. Private to the search.
#pragma once

#include <vector>

#include "search/domains.h"
#include "search/score_law.h"

namespace tormid {

// The hits of a search of z sequences: the candidates that pass, numbered
// along their sequences, in report order.
std::vector<Hit> reported_hits(const std::vector<Candidates>& candidates, const std::vector<ScoreLaw>& laws,
                               const SearchConfig& config, double z);

}  // namespace tormid
