// Seeded random alignment problems for property tests.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace fixtures {

struct RandomCase {
  std::vector<tormid::ProfileRow> rows;
  tormid::ParamValues values;  // penalties and switches as a file gives them
  std::string seq;

  tormid::Profile profile() const { return tormid::Profile(rows); }
  tormid::Settings settings() const { return tormid::set_parameters(values); }
};

struct RandomLimits {
  int max_prf = 30;
  int max_len = 40;
  int score_range = 5;      // integer scores in [-range, range]: frequent ties
  int max_penalty = 6;      // integer penalties in [0, max]
  bool huge_values = false;  // sometimes use penalties and scores far below the floor
  bool negative_penalties = false;  // penalties in [-max, max]: bonuses
  bool fractional = false;   // scores and penalties in tenths, not whole numbers
};

// The n-th of a cycle of limits: mostly small cases, so that ties and
// edges are many; some up to a few hundred rows and columns, profiles
// shorter than a strip, scores of -1, 0 and 1, huge values, zero,
// negative and fractional penalties.
RandomLimits varied_limits(int n);

// Draws one case; letters outside the alphabet appear now and then, and
// show_alignment is on.
RandomCase random_case(std::mt19937& rng, const RandomLimits& limits = {});

}  // namespace fixtures
