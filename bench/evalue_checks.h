// What scan_bench's real-proteome search says of tormid-scan's E-values,
// in local and glocal mode, on the proteins and their shuffles:
//
// - chance hits: shuffled proteins with a domain at E <= 0.1, 1 and 10,
//   against what the E-values promise;
// - against HMMER: of the pairs hmmsearch puts at a full-sequence E-value
//   of at most 1e-5 (real proteins), the share tormid-scan's --tblout
//   puts there too, and the pairs it puts there that hmmsearch puts above
//   1 (or does not list); and how many of HMMER's ranks before the first
//   shuffle;
// - another seed (42 against 43): of the domains at E <= 10 in either run,
//   the share within 1.5 times and the largest factor; of those at E <=
//   1e-3, the share in one run only;
// - thresholds only choose: the report at -E 10 is the report at -E 1000
//   cut at E <= 10.
//
// Each line says the target it is held to.
#pragma once

#include <string>

#include "bench_files.h"

namespace bench {

// Prints the checks of both modes; false where a run failed or the
// thresholds changed what was found. models: a file of `profiles`
// profiles; proteins: the number of real proteins in sequences, each
// followed by its shuffle, named with shuffle_prefix; hmmer: hmmsearch's
// full-sequence E-values of the same search.
bool evalue_checks(const std::string& dir, const std::string& scan_binary, const std::string& models,
                   int profiles, const std::string& sequences, int proteins, const std::string& shuffle_prefix,
                   const PairEvalues& hmmer);

}  // namespace bench
