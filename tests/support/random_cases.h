// Seeded random alignment problems for property tests.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "input/input.h"

namespace fixtures {

struct RandomCase {
  std::vector<ProfileRow> rows;
  double open_prf, del_prf, open_seq, del_seq;
  int prf_beg, prf_end, seq_beg, seq_end;  // as read from a file, before folding
  std::string seq;
};

struct RandomLimits {
  int max_prf = 30;
  int max_len = 40;
  int score_range = 5;      // integer scores in [-range, range]: frequent ties
  int max_penalty = 6;      // integer penalties in [0, max]
  bool huge_values = false;  // sometimes use penalties and scores far below the floor
};

// Draws one case; letters outside the alphabet appear now and then.
RandomCase random_case(std::mt19937& rng, const RandomLimits& limits = {});

// Installs the case's profile and settings; fold applies set_parameters
// (without it, paired switches stay on side by side).
void install(const RandomCase& c, bool show, bool fold = true);

}  // namespace fixtures
