// Direct set-up of the engine's inputs for unit tests.
#pragma once

#include <string>

#include "engine/engine.h"
#include "input/input.h"

namespace fixtures {

// Loads a profile with one position per letter of word: match for that
// letter, other for the nineteen others.
inline void load_word_profile(const std::string& word, double match = 5.0, double other = -1.0) {
  profile.clear();
  for (char letter : word) {
    ProfileRow row;
    for (int k = 0; k < kAlphabetSize; ++k) row[k] = (alphabet[k] == letter) ? match : other;
    profile.push_back(row);
  }
  prf_length = static_cast<int>(profile.size());
}

struct Penalties {
  double open_prf, del_prf, open_seq, del_seq;
};

// Sets the penalties and turns every switch off.
inline void use_penalties(const Penalties& p) {
  reset_settings();
  gap_open_penalty_prf = p.open_prf;
  deletion_penalty_prf = p.del_prf;
  gap_open_penalty_seq = p.open_seq;
  deletion_penalty_seq = p.del_seq;
}

}  // namespace fixtures
