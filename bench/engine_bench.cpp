// Speed of the engines on seeded random inputs, and peak memory of whole
// runs. Every instruction-set variant this CPU runs and the reference
// engine run in the same process at every size; after the Google Benchmark
// table a summary gives each variant's speed and its ratio to the
// reference (medians when --benchmark_repetitions is given). Whole runs of
// tormid and of tormid-reference on the largest inputs, timed first, give
// wall time and peak resident memory.
//
//   build/release/engine_bench [--benchmark_filter=REGEX] [--quick]
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench_inputs.h"
#include "process_run.h"
#include "engine/engine.h"

using namespace tormid;
using bench::best_of;
using bench::ProcessRun;
using bench::run_process;

namespace {

struct Size {
  const char* name;
  int len;
  int prf;
};

// Short profiles (28, 100 positions) show what filling and draining a strip
// costs; the 35000x1000 case is also the whole-run case.
const Size kSizes[] = {{"300x100", 300, 100},     {"3000x300", 3000, 300},   {"35000x28", 35000, 28},
                       {"35000x100", 35000, 100}, {"35000x1000", 35000, 1000}};
const bench::Mode kModes[] = {bench::kGlobal, bench::kSemiGlobal, bench::kLocal};

std::string case_name(const Size& size, const bench::Mode& mode, bool show) {
  return std::string(size.name) + "/" + mode.name + "/" + (show ? "alignment" : "score");
}

void score_benchmark(benchmark::State& state, const std::string& engine, const Size& size,
                     const bench::Mode& mode, bool show) {
  const std::string seq = bench::random_protein(size.len, 1);
  const Profile profile(bench::random_profile_rows(size.prf, 2));
  const Settings settings = set_parameters(bench::param_values(mode, show));
  Workspace ws(engine);
  const Detail detail = show ? Detail::display : Detail::score;
  for (auto _ : state) benchmark::DoNotOptimize(align(profile, settings, seq, ws, detail).score);
  state.counters["GCUPS"] = benchmark::Counter(static_cast<double>(size.len) * size.prf / 1e9,
                                               benchmark::Counter::kIsIterationInvariantRate);
}

// 256 proteins of 100 to 800 residues; cells: their cells against prf
// positions.
std::vector<std::string> many_proteins(int prf, double& cells) {
  std::vector<std::string> seqs;
  for (int k = 0; k < 256; ++k) {
    seqs.push_back(bench::random_protein(100 + (k * 7919) % 701, 10 + static_cast<unsigned>(k)));
    cells += static_cast<double>(seqs.back().size()) * prf;
  }
  return seqs;
}

// The score bound of a search: 256 sequences of 100 to 800 residues at once
// against a profile, per bound kernel ("coarse-" and a coarse bound kernel:
// the coarse first pass), beside the widest engine on the same pairs.
void bound_benchmark(benchmark::State& state, const std::string& kernel, int prf, const bench::Mode& mode) {
  double cells = 0;
  const std::vector<std::string> seqs = many_proteins(prf, cells);
  const std::vector<std::string_view> views(seqs.begin(), seqs.end());
  std::vector<double> bounds(seqs.size());
  const Profile profile(bench::random_profile_rows(prf, 2));
  const Settings settings = set_parameters(bench::param_values(mode, false));
  Workspace ws;
  if (kernel == "engine") {
    for (auto _ : state)
      for (const std::string& s : seqs) benchmark::DoNotOptimize(score_sequence(profile, settings, s, ws));
  } else if (kernel.starts_with("coarse-")) {
    // Reach 60: a search's threshold for proteins of a few hundred residues.
    const CoarseBound bound(profile, settings, 60, kernel.substr(7));
    for (auto _ : state) {
      bound.bound_many(views, bounds, ws);
      benchmark::DoNotOptimize(bounds.data());
    }
  } else {
    const ScoreBound bound(profile, settings, 64, kernel);
    for (auto _ : state) {
      bound.bound_many(views, bounds, ws);
      benchmark::DoNotOptimize(bounds.data());
    }
  }
  state.counters["GCUPS"] = benchmark::Counter(cells / 1e9, benchmark::Counter::kIsIterationInvariantRate);
}

// Quick scores as the calibration takes them:
// 256 sequences of 100 to 800 residues against a profile, per instruction
// set (16-bit integers in local mode, floats otherwise), beside align() of
// the widest engine ("exact"); with a batch size, quick_scores() on that
// many at a time ("lanes<size>-<kernel>": one sequence per lane).
void quick_benchmark(benchmark::State& state, const std::string& kernel, int prf, const bench::Mode& mode,
                     std::size_t batch) {
  double cells = 0;
  const std::vector<std::string> seqs = many_proteins(prf, cells);
  const Profile profile(bench::random_profile_rows(prf, 2));
  const QuickProfile quick(profile);
  const Settings settings = set_parameters(bench::param_values(mode, false));
  Workspace ws = kernel == "exact" ? Workspace() : Workspace(kernel);
  if (batch > 0) {
    const std::vector<std::string_view> views(seqs.begin(), seqs.end());
    std::vector<double> scores(views.size());
    for (auto _ : state)
      for (std::size_t first = 0; first < views.size(); first += batch) {
        const std::size_t n = std::min(batch, views.size() - first);
        quick_scores(quick, settings, std::span(views).subspan(first, n), ws, std::span(scores).subspan(first, n));
        benchmark::DoNotOptimize(scores.data());
      }
    state.counters["GCUPS"] = benchmark::Counter(cells / 1e9, benchmark::Counter::kIsIterationInvariantRate);
    return;
  }
  for (auto _ : state)
    for (const std::string& s : seqs)
      benchmark::DoNotOptimize(kernel == "exact" ? score_sequence(profile, settings, s, ws)
                                                 : quick_score(quick, settings, s, ws));
  state.counters["GCUPS"] = benchmark::Counter(cells / 1e9, benchmark::Counter::kIsIterationInvariantRate);
}

// align()'s scores of the same 256 sequences all at once (align_scores(),
// one sequence per lane where the instruction set has them), free at the
// sequence's ends as the glocal search scores the pairs its bound lets
// through; quick/exact/ runs them one by one.
void exact_lanes_benchmark(benchmark::State& state, int prf) {
  double cells = 0;
  const std::vector<std::string> seqs = many_proteins(prf, cells);
  const Profile profile(bench::random_profile_rows(prf, 2));
  const Settings settings = set_parameters(bench::param_values(bench::kSemiGlobal, false));
  Workspace ws;
  const std::vector<std::string_view> views(seqs.begin(), seqs.end());
  std::vector<double> scores(views.size());
  for (auto _ : state) {
    align_scores(profile, settings, views, ws, scores);
    benchmark::DoNotOptimize(scores.data());
  }
  state.counters["GCUPS"] = benchmark::Counter(cells / 1e9, benchmark::Counter::kIsIterationInvariantRate);
}

// Keeps the seconds per iteration of every run for the summary: the median
// aggregate where repetitions produced one, else the median of the runs.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.iterations <= 0 || run.error_occurred) continue;
      const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
      if (run.run_type == Run::RT_Iteration) runs_[run.run_name.str()].push_back(seconds);
      else if (run.aggregate_name == "median") medians_[run.run_name.str()] = seconds;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double seconds(const std::string& name) const {
    if (const auto it = medians_.find(name); it != medians_.end()) return it->second;
    const auto it = runs_.find(name);
    if (it == runs_.end() || it->second.empty()) return 0.0;
    std::vector<double> values = it->second;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  }

