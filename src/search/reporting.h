// Which candidate domains are reported, with their E-values, once the
// number of sequences searched is known. Private to the search.
#pragma once

#include <vector>

#include "search/domains.h"
#include "search/score_law.h"

namespace tormid {

// A sequence's E-value against a profile sums the significance of its
// domains with an E-value at most this, whatever the threshold of the
// report: the domain search looks at least this far.
inline constexpr double kSummedDomainsEvalue = 10;

// The chance count of a domain in a sequence of seq_len residues: the
// law's at its score less its composition's bias.
double domain_expected_count(const Domain& d, const ScoreLaw& law, int seq_len);

// The hits of a search of z sequences: the candidates that pass, numbered
// along their sequences, in report order.
std::vector<Hit> reported_hits(const std::vector<Candidates>& candidates, const std::vector<ScoreLaw>& laws,
                               const SearchConfig& config, double z);

}  // namespace tormid
