#include "built_profiles.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <vector>

#include "input/input.h"
#include "process_run.h"

namespace bench {

namespace {

const char kExamples[] = "/usr/share/doc/hmmer/examples/";

struct Seed {
  const char* alignment;  // under kExamples
  const char* model;      // its HMMER model, as real_searches.cpp copies it
  const char* name;
};
const Seed kSeeds[] = {
    {"tutorial/Pkinase.sto", "real0.hmm", "Pkinase"},  {"tutorial/globins4.sto", "real1.hmm", "globins4"},
    {"tutorial/fn3.sto", "real2.hmm", "fn3"},          {"testsuite/RRM_1.sto.gz", "real3.hmm", "RRM_1"},
    {"testsuite/SMC_N.sto.gz", "real4.hmm", "SMC_N"},  {"testsuite/LuxC.sto.gz", "real6.hmm", "LuxC"},
};
constexpr int kQueriesPerFamily = 5;
constexpr double kPositive = 1e-5;

// The family of a query named "FAMILY__qK", or a profile's own name.
std::string family_of(const std::string& query) { return query.substr(0, query.find("__")); }

// Of the family's HMMER positives, those each query (profile) ranks before
// its first shuffle, summed over the queries.
int found_before_shuffles(const PairEvalues& pairs, const std::set<std::pair<std::string, std::string>>& positives,
                          const std::string& shuffle_prefix) {
  std::map<std::string, std::vector<std::pair<double, std::string>>> ranked;
  for (const auto& [pair, evalue] : pairs) ranked[pair.first].push_back({evalue, pair.second});
  int found = 0;
  for (auto& [query, list] : ranked) {
    std::stable_sort(list.begin(), list.end(), [](auto& a, auto& b) { return a.first < b.first; });
    for (const auto& [evalue, target] : list) {
      if (target.rfind(shuffle_prefix, 0) == 0) break;
      found += static_cast<int>(positives.count({family_of(query), target}));
    }
  }
  return found;
}

// Median seconds of `repeat` runs.
double timed(int repeat, const std::string& binary, const std::vector<std::string>& args, bool& ok) {
  const ProcessRun run = median_of(repeat, binary, args);
  ok = ok && run.status == 0;
  return run.seconds;
}

}  // namespace

bool built_profile_searches(const std::string& dir, int repeat, const std::string& scan_binary,
                            const std::string& prf_binary, const std::string& sequences,
                            const std::string& shuffle_prefix, const PairEvalues& hmmer) {
  namespace fs = std::filesystem;
  auto at = [&](const std::string& name) { return (fs::path(dir) / name).string(); };
  std::printf("\nProfiles built from the seed alignments of 6 families, and from 5 members of each, local mode, "
              "2 threads, medians of %d runs:\n",
              repeat);
  const std::string phmmer = find_on_path("phmmer"), jackhmmer = find_on_path("jackhmmer");
  bool present = !phmmer.empty() && !jackhmmer.empty();
  for (const Seed& s : kSeeds) present = present && fs::exists(std::string(kExamples) + s.alignment);
  if (!present) {
    std::printf("needs phmmer and jackhmmer (Debian hmmer) and %s (hmmer-examples)\n", kExamples);
    return true;
  }
  std::set<std::pair<std::string, std::string>> positives;
  for (const auto& [pair, evalue] : hmmer)
    if (evalue <= kPositive && pair.second.rfind(shuffle_prefix, 0) != 0) positives.insert(pair);

  // The converted models of the same families, and the queries: evenly
  // spaced members of each seed, gaps removed.
  bool ok = true;
  std::vector<std::string> seeds;
  std::string models, queries;
  int query_count = 0;
  for (const Seed& s : kSeeds) {
    seeds.push_back(std::string(kExamples) + s.alignment);
    const tormid::SequenceAlignment a = tormid::read_alignments(seeds.back()).front();
    models += read_text(at(s.model));
    const std::size_t members = a.rows.size(), picked = std::min<std::size_t>(members, kQueriesPerFamily);
    for (std::size_t k = 0; k < picked; ++k) {
      std::string letters;
      for (const char c : a.rows[k * members / picked])
        if (std::isalpha(static_cast<unsigned char>(c))) letters += static_cast<char>(std::toupper(c));
      queries.append(">").append(s.name).append("__q").append(std::to_string(k)).append("\n");
      queries.append(letters).append("\n");
      ++query_count;
    }
  }
  std::ofstream(at("families.hmm")) << models;
  std::ofstream(at("queries.fa")) << queries;

  // From the seed alignments, against the converted models.
  std::vector<std::string> build = {"build", "--quiet", at("built.prf")};
  build.insert(build.end(), seeds.begin(), seeds.end());
  ok = ok && run_process(prf_binary, build).status == 0;
  const auto local = [&](const std::string& profiles, const std::string& table, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--quiet", "--threads", "2", "--tsv", at(table)};
    args.insert(args.end(), more.begin(), more.end());
    args.push_back(profiles);
    args.push_back(sequences);
    return args;
  };
  ok = ok && run_process(scan_binary, local(at("families.hmm"), "converted.tsv")).status == 0;
  ok = ok && run_process(scan_binary, local(at("built.prf"), "built.tsv")).status == 0;
  const int converted = found_before_shuffles(read_tsv_pairs(at("converted.tsv")), positives, shuffle_prefix);
  const int built = found_before_shuffles(read_tsv_pairs(at("built.tsv")), positives, shuffle_prefix);
  std::printf("from the seed alignments: %d of HMMER's %zu positives before the first shuffle, the converted "
              "models %d: %.1f%% (target 95%%)\n",
              built, positives.size(), converted, converted > 0 ? 100.0 * built / converted : 0.0);

  // From one protein, and iterating, against phmmer and jackhmmer.
  std::printf("%d queries, up to %d from a family%-10s %9s %9s %10s %s\n", query_count, kQueriesPerFamily, "",
              "seconds", "ratio", "positives", "targets: as many positives, no slower");
  const auto compare = [&](const char* what, const std::string& peer, const std::vector<std::string>& peer_args,
                           const std::vector<std::string>& more) {
    const double peer_seconds = timed(repeat, peer, peer_args, ok);
    const int peer_found = found_before_shuffles(read_tblout(at("peer.tbl")), positives, shuffle_prefix);
    std::vector<std::string> quiet = local(at("queries.fa"), "queries.tsv", more);
    const double seconds = timed(repeat, scan_binary, quiet, ok);
    const int found = found_before_shuffles(read_tsv_pairs(at("queries.tsv")), positives, shuffle_prefix);
    std::printf("  %-38s %9.2f %8.2fx %10d\n", (fs::path(peer).filename().string() + " " + what).c_str(),
                peer_seconds, 1.0, peer_found);
    std::string name = "tormid-scan";
    for (const std::string& m : more) name.append(" ").append(m);
    std::printf("  %-38s %9.2f %8.2fx %10d   %s, %s\n", name.c_str(), seconds, seconds / peer_seconds, found,
                found >= peer_found ? "as many" : "FEWER", seconds <= peer_seconds ? "no slower" : "SLOWER");
  };
  compare("--cpu 2", phmmer, {"--cpu", "2", "--noali", "-o", "/dev/null", "--tblout", at("peer.tbl"), at("queries.fa"),
                              sequences},
          {});
  compare("-N 3 --cpu 2", jackhmmer,
          {"-N", "3", "--cpu", "2", "--noali", "-o", "/dev/null", "--tblout", at("peer.tbl"), at("queries.fa"),
           sequences},
          {"--iterations", "3"});
  return ok;
}

}  // namespace bench
