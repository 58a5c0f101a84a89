// The searches of scan_bench on real data, each printing its section:
//
// - A real proteome: 8 HMMER example models (Debian hmmer-examples) against
//   20,000 proteins of mmseqs2's example data (Debian mmseqs2-examples)
//   and a shuffle of each, tormid-scan in local and glocal mode against
//   hmmsearch (Debian hmmer, one run per model) on the same 2 cores; how
//   many true hits each ranks before its first shuffle; and local mode on
//   each instruction set the CPU has (TORMID_ISA), with the table compared.
// - Records of identical zinc-finger repeats, 800 and 3,200 of them (the
//   domain search's worst case: each domain is found left of the rest).
//
// And, on the real proteome, the E-values' checks (evalue_checks.h),
// profiles built from seed alignments and single proteins, and iterated
// (built_profiles.h), and Pfam's gathering cutoffs (cutoff_agreement.h).
//
// Each returns false where a run failed.
#pragma once

#include <string>

namespace bench {

bool real_proteome_search(const std::string& dir, int repeat, const std::string& scan_binary,
                          const std::string& prf_binary);

bool repeat_records(const std::string& dir, int repeat, const std::string& scan_binary,
                    const std::string& zinc_finger_model);

}  // namespace bench
