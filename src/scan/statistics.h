// Significance: the law of a profile's best score on random sequences,
// calibrated at start-up, and the P-values it gives. Private to
// tormid-scan.
//
// What the measurements support (README, "Significance"):
// - local mode: the best score of a random sequence of length L follows a
//   Gumbel law with one slope lambda for every length and a location that
//   grows as ln(L) / lambda, as Karlin-Altschul theory says; two
//   parameters, fitted by maximum likelihood on all samples;
// - other modes with a free end (glocal and the mixed ones): the slope
//   itself changes with the length and the upper tail is steeper than the
//   body, so the law is fitted to the upper tenth of the samples of each
//   of a few sequence lengths (censored maximum likelihood), with a slope
//   that varies log-linearly with ln L and one location per length,
//   interpolated in ln L; beyond the longest length the location grows as
//   ln(L) / lambda;
// - global mode (both ends fixed): scores are no extreme values; no
//   P-values.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/engine.h"

namespace tormid::scan {

// How a sequence's composition moves chance scores (see composition_null
// below).
struct CompositionNull {
  double mean = NAN;   // of the shuffles' best scores; NaN: no correction
  double scale = 1.0;  // their spread over that of random sequences
  int length = 0;      // of the stretch shuffled
};

class ScoreLaw {
 public:
  enum class Kind { none, local, by_length };

  ScoreLaw() = default;

  Kind kind() const { return kind_; }
  bool defined() const { return kind_ != Kind::none; }
  // The expected number of domains scoring at least `score` in a random
  // sequence of `length` residues: exp(-lambda (score - location)). The
  // E-value of a domain is this times the number of sequences searched.
  double expected_count(double score, int length) const;
  // P(best score >= score) for such a sequence: 1 - exp(-expected_count).
  double pvalue(double score, int length) const;
  // The score in bits, such that E is about Z * L * 2^-bits: local mode only.
  bool has_bits() const { return kind_ == Kind::local; }
  double bits(double score) const;

  // The slope and location at a length.
  double lambda(int length) const;
  double location(int length) const;

  // The mean and standard deviation of all calibration scores at a length
  // (interpolated in ln L between the calibrated lengths).
  double bulk_mean(int length) const;
  double bulk_sd(int length) const;
  // The bulk statistics of the calibration classes (scores of random
  // sequences of lengths[k]; no-alignment scores are left out).
  void set_bulk(const std::vector<int>& lengths, const std::vector<std::vector<double>>& classes);

  // The expected chance count of a score, in a sequence of `length`
  // residues, for the composition of a stretch of it that moves chance
  // scores as `own` says (see composition_null); 0 without a null.
  double expected_count(double score, int length, const CompositionNull& own) const;

  // Samples: best scores of random sequences of the given lengths.
  struct Sample {
    double score;
    int length;
  };
  // The law as numbers and back, to send it between processes.
  std::vector<double> serialized() const;
  static ScoreLaw deserialized(const std::vector<double>& numbers);

  // The local law fitted to samples of any lengths.
  static ScoreLaw fit_local(const std::vector<Sample>& samples);
  // The length-dependent law fitted to the samples of each length class
  // (classes[k] holds the scores of sequences of lengths[k] residues).
  static ScoreLaw fit_by_length(const std::vector<int>& lengths, const std::vector<std::vector<double>>& classes);

 private:
  Kind kind_ = Kind::none;
  // local: location mu0 + ln(L) / lambda
  double lambda_ = 0, mu0_ = 0;
  // by_length: lambda(l) = exp(a + b (l - l_mid)), l = ln L clamped to the
  // classes; locations at the classes' ln L.
  double a_ = 0, b_ = 0, l_mid_ = 0;
  std::vector<double> log_lengths_, locations_;
  // Bulk statistics at bulk_log_lengths_.
  std::vector<double> bulk_log_lengths_, bulk_means_, bulk_sds_;
  double interpolate_bulk(const std::vector<double>& values, int length) const;
};

// How a profile is calibrated under the search settings.
struct CalibrationPlan {
  std::vector<int> lengths;  // the length classes
  int samples = 0;           // random sequences per class
};
// Which law the settings call for.
ScoreLaw::Kind law_kind(const Settings& settings);
CalibrationPlan calibration_plan(const Settings& settings);

// A random sequence drawn from the background composition; the same for
// (seed, length class, index) on every machine.
std::string random_sequence(std::uint64_t seed, int klass, int index, int length);

// Composition: how a sequence's own composition moves the scores chance
// alone reaches. A stretch of the sequence is shuffled, each shuffle
// keeping its residues and destroying their order, and aligned against the
// profile. The mean and spread of those best scores, against the mean and
// spread of random sequences of the same length from the calibration, say
// how far the composition shifts and widens the whole law; a score is then
// as unusual for the composition as its standardized score,
// bulk_mean + (score - mean) / scale, is for random sequences of the
// stretch's length (times the number of such stretches in the sequence).
// The sequence is shuffled (or, for a sequence longer than
// composition_window(), that many residues around the domain); and where
// the domain with kDomainMargin residues on either side is of low
// complexity (below kLowComplexityBits of entropy), that stretch too, as
// the whole sequence dilutes its composition. The expected chance count of a domain is the largest of the
// calibrated law's and these: a composition can make chance hits likelier,
// never a domain more significant. (Measured on shuffled coiled-coil-like
// proteins, keeping the scale at least 1 made glocal E-values ten times too
// conservative; shuffling the whole sequence alone left E-K repeats inside
// plain proteins significant in local mode; shuffling every domain's own
// stretch made members of a coiled-coil family insignificant: 3.3 bits
// lies between coiled-coil compositions, 3.6 to 3.8 bits over 150
// residues, and repeats of two or three residues, 2.3 to 2.9.)
//
// Three shuffles come first; when their mean is within 1.2 standard
// deviations of the random mean the composition makes no material
// difference and the correction stops there; otherwise
// kCompositionShuffles in all are aligned. (On 20,000 proteins of a
// realistic spread of compositions, 20 shuffles after a check at 1.0
// cost 22% of the search time in glocal mode, 14 after 1.2 cost 16%, for
// the same decoy counts.)
inline constexpr int kCompositionShuffles = 14;
inline constexpr int kCompositionFirstShuffles = 3;
inline constexpr double kCompositionMaterial = 1.2;  // standard deviations
inline constexpr int kDomainMargin = 20;
inline constexpr double kLowComplexityBits = 3.3;

// The Shannon entropy of a stretch's residue composition, in bits.
double composition_entropy(std::string_view stretch);

CompositionNull composition_null(const Profile& profile, const Settings& settings, const ScoreLaw& law,
                                 std::string_view stretch, std::uint64_t seed, Workspace& workspace,
                                 std::uint64_t& cells);

// The longest stretch shuffled for a profile of this length.
inline int composition_window(int profile_length) { return std::max(1000, 3 * profile_length); }

// The sequence-wide stretch shuffled for a domain (1-based, inclusive):
// the whole sequence, or composition_window() residues centred on it.
inline std::pair<int, int> composition_stretch(int seq_from, int seq_to, int length, int profile_length) {
  const int window = composition_window(profile_length);
  if (length <= window) return {1, length};
  const int from = std::clamp((seq_from + seq_to) / 2 - window / 2, 1, length - window + 1);
  return {from, from + window - 1};
}

// Calibrates every profile, spreading the random sequences over `threads`
// threads; the result does not depend on the number of threads.
std::vector<ScoreLaw> calibrate(const std::vector<const Profile*>& profiles, const Settings& settings,
                                std::uint64_t seed, int threads);

}  // namespace tormid::scan
