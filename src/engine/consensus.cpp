#include <new>

#include "engine/engine.h"
#include "input/input.h"

void build_consensus() {
  try {
    consensus.assign(static_cast<std::size_t>(prf_length), 'x');
  } catch (const std::bad_alloc&) {
    consensus.clear();
    report_engine_alloc_fail(1);
    return;
  }
  for (int k = 0; k < prf_length; ++k) {
    double best = kScoreFloor;
    for (int column = 0; column < kAlphabetSize; ++column) {
      if (profile[k][column] > best) {
        best = profile[k][column];
        consensus[k] = static_cast<char>(alphabet[column] - 'A' + 'a');
      }
    }
  }
}
