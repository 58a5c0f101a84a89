// The composition correction: how much of a domain's score the
// composition of its residues alone explains, read off the domain's own
// alignment, so that coiled-coil, low-complexity and other biased
// sequences do not make significant hits by composition alone. It is a
// function of the profile, the sequence and the alignment only: no random
// shuffles, no thresholds. Private to the search.
//
// Two parts, the larger of which is the domain's bias (a score: its E-value
// is the calibrated law's at score - bias):
// - the composition the aligned positions favour (null2, as HMMER calls
//   it): the mean of their target frequencies (each position's scores read
//   as log-odds at the profile's ungapped lambda), with the background for
//   residues left unpaired; the log-likelihood ratio of the domain's
//   residues under it against the background, C nats, costs the domain
//   ln(1 + omega e^(0.8 C)) nats, omega = 1/256 (the prior HMMER gives
//   that model);
// - where alignments must pair the whole profile (glocal and the other
//   modes with a fixed profile end), the shift the sequence's composition
//   gives every paired position's expected score: 0.7 times the sum over
//   the paired positions of (q(a) - f(a)) s(a), q the composition of the
//   sequence (or of max(1,000, 3 profile lengths) residues around the
//   domain, with 20 residues of the background added), f the background,
//   less the standard deviation that sum has for sequences of the
//   background composition (the law knows those). Such an alignment pairs
//   the same positions as chance alignments of the sequence do, so their
//   scores move together; a local alignment picks the few positions where
//   chance scores gain.
//
// How the weights were chosen (README, "Significance"): on 18,507 real
// proteins and a shuffle of each against eight Pfam models, 0.8 and 0.7
// bring the shuffles' chance hits to what the E-values promise in both
// modes, and in local mode agree with HMMER's full-sequence E-values on
// 97% of its hits at E <= 1e-5, with no more than five at E <= 1e-5 that
// HMMER puts above 1 (the full null2, 1.0, drops myosin tails that HMMER
// finds; 0.7 lets coiled-coil proteins through that HMMER does not).
#pragma once

#include <array>
#include <string_view>
#include <vector>

#include "search/domains.h"

namespace tormid {

// A profile's scores read as log-odds: its ungapped lambda against the
// background (or, where the scores have none, ln 2 / 2: half-bits,
// tormid's unit), and each position's target frequencies at that lambda.
class CompositionModel {
 public:
  explicit CompositionModel(const Profile& profile);
  // False for a profile without positions.
  bool defined() const { return lambda_ > 0; }
  // Nats per unit of score.
  double lambda() const { return lambda_; }
  const std::array<float, kAlphabetSize>& targets(int position) const {
    return targets_[static_cast<std::size_t>(position)];
  }

 private:
  double lambda_ = 0;
  std::vector<std::array<float, kAlphabetSize>> targets_;
};

// The ungapped lambda of scores against the background: the positive root
// of mean over positions of sum_a f(a) e^(lambda s(a)) = 1; 0 where there
// is none.
double ungapped_lambda(const Profile& profile);

// The composition correction of a domain whose aligned lines are set
// (Domain::prf_line, seq_line), against `sequence`, its whole sequence.
DomainComposition composition_of(const Domain& domain, const Profile& profile, const CompositionModel& model,
                                 const Settings& settings, std::string_view sequence);

// The composition correction of several domains of one sequence taken
// together, as a score: the null2 parts beyond the shifts, summed, with
// the prior granted once for the sequence instead of once per domain (as
// HMMER adds the corrections of all domains before its prior).
double sequence_composition(const std::vector<const DomainComposition*>& domains);

}  // namespace tormid
