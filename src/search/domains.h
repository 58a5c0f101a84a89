// Several domains per sequence, best first. Private to the search.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "search/search.h"

namespace tormid {

// How a domain's composition lowers its significance (composition.h), as
// scores: its E-value is the calibrated law's at score - bias.
struct DomainComposition {
  double bias = 0;
  double shift = 0;   // the part from the sequence's composition across the profile
  double excess = 0;  // the null2 part beyond the shift, before its prior
  double unit = 0;    // score per nat (1 / the profile's ungapped lambda); 0: no correction
};

// A domain found by the recursion: after the best alignment of a stretch,
// the residues left and right of it are searched as stretches of their own,
// and the best-scoring stretch gives the next domain.
struct Domain {
  double score;
  int seq_from, seq_to, prf_from, prf_to;  // 1-based, in the whole sequence
  int stretch_from, stretch_to;            // the stretch it was the best alignment of
  int parent;                              // the domain whose flank held it, -1 for the first
  std::string prf_line, seq_line;
  DomainComposition composition;  // none without the correction
};

// The candidate domains of one sequence against one profile: those that
// pass a threshold at least as loose as the final one.
struct Candidates {
  int profile = 0;
  std::uint64_t record = 0;  // the record's place in the input order
  std::shared_ptr<const SequenceLabel> label;
  int seq_len = 0;
  std::vector<Domain> found;
};

// How much more than the whole sequence's best alignment the best
// alignment of a stretch of it may score. With a local start, a stretch's
// first residue may pair with the profile's first position, which a
// residue inside the sequence may not (column 0 keeps its penalties): a
// stretch gains at most that position's largest score. Elsewhere a
// stretch's alignments are the whole sequence's (0), except where
// alignments must start at the sequence's first residue, where no bound
// holds (the domain search then follows the stretches' own scores).
double stretch_gain(const Profile& profile, const Settings& settings);

// Every domain of sequence against profile whose stretch's best score
// passes `explore`, best first (parents before their children), where the
// sequence's best score passes `first` (a threshold at least as strict);
// nothing where it does not. cells counts the matrix cells computed. With
// alignments that end in the profile's last column, `ends` may hold the
// whole sequence's row ends already (row_ends(), align_scores()); they are
// taken from it. Where set, may_explore(stretch) is false only for a
// stretch whose best score fails `explore` (from a bound of it): such a
// flank is dropped without aligning it. Throws SearchError on a score that
// is not finite or a lack of memory.
using MayExplore = std::function<bool(std::string_view stretch)>;
std::vector<Domain> find_domains(const Profile& profile, const Settings& settings, const std::string& sequence,
                                 const std::function<bool(double)>& first, const std::function<bool(double)>& explore,
                                 bool lines, Workspace& workspace, std::uint64_t& cells,
                                 std::vector<RowEnd>&& ends = {}, const MayExplore& may_explore = {});

}  // namespace tormid
