// tormid-scan's command line: what to search, with what configuration,
// and how to report it. Private to tormid-scan.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "search/search.h"

namespace tormid::scan {

struct ScanRequest {
  // Every choice of the search. A parameter file's alignment settings
  // join it in apply_parameter_file().
  SearchConfig config;
  std::optional<std::string> params_file;
  std::vector<std::string> profile_files;
  std::string sequence_file;  // "-" is standard input
  std::optional<std::string> tblout;     // HMMER3's per-sequence table
  std::optional<std::string> domtblout;  // HMMER3's per-domain table
  std::optional<std::string> tsv;        // tormid's own table
  std::optional<std::string> stockholm;  // -A: the reported domains aligned to each profile
  std::optional<std::string> html;       // a page with the domains drawn
  std::string command_line;              // as typed, for the tables' record of it
  int iterations = 1;                    // rounds of search and rebuilding
  double inclusion_evalue = 1e-3;        // domains at this E-value or lower join the next round's profile
  bool show_alignments = false;          // --alignments, or the parameter file's SHOW_ALIGNMENT YES
  std::optional<CutoffKind> cutoff;  // --cut_ga, --cut_tc or --cut_nc
  bool max_evalue_given = false;  // -E was given (global mode has no E-values)
  bool per_sequence = false;  // a report per sequence, Z = the profiles searched
  bool resolve_overlaps = false;  // of overlapping domains of different profiles, the most significant
  bool bits = false;   // also show scores in bits
  bool quiet = false;  // no progress display, no elapsed time
};

// What the command line asks for: a search, or an exit with a status after
// a text (help, version, or a command-line error).
struct Parsed {
  std::optional<ScanRequest> request;
  int status = 0;
  std::string out;  // for standard output
  std::string err;  // for standard error
};
Parsed parse_command_line(int argc, const char* const* argv);

// The alignment settings of the parameter file, when one was given; its
// SHOW_ALIGNMENT YES also asks for the alignments. Throws InputError.
void apply_parameter_file(ScanRequest& request);

// Options that cannot go together with --iterations: the message.
std::optional<std::string> iteration_conflict(const ScanRequest& request);

}  // namespace tormid::scan
