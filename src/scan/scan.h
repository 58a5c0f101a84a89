// tormid-scan: searches every record of a sequence database with one or
// many profiles, reports each domain of each sequence with its coordinates,
// on every core.
//
// Values flow one way: options -> profiles and settings -> search (a pool
// of threads over batches of records, each with its own engine workspace)
// -> hits -> reports. Only run_tormid_scan prints.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace tormid::scan {

// ---- Command line ----------------------------------------------------------

struct Options {
  std::vector<std::string> profile_files;
  std::string sequence_file;         // "-" is standard input
  std::optional<std::string> params;  // a tormid parameter file
  std::string mode = "glocal";       // glocal, local or global
  double open = 11.0;
  double extend = 1.0;
  std::optional<double> max_evalue;  // -E; 10 where there are E-values
  std::optional<double> min_score;   // --min-score; 30 where there are none
  std::optional<double> database_size;  // -Z; else the number of sequences searched
  std::uint64_t seed = 42;
  bool bits = false;
  bool no_bias_correction = false;
  bool no_filter = false;
  int max_domains = 0;               // 0: every domain that passes; else the first found
  std::optional<std::string> tblout;
  bool alignments = false;
  int threads = 0;                   // 0: every core the process may use
  bool quiet = false;
};

// What the command line asks for: a search, or an exit with a status after
// a text (help, version, or a command-line error).
struct Parsed {
  std::optional<Options> options;
  int status = 0;
  std::string out;  // for standard output
  std::string err;  // for standard error
};
Parsed parse_command_line(int argc, const char* const* argv);

// The CPUs this process may run on.
int available_cores();

// ---- Errors ----------------------------------------------------------------

// An error that ends the search; its message names the file and the reason.
class ScanError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ---- Profiles and settings -------------------------------------------------

struct ProfileEntry {
  Profile profile;
  std::string file;  // where it came from
};

// Every profile of every file, in order; the format of each file (tormid
// profile, HMMER3 models, PSI-BLAST ASCII PSSM) is recognised by its
// content, compressed or not. Throws ScanError.
std::vector<ProfileEntry> load_profiles(const std::vector<std::string>& files);

// The alignment settings of the options (a parameter file, or a mode with
// gap costs). Throws ScanError.
Settings load_settings(const Options& options);

// ---- Searching -------------------------------------------------------------

// One domain of one sequence against one profile.
struct Hit {
  int profile = 0;               // index into the profile list
  std::uint64_t record = 0;      // where the record starts in the text: the file order
  std::string name, description;  // of the sequence
  int seq_len = 0;
  int domain = 0, n_domains = 0;  // k of n, numbered along the sequence
  double score = 0.0;
  // P(a random sequence of this length scores this well against the
  // profile); the E-value, the number of domains this good expected by
  // chance in the Z sequences searched (Z * -ln(1 - pvalue)); the score in
  // bits. NaN where the profile's score law has none.
  double pvalue = NAN, evalue = NAN, bits = NAN;
  // How much the sequence's composition raises chance scores, as a score:
  // the E-value is that of score - bias under the calibrated law (0 when
  // the composition makes no difference).
  double bias = 0;
  int seq_from = 0, seq_to = 0, prf_from = 0, prf_to = 0;
  std::string prf_line, seq_line;  // the aligned stretch, with --alignments
};

// Which domains are reported: score at least min_score, and E-value at
// most max_evalue; where a profile has no score law (global mode), score
// at least fallback_min_score instead.
struct Reporting {
  double max_evalue = 10.0;
  double min_score = -HUGE_VAL;
  double fallback_min_score = 30.0;
  std::optional<double> database_size;  // Z, when fixed in advance

  // Whether a domain is reported in a search of z sequences, from its
  // score and the expected number of chance domains this good per sequence
  // (NaN where there is no law).
  bool reports(double expected, double score, double z) const {
    if (score < min_score) return false;
    if (std::isnan(expected)) return score >= fallback_min_score;
    return expected * z <= max_evalue;
  }
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
  // How its sequence's composition moves chance scores: the expected
  // number of chance domains this good for the composition of the
  // sequence and of the domain's own stretch (0 without the correction).
  double composition_expected = 0;
};

// Every domain of sequence against profile whose stretch's best score
// passes, best first (parents before their children); cells counts the
// matrix cells computed. Throws ScanError on a score that is not finite or
// a lack of memory.
std::vector<Domain> find_domains(const Profile& profile, const Settings& settings,
                                 const std::string& sequence, const std::function<bool(double)>& passes,
                                 bool lines, Workspace& workspace, std::uint64_t& cells);

struct SearchStats {
  std::uint64_t records = 0;       // records with letters, searched
  double database_size = 0;        // Z of the E-values
  std::uint64_t empty_records = 0;  // records without letters, skipped
  std::uint64_t residues = 0;
  std::uint64_t cells = 0;         // every residue against every profile position
  std::uint64_t aligned_cells = 0;  // cells the engine computed, domains and paths included
  std::uint64_t pairs = 0;           // sequence-profile pairs searched
  std::uint64_t pairs_dismissed = 0;  // of them, those whose score bound fell below the threshold
};

struct SearchResult {
  std::vector<Hit> hits;  // in report order (see sort_hits)
  SearchStats stats;
  double calibration_seconds = 0;
};

// Progress of a running search, for a progress display.
struct Progress {
  std::uint64_t records = 0;
  std::uint64_t residues = 0;
  std::uint64_t bytes = 0;  // of the sequence file read so far
};

struct SearchOptions {
  Reporting reporting;
  int max_domains = 0;
  bool alignments = false;
  bool bias_correction = true;
  // Skip the pairs whose score bound proves them below the threshold; the
  // hits are the same either way.
  bool filter = true;
  int threads = 1;
  // Records known to come before the ones searched (with Z unknown until
  // the end, they tighten the running threshold).
  std::uint64_t records_before = 0;
  // Records with letters counted in the file before the search, when it
  // was read twice: Z is at least this from the start.
  std::uint64_t records_counted = 0;
  std::uint64_t seed = 42;  // of the calibration and the shuffles
  // Called from the reading thread after each batch.
  std::function<void(const Progress&)> progress;
};

// Searches every record of the sequence file. Throws ScanError.
SearchResult search(const std::vector<ProfileEntry>& profiles, const Settings& settings,
                    const std::string& sequence_file, const SearchOptions& options);

// Report order: per profile in file order, by score (highest first), then
// record order, then position.
void sort_hits(std::vector<Hit>& hits);

// ---- Reports ---------------------------------------------------------------

struct ReportContext {
  const std::vector<ProfileEntry>& profiles;
  const Settings& settings;
  const Options& options;
};

// The standard output: a header, per profile a ranked hit list, the
// alignments when asked for, and a summary.
std::string hit_report(const ReportContext& context, const SearchResult& result);
// The tab-separated table, one line per domain.
std::string hit_table(const ReportContext& context, const SearchResult& result);
// Writes text to path completely or not at all. Throws ScanError.
void write_file_atomically(const std::string& path, const std::string& text);

// The whole program; returns the exit status.
int run_tormid_scan(int argc, const char* const* argv);

}  // namespace tormid::scan
