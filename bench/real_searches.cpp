#include "real_searches.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <utility>
#include <vector>

#include "bench_files.h"
#include "built_profiles.h"
#include "cutoff_agreement.h"
#include "evalue_checks.h"
#include "engine/engine.h"
#include "input/input.h"
#include "process_run.h"

namespace bench {

namespace {

const char kExamples[] = "/usr/share/doc/hmmer/examples/";
const char* const kModels[] = {"tutorial/Pkinase.hmm",       "tutorial/globins4.hmm",  "tutorial/fn3.hmm",
                               "testsuite/RRM_1.hmm.gz",     "testsuite/SMC_N.hmm.gz", "testsuite/Caudal_act.hmm.gz",
                               "testsuite/LuxC.hmm.gz",      "testsuite/Patched.hmm.gz"};
constexpr int kRealProteins = 20000;
const char kShufflePrefix[] = "shuffled_";

std::string decompressed(const std::string& path) {
  tormid::LineReader lines(path, tormid::LineReader::Compression::gzip);
  std::string text;
  for (std::string line; lines.next(line);) text += line;
  return text;
}

// The first proteins (up to kRealProteins) of standard letters and at
// least 80 residues, each followed by a shuffle of itself; count gets how
// many.
std::string proteins_and_shuffles(int& count) {
  std::mt19937 rng(2026);
  std::string text;
  const std::vector<tormid::FastaRecord> proteins = standard_proteins(kExampleProteins, kRealProteins);
  for (const tormid::FastaRecord& r : proteins) {
    std::string shuffled = r.sequence;
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    text += '>' + r.name + '\n' + r.sequence + '\n';
    text += '>' + std::string(kShufflePrefix) + r.name + '\n' + shuffled + '\n';
  }
  count = static_cast<int>(proteins.size());
  return text;
}

using Pairs = PairEvalues;  // (profile, sequence) -> best E

void keep_best(Pairs& pairs, const std::string& profile, const std::string& sequence, double evalue) {
  auto [at, added] = pairs.emplace(std::make_pair(profile, sequence), evalue);
  if (!added) at->second = std::min(at->second, evalue);
}

// Pairs of true proteins ranked (by E-value) before the first pair of a shuffle.
int true_before_first_shuffle(const Pairs& pairs) {
  std::vector<std::pair<double, bool>> ranked;
  for (const auto& [pair, evalue] : pairs) ranked.push_back({evalue, pair.second.rfind(kShufflePrefix, 0) == 0});
  std::stable_sort(ranked.begin(), ranked.end(), [](auto& a, auto& b) { return a.first < b.first; });
  int before = 0;
  for (const auto& [evalue, shuffle] : ranked) {
    if (shuffle) break;
    ++before;
  }
  return before;
}

}  // namespace

bool real_proteome_search(const std::string& dir, int repeat, const std::string& scan_binary,
                          const std::string& prf_binary) {
  namespace fs = std::filesystem;
  const std::string hmmsearch = find_on_path("hmmsearch");
  bool present = fs::exists(kExampleProteins) && !hmmsearch.empty();
  for (const char* model : kModels) present = present && fs::exists(std::string(kExamples) + model);
  std::printf("\nReal proteins: 8 HMMER example models against proteins of mmseqs2's examples and a shuffle of "
              "each, 2 threads:\n");
  if (!present) {
    std::printf("needs hmmsearch (Debian hmmer), %s (hmmer-examples) and %s (mmseqs2-examples)\n", kExamples, kExampleProteins);
    return true;
  }
  auto at = [&](const std::string& name) { return (fs::path(dir) / name).string(); };
  std::string library;
  std::vector<std::string> model_files;
  for (const char* model : kModels) {
    const std::string text = decompressed(std::string(kExamples) + model);
    model_files.push_back(at("real" + std::to_string(model_files.size()) + ".hmm"));
    std::ofstream(model_files.back()) << text;
    library += text;
  }
  std::ofstream(at("real.hmm")) << library;
  int proteins = 0;
  std::ofstream(at("real.fa")) << proteins_and_shuffles(proteins);
  std::printf("%d proteins, %d shuffles; medians of %d runs\n", proteins, proteins, repeat);

  // hmmsearch reads one model file per run here: the models come from
  // HMMER versions 3.0 and 3.2, which it does not take in one file.
  std::vector<double> hmmer_seconds;
  bool ok = true;
  for (int r = 0; r < repeat; ++r) {
    double seconds = 0;
    for (std::size_t m = 0; m < model_files.size(); ++m) {
      const ProcessRun run = run_process(hmmsearch, {"--cpu", "2", "--noali", "--tblout",
                                                     at("hmmer" + std::to_string(m) + ".tbl"), model_files[m],
                                                     at("real.fa")});
      ok = ok && run.status == 0;
      seconds += run.seconds;
    }
    hmmer_seconds.push_back(seconds);
  }
  Pairs hmmer_pairs;
  for (std::size_t m = 0; m < model_files.size(); ++m)
    for (const auto& [pair, evalue] : read_tblout(at("hmmer" + std::to_string(m) + ".tbl")))
      keep_best(hmmer_pairs, pair.first, pair.second, evalue);
  const double hmmer = median(hmmer_seconds);

  std::printf("%-30s %9s %13s %8s %22s %s\n", "", "seconds", "vs hmmsearch", "target", "pairs dismissed",
              "true hits before the first shuffle");
  std::printf("%-30s %9.2f %12.2fx %8s %22s %d\n", "hmmsearch --cpu 2 (8 runs)", hmmer, 1.0, "", "-",
              true_before_first_shuffle(hmmer_pairs));
  for (const auto& [mode, target] : {std::pair<const char*, double>{"local", 0.7}, {"glocal", 1.0}}) {
    const std::vector<std::string> args = {"--mode", mode, "--threads", "2", at("real.hmm"), at("real.fa")};
    std::vector<std::string> quiet = args;
    quiet.insert(quiet.begin(), "--quiet");
    const ProcessRun run = median_of(repeat, scan_binary, quiet);
    std::vector<std::string> tabled = args;
    tabled.insert(tabled.begin(), {"--tsv", at("tormid.tsv")});
    ok = ok && run.status == 0 && run_process(scan_binary, tabled, "/dev/null", at("tormid.err")).status == 0;
    const Pairs pairs = read_tsv_pairs(at("tormid.tsv"));
    char target_text[16];
    std::snprintf(target_text, sizeof target_text, "%.2fx", target);
    std::printf("%-30s %9.2f %12.2fx %8s %22s %d\n", (std::string("tormid-scan --mode ") + mode).c_str(),
                run.seconds, run.seconds / hmmer, target_text, dismissed_share(read_text(at("tormid.err"))).c_str(),
                true_before_first_shuffle(pairs));
  }
  ok = evalue_checks(dir, scan_binary, at("real.hmm"), static_cast<int>(model_files.size()), at("real.fa"), proteins,
                     kShufflePrefix, hmmer_pairs) &&
       ok;
  ok = built_profile_searches(dir, repeat, scan_binary, prf_binary, at("real.fa"), kShufflePrefix, hmmer_pairs) && ok;
  ok = cutoff_agreement(dir, model_files, at("real.fa"), kShufflePrefix, scan_binary) && ok;
  // Local mode on each narrower instruction set this CPU has (TORMID_ISA),
  // against the widest, with the table compared.
  const std::vector<std::string> local = {"--mode", "local", "--threads", "2", at("real.hmm"), at("real.fa")};
  const std::vector<std::string> isas = tormid::engine_kernels();
  double widest = 0;
  std::string widest_table;
  std::printf("local mode on each instruction set:\n");
  for (const std::string& isa : isas) {
    if (isa == "scalar") continue;  // some 30 times slower; engine_bench has it
    ::setenv("TORMID_ISA", isa.c_str(), 1);
    std::vector<std::string> quiet = local;
    quiet.insert(quiet.begin(), "--quiet");
    const ProcessRun run = median_of(repeat, scan_binary, quiet);
    std::vector<std::string> tabled = local;
    tabled.insert(tabled.begin(), {"--quiet", "--tsv", at("isa.tsv")});
    ok = ok && run.status == 0 && run_process(scan_binary, tabled).status == 0;
    ::unsetenv("TORMID_ISA");
    const std::string table = read_text(at("isa.tsv"));
    if (widest == 0) widest = run.seconds, widest_table = table;
    const bool same = table == widest_table;
    ok = ok && same;
    std::printf("  %-28s %9.2f %12.2fx   %.2fx the widest, same table: %s\n", isa.c_str(), run.seconds,
                run.seconds / hmmer, run.seconds / widest, same ? "yes" : "NO");
  }
  return ok;
}

bool repeat_records(const std::string& dir, int repeat, const std::string& scan_binary,
                    const std::string& zinc_finger_model) {
  namespace fs = std::filesystem;
  auto at = [&](const std::string& name) { return (fs::path(dir) / name).string(); };
  const std::string unit = "PYKCEECGKAFSQSSNLIVHQRIHTGEKPYVC";
  const int counts[] = {800, 3200};
  for (const int count : counts) {
    std::string seq;
    for (int k = 0; k < count; ++k) seq += unit;
    std::ofstream(at("repeats" + std::to_string(count) + ".fa")) << ">zinc_fingers_" << count << '\n' << seq << '\n';
  }
  std::printf("\nOne record of identical zinc-finger repeats (32 residues each), 2 threads:\n");
  std::printf("%-8s %12s %12s %8s %s\n", "mode", "800 (s)", "3,200 (s)", "ratio", "domains reported (800, 3,200)");
  bool ok = true;
  for (const char* mode : {"local", "glocal"}) {
    double seconds[2];
    int domains[2];
    for (int k = 0; k < 2; ++k) {
      const std::vector<std::string> args = {"--quiet", "--mode", mode, "--threads", "2", "--tsv",
                                             at("repeats.tsv"), zinc_finger_model,
                                             at("repeats" + std::to_string(counts[k]) + ".fa")};
      const ProcessRun run = median_of(repeat, scan_binary, args);
      ok = ok && run.status == 0;
      seconds[k] = run.seconds;
      std::istringstream rows(read_text(at("repeats.tsv")));
      domains[k] = 0;
      for (std::string line; std::getline(rows, line);) domains[k] += !line.empty() && line[0] != '#';
    }
    std::printf("%-8s %12.2f %12.2f %7.2fx %d, %d   (target at most 6x; linear is 4x)\n", mode, seconds[0], seconds[1],
                seconds[1] / seconds[0], domains[0], domains[1]);
  }
  return ok;
}

}  // namespace bench
