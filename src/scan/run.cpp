// tormid-scan's run: command line, profiles, settings, search, reports.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <new>
#include <optional>

#include "scan/distributed.h"
#include "scan/progress.h"
#include "scan/scan.h"

namespace tormid::scan {

namespace {

// Process 0 of a job speaks for it.
void report_error(const std::string& what) {
  if (job::rank() == 0) std::fprintf(stderr, "tormid-scan: %s\n", what.c_str());
}

bool write_stdout(const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

}  // namespace

int run_tormid_scan(int argc, const char* const* argv) {
  const Parsed parsed = parse_command_line(argc, argv);
  if (!parsed.options) {
    if (job::rank() == 0) {
      std::fputs(parsed.out.c_str(), stdout);
      std::fputs(parsed.err.c_str(), stderr);
    }
    return parsed.status;
  }
  Options options = *parsed.options;
  const auto start = std::chrono::steady_clock::now();
  // Every process of a job reads the profiles and the settings; if one
  // cannot, all stop.
  std::vector<ProfileEntry> profiles;
  Settings settings;
  std::optional<std::string> failure;
  try {
    profiles = load_profiles(options.profile_files);
    settings = load_settings(options);
  } catch (const ScanError& e) {
    failure = e.what();
  } catch (const std::bad_alloc&) {
    failure = "out of memory";
  }
  if (const auto f = job::agree(failure)) {
    report_error(*f);
    return 1;
  }
  try {
    if (settings.show_alignment) options.alignments = true;
    const bool distributed = job::size() > 1;
    const bool show_progress = !options.quiet && !distributed && ::isatty(STDERR_FILENO);
    ProgressLine progress(show_progress, file_size(options.sequence_file));
    SearchOptions search_options;
    Reporting& reporting = search_options.reporting;
    reporting.max_evalue = options.max_evalue.value_or(10.0);
    reporting.fallback_min_score = options.min_score.value_or(30.0);
    reporting.min_score = options.min_score.value_or(-HUGE_VAL);
    reporting.database_size = options.database_size;
    search_options.seed = options.seed;
    search_options.bias_correction = !options.no_bias_correction;
    search_options.filter = !options.no_filter;
    search_options.max_domains = options.max_domains;
    search_options.alignments = options.alignments;
    search_options.threads = options.threads;
    search_options.progress = [&](const Progress& p) { progress.update(p); };
    SearchResult result;
    try {
      result = distributed ? job::search_distributed(profiles, settings, options.sequence_file, search_options)
                           : search(profiles, settings, options.sequence_file, search_options);
    } catch (...) {
      progress.finish();
      throw;
    }
    progress.finish();
    if (job::rank() != 0) return 0;

    const ReportContext context{profiles, settings, options};
    if (options.tblout) write_file_atomically(*options.tblout, hit_table(context, result));
    if (!write_stdout(hit_report(context, result))) {
      report_error("cannot write the standard output");
      return 1;
    }
    if (!options.quiet) {
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::string where = std::to_string(options.threads) + (options.threads == 1 ? " thread" : " threads");
      if (distributed)
        where = std::to_string(job::size()) + " processes of " + where + ", " +
                std::to_string(job::result_bytes()) + " bytes of results received";
      const SearchStats& s = result.stats;
      std::string filter;
      if (!options.no_filter && s.pairs > 0)
        filter = "; the score bound dismissed " + std::to_string(s.pairs_dismissed) + " of " +
                 std::to_string(s.pairs) + " pairs";
      std::fprintf(stderr, "tormid-scan: %.2f s on %s (calibration %.2f s), %.2f billion cells per second%s\n",
                   seconds, where.c_str(), result.calibration_seconds,
                   seconds > 0 ? static_cast<double>(s.cells) / seconds / 1e9 : 0.0, filter.c_str());
    }
  } catch (const ScanError& e) {
    report_error(e.what());
    return 1;
  } catch (const std::bad_alloc&) {
    report_error("out of memory");
    return 1;
  }
  return 0;
}

}  // namespace tormid::scan
