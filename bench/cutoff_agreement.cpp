#include "cutoff_agreement.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <utility>

#include "bench_files.h"
#include "process_run.h"

namespace bench {

namespace {

using Pair = std::pair<std::string, std::string>;  // (model, sequence)

std::set<Pair> pairs_of(const std::string& tblout) {
  std::set<Pair> pairs;
  for (const auto& [pair, evalue] : read_tblout(tblout)) pairs.insert(pair);
  return pairs;
}

struct Counts {
  int hmmer = 0, tormid = 0, both = 0, union_ = 0, hmmer_shuffles = 0, tormid_shuffles = 0;
};

}  // namespace

bool cutoff_agreement(const std::string& dir, const std::vector<std::string>& model_files,
                      const std::string& proteins, const std::string& shuffle_prefix,
                      const std::string& scan_binary) {
  namespace fs = std::filesystem;
  auto at = [&](const std::string& name) { return (fs::path(dir) / name).string(); };
  const std::string hmmsearch = find_on_path("hmmsearch");
  std::string library;
  std::vector<std::string> names;
  std::set<Pair> hmmer;
  bool ok = true;
  for (const std::string& file : model_files) {
    const std::string text = read_text(file);
    if (text.find("\nGA ") == std::string::npos) continue;
    library += text;
    const std::size_t name = text.find("\nNAME ");
    names.push_back(text.substr(name + 6, text.find('\n', name + 1) - name - 6));
    names.back().erase(0, names.back().find_first_not_of(' '));
    const ProcessRun run = run_process(hmmsearch, {"--cpu", "2", "--noali", "--cut_ga", "--tblout", at("cut.tbl"),
                                                   "-o", "/dev/null", file, proteins});
    ok = ok && run.status == 0;
    const std::set<Pair> found = pairs_of(at("cut.tbl"));
    hmmer.insert(found.begin(), found.end());
  }
  std::ofstream(at("cut.hmm")) << library;
  const ProcessRun run = run_process(scan_binary, {"--quiet", "--cut_ga", "--threads", "2", "--tblout",
                                                   at("tormid_cut.tbl"), at("cut.hmm"), proteins},
                                     "/dev/null");
  ok = ok && run.status == 0;
  const std::set<Pair> tormid = pairs_of(at("tormid_cut.tbl"));

  std::map<std::string, Counts> per_model;
  Counts all;
  auto count = [&](const Pair& p, bool in_hmmer, bool in_tormid) {
    const bool shuffle = p.second.rfind(shuffle_prefix, 0) == 0;
    for (Counts* c : {&per_model[p.first], &all}) {
      c->hmmer += in_hmmer;
      c->tormid += in_tormid;
      c->both += in_hmmer && in_tormid;
      ++c->union_;
      c->hmmer_shuffles += in_hmmer && shuffle;
      c->tormid_shuffles += in_tormid && shuffle;
    }
  };
  for (const Pair& p : hmmer) count(p, true, tormid.count(p) > 0);
  for (const Pair& p : tormid)
    if (!hmmer.count(p)) count(p, false, true);
  std::printf("\nPfam's gathering cutoffs: tormid-scan --cut_ga against hmmsearch --cut_ga (the %zu models with GA "
              "lines), local mode:\n",
              names.size());
  std::printf("  %-12s %8s %8s %8s %9s %18s\n", "model", "hmmer", "tormid", "both", "of union", "shuffles (h, t)");
  auto line = [](const std::string& name, const Counts& c) {
    std::printf("  %-12s %8d %8d %8d %8.1f%% %11d, %d\n", name.c_str(), c.hmmer, c.tormid, c.both,
                c.union_ ? 100.0 * c.both / c.union_ : 100.0, c.hmmer_shuffles, c.tormid_shuffles);
  };
  for (const std::string& name : names) line(name, per_model[name]);
  line("all", all);
  std::printf("  (target: at least 95%% of the union)\n");
  return ok;
}

}  // namespace bench
