#include "support/random_cases.h"

#include "engine/engine.h"

namespace fixtures {

RandomCase random_case(std::mt19937& rng, const RandomLimits& limits) {
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  RandomCase c;
  const int prf = uniform(1, limits.max_prf);
  const bool huge = limits.huge_values && uniform(0, 7) == 0;
  for (int k = 0; k < prf; ++k) {
    ProfileRow row;
    for (double& s : row)
      s = huge && uniform(0, 3) == 0 ? -3e5 : uniform(-limits.score_range, limits.score_range);
    c.rows.push_back(row);
  }
  auto penalty = [&]() -> double {
    if (huge && uniform(0, 2) == 0) return 1e6;
    return uniform(0, limits.max_penalty);
  };
  c.open_prf = penalty();
  c.del_prf = penalty();
  c.open_seq = penalty();
  c.del_seq = penalty();
  c.prf_beg = uniform(0, 1);
  c.prf_end = uniform(0, 1);
  c.seq_beg = uniform(0, 1);
  c.seq_end = uniform(0, 1);
  static const char kLetters[] = "ARNDCQEGHILKMFPSTWYVX";
  const int len = uniform(1, limits.max_len);
  // A few residue kinds per sequence make repeated scores, hence ties.
  const int kinds = uniform(1, 21);
  for (int i = 0; i < len; ++i) c.seq += kLetters[uniform(0, kinds - 1)];
  return c;
}

void install(const RandomCase& c, bool show, bool fold) {
  profile = c.rows;
  prf_length = static_cast<int>(c.rows.size());
  reset_settings();
  gap_open_penalty_prf = c.open_prf;
  deletion_penalty_prf = c.del_prf;
  gap_open_penalty_seq = c.open_seq;
  deletion_penalty_seq = c.del_seq;
  prf_free_beg = c.prf_beg;
  prf_free_end = c.prf_end;
  seq_free_beg = c.seq_beg;
  seq_free_end = c.seq_end;
  show_alignment = show;
  if (fold) set_parameters();
  if (show) build_consensus();
}

}  // namespace fixtures
