#include <array>

#include "engine/engine_internal.h"

namespace tormid {

static_assert(kOutsideCode == kAlphabetSize, "the kernels' codes follow the alphabet");

int getIndex(char c) {
  const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  for (int k = 0; k < kAlphabetSize; ++k)
    if (alphabet[k] == upper) return k;
  return -1;
}

const std::int8_t* residue_codes() {
  static const std::array<std::int8_t, 256> codes = [] {
    std::array<std::int8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
      const int code = getIndex(static_cast<char>(c));
      table[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(code < 0 ? kOutsideCode : code);
    }
    return table;
  }();
  return codes.data();
}

int index_of_max(const double* values, int n) {
  double best = kScoreFloor;
  int index = -1;
  for (int k = 0; k < n; ++k) {
    if (values[k] >= best) {
      best = values[k];
      index = k;
    }
  }
  return index;
}

}  // namespace tormid
