// tormid-scan's run: command line, profiles, search, reports.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <optional>

#include "builder/builder.h"
#include "distributed/distributed.h"
#include "input/input.h"
#include "output/output.h"
#include "scan/options.h"
#include "builder/iteration.h"
#include "scan/hmmer_tables.h"
#include "scan/stockholm.h"
#include "scan/html_report.h"
#include "scan/progress.h"
#include "scan/report.h"
#include "scan/scan.h"

namespace tormid::scan {

namespace {

// Proteins have about a quarter of these letters; DNA nearly all.
constexpr double kNucleotideShare = 0.9;

// Process 0 of a job speaks for it.
void report_error(const std::string& what) {
  if (distributed::rank() == 0) std::fprintf(stderr, "tormid-scan: %s\n", what.c_str());
}

bool write_stdout(const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

// Every profile of every file, in order. Reports and tables tell profiles
// apart by their names, so no two may share one.
ProfileSet load_profiles(const std::vector<std::string>& files, int threads) {
  ProfileSet set;
  std::map<std::string, std::string> file_of;  // name -> file
  for (const std::string& path : files) {
    LoadedProfiles loaded = tormid::load_profiles(path, threads);
    ProfileLibrary& library = loaded.library;
    for (std::size_t k = 0; k < library.profiles.size(); ++k) {
      Profile& p = library.profiles[k];
      if (k < library.laws.size() && !law_readable(library.laws[k]))
        throw InputError(path, 0, "a damaged prepared library (the score law of profile " + p.name() +
                                      " is not one)");
      const auto [at, added] = file_of.emplace(p.name(), path);
      if (!added)
        throw InputError(path, 0,
                         "a profile named " + p.name() + " is already searched (from " + at->second +
                             "); each profile needs a name of its own (rename the file or the model)");
      set.profiles.push_back(std::move(p));
      set.files.push_back(path);
      set.laws.push_back(k < library.laws.size() ? std::move(library.laws[k]) : StoredLaw{});
      set.seeds.push_back(std::move(loaded.seeds[k]));
    }
  }
  return set;
}

// Where an output of the request would overwrite one of its inputs or
// another output: the message.
std::optional<std::string> overwritten(const ScanRequest& r) {
  std::vector<NamedPath> inputs, outputs;
  for (const std::string& path : r.profile_files) inputs.push_back({"the profile file", path});
  inputs.push_back({"the sequence file", r.sequence_file});
  if (r.params_file) inputs.push_back({"the parameter file", *r.params_file});
  for (const auto& [option, path] : {std::pair{"--tblout", &r.tblout}, {"--domtblout", &r.domtblout}, {"--tsv", &r.tsv}})
    if (*path) outputs.push_back({option, **path});
  if (r.stockholm) outputs.push_back({"-A", *r.stockholm});
  if (r.html) outputs.push_back({"--html", *r.html});
  return same_file(inputs, outputs);
}

// A sequence file that is not FASTA is refused before the profiles are read
// (a database given where the profiles go would be built into a profile a
// sequence). A pipe is read once, by the search, and told then.
void check_sequence_file(const std::string& path) {
  struct stat info {};
  if (path == "-" || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  LineReader lines(path, LineReader::Compression::gzip);
  FastaReader records(lines);
  FastaRecord first;
  records.next(first);
}

// The profiles' curated cutoffs of the kind asked for, as P-values in the
// search's configuration; the message where the mode has no E-values or
// profiles carry no such cutoff (named, as HMMER names them).
std::optional<std::string> apply_cutoffs(ScanRequest& request, const ProfileSet& profiles) {
  if (!request.cutoff) return std::nullopt;
  std::string option = std::string("--cut_") + cutoff_tag(*request.cutoff);
  std::transform(option.begin(), option.end(), option.begin(), [](char c) { return std::tolower(c); });
  if (!request.config.has_evalues())
    return option + " reads each profile's cutoffs as P-values, and global mode has no E-values";
  try {
    request.config.cutoffs = pvalue_cutoffs(profiles.profiles, *request.cutoff);
  } catch (const SearchError& e) {
    return option + ": " + e.what();
  }
  return std::nullopt;
}

// Reads what every process of a job needs before searching: the profiles,
// then the parameter file. The message of the first failure, if any.
std::optional<std::string> prepare(ScanRequest& request, ProfileSet& profiles) {
  const auto& files = request.profile_files;
  if (std::count(files.begin(), files.end(), "-") + (request.sequence_file == "-") > 1)
    return "-: standard input can give the profiles or the sequences, once";
  try {
    check_sequence_file(request.sequence_file);
    profiles = load_profiles(files, request.config.thread_count());
    apply_parameter_file(request);
    request.config.alignments = request.show_alignments || request.stockholm.has_value();
    if ((request.tblout || request.domtblout) && !request.config.has_evalues())
      return "--tblout and --domtblout write HMMER's tables, which need E-values, and global mode has none; "
             "--tsv writes tormid's table";
    if (request.iterations > 1 && !request.config.has_evalues())
      return "--iterations includes domains by their E-values, and global mode has none";
    if (auto problem = apply_cutoffs(request, profiles)) return problem;
    if (distributed::rank() == 0)
      for (const auto* output : {&request.tblout, &request.domtblout, &request.tsv, &request.stockholm, &request.html})
        if (*output) check_writable(**output);
  } catch (const InputError& e) {
    return e.what();
  } catch (const OutputError& e) {
    return e.what();
  } catch (const std::bad_alloc&) {
    return "out of memory";
  }
  return std::nullopt;
}

// What the search will do otherwise than asked, on standard error.
void report_notes(const ScanRequest& request, const ProfileSet& profiles) {
  if (distributed::rank() != 0) return;
  const SearchConfig& c = request.config;
  std::string last;
  for (std::size_t p = 0; p < profiles.profiles.size(); ++p)
    if (!profiles.laws[p].numbers.empty() && !law_made_for(profiles.laws[p], c) && profiles.files[p] != last) {
      last = profiles.files[p];
      std::fprintf(stderr, "tormid-scan: %s was prepared %s; calibrating its profiles at start-up\n", last.c_str(),
                   profiles.laws[p].model != kLawModel ? "by a version of tormid with other score laws"
                                                       : "for other alignment settings or another seed");
    }
  if (c.threads > c.thread_count())
    std::fprintf(stderr, "tormid-scan: --threads %d is more than %d per core of the %d this process may use; "
                 "searching with %d\n", c.threads, kThreadsPerCore, available_cores(), c.thread_count());
  if (request.max_evalue_given && !c.has_evalues())
    std::fprintf(stderr, "tormid-scan: -E has no effect in global mode, which has no E-values; --min-score "
                 "sets the threshold\n");
}

// A database of nucleotide sequences is searched as proteins would be, and
// finds nothing: say what it looks like.
void report_nucleotides(const ScanRequest& request, const SearchStats& s) {
  if (s.residues == 0 || static_cast<double>(s.nucleotides) < kNucleotideShare * static_cast<double>(s.residues))
    return;
  std::fprintf(stderr,
               "tormid-scan: warning: %s looks like nucleotide sequences (%.0f%% of its residues are A, C, G, T, U "
               "or N); tormid-scan compares protein sequences\n",
               request.sequence_file.c_str(), 100.0 * static_cast<double>(s.nucleotides) / static_cast<double>(s.residues));
}

// A library against a few proteins without --per-sequence counts E-values
// over the sequences, as hmmsearch does: a thousand profiles against one
// protein then give E-values a thousand times smaller than hmmscan's. Said
// on standard error, since it is rarely what was meant.
void report_database_size(const ScanRequest& request, std::size_t profiles, const SearchStats& s) {
  if (request.per_sequence || request.config.database_size || !request.config.has_evalues() || s.records == 0 ||
      profiles < 100 * s.records)
    return;
  std::fprintf(stderr,
               "tormid-scan: note: %zu profiles against %llu %s: E-values count Z = %llu, the sequences searched, as "
               "hmmsearch does; --per-sequence counts the profiles searched (Z = %zu), as hmmscan does\n",
               profiles, static_cast<unsigned long long>(s.records), s.records == 1 ? "sequence" : "sequences",
               static_cast<unsigned long long>(s.records), profiles);
}

// The search in this process, or spread over the job's processes.
SearchResult run_search(const ScanRequest& request, const SearchConfig& config, std::span<const Profile> profiles,
                        std::span<const StoredLaw> laws, std::uint64_t& result_bytes) {
  if (distributed::size() > 1) {
    distributed::JobResult job = distributed::search(profiles, config, request.sequence_file, laws);
    result_bytes += job.result_bytes;
    return std::move(job.search);
  }
  ProgressLine progress(!request.quiet && ::isatty(STDERR_FILENO), file_size(request.sequence_file));
  const SequenceSource source = request.sequence_file == "-" ? SequenceSource::standard_input()
                                                             : SequenceSource::file(request.sequence_file);
  return search(profiles, config, source, [&](const Progress& p) { progress.update(p); }, laws);
}

// The rounds of --iterations: every process of a job runs them alike, each
// with process 0's hits of the round.
IterativeResult run_rounds(const ScanRequest& request, const ProfileSet& profiles, std::uint64_t& result_bytes) {
  const RoundSearch round = [&](std::span<const Profile> searched, std::span<const StoredLaw> laws, bool keep) {
    SearchConfig config = request.config;
    config.alignments = config.alignments || keep;
    SearchResult result = run_search(request, config, searched, laws, result_bytes);
    distributed::share_hits(result);
    return result;
  };
  return search_iteratively(profiles.profiles, profiles.laws, profiles.seeds,
                            {request.iterations, request.inclusion_evalue}, round);
}

// The elapsed time and the speed, on standard error.
void report_time(const ScanRequest& request, const SearchResult& result, double seconds, std::uint64_t result_bytes) {
  const int threads = request.config.thread_count();
  std::string where = std::to_string(threads) + (threads == 1 ? " thread" : " threads");
  if (distributed::size() > 1)
    where = std::to_string(distributed::size()) + " processes of " + where + ", " + std::to_string(result_bytes) +
            " bytes of results received";
  const SearchStats& s = result.stats;
  std::string filter;
  if (request.config.filter && s.pairs > 0)
    filter = "; the score bound dismissed " + std::to_string(s.pairs_dismissed) + " of " + std::to_string(s.pairs) +
             " pairs";
  if (request.config.filter && s.pairs_scored_out > 0)
    filter.append(" and their best scores " + std::to_string(s.pairs_scored_out) + " more");
  std::fprintf(stderr, "tormid-scan: %.2f s on %s (calibration %.2f s), %.2f billion cells per second%s\n", seconds,
               where.c_str(), result.calibration_seconds,
               seconds > 0 ? static_cast<double>(s.cells) / seconds / 1e9 : 0.0, filter.c_str());
}

}  // namespace

int run_tormid_scan(int argc, const char* const* argv) {
  if (const IsaCap& cap = isa_cap(); !cap.problem.empty()) {
    report_error(cap.problem);
    if (cap.refused) return 2;
  }
  const Parsed parsed = parse_command_line(argc, argv);
  if (!parsed.request) {
    if (distributed::rank() == 0) {
      std::fputs(parsed.out.c_str(), stdout);
      std::fputs(parsed.err.c_str(), stderr);
    }
    return parsed.status;
  }
  ScanRequest request = *parsed.request;
  if (const std::optional<std::string> clash = overwritten(request)) {
    report_error(*clash);
    return 2;
  }
  if (const std::optional<std::string> conflict = iteration_conflict(request)) {
    report_error(*conflict);
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  // Every process of a job prepares; if one cannot, all stop.
  ProfileSet profiles;
  if (const auto failure = distributed::agree(prepare(request, profiles))) {
    report_error(*failure);
    return 1;
  }
  // Per sequence, E-values count the profiles each sequence met.
  if (request.per_sequence && !request.config.database_size)
    request.config.database_size = static_cast<double>(profiles.profiles.size());
  report_notes(request, profiles);
  try {
    std::uint64_t result_bytes = 0;
    std::optional<IterativeResult> rounds;
    SearchResult result;
    if (request.iterations > 1) {
      rounds = run_rounds(request, profiles, result_bytes);
      result = std::move(rounds->result);
    } else {
      result = run_search(request, request.config, profiles.profiles, profiles.laws, result_bytes);
      if (request.resolve_overlaps) result.hits = resolve_overlaps(result.hits).hits;
    }
    if (distributed::rank() != 0) return 0;
    report_nucleotides(request, result.stats);
    report_database_size(request, profiles.profiles.size(), result.stats);
    const ReportContext context{profiles, request};
    // The tables once the report is out: nothing is written on an error. A
    // standard output that is gone (a reader that stopped, as head does)
    // still lets the tables that are files be written, and is told.
    const bool reported =
        write_stdout(rounds ? rounds_report(context, *rounds, result) : hit_report(context, result));
    const int report_error_number = reported ? 0 : errno;
    bool tables = false;
    const auto write_table = [&](const std::optional<std::string>& path, auto writer) {
      if (!path || (*path == "-" && !reported)) return;
      OutputFile table(*path);
      writer(context, result, [&](std::string_view text) { table.write(text); });
      table.commit();
      tables = tables || *path != "-";
    };
    write_table(request.tblout, write_pair_table);
    write_table(request.domtblout, write_domain_table);
    const std::vector<int>* joined = rounds ? &rounds->joined : nullptr;
    write_table(request.tsv, [&](const ReportContext& c, const SearchResult& r, const TableWriter& write) {
      write_hit_table(c, r, write, joined);
    });
    write_table(request.stockholm, write_stockholm);
    write_table(request.html, write_html);
    if (!reported) {
      report_error(std::string("cannot write the standard output (") + std::strerror(report_error_number) + ")" +
                   (tables ? "; the tables were written" : ""));
      return 1;
    }
    if (!request.quiet)
      report_time(request, result,
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), result_bytes);
  } catch (const InputError& e) {
    report_error(e.what() + std::string(e.kind() == InputError::Kind::limit ? "; --max-record-length raises the limit"
                                                                              : ""));
    return 1;
  } catch (const SearchError& e) {
    report_error(e.what());
    return 1;
  } catch (const OutputError& e) {
    report_error(e.what());
    return 1;
  } catch (const std::bad_alloc&) {
    report_error("out of memory");
    return 1;
  }
  return 0;
}

}  // namespace tormid::scan
