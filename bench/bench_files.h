// Small helpers of the whole-run benchmarks: programs on PATH, files as
// text, and what tormid-scan's closing line says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "input/input.h"

namespace bench {

// The full path of a program on PATH, or "".
std::string find_on_path(const std::string& name);

// A file's contents, or "" where it cannot be read.
std::string read_text(const std::string& path);

// (profile, sequence) -> E-value.
using PairEvalues = std::map<std::pair<std::string, std::string>, double>;

// HMMER's per-sequence table (--tblout of hmmsearch or tormid-scan):
// target, accession, query, accession, full-sequence E-value; each pair's
// lowest E-value.
PairEvalues read_tblout(const std::string& path);
// tormid-scan's --tsv: each (profile, sequence) pair's lowest E-value.
PairEvalues read_tsv_pairs(const std::string& path);

// The pairs tormid-scan's closing line says were ruled out before the
// domain search (by the bound or their best scores), as "99.1% (X of
// Y)", or "?".
std::string dismissed_share(const std::string& stderr_text);

double median(std::vector<double> values);

// The proteins of mmseqs2's example data (Debian mmseqs2-examples).
inline constexpr char kExampleProteins[] = "/usr/share/doc/mmseqs2/example-data/DB.fasta.gz";

// The first `most` records of a FASTA file (plain or gzip) of standard
// letters only and at least 80 residues.
std::vector<tormid::FastaRecord> standard_proteins(const std::string& path, std::size_t most = SIZE_MAX);

}  // namespace bench
