#include "engine/engine_internal.h"

namespace tormid {

std::string build_consensus(const std::vector<ProfileRow>& rows) {
  std::string consensus(rows.size(), 'x');
  for (std::size_t k = 0; k < rows.size(); ++k) {
    double best = kScoreFloor;
    for (int column = 0; column < kAlphabetSize; ++column) {
      const double score = rows[k][static_cast<std::size_t>(column)];
      if (score > best) {
        best = score;
        consensus[k] = static_cast<char>(alphabet[column] - 'A' + 'a');
      }
    }
  }
  return consensus;
}

Profile::Profile(std::vector<ProfileRow> rows, std::string name)
    : rows_(std::move(rows)), consensus_(build_consensus(rows_)), name_(std::move(name)) {
  static_assert(kTablePad == strips::kScorePad);
  const std::size_t stride = row_stride();
  table_.assign(kCodes * stride, 0.0);
  for (int c = 0; c < kAlphabetSize; ++c)
    for (std::size_t k = 0; k < rows_.size(); ++k)
      table_[static_cast<std::size_t>(c) * stride + kTablePad + k] = rows_[k][static_cast<std::size_t>(c)];
}

}  // namespace tormid
