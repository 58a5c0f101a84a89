// The composition correction: how a sequence's own composition moves the
// scores chance alone reaches, and so the E-values of its domains. The
// whole policy (what is shuffled, how often, when it stops) lives in
// composition.cpp. Private to the search.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "search/domains.h"
#include "search/score_law.h"

namespace tormid {

// Sets each domain's composition_expected: the chance count of its score
// for the composition of its sequence (and, for a domain of low
// complexity, of its own surroundings). The search's seed and the
// profile's index make the shuffles the same on every run; cells counts
// the matrix cells aligned. reportable(count, score) says whether a domain
// of that chance count and score could be reported: a domain that could
// not, even with many times fewer chance domains than the shuffles so far
// say, may get its count from fewer shuffles (it is not shown).
void correct_for_composition(std::vector<Domain>& domains, const Profile& profile, std::size_t profile_index,
                             const Settings& settings, const ScoreLaw& law, std::string_view sequence,
                             std::uint64_t search_seed, const std::function<bool(double, double)>& reportable,
                             Workspace& workspace, std::uint64_t& cells);

// One pair's part in a correction of many pairs of one profile at once.
// shuffle_scores, where not null: the scores that screen_for_composition()
// gave the shuffles of the whole sequence, taken in place of scoring them
// again.
struct CompositionTask {
  std::vector<Domain>* domains;
  std::string_view sequence;
  std::function<bool(double, double)> reportable;
  std::uint64_t* cells;
  const std::vector<double>* shuffle_scores = nullptr;
};

// A pair not aligned yet, whose best score is at most `bound`; what the
// screen found out about it.
struct CompositionScreen {
  std::string_view sequence;
  double bound;
  std::function<bool(double, double)> reportable;
  std::uint64_t* cells;
  bool could_report = true;
  std::vector<double> shuffle_scores;  // for correct_for_composition()
};

// Whether the correction shuffles the whole of a sequence of this length
// (and so the same stretch for any of its domains).
bool shuffles_whole_sequence(int length, int profile_length);

// Before aligning pairs whose sequences are shuffled whole: their
// shuffles, judged as the correction judges them with each pair's bound in
// place of its domains' scores (which are at most the bound). Where no
// domain of at most that score could be reported, could_report is false
// and the pair need not be aligned: the correction would report none of
// its domains. Elsewhere the shuffles' scores are kept, and the correction
// of the pair's domains reuses them, coming out as it would have without
// the screen. The laws must fall as scores rise.
void screen_for_composition(std::span<CompositionScreen> screens, const Profile& profile,
                            std::size_t profile_index, const Settings& settings, const ScoreLaw& law,
                            std::uint64_t search_seed, Workspace& workspace);

// The same for many pairs of one profile: each pair's domains come out as
// they would alone, but the shuffles of all of them are scored together,
// round by round, which fills the vectors' lanes.
void correct_for_composition(std::span<const CompositionTask> tasks, const Profile& profile,
                             std::size_t profile_index, const Settings& settings, const ScoreLaw& law,
                             std::uint64_t search_seed, Workspace& workspace);

// The Shannon entropy of a stretch's residue composition, in bits.
double composition_entropy(std::string_view stretch);

}  // namespace tormid
