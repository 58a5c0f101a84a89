#include "builder/weights.h"

#include <array>

#include "engine/engine.h"

namespace tormid {

std::vector<double> position_based_weights(const std::vector<std::string>& rows) {
  const std::size_t n = rows.size();
  std::vector<double> weights(n, 0.0);
  if (n == 0) return weights;
  const std::size_t columns = rows.front().size();
  std::vector<int> codes(n);
  for (std::size_t c = 0; c < columns; ++c) {
    std::array<int, kAlphabetSize> sharing{};
    int kinds = 0;
    for (std::size_t s = 0; s < n; ++s) {
      codes[s] = getIndex(rows[s][c]);
      if (codes[s] >= 0 && sharing[static_cast<std::size_t>(codes[s])]++ == 0) ++kinds;
    }
    for (std::size_t s = 0; s < n; ++s)
      if (codes[s] >= 0) weights[s] += 1.0 / (kinds * sharing[static_cast<std::size_t>(codes[s])]);
  }
  double total = 0;
  std::size_t earning = 0;
  for (const double w : weights)
    if (w > 0) total += w, ++earning;
  if (earning == 0) return std::vector<double>(n, 1.0);
  const double average = total / static_cast<double>(earning);
  for (double& w : weights)
    if (w == 0) w = average, total += average;
  const double scale = static_cast<double>(n) / total;
  for (double& w : weights) w *= scale;
  return weights;
}

}  // namespace tormid