 private:
  std::map<std::string, std::vector<double>> runs_;
  std::map<std::string, double> medians_;
};

// Runs before any benchmark: a spawned child's peak RSS includes that of
// this process at the moment of the spawn, so this process must still be
// small. /bin/true spawned the same way shows that floor.
void whole_runs(const Size& size, bool quick) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("tormid-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string fasta = (dir / "seq.fasta").string();
  const std::string prf = (dir / "profile.prf").string();
  std::ofstream(fasta) << ">bench\n" << bench::random_protein(size.len, 1) << "\n";
  std::ofstream(prf) << bench::profile_text(bench::random_profile_rows(size.prf, 2));
  std::printf("Whole runs on %s (best of %d; stdout to /dev/null):\n", size.name, quick ? 1 : 3);
  std::printf("%-12s %-10s %-18s %10s %12s\n", "mode", "output", "binary", "seconds", "peak RSS");
  const ProcessRun floor = run_process("/bin/true", {});
  std::printf("%-12s %-10s %-18s %10.3f %8.1f MiB   (measurement floor)\n", "-", "-", "/bin/true",
              floor.seconds, floor.peak_mib);
  for (const bench::Mode& mode : {bench::kGlobal, bench::kLocal}) {
    for (bool show : {false, true}) {
      const std::string params = (dir / "run.params").string();
      std::ofstream(params) << bench::params_text(mode, show);
      const ProcessRun fast = best_of(quick ? 1 : 3, TORMID_BINARY, {fasta, prf, params});
      const ProcessRun ref = best_of(1, TORMID_REFERENCE_BINARY, {fasta, prf, params});
      const char* output = show ? "alignment" : "score";
      std::printf("%-12s %-10s %-18s %10.3f %8.1f MiB\n", mode.name, output, "tormid", fast.seconds,
                  fast.peak_mib);
      std::printf("%-12s %-10s %-18s %10.3f %8.1f MiB   ratio %.1fx\n", mode.name, output,
                  "tormid-reference", ref.seconds, ref.peak_mib, ref.seconds / fast.seconds);
      if (fast.status != 0 || ref.status != 0) std::printf("  (a run failed: exit %d / %d)\n", fast.status, ref.status);
    }
  }
  fs::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = false;
  std::vector<char*> args;
  for (int k = 0; k < argc; ++k) {
    if (std::strcmp(argv[k], "--quick") == 0) quick = true;
    else args.push_back(argv[k]);
  }
  int count = static_cast<int>(args.size());
  // Every variant, each strip height of those that choose one, and the
  // reference engine last.
  std::vector<std::string> engines = engine_kernels();
  for (const std::string& h : engine_kernel_heights()) engines.push_back(h);
  engines.push_back("reference");

  for (const Size& size : kSizes)
    for (const bench::Mode& mode : kModes)
      for (bool show : {false, true})
        for (const std::string& engine : engines)
          benchmark::RegisterBenchmark(("engine/" + engine + "/" + case_name(size, mode, show)).c_str(),
                                       score_benchmark, engine, size, mode, show)
              ->Unit(benchmark::kMillisecond);

  std::vector<std::string> bounders = bound_kernels();
  bounders.push_back("engine");
  for (const int prf : {28, 100, 300, 1000})
    for (const bench::Mode& mode : {bench::kSemiGlobal, bench::kLocal})
      for (const std::string& kernel : bounders)
        benchmark::RegisterBenchmark(
            ("bound/" + kernel + "/256x" + std::to_string(prf) + "/" + mode.name).c_str(),
            bound_benchmark, kernel, prf, mode)
            ->Unit(benchmark::kMillisecond);
  // The coarse first pass, local alignments only.
  for (const int prf : {100, 300, 1000})
    for (const std::string& kernel : coarse_bound_kernels())
      if (kernel != "scalar")
        benchmark::RegisterBenchmark(("bound/coarse-" + kernel + "/256x" + std::to_string(prf) + "/local").c_str(),
                                     bound_benchmark, "coarse-" + kernel, prf, bench::kLocal)
            ->Unit(benchmark::kMillisecond);

  std::vector<std::string> quick_kernels = engine_kernels();
  quick_kernels.push_back("exact");
  for (const int prf : {100, 300, 1000})
    for (const bench::Mode& mode : {bench::kSemiGlobal, bench::kLocal})
      for (const std::string& kernel : quick_kernels)
        benchmark::RegisterBenchmark(
            ("quick/" + kernel + "/256x" + std::to_string(prf) + "/" + mode.name).c_str(),
            quick_benchmark, kernel, prf, mode, std::size_t{0})
            ->Unit(benchmark::kMillisecond);
  for (const int prf : {100, 300, 1000})
    for (const bench::Mode& mode : {bench::kSemiGlobal, bench::kLocal})
      for (const std::string& kernel : engine_kernels())
        if (kernel == "avx512" || kernel == "avx2")
          for (const std::size_t batch : {std::size_t{14}, std::size_t{256}})
            benchmark::RegisterBenchmark(("quick/lanes" + std::to_string(batch) + "-" + kernel + "/256x" +
                                          std::to_string(prf) + "/" + mode.name)
                                             .c_str(),
                                         quick_benchmark, kernel, prf, mode, batch)
                ->Unit(benchmark::kMillisecond);

  for (const int prf : {100, 300, 1000})
    benchmark::RegisterBenchmark(("exact/lanes256/256x" + std::to_string(prf) + "/semiglobal").c_str(),
                                 exact_lanes_benchmark, prf)
        ->Unit(benchmark::kMillisecond);

  benchmark::Initialize(&count, args.data());
  whole_runs(kSizes[4], quick);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nEach engine against the reference engine, same run (GCUPS, ratio):\n");
  std::printf("%-34s", "case");
  for (std::size_t k = 0; k + 1 < engines.size(); ++k) std::printf(" %17s", engines[k].c_str());
  std::printf(" %10s\n", "reference");
  for (const Size& size : kSizes) {
    for (const bench::Mode& mode : kModes) {
      for (bool show : {false, true}) {
        const std::string name = case_name(size, mode, show);
        const double cells = static_cast<double>(size.len) * size.prf / 1e9;
        const double r = reporter.seconds("engine/reference/" + name);
        bool any = false;
        std::string line;
        char cell[64];
        for (std::size_t k = 0; k + 1 < engines.size(); ++k) {
          const double f = reporter.seconds("engine/" + engines[k] + "/" + name);
          if (f > 0 && r > 0) std::snprintf(cell, sizeof cell, " %8.3f %7.1fx", cells / f, r / f);
          else if (f > 0) std::snprintf(cell, sizeof cell, " %8.3f %8s", cells / f, "-");
          else std::snprintf(cell, sizeof cell, " %17s", "-");
          any = any || f > 0;
          line += cell;
        }
        if (!any && r <= 0) continue;
        if (r > 0) std::snprintf(cell, sizeof cell, " %10.3f", cells / r);
        else std::snprintf(cell, sizeof cell, " %10s", "-");
        std::printf("%-34s%s%s\n", name.c_str(), line.c_str(), cell);
      }
    }
  }
  benchmark::Shutdown();
  return 0;
}
