// tormid-scan end to end on a generated database: against the one-pair
// engine on the same pairs (cells per second per thread with 1 and 2
// threads, and peak memory), with the score bound's filter and without,
// and against HMMER's hmmsearch on the same models when it is installed
// (Debian hmmer; only for this comparison).
//
//   build/test/scan_bench [--records N] [--repeat N] [--keep DIR] [--real-only]
//
// Then the searches on real data (real_searches.h): a real proteome
// against hmmsearch, and records of repeats; --real-only runs just those.
//
// The database: N records (20,000 by default) of realistic lengths (mean
// about 450 residues), 5% of them carrying a member of one of 8 families;
// the profiles: those 8 families, 100 to 400 positions. For hmmsearch, an
// HMMER3 model of each family is built by hmmbuild from 40 of its members,
// and tormid-scan reads the same model file. Figures are the medians of
// --repeat runs (3 by default). --keep leaves the generated files in DIR.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "bench_files.h"
#include "process_run.h"
#include "real_searches.h"
#include "support/synthetic.h"

using namespace tormid;
using bench::dismissed_share;
using bench::find_on_path;
using bench::median;
using bench::read_text;

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

// Decoys no profile matches, as real proteins would be after shuffling:
// realistic lengths, each protein's composition drawn around the
// background (each frequency times a log-normal factor, spread 0.3); 3%
// of coiled-coil-like composition (E, K, L, A, Q, R three times as
// frequent), 2% with a low-complexity stretch of 50 to 200 residues of
// QPS, GS, EK or PA; then shuffled.
std::vector<synthetic::Record> decoys(int count) {
  synthetic::Random rng(404);
  std::vector<synthetic::Record> records;
  for (int k = 0; k < count; ++k) {
    synthetic::Composition c = tormid::background;
    for (double& f : c) f *= std::exp(0.3 * rng.normal());
    if (k % 100 < 3)
      for (const char a : std::string("EKLAQR")) c[static_cast<std::size_t>(tormid::getIndex(a))] *= 3.0;
    const int length = synthetic::protein_length(rng);
    std::string s = synthetic::protein(rng, length, c);
    if (k % 100 >= 3 && k % 100 < 5) {
      const std::string kinds[] = {"QPS", "GS", "EK", "PA"};
      const std::string& letters = kinds[rng.below(4)];
      std::string stretch;
      for (int n = 50 + rng.below(151); n > 0; --n)
        stretch += letters[static_cast<std::size_t>(rng.below(static_cast<int>(letters.size())))];
      s.insert(static_cast<std::size_t>(rng.below(length)), stretch);
    }
    records.push_back({"decoy" + std::to_string(k), "", synthetic::shuffled(rng, s)});
  }
  return records;
}

// Rows of a table with an E-value at most each of the thresholds.
std::vector<int> rows_at_most(const std::string& path, const std::vector<double>& thresholds) {
  std::vector<int> counts(thresholds.size(), 0);
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::stringstream fields(line);
    std::string field;
    for (int k = 0; k < 7 && std::getline(fields, field, '\t'); ++k) {}
    const double evalue = std::atof(field.c_str());
    for (std::size_t t = 0; t < thresholds.size(); ++t) counts[t] += evalue <= thresholds[t];
  }
  return counts;
}

// An ungapped alignment of `count` members drawn from the family's
// emissions, for hmmbuild.
std::string member_alignment(synthetic::Random& rng, const synthetic::Family& f, int count) {
  std::string text;
  for (int k = 0; k < count; ++k) {
    text += ">m" + std::to_string(k) + "\n";
    for (const synthetic::Composition& e : f.emissions) text += tormid::alphabet[rng.residue(e)];
    text += "\n";
  }
  return text;
}

