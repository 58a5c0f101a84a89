// Several domains per sequence, best first. Private to the search.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "search/search.h"

namespace tormid {

// A domain found by the recursion: after the best alignment of a stretch,
// the residues left and right of it are searched as stretches of their own,
// and the best-scoring stretch gives the next domain.
struct Domain {
  double score;
  int seq_from, seq_to, prf_from, prf_to;  // 1-based, in the whole sequence
  int stretch_from, stretch_to;            // the stretch it was the best alignment of
  int parent;                              // the domain whose flank held it, -1 for the first
  std::string prf_line, seq_line;
  // How its sequence's composition moves chance scores: the expected
  // number of chance domains this good for the composition of the
  // sequence and of the domain's own stretch (0 without the correction).
  double composition_expected = 0;
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

// Every domain of sequence against profile whose stretch's best score
// passes, best first (parents before their children); cells counts the
// matrix cells computed. With alignments that end in the profile's last
// column, `ends` may hold the whole sequence's row ends already
// (row_ends(), align_scores()); they are taken from it. Throws
// SearchError on a score that is not finite or a lack of memory.
std::vector<Domain> find_domains(const Profile& profile, const Settings& settings, const std::string& sequence,
                                 const std::function<bool(double)>& passes, bool lines, Workspace& workspace,
                                 std::uint64_t& cells, std::vector<RowEnd>&& ends = {});

}  // namespace tormid
