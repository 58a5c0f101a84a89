#include "search/calibration.h"

#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>

#include <array>
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

CalibrationPlan calibration_plan(const Settings& settings) {
  switch (law_kind(settings)) {
    // Two parameters fitted on every sample; the local kernel is the
    // slower one.
    case ScoreLaw::Kind::local: return {{60, 120, 250, 500, 1000}, 120};
    // The upper tenth of each class: more samples.
    case ScoreLaw::Kind::by_length: return {{30, 60, 120, 250, 500, 1000}, 200};
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

std::vector<ScoreLaw> calibrate(const std::vector<const Profile*>& profiles, const Settings& settings,
                                std::uint64_t seed, int threads) {
  const ScoreLaw::Kind kind = law_kind(settings);
  std::vector<ScoreLaw> laws(profiles.size());
  if (kind == ScoreLaw::Kind::none || profiles.empty()) return laws;
  const CalibrationPlan plan = calibration_plan(settings);
  const std::size_t per_profile = plan.lengths.size() * static_cast<std::size_t>(plan.samples);
  // scores[p][c * samples + k]
  std::vector<std::vector<double>> scores(profiles.size(), std::vector<double>(per_profile));
  tbb::enumerable_thread_specific<Workspace> workspaces;
  run_on_threads(threads, [&] {
    tbb::parallel_for(std::size_t{0}, profiles.size() * per_profile, [&](std::size_t unit) {
      const std::size_t p = unit / per_profile, sample = unit % per_profile;
      const int klass = static_cast<int>(sample / static_cast<std::size_t>(plan.samples));
      const int index = static_cast<int>(sample % static_cast<std::size_t>(plan.samples));
      const std::string seq = random_sequence(seed, klass, index, plan.lengths[static_cast<std::size_t>(klass)]);
      scores[p][sample] = align(*profiles[p], settings, seq, workspaces.local(), Detail::score).score;
    });
    tbb::parallel_for(std::size_t{0}, profiles.size(), [&](std::size_t p) {
      std::vector<std::vector<double>> classes(plan.lengths.size());
      for (std::size_t s = 0; s < per_profile; ++s) classes[s / static_cast<std::size_t>(plan.samples)].push_back(scores[p][s]);
      if (kind == ScoreLaw::Kind::local) {
        std::vector<ScoreLaw::Sample> samples;
        for (std::size_t s = 0; s < per_profile; ++s)
          samples.push_back({scores[p][s], plan.lengths[s / static_cast<std::size_t>(plan.samples)]});
        laws[p] = ScoreLaw::fit_local(samples);
      } else {
        laws[p] = ScoreLaw::fit_by_length(plan.lengths, classes);
      }
      if (laws[p].defined()) laws[p].set_bulk(plan.lengths, classes);
    });
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
