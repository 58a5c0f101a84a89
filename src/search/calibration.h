// Calibration: each profile's score law, fitted to the best scores of
// random sequences drawn from the background composition, for the settings
// of the search. Private to the search.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "search/score_law.h"

namespace tormid {

// How a profile is calibrated under the search settings.
struct CalibrationPlan {
  std::vector<int> lengths;  // the length classes
  int samples = 0;           // random sequences per class

  std::size_t sequences() const { return lengths.size() * static_cast<std::size_t>(samples); }
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

// calibrate() for a search's configuration, and the seconds it took.
std::vector<ScoreLaw> calibrate_timed(const std::vector<const Profile*>& profiles, const SearchConfig& config,
                                      double& seconds);

}  // namespace tormid
