// Calibration: each profile's score law, fitted to the best scores of
// random sequences drawn from the background composition, for the settings
// of the search. Private to the search.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

#include "search/score_law.h"

namespace tormid {

// How a profile is calibrated under the search settings: random
// sequences of the length classes, drawn twice. The reference sample,
// drawn from a seed of the profile's own scores, is the same in every run
// and gives the law's shape (its slopes); the run's sample, drawn from the
// search's seed, gives its location.
struct CalibrationPlan {
  std::vector<int> lengths;  // the length classes
  int reference_samples = 0;  // scores per class of each sample
  int run_samples = 0;
  // Whether each random sequence of the longest length gives the scores of
  // all classes through its prefixes (prefix_scores()), else each class has
  // sequences of its own.
  bool prefixes = false;
  int profile_length = 0;

  std::size_t scores(int samples) const { return lengths.size() * static_cast<std::size_t>(samples); }
  std::size_t sequences(int samples) const {
    return prefixes ? static_cast<std::size_t>(samples) : scores(samples);
  }
  // Random sequences aligned in all.
  std::size_t sequences() const { return sequences(reference_samples) + sequences(run_samples); }
};
// Which law the settings call for.
ScoreLaw::Kind law_kind(const Settings& settings);
// How a profile of this many positions is calibrated.
CalibrationPlan calibration_plan(const Settings& settings, int profile_length);

// A random sequence drawn from the background composition; the same for
// (seed, length class, index) on every machine.
std::string random_sequence(std::uint64_t seed, int klass, int index, int length);

// The seed of a profile's reference sample: of its scores alone, so that
// the same profile gets the same shape in any file, list or order.
std::uint64_t reference_seed(const Profile& profile);

// Calibrates every profile, spreading the random sequences over `threads`
// threads; the result does not depend on the number of threads.
// stop ends it with SearchStopped.
std::vector<ScoreLaw> calibrate(const std::vector<const Profile*>& profiles, const Settings& settings,
                                std::uint64_t seed, int threads, std::stop_token stop = {});

// calibrate() for a search's configuration, and the seconds it took.
std::vector<ScoreLaw> calibrate_timed(const std::vector<const Profile*>& profiles, const SearchConfig& config,
                                      double& seconds, std::stop_token stop = {});

// The laws of the profiles: the stored ones that hold for the
// configuration, the others calibrated (and the seconds that took).
std::vector<ScoreLaw> resolve_laws(std::span<const Profile> profiles, std::span<const StoredLaw> stored,
                                   const SearchConfig& config, double& seconds, std::stop_token stop = {});

}  // namespace tormid
