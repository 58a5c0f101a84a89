#include "search/score_law.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

namespace tormid {

namespace {

// The upper share of each length class that the length-dependent law is
// fitted to; the rest is censored (only known to lie below). The tail of
// glocal scores grows steeper the further out it goes, so a law fitted
// further down overstates the chance of high scores: with the upper tenth
// random sequences reached P <= 5e-5 half as often as the law said, with
// the upper twentieth 0.9 times (six profiles, 0.25 to 10 profile
// lengths). The slopes pool all classes, so the smaller share costs
// little precision.
constexpr double kUpperShare = 0.05;

// The slopes a fit may give (in nats per unit of score), and the largest
// location and ln L a law may hold: a stored law beyond them is damaged.
constexpr double kLowestLambda = 1e-4, kHighestLambda = 50;
constexpr double kLowestClassLambda = 1e-9, kHighestClassLambda = 1e9;
constexpr double kLargestLocation = 1e15, kLargestLogLength = 30;

// A class's scores in the run's own sample count where there are at least
// this many of them.
constexpr double kFewestRunScores = 10;

// The maximum of f on [lo, hi] by golden-section search (f unimodal there),
// to within tolerance.
double golden_maximum(const std::function<double(double)>& f, double lo, double hi, double tolerance = 1e-12) {
  const double g = (std::sqrt(5.0) - 1) / 2;
  double a = lo, b = hi, c = b - g * (b - a), d = a + g * (b - a);
  double fc = f(c), fd = f(d);
  for (int k = 0; k < 200 && b - a > tolerance * (1 + std::fabs(a)); ++k) {
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

// The maximum of f over N variables by the Nelder-Mead simplex.
template <std::size_t N>
std::array<double, N> simplex_maximum(const std::function<double(const std::array<double, N>&)>& f,
                                      const std::array<double, N>& start, const std::array<double, N>& step) {
  using Point = std::array<double, N>;
  std::array<Point, N + 1> p;
  std::array<double, N + 1> v;
  for (std::size_t i = 0; i <= N; ++i) {
    p[i] = start;
    if (i > 0) p[i][i - 1] += step[i - 1];
    v[i] = f(p[i]);
  }
  for (int iteration = 0; iteration < 4000; ++iteration) {
    // Best first.
    for (std::size_t i = 0; i <= N; ++i)
      for (std::size_t j = i + 1; j <= N; ++j)
        if (v[j] > v[i]) {
          std::swap(v[i], v[j]);
          std::swap(p[i], p[j]);
        }
    if (std::fabs(v[0] - v[N]) <= 1e-10 * (1 + std::fabs(v[0]))) break;
    Point centre{};
    for (std::size_t i = 0; i < N; ++i)
      for (std::size_t d = 0; d < N; ++d) centre[d] += p[i][d] / static_cast<double>(N);
    auto towards = [&](double t) {
      Point q;
      for (std::size_t d = 0; d < N; ++d) q[d] = centre[d] + t * (p[N][d] - centre[d]);
      return q;
    };
    const Point reflected = towards(-1);
    const double vr = f(reflected);
    if (vr > v[0]) {
      const Point expanded = towards(-2);
      const double ve = f(expanded);
      if (ve > vr) p[N] = expanded, v[N] = ve;
      else p[N] = reflected, v[N] = vr;
    } else if (vr > v[N - 1]) {
      p[N] = reflected, v[N] = vr;
    } else {
      const Point contracted = towards(vr > v[N] ? -0.5 : 0.5);
      const double vc = f(contracted);
      if (vc > std::max(vr, v[N])) {
        p[N] = contracted, v[N] = vc;
      } else {
        for (std::size_t i = 1; i <= N; ++i) {
          for (std::size_t d = 0; d < N; ++d) p[i][d] = p[0][d] + (p[i][d] - p[0][d]) / 2;
          v[i] = f(p[i]);
        }
      }
    }
  }
  std::size_t best = 0;
  for (std::size_t i = 1; i <= N; ++i)
    if (v[i] > v[best]) best = i;
  return p[best];
}

// One length class, cut at its upper share.
struct TailClass {
  double log_length;
  std::vector<double> upper;  // the scores above the cut
  double cut;
  double censored;  // how many lie below it
  double sd = 0;    // of all the class's scores
  double mean = 0;  // of them too
  std::size_t klass = 0;

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
    case Kind::by_length: return std::exp(interpolate(log_lambdas_, std::log(static_cast<double>(std::max(length, 1)))));
    case Kind::none: break;
  }
  return 0;
}

double ScoreLaw::location(int length) const {
  const double l = std::log(static_cast<double>(std::max(length, 1)));
  switch (kind_) {
    case Kind::local: return mu0_ + l / lambda_;
    case Kind::by_length: {
      if (l <= log_lengths_.back()) return interpolate(locations_, l);
      // Beyond the longest class the location grows at least as fast as
      // ln(L) / lambda, and as fast as it did between the last two classes
      // (a rate it approaches from above): conservative for long sequences.
      const std::size_t n = log_lengths_.size();
      const double rate = std::max(1 / std::exp(log_lambdas_.back()),
                                   (locations_[n - 1] - locations_[n - 2]) / (log_lengths_[n - 1] - log_lengths_[n - 2]));
      return locations_.back() + (l - log_lengths_.back()) * rate;
    }
    case Kind::none: break;
  }
  return 0;
}

double ScoreLaw::chance_nats(double score, int length) const {
  if (kind_ == Kind::none) return NAN;
  double nats = lambda(length) * (score - location(length));
  if (kind_ == Kind::by_length) {
    // A sequence scores at least what its first residues score, so chance
    // scores grow with the length; where the laws of two lengths cross (a
    // longer sequence's tail can be steeper), the longer takes the larger.
    const double l = std::log(static_cast<double>(std::max(length, 1)));
    for (std::size_t k = 0; k < log_lengths_.size() && log_lengths_[k] < l; ++k)
      nats = std::min(nats, std::exp(log_lambdas_[k]) * (score - locations_[k]));
  }
  return nats;
}

double ScoreLaw::expected_count(double score, int length) const { return std::exp(-chance_nats(score, length)); }

double ScoreLaw::pvalue(double score, int length) const {
  if (kind_ == Kind::none) return NAN;
  return pvalue_of_count(expected_count(score, length));
}

double ScoreLaw::interpolate(const std::vector<double>& values, double log_length) const {
  const std::vector<double>& at = log_lengths_;
  if (log_length <= at.front()) return values.front();
  if (log_length >= at.back()) return values.back();
  std::size_t k = 1;
  while (at[k] < log_length) ++k;
  const double f = (log_length - at[k - 1]) / (at[k] - at[k - 1]);
  return values[k - 1] + f * (values[k] - values[k - 1]);
}

double ScoreLaw::bits(double score, int length) const {
  return (chance_nats(score, length) + std::log(static_cast<double>(std::max(length, 1)))) / std::log(2.0);
}

namespace {

// The samples with an alignment.
std::vector<ScoreLaw::Sample> aligned(const std::vector<ScoreLaw::Sample>& samples) {
  std::vector<ScoreLaw::Sample> usable;
  for (const ScoreLaw::Sample& s : samples)
    if (s.score > kNoAlignment) usable.push_back(s);
  return usable;
}

// The maximum-likelihood mu0 for a slope: with z_i = lambda x_i - ln L_i,
// exp(lambda mu0) = n / sum exp(-z_i) (summed without overflow).
double local_location(const std::vector<ScoreLaw::Sample>& usable, double lambda) {
  double low = HUGE_VAL;
  for (const ScoreLaw::Sample& s : usable) low = std::min(low, s.score);
  double sum = 0;
  for (const ScoreLaw::Sample& s : usable) sum += s.length * std::exp(-lambda * (s.score - low));
  return (std::log(static_cast<double>(usable.size())) - std::log(sum)) / lambda + low;
}

}  // namespace

ScoreLaw ScoreLaw::fit_local(const std::vector<Sample>& reference, const std::vector<Sample>& run) {
  const std::vector<Sample> usable = aligned(reference), own = aligned(run);
  std::vector<double> scores;
  for (const Sample& s : usable) scores.push_back(s.score);
  if (usable.size() < 10 || !varies(scores)) return {};
  const double n = static_cast<double>(usable.size());
  // With mu0 in closed form, what remains is a function of lambda alone.
  auto profile_likelihood = [&](double log_lambda) {
    const double lambda = std::exp(log_lambda);
    double sum_z = 0;
    for (const Sample& s : usable) sum_z += lambda * s.score - std::log(static_cast<double>(s.length));
    return n * std::log(lambda) - sum_z + n * lambda * local_location(usable, lambda) - n;
  };
  ScoreLaw law;
  law.kind_ = Kind::local;
  law.lambda_ = std::exp(golden_maximum(profile_likelihood, std::log(kLowestLambda), std::log(kHighestLambda)));
  // The run's own location where it has samples enough to tell one.
  law.mu0_ = local_location(own.size() >= 10 ? own : usable, law.lambda_);
  return law;
}

namespace {

// The mean of the scores with an alignment, and how many there are.
std::pair<double, double> aligned_mean(const std::vector<double>& scores) {
  double n = 0, sum = 0;
  for (const double x : scores) {
    if (x <= kNoAlignment) continue;
    n += 1;
    sum += x;
  }
  return {n > 0 ? sum / n : NAN, n};
}

}  // namespace

ScoreLaw ScoreLaw::fit_by_length(const std::vector<int>& lengths, const std::vector<std::vector<double>>& classes,
                                 const std::vector<std::vector<double>>& run, int profile_length) {
  std::vector<TailClass> tails;
  for (std::size_t k = 0; k < classes.size(); ++k) {
    std::vector<double> sorted = classes[k];
    std::sort(sorted.begin(), sorted.end());
    const auto cut = static_cast<std::size_t>((1 - kUpperShare) * static_cast<double>(sorted.size()));
    TailClass t{std::log(static_cast<double>(lengths[k])), {sorted.begin() + static_cast<std::ptrdiff_t>(cut), sorted.end()},
                0, static_cast<double>(cut)};
    if (t.upper.size() < 5 || !varies(t.upper) || t.upper.front() <= kNoAlignment) continue;  // nothing to fit
    t.cut = t.upper.front();
    double n = 0, sum = 0, squares = 0;
    for (const double x : sorted) {
      if (x <= kNoAlignment) continue;
      n += 1;
      sum += x;
      squares += x * x;
    }
    t.sd = n > 1 ? std::sqrt(std::max(0.0, (squares - sum * sum / n) / (n - 1))) : 0;
    if (!(t.sd > 0)) continue;
    t.mean = sum / n;
    t.klass = k;
    tails.push_back(std::move(t));
  }
  if (tails.size() < 2) return {};
  // The slope of each class as a shape factor over the spread of all its
  // scores: lambda = exp(a + b t) / sd, t = ln(L / profile length). The
  // spread is measured on every sample; the shape factor (how much
  // steeper the tail is than the spread implies: 1.6 to 2.0, where a
  // Gumbel law would give 1.28) changes slowly with the length. So two
  // numbers fitted to the tails of all classes at once need far fewer
  // samples than a slope per class, whose tail of a few dozen scores
  // wanders by 25%.
  const double log_profile = std::log(static_cast<double>(std::max(profile_length, 1)));
  auto slope_of = [&](const TailClass& t, const std::array<double, 2>& ab) {
    return std::exp(ab[0] + ab[1] * (t.log_length - log_profile)) / t.sd;
  };
  auto log_likelihood = [&](const std::array<double, 2>& ab) {
    // What profiles of every kind show (the prior): a shape factor of
    // about 1.9 that falls slowly with the length.
    const double da = (ab[0] - std::log(1.9)) / 0.15, db = (ab[1] + 0.1) / 0.1;
    double ll = -(da * da + db * db) / 2;
    for (const TailClass& t : tails) ll += t.log_likelihood(slope_of(t, ab));
    return std::isfinite(ll) ? ll : -1e300;
  };
  const double a0 =
      golden_maximum([&](double a) { return log_likelihood({a, 0}); }, std::log(0.1), std::log(20.0), 1e-9);
  const std::array<double, 2> ab = simplex_maximum<2>(log_likelihood, {a0, 0}, {0.05, 0.05});
  ScoreLaw law;
  law.kind_ = Kind::by_length;
  // The run's own sample moves every class's location by one amount: how
  // far the means of its scores lie from the reference's, on average over
  // the classes. The reference alone says how the classes differ, so the
  // growth of the location with the length, extrapolated beyond the
  // longest class, is the same in every run.
  double shift = 0, shifted = 0;
  for (const TailClass& t : tails) {
    if (t.klass >= run.size()) continue;
    const auto [mean, n] = aligned_mean(run[t.klass]);
    if (n < kFewestRunScores) continue;
    shift += mean - t.mean;
    shifted += 1;
  }
  if (shifted > 0) shift /= shifted;
  for (const TailClass& t : tails) {
    law.log_lengths_.push_back(t.log_length);
    law.log_lambdas_.push_back(std::log(slope_of(t, ab)));
    law.locations_.push_back(t.location(slope_of(t, ab)) + shift);
  }
  // Scores of extreme units give slopes a stored law may not hold.
  if (!deserialized(law.serialized())) return {};
  return law;
}

double domains_expected_count(std::vector<double> counts) {
  if (counts.empty()) return NAN;
  std::sort(counts.begin(), counts.end());
  double best = counts.front(), sum = 0;
  double log_factorial = 0, log_factorial_before = 0;  // ln r!, ln (r - 1)!
  for (std::size_t r = 1; r <= counts.size() && counts[r - 1] < 1; ++r) {
    const double n = static_cast<double>(r);
    sum += -std::log(counts[r - 1]);
    log_factorial_before = log_factorial;
    log_factorial += std::log(n);
    if (r < 2) continue;
    const double log_chance = -sum + (n - 1) * std::log(sum) - log_factorial - log_factorial_before + n * std::log(2.0);
    best = std::min(best, std::exp(log_chance));
  }
  return best;
}

std::vector<double> ScoreLaw::serialized() const {
  std::vector<double> n = {static_cast<double>(kind_), lambda_, mu0_};
  for (const std::vector<double>* v : {&log_lengths_, &log_lambdas_, &locations_}) {
    n.push_back(static_cast<double>(v->size()));
    n.insert(n.end(), v->begin(), v->end());
  }
  return n;
}

std::optional<ScoreLaw> ScoreLaw::deserialized(const std::vector<double>& n) {
  ScoreLaw law;
  std::size_t at = 0;
  bool sound = true;
  auto next = [&] {
    sound = sound && at < n.size() && std::isfinite(n[at]);
    return sound ? n[at++] : 0.0;
  };
  const double kind = next();
  if (kind != 0 && kind != 1 && kind != 2) return std::nullopt;
  law.kind_ = static_cast<Kind>(static_cast<int>(kind));
  law.lambda_ = next();
  law.mu0_ = next();
  for (std::vector<double>* v : {&law.log_lengths_, &law.log_lambdas_, &law.locations_}) {
    const double size = next();
    if (!sound || size < 0 || size > static_cast<double>(n.size() - at) || size != std::floor(size))
      return std::nullopt;
    for (std::size_t k = 0; k < static_cast<std::size_t>(size); ++k) v->push_back(next());
  }
  const auto increasing = [](const std::vector<double>& v) {
    return std::adjacent_find(v.begin(), v.end(), std::greater_equal<double>()) == v.end();
  };
  const std::size_t classes = law.log_lengths_.size();
  sound = sound && at == n.size() && law.log_lambdas_.size() == classes && law.locations_.size() == classes &&
          increasing(law.log_lengths_);
  // Numbers a fit can give: a slope of 1e300 would make every E-value 0.
  const auto within = [](const std::vector<double>& v, double low, double high) {
    return std::all_of(v.begin(), v.end(), [&](double x) { return x >= low && x <= high; });
  };
  switch (law.kind_) {
    case Kind::none: sound = sound && classes == 0; break;
    case Kind::local:
      sound = sound && law.lambda_ >= kLowestLambda && law.lambda_ <= kHighestLambda &&
              std::fabs(law.mu0_) <= kLargestLocation && classes == 0;
      break;
    // Beyond the longest class the location grows as over the last two.
    case Kind::by_length:
      sound = sound && classes >= 2 && within(law.log_lengths_, 0, kLargestLogLength) &&
              within(law.log_lambdas_, std::log(kLowestClassLambda), std::log(kHighestClassLambda)) &&
              within(law.locations_, -kLargestLocation, kLargestLocation);
      break;
  }
  if (!sound) return std::nullopt;
  return law;
}

}  // namespace tormid
