// The composition correction.
#include "search/composition.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>

namespace tormid {

namespace {

constexpr double kNull2Weight = 0.8;
constexpr double kNull2LogPrior = -5.545177444479562;  // ln(1 / 256)
constexpr double kShiftWeight = 0.7;
// The sequence's composition, with this many residues of the background
// added: a short sequence says little about its composition.
constexpr double kShiftPseudocounts = 20;

// The stretch of sequence whose composition shifts a domain's positions:
// the whole sequence, or this many residues centred on the domain.
int composition_window(int profile_length) { return std::max(1000, 3 * profile_length); }

// ln(1 + omega e^nats): what a null2 log-likelihood ratio costs.
double null2_cost(double nats) {
  const double x = kNull2LogPrior + nats;
  return x > 30 ? x : std::log1p(std::exp(x));
}

// mean over positions of sum_a f(a) e^(lambda s(a)), minus 1, and its
// derivative in lambda.
std::pair<double, double> moment(const Profile& profile, double lambda) {
  double sum = 0, slope = 0;
  for (const ProfileRow& row : profile.rows())
    for (std::size_t a = 0; a < row.size(); ++a) {
      const double term = background[a] * std::exp(lambda * row[a]);
      sum += term;
      slope += term * row[a];
    }
  return {sum / profile.length() - 1, slope / profile.length()};
}

}  // namespace

double ungapped_lambda(const Profile& profile) {
  if (profile.length() == 0) return 0;
  // The moment is convex in lambda and 0 at 0: a positive root needs a
  // negative slope there (a negative mean score) and a score above zero.
  double mean = 0, highest = -HUGE_VAL;
  for (const ProfileRow& row : profile.rows())
    for (std::size_t a = 0; a < row.size(); ++a) {
      mean += background[a] * row[a];
      highest = std::max(highest, row[a]);
    }
  if (!(mean < 0) || !(highest > 0) || !std::isfinite(mean)) return 0;
  // Newton's method from half-bits (ln 2 / 2, the root of converted HMMER
  // models, give or take their rounding). Where the moment rises the
  // convex moment's root lies ahead: from below it a step lands above
  // it, and from above the steps come down to it without overshooting.
  double lambda = std::log(2.0) / 2;
  auto [value, slope] = moment(profile, lambda);
  while (!(slope > 0)) {  // still before the moment's lowest point
    lambda *= 2;
    if (lambda > 1e6) return 0;
    std::tie(value, slope) = moment(profile, lambda);
  }
  for (int k = 0; k < 100 && std::fabs(value) > 1e-13; ++k) {
    const double next = lambda - value / slope;
    if (!(next > 0) || next == lambda) break;
    lambda = next;
    std::tie(value, slope) = moment(profile, lambda);
    if (!(slope > 0)) return 0;
  }
  return lambda;
}

CompositionModel::CompositionModel(const Profile& profile) : lambda_(ungapped_lambda(profile)) {
  // Scores whose mean against the background is not negative (a profile
  // made by hand) have no ungapped lambda: read as half-bits, they give
  // each position the frequencies they were made from.
  if (lambda_ == 0 && profile.length() > 0) lambda_ = std::log(2.0) / 2;
  if (!defined()) return;
  targets_.resize(static_cast<std::size_t>(profile.length()));
  for (int k = 0; k < profile.length(); ++k) {
    const ProfileRow& row = profile.row(k);
    const double top = *std::max_element(row.begin(), row.end());
    std::array<double, kAlphabetSize> t{};
    double total = 0;
    for (std::size_t a = 0; a < t.size(); ++a) total += t[a] = background[a] * std::exp(lambda_ * (row[a] - top));
    for (std::size_t a = 0; a < t.size(); ++a) targets_[static_cast<std::size_t>(k)][a] = static_cast<float>(t[a] / total);
  }
}

DomainComposition composition_of(const Domain& domain, const Profile& profile, const CompositionModel& model,
                                  const Settings& settings, std::string_view sequence) {
  DomainComposition c;
  if (!model.defined()) return c;
  c.unit = 1 / model.lambda();
  // The null2 composition: the paired positions' targets, the background
  // for residues left unpaired.
  std::array<double, kAlphabetSize> null2{};
  std::vector<int> paired;
  double residues = 0;
  int position = domain.prf_from - 1;
  for (std::size_t k = 0; k < domain.prf_line.size(); ++k) {
    const bool has_position = domain.prf_line[k] != '.', has_residue = domain.seq_line[k] != '.';
    if (has_position && has_residue) {
      paired.push_back(position);
      const auto& t = model.targets(position);
      for (std::size_t a = 0; a < null2.size(); ++a) null2[a] += t[a];
    } else if (has_residue) {
      for (std::size_t a = 0; a < null2.size(); ++a) null2[a] += background[a];
    }
    residues += has_residue;
    position += has_position;
  }
  if (residues == 0) return c;
  double nats = 0;
  for (int i = domain.seq_from; i <= domain.seq_to; ++i) {
    const int a = getIndex(sequence[static_cast<std::size_t>(i - 1)]);
    if (a < 0) continue;
    const auto at = static_cast<std::size_t>(a);
    nats += std::log(std::max(null2[at] / residues, 1e-300) / background[at]);
  }
  const double null2_bias = null2_cost(kNull2Weight * nats) * c.unit;
  // The shift across the profile, where alignments pair all of it.
  if (!(settings.start == StartMode::local && settings.end == EndMode::local)) {
    const int length = static_cast<int>(sequence.size());
    const int window = composition_window(profile.length());
    int from = 1, to = length;
    if (length > window) {
      from = std::clamp((domain.seq_from + domain.seq_to) / 2 - window / 2, 1, length - window + 1);
      to = from + window - 1;
    }
    std::array<double, kAlphabetSize> q{};
    double n = 0;
    for (int i = from; i <= to; ++i) {
      const int a = getIndex(sequence[static_cast<std::size_t>(i - 1)]);
      if (a < 0) continue;
      q[static_cast<std::size_t>(a)] += 1;
      n += 1;
    }
    // The shift, less one standard deviation of what a sequence of the
    // background composition of this length would show: the law, fitted
    // to such sequences, has that already.
    double shift = 0, mean = 0, square = 0;
    for (std::size_t a = 0; a < q.size(); ++a) {
      const double excess = (q[a] + kShiftPseudocounts * background[a]) / (n + kShiftPseudocounts) - background[a];
      double column = 0;
      for (const int p : paired) column += profile.row(p)[a];
      shift += excess * column;
      mean += background[a] * column;
      square += background[a] * column * column;
    }
    const double noise = std::sqrt(std::max(0.0, square - mean * mean) * n) / (n + kShiftPseudocounts);
    c.shift = kShiftWeight * std::max(0.0, shift - noise);
  }
  c.bias = std::max(null2_bias, c.shift);
  c.excess = std::max(0.0, kNull2Weight * nats * c.unit - c.shift);
  return c;
}

double sequence_composition(const std::vector<const DomainComposition*>& domains) {
  double excess = 0, unit = 0;
  for (const DomainComposition* d : domains) {
    excess += d->excess;
    unit = std::max(unit, d->unit);
  }
  return unit > 0 ? null2_cost(excess / unit) * unit : 0.0;
}

}  // namespace tormid
