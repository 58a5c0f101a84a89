#include "search/calibration.h"

#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <chrono>
#include <optional>

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
// Residues aligned per profile, shared out among the samples, within these
// bounds. (550,000 gave no better E-values on random sequences: the
// calibration check of README "Significance", three seeds.)
constexpr double kResidues = 420000;
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
  struct Draw {
    std::array<double, kAlphabetSize> cumulative{};
    // For each of 256 slices of [0, 1), the code of the slice's lowest
    // value: the search for a residue starts there instead of at 0, and
    // ends where it would have (cumulative only rises).
    std::array<int, 256> first{};
  };
  static const Draw draw = [] {
    Draw d;
    double total = 0;
    for (double f : background) total += f;
    double sum = 0;
    for (int k = 0; k < kAlphabetSize; ++k)
      d.cumulative[static_cast<std::size_t>(k)] = (sum += background[static_cast<std::size_t>(k)]) / total;
    for (int b = 0; b < 256; ++b) {
      const double u = b / 256.0;
      int k = 0;
      while (k + 1 < kAlphabetSize && u >= d.cumulative[static_cast<std::size_t>(k)]) ++k;
      d.first[static_cast<std::size_t>(b)] = k;
    }
    return d;
  }();
  std::uint64_t state = seed;
  state ^= mix(state) + static_cast<std::uint64_t>(klass) * 0x100000001B3ull + static_cast<std::uint64_t>(index);
  std::string s(static_cast<std::size_t>(length), 'A');
  for (char& c : s) {
    const std::uint64_t bits = mix(state) >> 11;
    const double u = static_cast<double>(bits) * 0x1.0p-53;
    int k = draw.first[static_cast<std::size_t>(bits >> 45)];
    while (k + 1 < kAlphabetSize && u >= draw.cumulative[static_cast<std::size_t>(k)]) ++k;
    c = alphabet[k];
  }
  return s;
}

namespace {

// Sequences of a plan scored together: enough to fill the lanes of
// quick_scores() several times over, few enough to share a profile's
// sequences among threads.
constexpr std::size_t kSamplesPerChunk = 64;

// Scores a plan's sequences [first, first + count) into scores
// (class-major: class c's k-th score at c * samples + k). Quick scores: a
// law fitted to thousands of chance scores does not see the rounding of
// floats, or in local mode of 16-bit integers (each score to 1/512 to
// 1/1024 of the largest), and they come several times as fast, many
// sequences at once.
void score_samples(const QuickProfile& profile, const Settings& settings, const CalibrationPlan& plan,
                   std::uint64_t seed, std::size_t first, std::size_t count, Workspace& workspace,
                   std::vector<double>& prefix, std::vector<double>& scores) {
  const auto samples = static_cast<std::size_t>(plan.samples);
  if (plan.prefixes) {
    for (std::size_t index = first; index < first + count; ++index) {
      const std::string seq = random_sequence(seed, 0, static_cast<int>(index), plan.lengths.back());
      quick_prefix_scores(profile, settings, seq, workspace, prefix);
      for (std::size_t c = 0; c < plan.lengths.size(); ++c)
        scores[c * samples + index] = prefix[static_cast<std::size_t>(plan.lengths[c]) - 1];
    }
    return;
  }
  std::vector<std::string> seqs;
  for (std::size_t index = first; index < first + count; ++index) {
    const std::size_t klass = index / samples;
    seqs.push_back(random_sequence(seed, static_cast<int>(klass), static_cast<int>(index % samples), plan.lengths[klass]));
  }
  const std::vector<std::string_view> views(seqs.begin(), seqs.end());
  quick_scores(profile, settings, views, workspace, std::span(scores).subspan(first, count));
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
  // Each profile's plan, and its chunks of sequences among all.
  std::vector<CalibrationPlan> plans;
  struct Chunk {
    std::size_t profile, first, count;
  };
  std::vector<Chunk> chunks;
  std::vector<std::vector<double>> scores(profiles.size());
  std::vector<std::optional<QuickProfile>> quick(profiles.size());
  for (std::size_t p = 0; p < profiles.size(); ++p) {
    plans.push_back(calibration_plan(settings, profiles[p]->length()));
    const std::size_t sequences = plans.back().sequences();
    for (std::size_t first = 0; first < sequences; first += kSamplesPerChunk)
      chunks.push_back({p, first, std::min(kSamplesPerChunk, sequences - first)});
    scores[p].resize(plans.back().scores());
  }
  struct Buffers {
    Workspace workspace;
    std::vector<double> prefix;
  };
  tbb::enumerable_thread_specific<Buffers> buffers;
  run_on_threads(threads, [&] {
    tbb::parallel_for(std::size_t{0}, profiles.size(), [&](std::size_t p) { quick[p].emplace(*profiles[p]); });
    tbb::parallel_for(std::size_t{0}, chunks.size(), [&](std::size_t k) {
      const Chunk& c = chunks[k];
      Buffers& b = buffers.local();
      score_samples(*quick[c.profile], settings, plans[c.profile], seed, c.first, c.count, b.workspace, b.prefix,
                    scores[c.profile]);
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

bool law_readable(const StoredLaw& law) { return ScoreLaw::deserialized(law.numbers).has_value(); }

bool law_holds(const StoredLaw& law, const SearchConfig& config) {
  const Settings& a = law.settings;
  const Settings& b = config.alignment;
  return law.model == kLawModel && law.seed == config.seed && a.gap_open_penalty_prf == b.gap_open_penalty_prf &&
         a.deletion_penalty_prf == b.deletion_penalty_prf && a.gap_open_penalty_seq == b.gap_open_penalty_seq &&
         a.deletion_penalty_seq == b.deletion_penalty_seq && a.start == b.start && a.end == b.end &&
         law_readable(law);
}

std::vector<ScoreLaw> resolve_laws(std::span<const Profile> profiles, std::span<const StoredLaw> stored,
                                   const SearchConfig& config, double& seconds) {
  std::vector<ScoreLaw> laws(profiles.size());
  std::vector<const Profile*> missing;
  std::vector<std::size_t> where;
  for (std::size_t p = 0; p < profiles.size(); ++p) {
    std::optional<ScoreLaw> law;
    if (p < stored.size() && law_holds(stored[p], config)) law = ScoreLaw::deserialized(stored[p].numbers);
    if (law) {
      laws[p] = std::move(*law);
    } else {
      missing.push_back(&profiles[p]);
      where.push_back(p);
    }
  }
  seconds = 0;
  if (missing.empty()) return laws;
  std::vector<ScoreLaw> fitted = calibrate_timed(missing, config, seconds);
  for (std::size_t k = 0; k < where.size(); ++k) laws[where[k]] = std::move(fitted[k]);
  return laws;
}

std::vector<StoredLaw> calibrate_laws(std::span<const Profile> profiles, const SearchConfig& config,
                                      const std::function<void(std::size_t)>& progress) {
  // In chunks, to tell the progress; each chunk keeps every thread busy.
  constexpr std::size_t kChunk = 256;
  std::vector<StoredLaw> stored;
  for (std::size_t first = 0; first < profiles.size(); first += kChunk) {
    std::vector<const Profile*> chunk;
    for (std::size_t p = first; p < std::min(profiles.size(), first + kChunk); ++p) chunk.push_back(&profiles[p]);
    for (const ScoreLaw& law : calibrate(chunk, config.alignment, config.seed, config.thread_count()))
      stored.push_back({config.alignment, config.seed, kLawModel, law.serialized()});
    if (progress) progress(stored.size());
  }
  return stored;
}

}  // namespace tormid
