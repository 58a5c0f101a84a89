// tormid-scan's command line, parsed by CLI11.
#include "scan/options.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string_view>

#include "input/input.h"
#include "scan/option_checks.h"
#include "tormid_version.h"

namespace tormid::scan {

namespace {

const char kDescription[] =
    "Searches every record of a protein sequence database with one or many profiles\n"
    "and reports each domain: its score, its residues and profile positions.\n"
    "Scores are bit for bit those of tormid on each sequence alone.\n";

const char kFooter[] = R"(Profiles: tormid profiles, HMMER3 model files (one or many models, e.g. a
Pfam library), PSI-BLAST ASCII PSSMs and prepared libraries (tormid-prf
press), and proteins and alignments built into profiles as tormid-prf build
does (FASTA proteins: a protein search each; Stockholm, aligned FASTA, A2M),
recognised by their content. Every file may be gzip-compressed. SEQUENCE_FILE is FASTA, plain or
gzip-compressed, or - for standard input; every record is searched.

Domains: after the best alignment of a sequence, the residues left and
right of it are searched again, each as a sequence of its own, so that a
sequence with several domains reports each of them, non-overlapping.

Significance: each profile is calibrated at start-up on random sequences of
the background composition (glocal: lengths from a quarter of the profile's
to 2.5 times it; local: 60 to 1,000 residues), for the settings of the
search: the shape of its law from sequences of a seed of its own, the same
in every run, its place from 600 or more of --seed. The E-value of a domain
is the number of domains this good expected by chance in a search of Z
sequences (-Z, else the number searched), from the domain's score and its
sequence's length; the thresholds only choose which domains are shown.
Global mode (no free end) has no E-values: "-", and domains are reported
by --min-score (default {min_score}). E-values are corrected for composition, from
each domain's own alignment: the share of its score that the composition
its positions favour explains (and in glocal mode, how the sequence's
composition shifts every position's score), so that coiled-coil or
low-complexity proteins do not make significant hits by composition alone
(--no-bias-correction turns it off; the table's bias column says by how
much it lowered a score).

Output: per profile its domains by E-value (score, E-value, sequence,
length, domain k/n, residues from-to, profile positions from-to, description),
then a summary; --tblout and --domtblout write HMMER3's per-sequence and
per-domain tables (scores in bits), --tsv tormid's own tab-separated table
whose first line names the columns; --alignments adds each alignment (profile
consensus above, sequence below, identities and positive scores between).
The elapsed time goes to standard error, so that standard output is the
same whatever the number of threads.

Exit status: 0 on success (also when nothing is found), 1 on an error in a
file or the search, 2 on a wrong command line.

Documentation: man tormid-scan; the README of the tormid sources, section
"Searching a database".)";

// CLI11's help with tormid-scan's own usage line.
class Formatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App*, std::string) const override {
    return "Usage: tormid-scan [OPTIONS] PROFILE_FILE... SEQUENCE_FILE\n";
  }
};

