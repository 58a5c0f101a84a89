// tormid-scan end to end on a generated database, against the one-pair
// engine on the same pairs: cells per second per thread with 1 and 2
// threads, and peak memory.
//
//   build/release/scan_bench [--records N] [--repeat N]
//
// The database: N records (20,000 by default) of realistic lengths (mean
// about 450 residues), 5% of them carrying a member of one of 8 families;
// the profiles: those 8 families, 100 to 400 positions. Figures are the
// medians of --repeat runs (3 by default).
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "process_run.h"
#include "support/synthetic.h"

using namespace tormid;

namespace {

const int kProfileLengths[] = {100, 140, 180, 220, 260, 300, 350, 400};

struct Workload {
  std::vector<synthetic::Family> families;
  std::vector<synthetic::Record> records;
  double cells = 0;  // every residue against every profile position
};

Workload generate(int records) {
  synthetic::Random rng(2026);
  Workload w;
  for (int length : kProfileLengths)
    w.families.push_back(synthetic::family(rng, "family" + std::to_string(length), length, 0.5));
  std::uint64_t residues = 0;
  for (int k = 0; k < records; ++k) {
    std::string seq = synthetic::protein(rng, synthetic::protein_length(rng));
    if (k % 20 == 0) {
      const auto& f = w.families[static_cast<std::size_t>(rng.below(8))];
      seq.insert(static_cast<std::size_t>(rng.below(static_cast<int>(seq.size()))), synthetic::member(rng, f));
    }
    residues += seq.size();
    w.records.push_back({"seq" + std::to_string(k), "generated protein", std::move(seq)});
  }
  double positions = 0;
  for (const auto& f : w.families) positions += f.profile.length();
  w.cells = static_cast<double>(residues) * positions;
  return w;
}

// Seconds for the one-pair engine to score every record against every
// profile on one thread, as tormid-scan's first pass does.
double engine_seconds(const Workload& w, const Settings& settings) {
  Workspace ws;
  const auto start = std::chrono::steady_clock::now();
  double sink = 0;
  for (const auto& r : w.records)
    for (const auto& f : w.families) sink += align(f.profile, settings, r.sequence, ws, Detail::score).score;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (sink == 0.123) std::printf(" ");  // keeps the work
  return seconds;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int records = 20000, repeat = 3;
  for (int k = 1; k + 1 < argc; k += 2) {
    if (std::strcmp(argv[k], "--records") == 0) records = std::atoi(argv[k + 1]);
    if (std::strcmp(argv[k], "--repeat") == 0) repeat = std::max(1, std::atoi(argv[k + 1]));
  }
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("tormid-scan-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::vector<std::string> args = {"--quiet", "--min-score", "30"};
  for (const int length : kProfileLengths) args.push_back((dir / ("family" + std::to_string(length) + ".prf")).string());
  args.push_back((dir / "db.fa").string());
  // The files are written by a child, so that this process stays small for
  // the whole runs (see run_process).
  if (const pid_t writer = fork(); writer == 0) {
    const Workload w = generate(records);
    for (const auto& f : w.families) std::ofstream((dir / (f.name + ".prf")).string()) << synthetic::profile_text(f.profile);
    std::ofstream((dir / "db.fa").string()) << synthetic::fasta(w.records);
    _exit(0);
  } else {
    int status = 0;
    waitpid(writer, &status, 0);
  }
  std::vector<std::string> one = args, two = args;
  one.insert(one.begin(), {"--threads", "1"});
  two.insert(two.begin(), {"--threads", "2"});
  const bench::ProcessRun scan1 = bench::median_of(repeat, TORMID_SCAN_BINARY, one);
  const bench::ProcessRun scan2 = bench::median_of(repeat, TORMID_SCAN_BINARY, two);

  const Workload w = generate(records);
  ParamValues v;
  v.gap_open_penalty_prf = v.gap_open_penalty_seq = 11;
  v.deletion_penalty_prf = v.deletion_penalty_seq = 1;
  v.prf_free_beg = v.prf_free_end = true;
  const Settings glocal = set_parameters(v);
  std::vector<double> engine_runs;
  for (int k = 0; k < repeat; ++k) engine_runs.push_back(engine_seconds(w, glocal));
  const double engine = median(engine_runs);
  fs::remove_all(dir);

  const double gcells = w.cells / 1e9;
  std::printf("Scan benchmark: %d records, %zu profiles (100-400 positions), %.2f billion cells, glocal 11/1\n",
              records, w.families.size(), gcells);
  std::printf("kernel: %s; medians of %d runs\n\n", Workspace().kernel().c_str(), repeat);
  std::printf("%-32s %9s %14s %18s %10s\n", "", "seconds", "Gcells/s", "Gcells/s/thread", "peak RSS");
  std::printf("%-32s %9.2f %14.2f %18.2f %10s\n", "one-pair engine, 1 thread", engine, gcells / engine,
              gcells / engine, "-");
  std::printf("%-32s %9.2f %14.2f %18.2f %6.1f MiB%s\n", "tormid-scan --threads 1", scan1.seconds,
              gcells / scan1.seconds, gcells / scan1.seconds, scan1.peak_mib, scan1.status ? " (failed)" : "");
  std::printf("%-32s %9.2f %14.2f %18.2f %6.1f MiB%s\n", "tormid-scan --threads 2", scan2.seconds,
              gcells / scan2.seconds, gcells / scan2.seconds / 2, scan2.peak_mib, scan2.status ? " (failed)" : "");
  std::printf("\nscan per thread / one-pair engine:  %.0f%%  (target at least 85%%)\n", 100 * engine / scan1.seconds);
  std::printf("2 threads / 1 thread:               %.2fx (target at least 1.8x)\n", scan1.seconds / scan2.seconds);
  return scan1.status || scan2.status;
}
