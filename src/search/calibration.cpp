#include "search/calibration.h"

#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <chrono>

#include "search/threads.h"

namespace tormid {

namespace {

// splitmix64: small, fast, and the same numbers everywhere.
std::uint64_t mix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

ScoreLaw::Kind law_kind(const Settings& settings) {
  if (settings.end == EndMode::global) return ScoreLaw::Kind::none;
  if (settings.start == StartMode::local && settings.end == EndMode::local) return ScoreLaw::Kind::local;
  return ScoreLaw::Kind::by_length;
}

namespace {

// Glocal scores change fastest with the length where sequences are about
// as long as the profile and shorter (a sequence shorter than the profile
// must leave positions unpaired): the length classes run from a quarter
// of the profile's length to two and a half times it, densest around it,
// with one of kLongClass residues where that is longer. (Classes fixed at
// 30 to 1,000 residues, as before, left a 260-position profile 4 times
// too many chance hits from sequences of its own length.)
constexpr double kLengthFactors[] = {0.25, 0.35, 0.5, 0.65, 0.8, 1, 1.25, 1.6, 2, 2.5};
constexpr int kShortestClass = 8;
constexpr int kLongClass = 600;
// Residues aligned per profile (1.4 times the 392,000 of fixed classes),
// shared out among the samples, within these bounds.
constexpr double kResidues = 550000;
constexpr int kFewestSamples = 150, kMostSamples = 2000;

CalibrationPlan by_length_plan(int profile_length, bool prefixes) {
  CalibrationPlan plan;
  for (const double f : kLengthFactors) {
    const int length = std::max(kShortestClass, static_cast<int>(std::lround(f * profile_length)));
    if (plan.lengths.empty() || length > plan.lengths.back()) plan.lengths.push_back(length);
  }
  if (plan.lengths.back() < kLongClass) plan.lengths.push_back(kLongClass);
  // With prefixes, one sequence of the longest length gives a sample of
  // every class; else each class has sequences of its own.
  double residues = plan.lengths.back();
  if (!prefixes) {
    residues = 0;
    for (const int length : plan.lengths) residues += length;
  }
  plan.prefixes = prefixes;
  plan.profile_length = profile_length;
  plan.samples = std::clamp(static_cast<int>(kResidues / residues), kFewestSamples, kMostSamples);
  return plan;
}

}  // namespace

CalibrationPlan calibration_plan(const Settings& settings, int profile_length) {
  switch (law_kind(settings)) {
    // Two parameters fitted on every sample; the local kernel is the
    // slower one.
    case ScoreLaw::Kind::local: return {{60, 120, 250, 500, 1000}, 120};
    case ScoreLaw::Kind::by_length: return by_length_plan(profile_length, settings.end == EndMode::prf_free);
    case ScoreLaw::Kind::none: break;
  }
  return {};
}

std::string random_sequence(std::uint64_t seed, int klass, int index, int length) {
  static const std::array<double, kAlphabetSize> cumulative = [] {
    std::array<double, kAlphabetSize> c{};
    double total = 0;
    for (double f : background) total += f;
    double sum = 0;
    for (int k = 0; k < kAlphabetSize; ++k) c[static_cast<std::size_t>(k)] = (sum += background[static_cast<std::size_t>(k)]) / total;
    return c;
  }();
  std::uint64_t state = seed;
  state ^= mix(state) + static_cast<std::uint64_t>(klass) * 0x100000001B3ull + static_cast<std::uint64_t>(index);
  std::string s(static_cast<std::size_t>(length), 'A');
  for (char& c : s) {
    const double u = static_cast<double>(mix(state) >> 11) * 0x1.0p-53;
    int k = 0;
    while (k + 1 < kAlphabetSize && u >= cumulative[static_cast<std::size_t>(k)]) ++k;
    c = alphabet[k];
  }
  return s;
}

namespace {

// Scores a plan's sequence `index` into scores (class-major: class c's
// k-th score at c * samples + k).
void score_sample(const Profile& profile, const Settings& settings, const CalibrationPlan& plan, std::uint64_t seed,
                  std::size_t index, Workspace& workspace, std::vector<double>& prefix, std::vector<double>& scores) {
  const auto samples = static_cast<std::size_t>(plan.samples);
  if (plan.prefixes) {
    const std::string seq = random_sequence(seed, 0, static_cast<int>(index), plan.lengths.back());
    prefix_scores(profile, settings, seq, workspace, prefix);
    for (std::size_t c = 0; c < plan.lengths.size(); ++c)
      scores[c * samples + index] = prefix[static_cast<std::size_t>(plan.lengths[c]) - 1];
    return;
  }
  const std::size_t klass = index / samples;
  const std::string seq =
      random_sequence(seed, static_cast<int>(klass), static_cast<int>(index % samples), plan.lengths[klass]);
  scores[index] = align(profile, settings, seq, workspace, Detail::score).score;
}

// The law of a profile from its calibration scores.
ScoreLaw fit(ScoreLaw::Kind kind, const CalibrationPlan& plan, const std::vector<double>& scores) {
  const auto samples = static_cast<std::size_t>(plan.samples);
  std::vector<std::vector<double>> classes(plan.lengths.size());
  for (std::size_t s = 0; s < scores.size(); ++s) classes[s / samples].push_back(scores[s]);
  ScoreLaw law;
  if (kind == ScoreLaw::Kind::local) {
    std::vector<ScoreLaw::Sample> all;
    for (std::size_t s = 0; s < scores.size(); ++s) all.push_back({scores[s], plan.lengths[s / samples]});
    law = ScoreLaw::fit_local(all);
  } else {
    law = ScoreLaw::fit_by_length(plan.lengths, classes, plan.profile_length);
  }
  if (law.defined()) law.set_bulk(plan.lengths, classes);
  return law;
}

}  // namespace

std::vector<ScoreLaw> calibrate(const std::vector<const Profile*>& profiles, const Settings& settings,
                                std::uint64_t seed, int threads) {
  const ScoreLaw::Kind kind = law_kind(settings);
  std::vector<ScoreLaw> laws(profiles.size());
  if (kind == ScoreLaw::Kind::none || profiles.empty()) return laws;
  // Each profile's plan, and where its sequences start among all.
  std::vector<CalibrationPlan> plans;
  std::vector<std::size_t> first = {0};
  std::vector<std::vector<double>> scores(profiles.size());
  for (std::size_t p = 0; p < profiles.size(); ++p) {
    plans.push_back(calibration_plan(settings, profiles[p]->length()));
    first.push_back(first.back() + plans.back().sequences());
    scores[p].resize(plans.back().scores());
  }
  struct Buffers {
    Workspace workspace;
    std::vector<double> prefix;
  };
  tbb::enumerable_thread_specific<Buffers> buffers;
  run_on_threads(threads, [&] {
    tbb::parallel_for(std::size_t{0}, first.back(), [&](std::size_t unit) {
      const auto p = static_cast<std::size_t>(std::upper_bound(first.begin(), first.end(), unit) - first.begin() - 1);
      Buffers& b = buffers.local();
      score_sample(*profiles[p], settings, plans[p], seed, unit - first[p], b.workspace, b.prefix, scores[p]);
    });
    tbb::parallel_for(std::size_t{0}, profiles.size(),
                      [&](std::size_t p) { laws[p] = fit(kind, plans[p], scores[p]); });
  });
  return laws;
}

std::vector<ScoreLaw> calibrate_timed(const std::vector<const Profile*>& profiles, const SearchConfig& config,
                                      double& seconds) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<ScoreLaw> laws = calibrate(profiles, config.alignment, config.seed, config.thread_count());
  seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return laws;
}

}  // namespace tormid