// A default as the help shows it.
std::string shown(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string footer() {
  std::string text = kFooter;
  const std::string mark = "{min_score}";
  text.replace(text.find(mark), mark.size(), shown(kDefaultMinScore));
  return text + "\n";
}

// The alignment settings of the command line, unless a parameter file
// gives them.
struct AlignmentChoice {
  std::string mode = "local";
  double open = kDefaultGapOpen;
  double extend = kDefaultGapExtend;

  Settings settings() const {
    const SearchMode m =
        mode == "local" ? SearchMode::local : (mode == "global" ? SearchMode::global : SearchMode::glocal);
    return mode_settings(m, open, extend);
  }
};

void add_alignment_options(CLI::App& app, ScanRequest& r, AlignmentChoice& choice) {
  auto* params = app.add_option("--params", r.params_file,
                                "alignment settings from a tormid parameter file (its SHOW_ALIGNMENT YES "
                                "also turns on --alignments)")
                     ->check(CLI::ExistingFile);
  app.add_option("--mode", choice.mode,
                 "local (the best-scoring part of profile and sequence), glocal (the whole profile inside the "
                 "sequence) or global")
      ->check(CLI::IsMember({"glocal", "local", "global"}))
      ->excludes(params)
      ->capture_default_str();
  // Negative penalties make gaps pay: scores, and E-values, then mean
  // nothing.
  app.add_option("--open", choice.open, "gap opening penalty, both sides")
      ->check(non_negative_check())
      ->excludes(params)
      ->capture_default_str();
  app.add_option("--extend", choice.extend, "gap deletion penalty per position, both sides")
      ->check(non_negative_check())
      ->excludes(params)
      ->capture_default_str();
}

void add_search_options(CLI::App& app, ScanRequest& r) {
  SearchConfig& c = r.config;
  app.add_option("-E", c.max_evalue,
                 "report domains with an E-value at most this (default " + shown(kDefaultMaxEvalue) +
                     "; local and glocal modes)")
      ->check(non_negative_check());
  app.add_option("--min-score", c.min_score,
                 "report domains scoring at least this (also with -E; default " + shown(kDefaultMinScore) +
                     " where there are no E-values)")
      ->check(number_check());
  CLI::Option* cuts[3] = {};
  const std::pair<const char*, CutoffKind> kCuts[] = {{"--cut_ga", CutoffKind::gathering},
                                                      {"--cut_tc", CutoffKind::trusted},
                                                      {"--cut_nc", CutoffKind::noise}};
  const char* const kCutNames[] = {"gathering (GA)", "trusted (TC)", "noise (NC)"};
  for (int k = 0; k < 3; ++k) {
    const CutoffKind kind = kCuts[k].second;
    cuts[k] = app.add_flag_callback(
        kCuts[k].first, [&r, kind] { r.cutoff = kind; },
        std::string("report what passes each profile's curated ") + kCutNames[k] +
            " cutoffs, sequence and domain, as HMMER's models carry them (each read as the P-value it has under "
            "the model's own law; -E still applies)");
  }
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b)
      if (a != b) cuts[a]->excludes(cuts[b]);
  app.add_option("-Z", c.database_size,
                 "the number of sequences the E-values count with (default: the number searched)")
      ->check(positive_check());
  app.add_option("--seed", c.seed, "seed of the random sequences that place each profile's law (its shape is the same for any seed)")
      ->check(whole_number_check(0, UINT64_MAX))
      ->capture_default_str();
  app.add_flag_callback("--no-bias-correction", [&c] { c.bias_correction = false; },
                        "E-values without the correction for the composition around each domain");
  app.add_flag_callback("--no-filter", [&c] { c.filter = false; },
                        "align every sequence with every profile, also those whose score bound proves them below "
                        "the threshold (the same hits, slower)");
  app.add_flag("--bits", r.bits, "also show scores in bits (E = Z * length * 2^-bits)");
  app.add_flag("--resolve-overlaps", r.resolve_overlaps,
               "where domains of different profiles overlap on a sequence by more than half of the shorter, "
               "report only the most significant (the architecture of each sequence, as Pfam draws it)");
  app.add_flag("--per-sequence", r.per_sequence,
               "report per sequence, in input order, its domains from every profile in sequence order, with "
               "E-values counted over the profiles searched (Z = the number of profiles, as hmmscan does)");
  app.add_option("--max-domains", c.max_domains,
                 "at most this many domains per sequence and profile, the first found: the sequence's best "
                 "alignment, then the best of what is left (0: all)")
      ->check(whole_number_check(0, INT_MAX, "NONNEGATIVE"))
      ->capture_default_str();
  app.add_option("--tblout", r.tblout,
                 "also write HMMER3's per-sequence table (a line per sequence and profile) to this file");
  app.add_option("--domtblout", r.domtblout, "also write HMMER3's per-domain table to this file");
  app.add_option("--tsv", r.tsv, "also write tormid's tab-separated table (a line per domain) to this file");
  app.add_flag("--alignments", r.show_alignments, "print each hit's alignment");
  app.add_option("--html", r.html,
                 "also write a page to look at, one self-contained HTML file: each sequence drawn to scale with "
                 "its domains coloured by profile, and a table of them, sortable by E-value");
  app.add_option("-A", r.stockholm,
                 "also write the reported domains aligned to each profile, as Stockholm (a block per profile), "
                 "to this file");
  app.add_option("--iterations", r.iterations,
                 "search up to this many rounds: after each, the domains at E <= --incE are aligned to the "
                 "profile with its own seed (the sequence or alignment it was built from) and the profile built "
                 "again from them; a profile whose included domains no longer change stops")
      ->check(whole_number_check(1, 1000, "POSITIVE"))
      ->capture_default_str();
  app.add_option("--incE", r.inclusion_evalue,
                 "with --iterations: include domains at this E-value or lower in the next round's profile")
      ->check(non_negative_check())
      ->capture_default_str();
  app.add_option("--max-record-length", c.max_record_length,
                 "refuse records longer than this many residues (a bound on the memory one record takes)")
      ->check(whole_number_check(1, SIZE_MAX, "POSITIVE"))
      ->capture_default_str();
  app.add_option("--threads", c.threads,
                 "threads to search with (default: every core this process may use; at most " +
                     std::to_string(kThreadsPerCore) + " per core)")
      ->check(whole_number_check(1, INT_MAX, "POSITIVE"));
  app.add_flag("--quiet", r.quiet, "no progress display and no elapsed time on standard error");
}

