#include "search/reporting.h"

#include <algorithm>
#include <cmath>

namespace tormid {

namespace {

// The expected chance count of a domain: the calibrated law's, or the one
// its sequence's composition gives, whichever is larger.
double expected_count(const Domain& d, const ScoreLaw& law, int seq_len) {
  return std::max(law.expected_count(d.score, seq_len), d.composition_expected);
}

// The domains that are reported, in the order found. A domain is reported
// when it passes and so did the domain whose flank it was found in
// (parents come before their children). The first found are the best: the
// sequence's own best alignment, then the best of its flanks, and so on.
std::vector<std::size_t> kept_domains(const Candidates& c, const ScoreLaw& law, const SearchConfig& config,
                                      double z) {
  std::vector<std::size_t> kept;
  std::vector<char> reported(c.found.size(), 0);
  for (std::size_t k = 0; k < c.found.size(); ++k) {
    const Domain& d = c.found[k];
    reported[k] = config.reports(expected_count(d, law, c.seq_len), d.score, z) &&
                  (d.parent < 0 || reported[static_cast<std::size_t>(d.parent)]);
    if (reported[k]) kept.push_back(k);
  }
  if (config.max_domains > 0 && kept.size() > static_cast<std::size_t>(config.max_domains))
    kept.resize(static_cast<std::size_t>(config.max_domains));
  return kept;
}

Hit make_hit(const Candidates& c, const Domain& d, const ScoreLaw& law, double z) {
  Hit h;
  h.profile = c.profile;
  h.record = c.record;
  h.sequence = c.label;
  h.seq_len = c.seq_len;
  h.score = d.score;
  const double count = expected_count(d, law, c.seq_len);
  h.evalue = count * z;
  h.pvalue = law.defined() ? -std::expm1(-count) : NAN;
  // How far below its score the calibrated law would put this count: what
  // the composition cost the domain.
  h.bias = law.defined()
               ? std::max(0.0, std::log(count / law.expected_count(d.score, c.seq_len)) / law.lambda(c.seq_len))
               : 0.0;
  h.bits = law.has_bits() ? law.bits(d.score - h.bias) : NAN;
  h.seq_from = d.seq_from;
  h.seq_to = d.seq_to;
  h.prf_from = d.prf_from;
  h.prf_to = d.prf_to;
  h.prf_line = d.prf_line;
  h.seq_line = d.seq_line;
  return h;
}

}  // namespace

void sort_hits(std::vector<Hit>& hits) {
  std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) {
    if (a.profile != b.profile) return a.profile < b.profile;
    if (a.score != b.score) return a.score > b.score;
    if (a.record != b.record) return a.record < b.record;
    return a.seq_from < b.seq_from;
  });
}

std::vector<Hit> reported_hits(const std::vector<Candidates>& candidates, const std::vector<ScoreLaw>& laws,
                               const SearchConfig& config, double z) {
  std::vector<Hit> hits;
  for (const Candidates& c : candidates) {
    const ScoreLaw& law = laws[static_cast<std::size_t>(c.profile)];
    std::vector<std::size_t> kept = kept_domains(c, law, config, z);
    // Numbered along the sequence.
    std::sort(kept.begin(), kept.end(),
              [&](std::size_t a, std::size_t b) { return c.found[a].seq_from < c.found[b].seq_from; });
    std::vector<double> counts;
    if (law.defined())
      for (std::size_t k : kept) counts.push_back(expected_count(c.found[k], law, c.seq_len));
    const double sequence_evalue = counts.empty() ? NAN : domains_expected_count(counts) * z;
    int number = 0;
    for (std::size_t k : kept) {
      Hit h = make_hit(c, c.found[k], law, z);
      h.domain = ++number;
      h.n_domains = static_cast<int>(kept.size());
      h.sequence_evalue = sequence_evalue;
      hits.push_back(std::move(h));
    }
  }
  sort_hits(hits);
  return hits;
}

}  // namespace tormid
