// scan_bench's profiles built from what users start with, on the real
// proteome (its proteins, each followed by a shuffle), local mode, 2
// threads, for the six families whose seed alignments hmmer-examples
// holds (Pkinase, globins4, fn3, RRM_1, SMC_N, LuxC):
//
// - from the seed alignments (tormid-prf build): HMMER's positives found
//   before the first shuffle, against the converted HMMER models of the
//   same families (target: 95% of theirs);
// - from one protein (5 members of each seed, gaps removed): the family's
//   positives each query ranks before its first shuffle, summed, and the
//   time, against phmmer on the same queries (targets: as many, no slower);
// - iterating 3 rounds from the same proteins, against jackhmmer -N 3.
//
// HMMER's positives: pairs hmmsearch puts at a full-sequence E-value of at
// most 1e-5 (real proteins).
#pragma once

#include <string>

#include "bench_files.h"

namespace bench {

// Prints the three comparisons; false where a run failed. Skipped (true)
// without phmmer, jackhmmer or the seed alignments.
bool built_profile_searches(const std::string& dir, int repeat, const std::string& scan_binary,
                            const std::string& prf_binary, const std::string& sequences,
                            const std::string& shuffle_prefix, const PairEvalues& hmmer);

}  // namespace bench
