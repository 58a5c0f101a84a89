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

#include <cstdint>
#include <vector>

#include "engine/engine.h"

namespace tormid::scan {

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

  // The slope and location at a length, for reports.
  double lambda(int length) const;
  double location(int length) const;

  // Samples: best scores of random sequences of the given lengths.
  struct Sample {
    double score;
    int length;
  };
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

// Calibrates every profile, spreading the random sequences over `threads`
// threads; the result does not depend on the number of threads.
std::vector<ScoreLaw> calibrate(const std::vector<const Profile*>& profiles, const Settings& settings,
                                std::uint64_t seed, int threads);

}  // namespace tormid::scan