// For a command line that did not parse: a word that is an option to the
// parser but a file on disk ("-x.fa") wants "--" before the files.
std::string dash_hint(int argc, const char* const* argv) {
  for (int k = 1; k < argc; ++k) {
    const std::string word = argv[k];
    if (word == "--") break;
    struct stat info {};
    if (word.size() > 1 && word[0] == '-' && ::stat(word.c_str(), &info) == 0)
      return "tormid-scan: " + word + " is taken for an option; file names that start with - go after --, as in "
             "tormid-scan [OPTIONS] -- PROFILE_FILE... SEQUENCE_FILE\n";
  }
  return "";
}

// For a command line that did not parse: HMMER's options typed by habit,
// each with what tormid-scan does instead.
std::string hmmer_hints(int argc, const char* const* argv) {
  struct Hint {
    const char* option;
    const char* instead;
  };
  static constexpr Hint kHints[] = {
      {"--cpu", "--threads N sets the threads"},
      {"-o", "the report goes to standard output: redirect it (> FILE)"},
      {"--domE", "-E sets the domains' E-value threshold (each domain is reported on its own E-value)"},
      {"--incdomE", "--incE sets the inclusion threshold of --iterations"},
      {"-T", "--min-score sets a score threshold, in tormid's scores (--bits shows bits)"},
      {"--domT", "--min-score sets a score threshold, in tormid's scores (--bits shows bits)"},
      {"--noali", "alignments are printed only with --alignments"},
      {"--max", "--no-filter aligns every pair (the same hits, slower)"},
      {"-N", "--iterations N sets the rounds"},
  };
  std::string hints;
  for (int k = 1; k < argc; ++k) {
    const std::string_view word = argv[k];
    if (word == "--") break;
    const std::string_view option = word.substr(0, word.find('='));
    for (const Hint& h : kHints)
      if (option == h.option && hints.find(std::string(h.option) + " is HMMER's") == std::string::npos)
        hints += "tormid-scan: " + std::string(h.option) + " is HMMER's; " + h.instead + "\n";
  }
  return hints;
}

}  // namespace

Parsed parse_command_line(int argc, const char* const* argv) {
  CLI::App app(kDescription, "tormid-scan");
  app.footer(footer());
  app.set_version_flag("-V,--version", std::string("tormid-scan ") + TORMID_VERSION + "\n" + kernels_line());
  auto formatter = std::make_shared<Formatter>();
  formatter->column_width(30);
  app.formatter(formatter);

  ScanRequest r;
  AlignmentChoice choice;
  std::vector<std::string> files;
  app.add_option("FILES", files, "PROFILE_FILE... SEQUENCE_FILE: one or more profile files, then the sequence file")
      ->required()
      ->expected(2, -1);
  add_alignment_options(app, r, choice);
  add_search_options(app, r);

  Parsed parsed;
  try {
    std::vector<std::string> args;
    for (int k = argc - 1; k > 0; --k) args.emplace_back(argv[k]);
    app.parse(args);
  } catch (const CLI::ParseError& e) {
    std::ostringstream out, err;
    app.exit(e, out, err);
    parsed.out = out.str();
    parsed.err = err.str() + hmmer_hints(argc, argv) + dash_hint(argc, argv);
    parsed.status = e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success) ? 0 : 2;
    return parsed;
  }
  r.sequence_file = files.back();
  files.pop_back();
  r.profile_files = std::move(files);
  r.config.alignment = choice.settings();
  r.max_evalue_given = app.count("-E") > 0;
  r.command_line = "tormid-scan";
  for (int k = 1; k < argc; ++k) r.command_line.append(" ").append(argv[k]);
  parsed.request = std::move(r);
  return parsed;
}

void apply_parameter_file(ScanRequest& request) {
  if (!request.params_file) return;
  const ParamValues values = read_param_file(*request.params_file, LineReader::Compression::gzip);
  request.config.alignment = set_parameters(values);
  if (values.show_alignment) request.show_alignments = true;
}


std::optional<std::string> iteration_conflict(const ScanRequest& r) {
  if (r.iterations == 1) return std::nullopt;
  if (r.per_sequence)
    return "--iterations rebuilds each profile from the sequences it finds; --per-sequence searches a library "
           "per sequence";
  if (r.resolve_overlaps)
    return "--iterations reports each profile's own rounds; --resolve-overlaps sets profiles against each other";
  struct stat info {};
  if (r.sequence_file == "-" || ::stat(r.sequence_file.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    return "--iterations reads the sequence file once a round, and " + r.sequence_file +
           " is not a regular file that can be read again";
  return std::nullopt;
}

}  // namespace tormid::scan
