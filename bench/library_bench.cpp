// A profile library against proteins, as genome annotation runs it:
// tormid-prf press, then tormid-scan --per-sequence --mode local on 1, 100
// and 1,000 proteins, against HMMER's hmmpress and hmmscan --cpu 2 on the
// same models and proteins, on the same cores, in the same run.
//
//   build/test/library_bench [--models N] [--proteins N] [--repeat N] [--keep DIR] [--memory]
//
// The models: N (2,000 by default) single-sequence HMMER3 models built by
// hmmbuild from segments of 60 to 300 residues of real proteins (Debian's
// mmseqs2-examples, DB.fasta.gz); the queries: other proteins of the same
// file. Needs hmmbuild, hmmpress and hmmscan (Debian hmmer) and the example
// proteins; says what is missing otherwise. Times are medians of --repeat
// runs (3 by default; 1 for the largest query set). Sensitivity: of the
// protein-model pairs hmmscan puts at E <= 1e-5 (its sequence E-value),
// the share tormid-scan puts at a sequence E-value <= 1e-5.
//
// --memory adds a library of 20,000 generated profiles (about 4 million
// positions): the time to prepare it, its size, and the peak memory and
// time of searching 1 and 100 proteins against it.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bench_files.h"
#include "process_run.h"
#include "search/search.h"
#include "support/synthetic.h"

using namespace tormid;
using bench::find_on_path;
using bench::kExampleProteins;
using bench::standard_proteins;

namespace {

void write_fasta(const std::string& path, const std::vector<FastaRecord>& records) {
  std::ofstream out(path);
  for (const FastaRecord& r : records) out << '>' << r.name << '\n' << r.sequence << '\n';
}

// hmmscan's table: model and query of each pair at full-sequence E <= at.
std::set<std::pair<std::string, std::string>> hmmer_pairs(const std::string& path, double at) {
  std::set<std::pair<std::string, std::string>> pairs;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string model, model_accession, query, query_accession, evalue;
    fields >> model >> model_accession >> query >> query_accession >> evalue;
    if (std::strtod(evalue.c_str(), nullptr) <= at) pairs.insert({model, query});
  }
  return pairs;
}

// tormid-scan's per-sequence table: the same, by its sequence E-value.
std::set<std::pair<std::string, std::string>> tormid_pairs(const std::string& path, double at) {
  std::set<std::pair<std::string, std::string>> pairs;
  std::ifstream in(path);
  std::size_t column = 0;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::stringstream split(line);
    for (std::string f; std::getline(split, f, '\t');) fields.push_back(f);
    if (!line.empty() && line[0] == '#') {
      column = static_cast<std::size_t>(std::find(fields.begin(), fields.end(), "seq_evalue") - fields.begin());
      continue;
    }
    if (column < fields.size() && std::strtod(fields[column].c_str(), nullptr) <= at)
      pairs.insert({fields[0], fields[1]});
  }
  return pairs;
}

struct Options {
  int models = 2000, proteins = 1000, repeat = 3;
  std::string keep;
  bool memory = false;
};

Options parse(int argc, char** argv) {
  Options o;
  for (int k = 1; k + 1 < argc || (k < argc && std::string(argv[k]) == "--memory"); ++k) {
    const std::string arg = argv[k];
    if (arg == "--memory") o.memory = true;
    else if (arg == "--models") o.models = std::atoi(argv[++k]);
    else if (arg == "--proteins") o.proteins = std::atoi(argv[++k]);
    else if (arg == "--repeat") o.repeat = std::max(1, std::atoi(argv[++k]));
    else if (arg == "--keep") o.keep = argv[++k];
  }
  return o;
}

