#include "search/score_law.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

namespace tormid {

namespace {

// The upper share of each length class that the length-dependent law is
// fitted to; the rest is censored (only known to lie below). The tail of
// glocal scores grows steeper the further out it goes: fitted to the upper
// quarter, E-values came out 2.5 times too high at Z = 20,000; the upper
// tenth keeps them within about 20% of the truth (README, "Significance").
constexpr double kUpperShare = 0.1;

// P(X >= x) for a Gumbel law of slope lambda and location mu, accurate for
// tiny probabilities.
double gumbel_tail(double x, double lambda, double mu) { return -std::expm1(-std::exp(-lambda * (x - mu))); }

// The maximum of f on [lo, hi] by golden-section search (f unimodal there).
double golden_maximum(const std::function<double(double)>& f, double lo, double hi) {
  const double g = (std::sqrt(5.0) - 1) / 2;
  double a = lo, b = hi, c = b - g * (b - a), d = a + g * (b - a);
  double fc = f(c), fd = f(d);
  for (int k = 0; k < 200 && b - a > 1e-12 * (1 + std::fabs(a)); ++k) {
    if (fc > fd) {
      b = d;
      d = c;
      fd = fc;
      c = b - g * (b - a);
      fc = f(c);
    } else {
      a = c;
      c = d;
      fc = fd;
      d = a + g * (b - a);
      fd = f(d);
    }
  }
  return (a + b) / 2;
}

// The maximum of f over two variables by the Nelder-Mead simplex.
std::array<double, 2> simplex_maximum(const std::function<double(const std::array<double, 2>&)>& f,
                                      std::array<double, 2> start, std::array<double, 2> step) {
  std::array<std::array<double, 2>, 3> p = {start, start, start};
  p[1][0] += step[0];
  p[2][1] += step[1];
  std::array<double, 3> v = {f(p[0]), f(p[1]), f(p[2])};
  for (int iteration = 0; iteration < 2000; ++iteration) {
    // Best first.
    for (int i = 0; i < 3; ++i)
      for (int j = i + 1; j < 3; ++j)
        if (v[j] > v[i]) {
          std::swap(v[i], v[j]);
          std::swap(p[i], p[j]);
        }
    if (std::fabs(v[0] - v[2]) <= 1e-12 * (1 + std::fabs(v[0]))) break;
    const std::array<double, 2> centre = {(p[0][0] + p[1][0]) / 2, (p[0][1] + p[1][1]) / 2};
    auto towards = [&](double t) {
      return std::array<double, 2>{centre[0] + t * (p[2][0] - centre[0]), centre[1] + t * (p[2][1] - centre[1])};
    };
    const std::array<double, 2> reflected = towards(-1);
    const double vr = f(reflected);
    if (vr > v[0]) {
      const std::array<double, 2> expanded = towards(-2);
      const double ve = f(expanded);
      if (ve > vr) p[2] = expanded, v[2] = ve;
      else p[2] = reflected, v[2] = vr;
    } else if (vr > v[1]) {
      p[2] = reflected, v[2] = vr;
    } else {
      const std::array<double, 2> contracted = towards(vr > v[2] ? -0.5 : 0.5);
      const double vc = f(contracted);
      if (vc > std::max(vr, v[2])) {
        p[2] = contracted, v[2] = vc;
      } else {
        for (int i = 1; i < 3; ++i) {
          p[i] = {p[0][0] + (p[i][0] - p[0][0]) / 2, p[0][1] + (p[i][1] - p[0][1]) / 2};
          v[i] = f(p[i]);
        }
      }
    }
  }
  return v[0] >= v[1] && v[0] >= v[2] ? p[0] : (v[1] >= v[2] ? p[1] : p[2]);
}

// One length class, cut at its upper share.
struct TailClass {
  double log_length;
  std::vector<double> upper;  // the scores above the cut
  double cut;
  double censored;  // how many lie below it

