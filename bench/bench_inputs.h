// Seeded random inputs of realistic shape for the benchmarks.
#pragma once

#include <string>
#include <vector>

#include "engine/engine.h"

namespace bench {

struct Mode {
  const char* name;
  bool prf_free_beg, prf_free_end, seq_free_beg, seq_free_end;
};

inline constexpr Mode kGlobal{"global", false, false, false, false};
inline constexpr Mode kSemiGlobal{"semiglobal", true, true, false, false};
inline constexpr Mode kLocal{"local", true, true, true, true};

// A protein of len residues drawn from the background composition.
std::string random_protein(int len, unsigned seed);
// A profile of prf positions: a favoured residue per position (+4 to +9),
// the others between -4 and +2, two decimals.
std::vector<tormid::ProfileRow> random_profile_rows(int prf, unsigned seed);
// The same rows as a profile file.
std::string profile_text(const std::vector<tormid::ProfileRow>& rows);

// Gap costs 11 and 1 and the mode's switches.
tormid::ParamValues param_values(const Mode& mode, bool show);
std::string params_text(const Mode& mode, bool show);

}  // namespace bench