// 20,000 generated profiles of 50 to 350 positions, calibrated in this
// process on 2 threads, written as a prepared library.
void memory_run(const std::filesystem::path& dir, const std::string& one, const std::string& hundred) {
  synthetic::Random rng(20000);
  std::vector<Profile> profiles;
  std::uint64_t positions = 0;
  for (int k = 0; k < 20000; ++k) {
    profiles.push_back(synthetic::family(rng, std::string("g").append(std::to_string(k)), 50 + rng.below(301), 0.5).profile);
    positions += static_cast<std::uint64_t>(profiles.back().length());
  }
  SearchConfig config;
  config.threads = 2;
  config.alignment = mode_settings(SearchMode::local, kDefaultGapOpen, kDefaultGapExtend);
  const auto start = std::chrono::steady_clock::now();
  const std::vector<StoredLaw> laws = calibrate_laws(profiles, config);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const std::string library = (dir / "generated.tlib").string();
  const std::string bytes = prepared_library(profiles, laws);
  std::ofstream(library, std::ios::binary) << bytes;
  profiles.clear();
  std::printf("\n20,000 generated profiles, %llu positions: calibrated in %.1f s on 2 threads, library %.0f MB\n",
              static_cast<unsigned long long>(positions), seconds, static_cast<double>(bytes.size()) / 1e6);
  for (const auto& [label, queries] : {std::pair{"1 protein", one}, std::pair{"100 proteins", hundred}}) {
    const bench::ProcessRun r = bench::run_process(
        TORMID_SCAN_BINARY, {"--quiet", "--per-sequence", "--mode", "local", "--threads", "2", library, queries});
    std::printf("  %-14s %7.2f s  peak %6.0f MiB%s\n", label, r.seconds, r.peak_mib, r.status ? "  (failed)" : "");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  const std::string hmmbuild = find_on_path("hmmbuild"), hmmpress = find_on_path("hmmpress"),
                    hmmscan = find_on_path("hmmscan");
  if (hmmbuild.empty() || hmmpress.empty() || hmmscan.empty() || !std::filesystem::exists(kExampleProteins)) {
    std::printf("needs hmmbuild, hmmpress and hmmscan (Debian hmmer) and %s (Debian mmseqs2-examples)\n", kExampleProteins);
    return 0;
  }
  const std::filesystem::path dir =
      o.keep.empty() ? std::filesystem::temp_directory_path() / ("library_bench." + std::to_string(::getpid()))
                     : std::filesystem::path(o.keep);
  std::filesystem::create_directories(dir);
  auto at = [&](const std::string& name) { return (dir / name).string(); };

  // Models from one set of proteins, queries from the others.
  std::vector<FastaRecord> proteins = standard_proteins(kExampleProteins);
  std::mt19937_64 rng(7);
  std::shuffle(proteins.begin(), proteins.end(), rng);
  if (proteins.size() < static_cast<std::size_t>(o.models + o.proteins)) {
    std::printf("%s has too few proteins for %d models and %d queries\n", kExampleProteins, o.models, o.proteins);
    return 1;
  }
  {
    std::ofstream sto(at("models.sto"));
    for (int k = 0; k < o.models; ++k) {
      const std::string& s = proteins[static_cast<std::size_t>(k)].sequence;
      const int length = std::uniform_int_distribution<int>(60, std::min<int>(300, static_cast<int>(s.size())))(rng);
      const int from = std::uniform_int_distribution<int>(0, static_cast<int>(s.size()) - length)(rng);
      const std::string name = std::string("m").append(std::to_string(k));
      sto << "# STOCKHOLM 1.0\n#=GF ID " << name << "\n" << name << " " << s.substr(static_cast<std::size_t>(from),
                                                                               static_cast<std::size_t>(length))
          << "\n//\n";
    }
  }
  const std::vector<FastaRecord> queries(proteins.begin() + o.models, proteins.begin() + o.models + o.proteins);
  const std::vector<int> sizes = {1, std::min(100, o.proteins), o.proteins};
  for (const int n : sizes)
    write_fasta(at(std::string("q").append(std::to_string(n)).append(".fa")), std::vector<FastaRecord>(queries.begin(), queries.begin() + n));

  bench::run_process(hmmbuild, {"--cpu", "2", "--amino", at("models.hmm"), at("models.sto")});
  bench::run_process(hmmpress, {"-f", at("models.hmm")});
  std::uint64_t positions = 0;
  for (const Profile& p : read_profiles(at("models.hmm"))) positions += static_cast<std::uint64_t>(p.length());
  const bench::ProcessRun press = bench::run_process(
      TORMID_PRF_BINARY, {"press", "--quiet", "--mode", "local", "--threads", "2", at("models.tlib"), at("models.hmm")});
  std::printf("%d single-sequence HMMER3 models (%llu positions, %.0f MB of text); queries from the other proteins\n",
              o.models, static_cast<unsigned long long>(positions),
              static_cast<double>(std::filesystem::file_size(at("models.hmm"))) / 1e6);
  std::printf("tormid-prf press --mode local --threads 2: %.1f s, %.0f MB%s\n\n", press.seconds,
              static_cast<double>(std::filesystem::file_size(at("models.tlib"))) / 1e6, press.status ? " (failed)" : "");

  std::printf("%-14s %12s %12s %8s %10s  %s\n", "queries", "hmmscan", "tormid-scan", "ratio", "peak", "pairs at E <= 1e-5");
  for (const int n : sizes) {
    const std::string q = at(std::string("q").append(std::to_string(n)).append(".fa"));
    const int times = n >= 1000 ? 1 : o.repeat;
    const bench::ProcessRun h =
        bench::median_of(times, hmmscan, {"--cpu", "2", "--noali", "-o", "/dev/null", at("models.hmm"), q});
    const bench::ProcessRun t = bench::median_of(
        times, TORMID_SCAN_BINARY, {"--quiet", "--per-sequence", "--mode", "local", "--threads", "2", at("models.tlib"), q});
    bench::run_process(hmmscan, {"--cpu", "2", "--noali", "-o", "/dev/null", "--tblout", at("h.tbl"), at("models.hmm"), q});
    bench::run_process(TORMID_SCAN_BINARY, {"--quiet", "--per-sequence", "--mode", "local", "--threads", "2", "--tsv",
                                            at("t.tsv"), at("models.tlib"), q});
    const auto expected = hmmer_pairs(at("h.tbl"), 1e-5), found = tormid_pairs(at("t.tsv"), 1e-5);
    std::size_t shared = 0;
    for (const auto& pair : expected) shared += found.count(pair);
    std::printf("%-14s %10.2f s %10.2f s %7.2fx %6.0f MiB  %zu of %zu (%.1f%%), %zu more%s\n",
                (std::to_string(n) + (n == 1 ? " protein" : " proteins")).c_str(), h.seconds, t.seconds,
                t.seconds / h.seconds, t.peak_mib, shared, expected.size(),
                expected.empty() ? 100.0 : 100.0 * static_cast<double>(shared) / static_cast<double>(expected.size()),
                found.size() - shared, h.status || t.status ? "  (a run failed)" : "");
  }
  if (o.memory) memory_run(dir, at("q1.fa"), at("q100.fa"));
  if (o.keep.empty()) std::filesystem::remove_all(dir);
  return 0;
}
