#include "search/reporting.h"

#include "search/composition.h"

#include <algorithm>
#include <cmath>

namespace tormid {

namespace {

// -ln of a domain's expected chance count: finite where the count itself
// underflows.
double chance_nats(const Domain& d, const ScoreLaw& law, int seq_len) {
  return law.chance_nats(d.score - d.composition.bias, seq_len);
}

// The domains that are reported, in the order found: each that passes on
// its own, the first max_domains of them. The first found are the best:
// the sequence's own best alignment, then the best of its flanks, and so
// on.
std::vector<std::size_t> kept_domains(const Candidates& c, const ScoreLaw& law, const SearchConfig& config,
                                      double z) {
  std::vector<std::size_t> kept;
  const PvalueCutoff* cutoff = config.cutoffs.empty() ? nullptr : &config.cutoffs[static_cast<std::size_t>(c.profile)];
  for (std::size_t k = 0; k < c.found.size(); ++k) {
    const Domain& d = c.found[k];
    const double expected = law.defined() ? domain_expected_count(d, law, c.seq_len) : NAN;
    if (!config.reports(expected, d.score, z)) continue;
    if (cutoff && !(pvalue_of_count(expected) <= cutoff->domain)) continue;
    kept.push_back(k);
  }
  if (config.max_domains > 0 && kept.size() > static_cast<std::size_t>(config.max_domains))
    kept.resize(static_cast<std::size_t>(config.max_domains));
  return kept;
}

// The chance count of the sequence against the profile, from all its
// domains: at most the best domain's, and the sum statistic of those with
// an E-value up to kSummedDomainsEvalue, each at its score less its
// shift, then the null2 parts of all of them together (composition.h).
double sequence_expected_count(const Candidates& c, const ScoreLaw& law, const SearchConfig& config, double z) {
  double best = INFINITY;
  std::vector<double> counts;
  std::vector<const DomainComposition*> compositions;
  for (const Domain& d : c.found) {
    const double count = domain_expected_count(d, law, c.seq_len);
    best = std::min(best, count);
    const bool joins = count * z <= kSummedDomainsEvalue &&
                       !(config.alignment.start == StartMode::local && !(d.score > 0));
    if (!joins) continue;
    counts.push_back(law.expected_count(d.score - d.composition.shift, c.seq_len));
    compositions.push_back(&d.composition);
  }
  if (counts.empty()) return best;
  const double penalty = sequence_composition(compositions) * law.lambda(c.seq_len);
  return std::min(best, domains_expected_count(counts) * std::exp(penalty));
}

Hit make_hit(const Candidates& c, const Domain& d, const ScoreLaw& law, double z) {
  Hit h;
  h.profile = c.profile;
  h.record = c.record;
  h.sequence = c.label;
  h.seq_len = c.seq_len;
  h.score = d.score;
  if (law.defined()) {
    const double nats = chance_nats(d, law, c.seq_len);
    const double calibrated = law.chance_nats(d.score, c.seq_len);
    const double count = std::exp(-nats);
    h.evalue = count * z;
    h.pvalue = pvalue_of_count(count);
    // What the composition cost the domain, as a score and in bits.
    h.bias = d.composition.bias;
    h.bias_bits = std::max(0.0, (calibrated - nats) / std::log(2.0));
    h.bits = (nats + std::log(static_cast<double>(c.seq_len))) / std::log(2.0);
  }
  h.seq_from = d.seq_from;
  h.seq_to = d.seq_to;
  h.prf_from = d.prf_from;
  h.prf_to = d.prf_to;
  h.prf_line = d.prf_line;
  h.seq_line = d.seq_line;
  return h;
}

}  // namespace

double domain_expected_count(const Domain& d, const ScoreLaw& law, int seq_len) {
  return std::exp(-chance_nats(d, law, seq_len));
}

std::vector<const Hit*> in_sequence_order(const std::vector<Hit>& hits) {
  std::vector<const Hit*> ordered;
  for (const Hit& h : hits) ordered.push_back(&h);
  std::sort(ordered.begin(), ordered.end(), [](const Hit* a, const Hit* b) {
    if (a->record != b->record) return a->record < b->record;
    if (a->seq_from != b->seq_from) return a->seq_from < b->seq_from;
    if (a->seq_to != b->seq_to) return a->seq_to < b->seq_to;
    return a->profile < b->profile;
  });
  return ordered;
}

void sort_hits(std::vector<Hit>& hits) {
  std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) {
    if (a.profile != b.profile) return a.profile < b.profile;
    // Without E-values (global mode) both are NaN and the score decides.
    if (a.evalue < b.evalue || b.evalue < a.evalue) return a.evalue < b.evalue;
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
    const double sequence_count = law.defined() && !kept.empty() ? sequence_expected_count(c, law, config, z) : NAN;
    if (!config.cutoffs.empty() &&
        !(pvalue_of_count(sequence_count) <= config.cutoffs[static_cast<std::size_t>(c.profile)].sequence))
      continue;
    int number = 0;
    std::vector<Hit> pair;
    for (std::size_t k : kept) {
      Hit h = make_hit(c, c.found[k], law, z);
      h.domain = ++number;
      h.n_domains = static_cast<int>(kept.size());
      h.sequence_evalue = sequence_count * z;
      pair.push_back(std::move(h));
    }
    // The sequence's bits read from its count as a domain's are; at least
    // the best domain's (also where the count underflows).
    double best_bits = -INFINITY;
    if (law.defined())
      for (const Domain& d : c.found)
        best_bits = std::max(best_bits, (chance_nats(d, law, c.seq_len) + std::log(static_cast<double>(c.seq_len))) /
                                            std::log(2.0));
    const double sequence_bits =
        sequence_count > 0 ? (std::log(static_cast<double>(c.seq_len) / sequence_count)) / std::log(2.0) : best_bits;
    for (Hit& h : pair) {
      h.sequence_bits = law.defined() ? std::max(best_bits, sequence_bits) : NAN;
      hits.push_back(std::move(h));
    }
  }
  sort_hits(hits);
  return hits;
}

}  // namespace tormid
