#include "support/random_cases.h"

namespace fixtures {

RandomLimits varied_limits(int n) {
  RandomLimits limits;
  switch (n % 12) {
    case 0: limits.max_prf = 300; limits.max_len = 300; break;
    case 1: limits.max_prf = 3; limits.max_len = 100; break;
    case 2: limits.max_prf = 100; limits.max_len = 3; break;
    case 3: limits.score_range = 1; break;
    case 4: limits.huge_values = true; break;
    case 5: limits.max_penalty = 0; break;
    case 6: limits.negative_penalties = true; break;
    case 7: limits.fractional = true; break;
    case 8: limits.fractional = true; limits.negative_penalties = true; limits.max_penalty = 2; break;
    default: break;
  }
  return limits;
}

RandomCase random_case(std::mt19937& rng, const RandomLimits& limits) {
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  RandomCase c;
  const int prf = uniform(1, limits.max_prf);
  const bool huge = limits.huge_values && uniform(0, 7) == 0;
  const double unit = limits.fractional ? 0.1 : 1.0;
  const int steps = limits.fractional ? 10 : 1;
  for (int k = 0; k < prf; ++k) {
    tormid::ProfileRow row;
    for (double& s : row)
      s = huge && uniform(0, 3) == 0 ? -3e5
                                     : unit * uniform(-limits.score_range * steps, limits.score_range * steps);
    c.rows.push_back(row);
  }
  auto penalty = [&]() -> double {
    if (huge && uniform(0, 2) == 0) return 1e6;
    const int lowest = limits.negative_penalties ? -limits.max_penalty * steps : 0;
    return unit * uniform(lowest, limits.max_penalty * steps);
  };
  c.values.gap_open_penalty_prf = penalty();
  c.values.deletion_penalty_prf = penalty();
  c.values.gap_open_penalty_seq = penalty();
  c.values.deletion_penalty_seq = penalty();
  c.values.prf_free_beg = uniform(0, 1);
  c.values.prf_free_end = uniform(0, 1);
  c.values.seq_free_beg = uniform(0, 1);
  c.values.seq_free_end = uniform(0, 1);
  c.values.show_alignment = true;
  static const char kLetters[] = "ARNDCQEGHILKMFPSTWYVX";
  const int len = uniform(1, limits.max_len);
  // A few residue kinds per sequence make repeated scores, hence ties.
  const int kinds = uniform(1, 21);
  for (int i = 0; i < len; ++i) c.seq += kLetters[uniform(0, kinds - 1)];
  return c;
}

}  // namespace fixtures
