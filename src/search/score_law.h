// The law of a profile's best score on random sequences, and the P-values
// and E-values it gives. Private to the search.
//
// What the measurements support (README, "Significance"):
// - local mode: the best score of a random sequence of length L follows a
//   Gumbel law with one slope lambda for every length and a location that
//   grows as ln(L) / lambda, as Karlin-Altschul theory says; two
//   parameters, fitted by maximum likelihood on all samples;
// - other modes with a free end (glocal and the mixed ones): the law
//   changes with the length relative to the profile's (lowest slope and
//   fastest change near it; sequences shorter than the profile score far
//   lower), and the upper tail is steeper than the body. So it is fitted
//   at length classes from a quarter of the profile's length to 2.5 times
//   it, to the upper 5% of each (censored maximum likelihood), with each
//   class's slope a shape factor over the spread of all its scores (the
//   shape factor log-linear in ln L, two numbers for all classes) and one
//   location per class; slope and location are interpolated in ln L.
//   Below the shortest class the law of the shortest holds (shorter
//   sequences score lower: conservative); beyond the longest the location
//   grows at the larger of 1 / lambda and its growth over the last two
//   classes (conservative). A longer sequence never gets a smaller chance
//   count than a shorter one;
// - in both, the shape (the slopes, and in glocal mode how the location
//   changes with the length) comes from a reference sample that is the
//   same in every run, and only the location from the run's own sample: the slope times the score is what a strong hit's
//   E-value rests on, and a slope fitted anew in every run moved such
//   E-values by orders of magnitude from one seed to the next, while a
//   location moves every E-value by the same small factor;
// - global mode (both ends fixed): scores are no extreme values; no
//   P-values.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "search/search.h"

namespace tormid {

// The chance of several domains of one profile together in one random
// sequence, from each one's expected chance count: the least of the best
// domain's count and, for each r >= 2, the chance that the r best of a
// Poisson process of chance domains sum to as much on the normalised scale
// x = -ln(count) (Karlin and Altschul's sum statistic, for the r highest
// of a process of intensity e^-x: e^-t t^(r-1) / (r! (r-1)!) at sum t),
// times 2^r for having chosen r. Only domains with a count below 1 join a
// sum. At most the best count; NaN without counts.
double domains_expected_count(std::vector<double> counts);

// The chance of at least one chance event where `expected` are expected
// (Poisson): 1 - e^-expected, exact for small counts.
inline double pvalue_of_count(double expected) { return -std::expm1(-expected); }

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
  // -ln(expected_count): finite where the count itself would underflow.
  double chance_nats(double score, int length) const;
  // The score in bits: E = Z * L * 2^-bits for a sequence of L residues.
  // In local mode it does not depend on L (lambda (score - mu0) / ln 2);
  // in the other modes it is the same reading of the length's own law.
  double bits(double score, int length) const;

  // The slope and location at a length.
  double lambda(int length) const;
  double location(int length) const;

  // Samples: best scores of random sequences of the given lengths.
  struct Sample {
    double score;
    int length;
  };
  // The law as numbers and back, to send it between processes and to
  // store it; nothing where the numbers are not a law's (a damaged file).
  std::vector<double> serialized() const;
  static std::optional<ScoreLaw> deserialized(const std::vector<double>& numbers);

  // The local law: its slope fitted to the reference samples (of any
  // lengths), its location to the run's own samples with that slope.
  static ScoreLaw fit_local(const std::vector<Sample>& reference, const std::vector<Sample>& run);
  static ScoreLaw fit_local(const std::vector<Sample>& samples) { return fit_local(samples, samples); }
  // The length-dependent law: fitted to the reference samples of each
  // length class (classes[k] holds the scores of sequences of lengths[k]
  // residues; the profile's length tells where the slope may bend), then
  // every location moved by as much as the means of the run's own scores
  // of the classes differ from the reference's, on average.
  static ScoreLaw fit_by_length(const std::vector<int>& lengths, const std::vector<std::vector<double>>& reference,
                                const std::vector<std::vector<double>>& run, int profile_length);
  static ScoreLaw fit_by_length(const std::vector<int>& lengths, const std::vector<std::vector<double>>& classes,
                                int profile_length) {
    return fit_by_length(lengths, classes, classes, profile_length);
  }

 private:
  Kind kind_ = Kind::none;
  // local: location mu0 + ln(L) / lambda
  double lambda_ = 0, mu0_ = 0;
  // by_length: at each class's ln L the log slope and the location,
  // interpolated linearly in ln L, and held beyond the classes (but see
  // location()).
  std::vector<double> log_lengths_, log_lambdas_, locations_;
  double interpolate(const std::vector<double>& values, double log_length) const;
};

}  // namespace tormid
