// Engine inputs built directly for unit tests.
#pragma once

#include <string>
#include <vector>

#include "engine/engine.h"

namespace fixtures {

using namespace tormid;

// One position per letter of word: match for that letter, other for the
// nineteen others.
inline std::vector<ProfileRow> word_rows(const std::string& word, double match = 5.0,
                                         double other = -1.0) {
  std::vector<ProfileRow> rows;
  for (char letter : word) {
    ProfileRow row;
    for (int k = 0; k < kAlphabetSize; ++k) row[static_cast<std::size_t>(k)] = (alphabet[k] == letter) ? match : other;
    rows.push_back(row);
  }
  return rows;
}

struct Penalties {
  double open_prf, del_prf, open_seq, del_seq;
};

inline Settings settings_with(const Penalties& p, StartMode start = StartMode::global,
                              EndMode end = EndMode::global) {
  Settings s;
  s.gap_open_penalty_prf = p.open_prf;
  s.deletion_penalty_prf = p.del_prf;
  s.gap_open_penalty_seq = p.open_seq;
  s.deletion_penalty_seq = p.del_seq;
  s.start = start;
  s.end = end;
  return s;
}

// Every engine this CPU runs: the instruction-set kernels, then the
// reference.
inline std::vector<std::string> all_engines() {
  std::vector<std::string> names = engine_kernels();
  names.push_back("reference");
  return names;
}

}  // namespace fixtures
