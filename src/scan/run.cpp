// tormid-scan's run: command line, profiles, search, reports.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <new>
#include <optional>

#include "distributed/distributed.h"
#include "input/input.h"
#include "scan/options.h"
#include "scan/output.h"
#include "scan/progress.h"
#include "scan/report.h"
#include "scan/scan.h"

namespace tormid::scan {

namespace {

// Process 0 of a job speaks for it.
void report_error(const std::string& what) {
  if (distributed::rank() == 0) std::fprintf(stderr, "tormid-scan: %s\n", what.c_str());
}

bool write_stdout(const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

// Every profile of every file, in order.
ProfileSet load_profiles(const std::vector<std::string>& files) {
  ProfileSet set;
  for (const std::string& path : files)
    for (Profile& p : read_profiles(path)) {
      set.profiles.push_back(std::move(p));
      set.files.push_back(path);
    }
  return set;
}

// Reads what every process of a job needs before searching: the profiles,
// then the parameter file. The message of the first failure, if any.
std::optional<std::string> prepare(ScanRequest& request, ProfileSet& profiles) {
  try {
    profiles = load_profiles(request.profile_files);
    apply_parameter_file(request);
  } catch (const InputError& e) {
    return e.what();
  } catch (const std::bad_alloc&) {
    return "out of memory";
  }
  return std::nullopt;
}

// The search in this process, or spread over the job's processes.
SearchResult run_search(const ScanRequest& request, const ProfileSet& profiles, std::uint64_t& result_bytes) {
  if (distributed::size() > 1) {
    distributed::JobResult job = distributed::search(profiles.profiles, request.config, request.sequence_file);
    result_bytes = job.result_bytes;
    return std::move(job.search);
  }
  ProgressLine progress(!request.quiet && ::isatty(STDERR_FILENO), file_size(request.sequence_file));
  const SequenceSource source = request.sequence_file == "-" ? SequenceSource::standard_input()
                                                             : SequenceSource::file(request.sequence_file);
  return search(profiles.profiles, request.config, source, [&](const Progress& p) { progress.update(p); });
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
  std::fprintf(stderr, "tormid-scan: %.2f s on %s (calibration %.2f s), %.2f billion cells per second%s\n", seconds,
               where.c_str(), result.calibration_seconds,
               seconds > 0 ? static_cast<double>(s.cells) / seconds / 1e9 : 0.0, filter.c_str());
}

}  // namespace

int run_tormid_scan(int argc, const char* const* argv) {
  const Parsed parsed = parse_command_line(argc, argv);
  if (!parsed.request) {
    if (distributed::rank() == 0) {
      std::fputs(parsed.out.c_str(), stdout);
      std::fputs(parsed.err.c_str(), stderr);
    }
    return parsed.status;
  }
  ScanRequest request = *parsed.request;
  const auto start = std::chrono::steady_clock::now();
  // Every process of a job prepares; if one cannot, all stop.
  ProfileSet profiles;
  if (const auto failure = distributed::agree(prepare(request, profiles))) {
    report_error(*failure);
    return 1;
  }
  try {
    std::uint64_t result_bytes = 0;
    const SearchResult result = run_search(request, profiles, result_bytes);
    if (distributed::rank() != 0) return 0;
    const ReportContext context{profiles, request};
    if (request.tblout) write_file_atomically(*request.tblout, hit_table(context, result));
    if (!write_stdout(hit_report(context, result))) {
      report_error("cannot write the standard output");
      return 1;
    }
    if (!request.quiet)
      report_time(request, result,
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), result_bytes);
  } catch (const InputError& e) {
    report_error(e.what());
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
