#include "search/calibration.h"

#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <optional>

#include "input/thread_arenas.h"

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
// Residues aligned per profile and sample, shared out among its
// sequences, within these bounds. (550,000 gave no better E-values on
// random sequences: the calibration check of README "Significance", three
// seeds.) The run's sample only places the law, by the mean of its
// scores, whose error is the spread over the root of the number of
// sequences: at most a sixth of a unit of 1 / lambda for 150.
constexpr double kResidues = 420000;
constexpr int kFewestSamples = 150, kMostSamples = 2000;
// Local mode: the slope comes from four times the run's 120 sequences per
// class (its error, some 0.8 / sqrt(n) of it, 1.6% for 2,400), the same in
// every run.
constexpr int kLocalRunSamples = 120, kLocalReferenceSamples = 480;

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
  const int samples = static_cast<int>(kResidues / residues);
  plan.reference_samples = std::clamp(samples, kFewestSamples, kMostSamples);
  plan.run_samples = plan.reference_samples;
  return plan;
}

}  // namespace

CalibrationPlan calibration_plan(const Settings& settings, int profile_length) {
  switch (law_kind(settings)) {
    case ScoreLaw::Kind::local: {
      CalibrationPlan plan{{60, 120, 250, 500, 1000}, kLocalReferenceSamples, kLocalRunSamples};
      plan.profile_length = profile_length;
      return plan;
    }
    case ScoreLaw::Kind::by_length: return by_length_plan(profile_length, settings.end == EndMode::prf_free);
    case ScoreLaw::Kind::none: break;
  }
  return {};
}

std::uint64_t reference_seed(const Profile& profile) {
  // FNV-1a over the scores' bits.
  std::uint64_t h = 1469598103934665603ull;
  for (const ProfileRow& row : profile.rows())
    for (const double score : row) {
      const auto bits = std::bit_cast<std::uint64_t>(score);
      for (int b = 0; b < 64; b += 8) h = (h ^ ((bits >> b) & 0xFF)) * 1099511628211ull;
    }
  return h;
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

// One of a plan's two samples: its seed and scores per class.
struct SampleSet {
  std::uint64_t seed;
  int samples;
};

// Scores a sample's sequences [first, first + count) into scores
// (class-major: class c's k-th score at c * samples + k). Quick scores: a
// law fitted to thousands of chance scores does not see the rounding of
// floats, or in local mode of 16-bit integers (each score to 1/512 to
// 1/1024 of the largest), and they come several times as fast, many
// sequences at once.
void score_samples(const QuickProfile& profile, const Settings& settings, const CalibrationPlan& plan,
                   const SampleSet& set, std::size_t first, std::size_t count, Workspace& workspace,
                   std::vector<double>& prefix, std::vector<double>& scores) {
  const auto samples = static_cast<std::size_t>(set.samples);
  if (plan.prefixes) {
    for (std::size_t index = first; index < first + count; ++index) {
      const std::string seq = random_sequence(set.seed, 0, static_cast<int>(index), plan.lengths.back());
      quick_prefix_scores(profile, settings, seq, workspace, prefix);
      for (std::size_t c = 0; c < plan.lengths.size(); ++c)
        scores[c * samples + index] = prefix[static_cast<std::size_t>(plan.lengths[c]) - 1];
    }
    return;
  }
  std::vector<std::string> seqs;
  for (std::size_t index = first; index < first + count; ++index) {
    const std::size_t klass = index / samples;
    seqs.push_back(
        random_sequence(set.seed, static_cast<int>(klass), static_cast<int>(index % samples), plan.lengths[klass]));
  }
  const std::vector<std::string_view> views(seqs.begin(), seqs.end());
  quick_scores(profile, settings, views, workspace, std::span(scores).subspan(first, count));
}

// A sample's scores by class.
std::vector<std::vector<double>> by_class(const CalibrationPlan& plan, const std::vector<double>& scores,
                                          int samples) {
  std::vector<std::vector<double>> classes(plan.lengths.size());
  for (std::size_t s = 0; s < scores.size(); ++s) classes[s / static_cast<std::size_t>(samples)].push_back(scores[s]);
  return classes;
}

// The same as samples of any length.
std::vector<ScoreLaw::Sample> with_lengths(const CalibrationPlan& plan, const std::vector<double>& scores,
                                           int samples) {
  std::vector<ScoreLaw::Sample> all;
  for (std::size_t s = 0; s < scores.size(); ++s)
    all.push_back({scores[s], plan.lengths[s / static_cast<std::size_t>(samples)]});
  return all;
}

// The law of a profile from its reference and run scores.
ScoreLaw fit(ScoreLaw::Kind kind, const CalibrationPlan& plan, const std::vector<double>& reference,
             const std::vector<double>& run) {
  if (kind == ScoreLaw::Kind::local)
    return ScoreLaw::fit_local(with_lengths(plan, reference, plan.reference_samples),
                               with_lengths(plan, run, plan.run_samples));
  return ScoreLaw::fit_by_length(plan.lengths, by_class(plan, reference, plan.reference_samples),
                                 by_class(plan, run, plan.run_samples), plan.profile_length);
}

}  // namespace

