#include "evalue_checks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <tuple>

#include "bench_files.h"
#include "process_run.h"

namespace bench {

namespace {

// A domain of tormid-scan's --tsv: what it is, its E-value, and the rest
// of its line but for its number among the pair's shown domains.
struct Domain {
  std::string profile, sequence, text;
  double evalue;
};
using DomainKey = std::tuple<std::string, std::string, std::string, std::string>;  // profile, sequence, from, to

std::map<DomainKey, Domain> read_domains(const std::string& path) {
  std::map<DomainKey, Domain> domains;
  std::istringstream in(read_text(path));
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) f.push_back(field);
    if (f.size() < 11) continue;
    std::string text;
    for (std::size_t k = 0; k < f.size(); ++k)
      if (k != 3 && k != 4) text += f[k] + '\t';
    domains[{f[0], f[1], f[9], f[10]}] = {f[0], f[1], text, std::strtod(f[6].c_str(), nullptr)};
  }
  return domains;
}

}  // namespace

bool evalue_checks(const std::string& dir, const std::string& scan_binary, const std::string& models,
                   int profiles, const std::string& sequences, int proteins, const std::string& shuffle_prefix,
                   const PairEvalues& hmmer) {
  auto at = [&](const std::string& name) { return (std::filesystem::path(dir) / name).string(); };
  auto shuffled = [&](const std::string& sequence) { return sequence.rfind(shuffle_prefix, 0) == 0; };
  const double z = 2.0 * proteins;  // E-values count the proteins and their shuffles
  bool ok = true;
  std::printf("E-values (the issue's rules and targets; runs at -E 1000, seeds 42 and 43, and at -E 10):\n");
  for (const char* mode : {"local", "glocal"}) {
    auto run = [&](const std::string& seed, const std::string& evalue, const std::string& name) {
      const std::vector<std::string> args = {"--quiet",  "--mode", mode, "--threads", "2",      "--seed", seed,
                                             "-E",       evalue,   "--tsv", at(name + ".tsv"), "--tblout",
                                             at(name + ".tbl"), models, sequences};
      ok = ok && run_process(scan_binary, args).status == 0;
    };
    run("42", "1000", "e1000");
    run("43", "1000", "e1000s43");
    run("42", "10", "e10");
    const auto all = read_domains(at("e1000.tsv")), other_seed = read_domains(at("e1000s43.tsv")),
               strict = read_domains(at("e10.tsv"));
    const PairEvalues sequence_evalues = read_tblout(at("e1000.tbl"));

    // Chance hits: shuffles with a domain at E <= t.
    PairEvalues best;
    for (const auto& [key, d] : all) {
      auto [it, added] = best.emplace(std::make_pair(d.profile, d.sequence), d.evalue);
      if (!added) it->second = std::min(it->second, d.evalue);
    }
    int chance[3] = {0, 0, 0};
    const double levels[3] = {0.1, 1, 10};
    for (const auto& [pair, evalue] : best)
      if (shuffled(pair.second))
        for (int k = 0; k < 3; ++k) chance[k] += evalue <= levels[k];
    const double per_level = profiles * proteins / z;  // expected chance hits at E <= 1
    std::printf("  %-6s chance hits on the shuffles at E <= 0.1, 1, 10: %d, %d, %d (expected %.1f, %.0f, %.0f; "
                "target within 2x at 1 and 10, at most 2 at 0.1)\n",
                mode, chance[0], chance[1], chance[2], 0.1 * per_level, per_level, 10 * per_level);

    // Against HMMER's full-sequence E-values.
    int positives = 0, found = 0, beyond = 0;
    for (const auto& [pair, evalue] : hmmer) {
      if (evalue > 1e-5 || shuffled(pair.second)) continue;
      ++positives;
      const auto it = sequence_evalues.find(pair);
      found += it != sequence_evalues.end() && it->second <= 1e-5;
    }
    for (const auto& [pair, evalue] : sequence_evalues) {
      if (evalue > 1e-5 || shuffled(pair.second)) continue;
      const auto it = hmmer.find(pair);
      beyond += it == hmmer.end() || it->second > 1;
    }
    std::vector<std::pair<double, std::pair<std::string, std::string>>> ranked;
    for (const auto& [pair, evalue] : best) ranked.push_back({evalue, pair});
    std::stable_sort(ranked.begin(), ranked.end(), [](auto& a, auto& b) { return a.first < b.first; });
    int before = 0;
    for (const auto& [evalue, pair] : ranked) {
      if (shuffled(pair.second)) break;
      const auto it = hmmer.find(pair);
      before += it != hmmer.end() && it->second <= 1e-5;
    }
    std::printf("  %-6s HMMER's %d pairs at E <= 1e-5: %d (%.1f%%) at sequence E <= 1e-5 (local target 97%%), %d "
                "before the first shuffle; %d pairs at E <= 1e-5 that HMMER puts above 1 (local target at most 5)\n",
                mode, positives, found, positives ? 100.0 * found / positives : 100.0, before, beyond);

    // Another seed.
    int either = 0, close = 0, strong = 0, one_only = 0;
    double largest = 1;
    std::set<DomainKey> keys;
    for (const auto& [key, d] : all) keys.insert(key);
    for (const auto& [key, d] : other_seed) keys.insert(key);
    for (const DomainKey& key : keys) {
      const auto a = all.find(key), b = other_seed.find(key);
      const double ea = a == all.end() ? INFINITY : a->second.evalue, eb = b == other_seed.end() ? INFINITY : b->second.evalue;
      if (std::min(ea, eb) <= 1e-3) {
        ++strong;
        one_only += std::max(ea, eb) > 1e-3;
      }
      if (std::min(ea, eb) > 10) continue;
      ++either;
      // E-values printed as 0 underflowed in both.
      const double factor = ea == eb ? 1 : std::exp(std::fabs(std::log(std::max(ea, 1e-300) / std::max(eb, 1e-300))));
      close += factor <= 1.5;
      largest = std::max(largest, factor);
    }
    std::printf("  %-6s seed 42 against 43: %d domains at E <= 10 in either, %.1f%% within 1.5x (target 95%%), the "
                "largest factor %.2f (target 3); %d at E <= 1e-3, %.2f%% in one run only (target 1%%)\n",
                mode, either, either ? 100.0 * close / either : 100.0, largest, strong,
                strong ? 100.0 * one_only / strong : 0.0);

    // Thresholds only choose: every domain at -E 10 is one of -E 1000's,
    // the same but for its number k/n; every one of -E 1000 printed below
    // 10 is at -E 10 (10 itself may be rounded from above).
    int differ = 0;
    for (const auto& [key, d] : strict) {
      const auto it = all.find(key);
      differ += it == all.end() || it->second.text != d.text;
    }
    for (const auto& [key, d] : all) differ += d.evalue < 10 && !strict.count(key);
    std::printf("  %-6s -E 10 against -E 1000 cut at 10: %zu domains, %d differ%s\n", mode, strict.size(), differ,
                differ ? "  <-- the thresholds change what is found" : "");
    ok = ok && differ == 0;
  }
  return ok;
}

}  // namespace bench
