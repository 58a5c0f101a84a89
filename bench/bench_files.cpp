#include "bench_files.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

namespace bench {

std::string find_on_path(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = dir + "/" + name;
    if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

PairEvalues read_tblout(const std::string& path) {
  PairEvalues pairs;
  std::istringstream in(read_text(path));
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string target, target_accession, query, query_accession, evalue;
    fields >> target >> target_accession >> query >> query_accession >> evalue;
    const double e = std::strtod(evalue.c_str(), nullptr);
    auto [at, added] = pairs.emplace(std::make_pair(query, target), e);
    if (!added) at->second = std::min(at->second, e);
  }
  return pairs;
}

PairEvalues read_tsv_pairs(const std::string& path) {
  PairEvalues pairs;
  std::istringstream in(read_text(path));
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string f; std::getline(split, f, '\t');) fields.push_back(f);
    if (fields.size() < 7) continue;
    const double e = std::strtod(fields[6].c_str(), nullptr);
    auto [at, added] = pairs.emplace(std::make_pair(fields[0], fields[1]), e);
    if (!added) at->second = std::min(at->second, e);
  }
  return pairs;
}

std::string dismissed_share(const std::string& stderr_text) {
  const std::size_t at = stderr_text.find("dismissed ");
  if (at == std::string::npos) return "?";
  unsigned long long dismissed = 0, pairs = 0;
  if (std::sscanf(stderr_text.c_str() + at, "dismissed %llu of %llu", &dismissed, &pairs) != 2 || pairs == 0)
    return "?";
  // Pairs their best scores ruled out count as dismissed: none of them
  // reaches the domain search.
  for (const char* more : {"best scores "}) {
    const std::size_t from = stderr_text.find(more, at);
    unsigned long long count = 0;
    if (from != std::string::npos &&
        std::sscanf(stderr_text.c_str() + from + std::strlen(more), "%llu", &count) == 1)
      dismissed += count;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.1f%% (%llu of %llu)",
                100.0 * static_cast<double>(dismissed) / static_cast<double>(pairs), dismissed, pairs);
  return text;
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::vector<tormid::FastaRecord> standard_proteins(const std::string& path, std::size_t most) {
  tormid::LineReader lines(path, tormid::LineReader::Compression::gzip);
  tormid::FastaReader reader(lines);
  std::vector<tormid::FastaRecord> kept;
  for (tormid::FastaRecord r; kept.size() < most && reader.next(r);)
    if (r.sequence.size() >= 80 && r.sequence.find_first_not_of("ACDEFGHIKLMNPQRSTVWY") == std::string::npos)
      kept.push_back(std::move(r));
  return kept;
}

}  // namespace bench