std::vector<ScoreLaw> calibrate(const std::vector<const Profile*>& profiles, const Settings& settings,
                                std::uint64_t seed, int threads, std::stop_token stop) {
  const ScoreLaw::Kind kind = law_kind(settings);
  std::vector<ScoreLaw> laws(profiles.size());
  if (kind == ScoreLaw::Kind::none || profiles.empty()) return laws;
  // Each profile's plan, and its chunks of sequences among all: of the
  // reference sample (set 0) and of the run's (set 1).
  std::vector<CalibrationPlan> plans;
  std::vector<std::array<SampleSet, 2>> sets;
  struct Chunk {
    std::size_t profile, set, first, count;
  };
  std::vector<Chunk> chunks;
  std::vector<std::array<std::vector<double>, 2>> scores(profiles.size());
  std::vector<std::optional<QuickProfile>> quick(profiles.size());
  for (std::size_t p = 0; p < profiles.size(); ++p) {
    const CalibrationPlan& plan = plans.emplace_back(calibration_plan(settings, profiles[p]->length()));
    sets.push_back({SampleSet{reference_seed(*profiles[p]), plan.reference_samples}, SampleSet{seed, plan.run_samples}});
    for (std::size_t set = 0; set < 2; ++set) {
      const std::size_t sequences = plan.sequences(sets[p][set].samples);
      for (std::size_t first = 0; first < sequences; first += kSamplesPerChunk)
        chunks.push_back({p, set, first, std::min(kSamplesPerChunk, sequences - first)});
      scores[p][set].resize(plan.scores(sets[p][set].samples));
    }
  }
  struct Buffers {
    Workspace workspace;
    std::vector<double> prefix;
  };
  tbb::enumerable_thread_specific<Buffers> buffers;
  run_on_threads(threads, [&] {
    tbb::parallel_for(std::size_t{0}, profiles.size(), [&](std::size_t p) { quick[p].emplace(*profiles[p]); });
    tbb::parallel_for(std::size_t{0}, chunks.size(), [&](std::size_t k) {
      if (stop.stop_requested()) throw SearchStopped();
      const Chunk& c = chunks[k];
      Buffers& b = buffers.local();
      score_samples(*quick[c.profile], settings, plans[c.profile], sets[c.profile][c.set], c.first, c.count,
                    b.workspace, b.prefix, scores[c.profile][c.set]);
    });
    tbb::parallel_for(std::size_t{0}, profiles.size(),
                      [&](std::size_t p) { laws[p] = fit(kind, plans[p], scores[p][0], scores[p][1]); });
  });
  return laws;
}

std::vector<ScoreLaw> calibrate_timed(const std::vector<const Profile*>& profiles, const SearchConfig& config,
                                      double& seconds, std::stop_token stop) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<ScoreLaw> laws = calibrate(profiles, config.alignment, config.seed, config.thread_count(), stop);
  seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return laws;
}

bool law_readable(const StoredLaw& law) {
  // A law of its version must be of the kind its settings call for, or
  // none (a profile no law fits).
  if (law.model == kLawModel) {
    const std::optional<ScoreLaw> read = ScoreLaw::deserialized(law.numbers);
    return read && (read->kind() == law_kind(law.settings) || !read->defined());
  }
  // A law of another version is calibrated again, not read: its numbers
  // need only look like a law's.
  const std::vector<double>& n = law.numbers;
  return !n.empty() && (n[0] == 0 || n[0] == 1 || n[0] == 2) &&
         std::all_of(n.begin(), n.end(), [](double v) { return std::isfinite(v); });
}

bool law_made_for(const StoredLaw& law, const SearchConfig& config) {
  const Settings& a = law.settings;
  const Settings& b = config.alignment;
  return law.model == kLawModel && law.seed == config.seed && a.gap_open_penalty_prf == b.gap_open_penalty_prf &&
         a.deletion_penalty_prf == b.deletion_penalty_prf && a.gap_open_penalty_seq == b.gap_open_penalty_seq &&
         a.deletion_penalty_seq == b.deletion_penalty_seq && a.start == b.start && a.end == b.end;
}

bool law_holds(const StoredLaw& law, const SearchConfig& config) {
  if (!law_made_for(law, config)) return false;
  // A stored law without numbers for the settings' kind (none where one is
  // called for) is calibrated again rather than left without E-values.
  const std::optional<ScoreLaw> read = ScoreLaw::deserialized(law.numbers);
  return read && read->kind() == law_kind(config.alignment);
}

std::vector<ScoreLaw> resolve_laws(std::span<const Profile> profiles, std::span<const StoredLaw> stored,
                                   const SearchConfig& config, double& seconds, std::stop_token stop) {
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
  std::vector<ScoreLaw> fitted = calibrate_timed(missing, config, seconds, stop);
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