// Lines of a table that are not comments.
int table_rows(const std::string& path) {
  std::ifstream in(path);
  int rows = 0;
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#') ++rows;
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  int records = 20000, repeat = 3;
  std::string keep;
  bool real_only = false;
  for (int k = 1; k < argc; ++k) {
    if (std::strcmp(argv[k], "--real-only") == 0) real_only = true;
    if (k + 1 >= argc) break;
    if (std::strcmp(argv[k], "--records") == 0) records = std::atoi(argv[k + 1]);
    if (std::strcmp(argv[k], "--repeat") == 0) repeat = std::max(1, std::atoi(argv[k + 1]));
    if (std::strcmp(argv[k], "--keep") == 0) keep = argv[k + 1];
  }
  namespace fs = std::filesystem;
  const fs::path dir =
      keep.empty() ? fs::temp_directory_path() / ("tormid-scan-bench-" + std::to_string(getpid())) : fs::path(keep);
  fs::create_directories(dir);
  auto at = [&](const std::string& name) { return (dir / name).string(); };
  // The searches on real data, and records of repeats.
  auto real_searches = [&] {
    const bool proteome = bench::real_proteome_search(dir.string(), repeat, TORMID_SCAN_BINARY, TORMID_PRF_BINARY);
    const bool repeats = bench::repeat_records(dir.string(), repeat, TORMID_SCAN_BINARY, TORMID_ZINC_FINGER_MODEL);
    return proteome && repeats;
  };
  if (real_only) {
    const bool ok = real_searches();
    if (keep.empty()) fs::remove_all(dir);
    return ok ? 0 : 1;
  }
  std::vector<std::string> args = {"--quiet", "--mode", "glocal", "--min-score", "30"};
  for (const int length : kProfileLengths) args.push_back(at("family" + std::to_string(length) + ".prf"));
  args.push_back(at("db.fa"));
  // The files are written by a child, so that this process stays small for
  // the whole runs (see run_process).
  if (const pid_t writer = fork(); writer == 0) {
    const Workload w = generate(records);
    synthetic::Random rng(7);
    for (const auto& f : w.families) {
      std::ofstream(at(f.name + ".prf")) << synthetic::profile_text(f.profile);
      std::ofstream(at(f.name + ".afa")) << member_alignment(rng, f, 40);
    }
    std::ofstream(at("db.fa")) << synthetic::fasta(w.records);
    std::ofstream(at("decoys.fa")) << synthetic::fasta(decoys(records));
    _exit(0);
  } else {
    int status = 0;
    waitpid(writer, &status, 0);
  }
  auto with = [&](std::vector<std::string> base, std::initializer_list<std::string> more) {
    base.insert(base.begin(), more);
    return base;
  };
  const bench::ProcessRun exact1 = bench::median_of(repeat, TORMID_SCAN_BINARY, with(args, {"--no-filter", "--threads", "1"}));
  const bench::ProcessRun exact2 = bench::median_of(repeat, TORMID_SCAN_BINARY, with(args, {"--no-filter", "--threads", "2"}));
  const bench::ProcessRun filter1 = bench::median_of(repeat, TORMID_SCAN_BINARY, with(args, {"--threads", "1"}));
  const bench::ProcessRun filter2 = bench::median_of(repeat, TORMID_SCAN_BINARY, with(args, {"--threads", "2"}));
  // The same search on each instruction set this CPU has (TORMID_ISA), in
  // local mode too, with the output compared: a regression on one shows.
  struct IsaRun {
    std::string isa, mode;
    bench::ProcessRun run;
    bool same;
  };
  std::vector<IsaRun> isa_runs;
  for (const char* mode : {"glocal", "local"}) {
    std::vector<std::string> isa_args = with(args, {"--threads", "2"});
    isa_args[std::find(isa_args.begin(), isa_args.end(), "--mode") - isa_args.begin() + 1] = mode;
    std::string widest_out;
    // The plain C++ kernels are left out: some 30 times slower, they are
    // in engine_bench.
    for (const std::string& isa : engine_kernels()) {
      if (isa == "scalar") continue;
      ::setenv("TORMID_ISA", isa.c_str(), 1);
      const bench::ProcessRun run = bench::median_of(repeat, TORMID_SCAN_BINARY, isa_args);
      bench::run_process(TORMID_SCAN_BINARY, isa_args, at("isa.out"));
      ::unsetenv("TORMID_ISA");
      const std::string out = read_text(at("isa.out"));
      if (widest_out.empty()) widest_out = out;
      isa_runs.push_back({isa, mode, run, out == widest_out});
    }
  }
  // The same report either way, and how many pairs the bound dismissed.
  std::vector<std::string> loud = with(args, {"--threads", "2"});
  loud.erase(std::find(loud.begin(), loud.end(), "--quiet"));
  bench::run_process(TORMID_SCAN_BINARY, loud, at("filter.out"), at("filter.err"));
  bench::run_process(TORMID_SCAN_BINARY, with(args, {"--threads", "2", "--no-filter"}), at("exact.out"));
  const bool same = read_text(at("filter.out")) == read_text(at("exact.out"));
  const std::string share = dismissed_share(read_text(at("filter.err")));

  // hmmsearch on HMMER3 models of the families; tormid-scan on the same
  // model file, glocal (the default when these figures were first taken),
  // E-values at most 10.
  const std::string hmmbuild = find_on_path("hmmbuild"), hmmsearch = find_on_path("hmmsearch");
  const bool hmmer = !hmmbuild.empty() && !hmmsearch.empty();
  bench::ProcessRun hmmer2{}, hmm_filter2{}, hmm_exact2{};
  int hmmer_rows = 0, tormid_rows = 0;
  bool hmm_same = false;
  std::string hmm_share;
  if (hmmer) {
    std::string library;
    for (const int length : kProfileLengths) {
      const std::string name = "family" + std::to_string(length);
      bench::run_process(hmmbuild, {"--amino", "-n", name, at(name + ".hmm"), at(name + ".afa")});
      library += read_text(at(name + ".hmm"));
    }
    std::ofstream(at("models.hmm")) << library;
    const std::vector<std::string> scan = {"--mode", "glocal", "--threads", "2", at("models.hmm"), at("db.fa")};
    hmmer2 = bench::median_of(repeat, hmmsearch,
                              {"--cpu", "2", "--noali", "--tblout", at("hmmer.tbl"), at("models.hmm"), at("db.fa")});
    hmm_filter2 = bench::median_of(repeat, TORMID_SCAN_BINARY, with(scan, {"--quiet"}));
    hmm_exact2 = bench::median_of(repeat, TORMID_SCAN_BINARY, with(scan, {"--quiet", "--no-filter"}));
    bench::run_process(TORMID_SCAN_BINARY, with(scan, {"--tsv", at("filter.tbl")}), at("hmm-filter.out"),
                       at("hmm-filter.err"));
    bench::run_process(TORMID_SCAN_BINARY, with(scan, {"--quiet", "--no-filter", "--tsv", at("exact.tbl")}),
                       at("hmm-exact.out"));
    hmm_same = read_text(at("hmm-filter.out")) == read_text(at("hmm-exact.out")) &&
               read_text(at("filter.tbl")) == read_text(at("exact.tbl"));
    hmm_share = dismissed_share(read_text(at("hmm-filter.err")));
    hmmer_rows = table_rows(at("hmmer.tbl"));
    tormid_rows = table_rows(at("filter.tbl"));
  }

  // Calibration: chance hits among the decoys against the expectation, in
  // glocal and local mode, with the default composition correction.
  const std::vector<double> thresholds = {0.1, 1, 10};
  std::vector<std::string> decoy_args = {"--quiet"};
  for (const int length : kProfileLengths) decoy_args.push_back(at("family" + std::to_string(length) + ".prf"));
  decoy_args.push_back(at("decoys.fa"));
  std::vector<std::vector<int>> chance;
  for (const char* mode : {"glocal", "local"}) {
    bench::run_process(TORMID_SCAN_BINARY, with(decoy_args, {"--mode", mode, "-E", "10", "--tsv", at("decoys.tbl")}),
                       at("decoys.out"));
    chance.push_back(rows_at_most(at("decoys.tbl"), thresholds));
  }

  const Workload w = generate(records);
  ParamValues v;
  v.gap_open_penalty_prf = v.gap_open_penalty_seq = 11;
  v.deletion_penalty_prf = v.deletion_penalty_seq = 1;
  v.prf_free_beg = v.prf_free_end = true;
  const Settings glocal = set_parameters(v);
  std::vector<double> engine_runs;
  for (int k = 0; k < repeat; ++k) engine_runs.push_back(engine_seconds(w, glocal));
  const double engine = median(engine_runs);

  const double gcells = w.cells / 1e9;
  std::printf("Scan benchmark: %d records, %zu profiles (100-400 positions), %.2f billion cells, glocal 11/1\n",
              records, w.families.size(), gcells);
  std::printf("kernel: %s, bound kernel: %s; medians of %d runs\n\n", Workspace().kernel().c_str(),
              bound_kernels().front().c_str(), repeat);
  std::printf("%-36s %9s %10s %17s %10s\n", "", "seconds", "Gcells/s", "Gcells/s/thread", "peak RSS");
  auto row = [&](const char* what, const bench::ProcessRun& r, int threads) {
    std::printf("%-36s %9.2f %10.2f %17.2f %6.1f MiB%s\n", what, r.seconds, gcells / r.seconds,
                gcells / r.seconds / threads, r.peak_mib, r.status ? " (failed)" : "");
  };
  std::printf("%-36s %9.2f %10.2f %17.2f %10s\n", "one-pair engine, 1 thread", engine, gcells / engine,
              gcells / engine, "-");
  row("tormid-scan --no-filter --threads 1", exact1, 1);
  row("tormid-scan --no-filter --threads 2", exact2, 2);
  row("tormid-scan --threads 1", filter1, 1);
  row("tormid-scan --threads 2", filter2, 2);
  std::printf("\nno filter, per thread / one-pair engine: %.0f%%  (target at least 85%%)\n", 100 * engine / exact1.seconds);
  std::printf("no filter, 2 threads / 1 thread:        %.2fx (target at least 1.8x)\n", exact1.seconds / exact2.seconds);
  std::printf("filter speed-up, 2 threads:             %.2fx; pairs dismissed: %s\n", exact2.seconds / filter2.seconds,
              share.c_str());
  std::printf("report with the filter = without:       %s\n", same ? "yes" : "NO");
  std::printf("\nEach instruction set (TORMID_ISA), tormid-scan --threads 2:\n");
  std::printf("%-8s %-8s %9s %14s %s\n", "mode", "isa", "seconds", "vs the widest", "same report");
  for (const IsaRun& r : isa_runs) {
    const IsaRun& widest = *std::find_if(isa_runs.begin(), isa_runs.end(), [&](const IsaRun& w) { return w.mode == r.mode; });
    std::printf("%-8s %-8s %9.2f %13.2fx %s\n", r.mode.c_str(), r.isa.c_str(), r.run.seconds,
                r.run.seconds / widest.run.seconds, r.same ? "yes" : "NO");
  }
  std::printf("\nCalibration: chance hits among %d decoys (shuffled, compositions of real proteins), 8 profiles\n",
              records);
  std::printf("%-8s %10s %10s %10s\n", "", "E <= 0.1", "E <= 1", "E <= 10");
  std::printf("%-8s %10.1f %10.0f %10.0f\n", "expected", 0.8, 8.0, 80.0);
  const char* modes[] = {"glocal", "local"};
  for (std::size_t m = 0; m < chance.size(); ++m)
    std::printf("%-8s %10d %10d %10d\n", modes[m], chance[m][0], chance[m][1], chance[m][2]);
  if (hmmer) {
    std::printf("\nAgainst hmmsearch, the same 8 HMMER3 models (hmmbuild, 40 members each), 2 threads:\n");
    std::printf("%-36s %9.2f s  %d hits%s\n", "hmmsearch --cpu 2", hmmer2.seconds, hmmer_rows,
                hmmer2.status ? " (failed)" : "");
    std::printf("%-36s %9.2f s  %d hits  (%.2fx hmmsearch's time)\n", "tormid-scan --threads 2", hmm_filter2.seconds,
                tormid_rows, hmm_filter2.seconds / hmmer2.seconds);
    std::printf("%-36s %9.2f s  (%.2fx hmmsearch's time)\n", "tormid-scan --no-filter --threads 2", hmm_exact2.seconds,
                hmm_exact2.seconds / hmmer2.seconds);
    std::printf("pairs dismissed: %s; report with the filter = without: %s\n", hmm_share.c_str(), hmm_same ? "yes" : "NO");
  } else {
    std::printf("\nhmmbuild/hmmsearch not found: install Debian hmmer to compare with hmmsearch\n");
  }
  const bool isa_same = std::all_of(isa_runs.begin(), isa_runs.end(), [](const IsaRun& r) { return r.same; });
  const bool real_ok = real_searches();
  if (keep.empty()) fs::remove_all(dir);
  return !real_ok || exact1.status || exact2.status || filter1.status || filter2.status || !same || !isa_same ||
         (hmmer && !hmm_same);
}
