// Pfam's curated cutoffs on a real proteome: tormid-scan --cut_ga against
// hmmsearch --cut_ga (one run per model), per model and over all, as the
// share of the union of reported pairs that both report, with the shuffles
// each reports.
#pragma once

#include <string>
#include <vector>

namespace bench {

// model_files: HMMER3 models, those with GA lines are compared; proteins:
// the FASTA file of proteins and their shuffles (names prefixed
// shuffle_prefix). False where a run failed.
bool cutoff_agreement(const std::string& dir, const std::vector<std::string>& model_files,
                      const std::string& proteins, const std::string& shuffle_prefix,
                      const std::string& scan_binary);

}  // namespace bench