  // The maximum-likelihood location for a given slope (closed form).
  double location(double lambda) const {
    double sum = censored;
    for (double x : upper) sum += std::exp(-lambda * (x - cut));
    return cut + std::log(static_cast<double>(upper.size()) / sum) / lambda;
  }
  double log_likelihood(double lambda) const {
    const double mu = location(lambda);
    double ll = -censored * std::exp(-lambda * (cut - mu));
    for (double x : upper) {
      const double z = lambda * (x - mu);
      ll += std::log(lambda) - z - std::exp(-z);
    }
    return ll;
  }
};

bool varies(const std::vector<double>& values) {
  return !values.empty() && std::any_of(values.begin(), values.end(), [&](double v) { return v != values.front(); });
}

}  // namespace

double ScoreLaw::lambda(int length) const {
  switch (kind_) {
    case Kind::local: return lambda_;
    case Kind::by_length: {
      const double l = std::clamp(std::log(static_cast<double>(length)), log_lengths_.front(), log_lengths_.back());
      return std::exp(a_ + b_ * (l - l_mid_));
    }
    case Kind::none: break;
  }
  return 0;
}

double ScoreLaw::location(int length) const {
  const double l = std::log(static_cast<double>(std::max(length, 1)));
  switch (kind_) {
    case Kind::local: return mu0_ + l / lambda_;
    case Kind::by_length: {
      if (l <= log_lengths_.front()) return locations_.front();
      if (l >= log_lengths_.back()) return locations_.back() + (l - log_lengths_.back()) / lambda(length);
      std::size_t k = 1;
      while (log_lengths_[k] < l) ++k;
      const double f = (l - log_lengths_[k - 1]) / (log_lengths_[k] - log_lengths_[k - 1]);
      return locations_[k - 1] + f * (locations_[k] - locations_[k - 1]);
    }
    case Kind::none: break;
  }
  return 0;
}

double ScoreLaw::expected_count(double score, int length) const {
  if (kind_ == Kind::none) return NAN;
  return std::exp(-lambda(length) * (score - location(length)));
}

double ScoreLaw::pvalue(double score, int length) const {
  if (kind_ == Kind::none) return NAN;
  return gumbel_tail(score, lambda(length), location(length));
}

double ScoreLaw::interpolate_bulk(const std::vector<double>& values, int length) const {
  const double l = std::log(static_cast<double>(std::max(length, 1)));
  const std::vector<double>& at = bulk_log_lengths_;
  if (l <= at.front()) return values.front();
  if (l >= at.back()) return values.back();
  std::size_t k = 1;
  while (at[k] < l) ++k;
  const double f = (l - at[k - 1]) / (at[k] - at[k - 1]);
  return values[k - 1] + f * (values[k] - values[k - 1]);
}

double ScoreLaw::bulk_mean(int length) const {
  if (bulk_means_.empty()) return NAN;
  // Beyond the longest calibrated length the scores move as the location.
  const double beyond = std::log(static_cast<double>(std::max(length, 1))) - bulk_log_lengths_.back();
  return interpolate_bulk(bulk_means_, length) + (beyond > 0 ? beyond / lambda(length) : 0.0);
}

double ScoreLaw::bulk_sd(int length) const { return bulk_sds_.empty() ? NAN : interpolate_bulk(bulk_sds_, length); }

void ScoreLaw::set_bulk(const std::vector<int>& lengths, const std::vector<std::vector<double>>& classes) {
  bulk_log_lengths_.clear();
  bulk_means_.clear();
  bulk_sds_.clear();
  for (std::size_t k = 0; k < classes.size(); ++k) {
    double n = 0, sum = 0, squares = 0;
    for (double x : classes[k]) {
      if (x <= kNoAlignment) continue;
      n += 1;
      sum += x;
      squares += x * x;
    }
    if (n < 2) continue;
    const double mean = sum / n;
    const double variance = (squares - n * mean * mean) / (n - 1);
    if (!(variance > 0)) continue;
    bulk_log_lengths_.push_back(std::log(static_cast<double>(lengths[k])));
    bulk_means_.push_back(mean);
    bulk_sds_.push_back(std::sqrt(variance));
  }
}

double ScoreLaw::expected_count(double score, int length, const CompositionNull& own) const {
  if (std::isnan(own.mean) || bulk_means_.empty() || own.length <= 0) return 0.0;
  const double standardized = bulk_mean(own.length) + (score - own.mean) / own.scale;
  const double stretches = std::max(1.0, static_cast<double>(length) / own.length);
  return expected_count(standardized, own.length) * stretches;
}

double ScoreLaw::bits(double score) const { return lambda_ * (score - mu0_) / std::log(2.0); }

ScoreLaw ScoreLaw::fit_local(const std::vector<Sample>& samples) {
  std::vector<Sample> usable;
  for (const Sample& s : samples)
    if (s.score > kNoAlignment) usable.push_back(s);
  std::vector<double> scores;
  for (const Sample& s : usable) scores.push_back(s.score);
  if (usable.size() < 10 || !varies(scores)) return {};
  const double n = static_cast<double>(usable.size());
  const double low = *std::min_element(scores.begin(), scores.end());
  // With z_i = lambda x_i - ln L_i the location mu0 has a closed form,
  // exp(lambda mu0) = n / sum exp(-z_i); what remains is a function of
  // lambda alone.
  auto log_sum = [&](double lambda) {  // ln sum L_i exp(-lambda x_i), without overflow
    double sum = 0;
    for (const Sample& s : usable) sum += s.length * std::exp(-lambda * (s.score - low));
    return std::log(sum) - lambda * low;
  };
  auto profile_likelihood = [&](double log_lambda) {
    const double lambda = std::exp(log_lambda);
    double sum_z = 0;
    for (const Sample& s : usable) sum_z += lambda * s.score - std::log(static_cast<double>(s.length));
    return n * std::log(lambda) - sum_z + n * (std::log(n) - log_sum(lambda)) - n;
  };
  ScoreLaw law;
  law.kind_ = Kind::local;
  law.lambda_ = std::exp(golden_maximum(profile_likelihood, std::log(1e-4), std::log(50.0)));
  law.mu0_ = (std::log(n) - log_sum(law.lambda_)) / law.lambda_;
  return law;
}

ScoreLaw ScoreLaw::fit_by_length(const std::vector<int>& lengths, const std::vector<std::vector<double>>& classes) {
  std::vector<TailClass> tails;
  for (std::size_t k = 0; k < classes.size(); ++k) {
    std::vector<double> sorted = classes[k];
    std::sort(sorted.begin(), sorted.end());
    const auto cut = static_cast<std::size_t>((1 - kUpperShare) * static_cast<double>(sorted.size()));
    TailClass t{std::log(static_cast<double>(lengths[k])), {sorted.begin() + static_cast<std::ptrdiff_t>(cut), sorted.end()},
                0, static_cast<double>(cut)};
    if (t.upper.size() < 5 || !varies(t.upper) || t.upper.front() <= kNoAlignment) continue;  // nothing to fit
    t.cut = t.upper.front();
    tails.push_back(std::move(t));
  }
  if (tails.size() < 2) return {};
  ScoreLaw law;
  law.kind_ = Kind::by_length;
  law.l_mid_ = (tails.front().log_length + tails.back().log_length) / 2;
  auto log_likelihood = [&](const std::array<double, 2>& ab) {
    double ll = 0;
    for (const TailClass& t : tails) ll += t.log_likelihood(std::exp(ab[0] + ab[1] * (t.log_length - law.l_mid_)));
    return std::isfinite(ll) ? ll : -1e300;
  };
  // A common slope first, then its change with the length.
  const double a0 = golden_maximum([&](double a) { return log_likelihood({a, 0}); }, std::log(1e-4), std::log(50.0));
  const std::array<double, 2> ab = simplex_maximum(log_likelihood, {a0, 0}, {0.1, 0.05});
  law.a_ = ab[0];
  law.b_ = ab[1];
  for (const TailClass& t : tails) {
    law.log_lengths_.push_back(t.log_length);
    law.locations_.push_back(t.location(std::exp(law.a_ + law.b_ * (t.log_length - law.l_mid_))));
  }
  return law;
}

std::vector<double> ScoreLaw::serialized() const {
  std::vector<double> n = {static_cast<double>(kind_), lambda_, mu0_, a_, b_, l_mid_};
  for (const std::vector<double>* v : {&log_lengths_, &locations_, &bulk_log_lengths_, &bulk_means_, &bulk_sds_}) {
    n.push_back(static_cast<double>(v->size()));
    n.insert(n.end(), v->begin(), v->end());
  }
  return n;
}

ScoreLaw ScoreLaw::deserialized(const std::vector<double>& n) {
  ScoreLaw law;
  std::size_t at = 0;
  auto next = [&] { return at < n.size() ? n[at++] : 0.0; };
  law.kind_ = static_cast<Kind>(static_cast<int>(next()));
  law.lambda_ = next();
  law.mu0_ = next();
  law.a_ = next();
  law.b_ = next();
  law.l_mid_ = next();
  for (std::vector<double>* v :
       {&law.log_lengths_, &law.locations_, &law.bulk_log_lengths_, &law.bulk_means_, &law.bulk_sds_}) {
    const auto size = static_cast<std::size_t>(next());
    for (std::size_t k = 0; k < size; ++k) v->push_back(next());
  }
  return law;
}

}  // namespace tormid
