#include <mutex>

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

struct Profile::Built {
  std::once_flag table_once, consensus_once;
  std::vector<double> table;
  std::string consensus;
};

Profile::Profile(std::vector<ProfileRow> rows, std::string name)
    : rows_(std::move(rows)), name_(std::move(name)), built_(std::make_shared<Built>()) {}

const double* Profile::table() const {
  static_assert(kTablePad == strips::kScorePad);
  if (!built_) return nullptr;  // a default profile: no positions, nothing read
  std::call_once(built_->table_once, [this] {
    const std::size_t stride = row_stride();
    std::vector<double>& table = built_->table;
    table.assign(kCodes * stride, 0.0);
    for (int c = 0; c < kAlphabetSize; ++c)
      for (std::size_t k = 0; k < rows_.size(); ++k)
        table[static_cast<std::size_t>(c) * stride + kTablePad + k] = rows_[k][static_cast<std::size_t>(c)];
  });
  return built_->table.data();
}

const std::string& Profile::consensus() const {
  static const std::string none;
  if (!built_) return none;
  std::call_once(built_->consensus_once, [this] { built_->consensus = build_consensus(rows_); });
  return built_->consensus;
}

QuickProfile::QuickProfile(const Profile& profile) : length_(profile.length()) {
  static_assert(kTablePad == strips::kQuickScorePad);
  const std::size_t stride = row_stride();
  table_.assign(kCodes * stride, 0.0f);
  for (int c = 0; c < kAlphabetSize; ++c)
    for (std::size_t k = 0; k < static_cast<std::size_t>(length_); ++k)
      table_[static_cast<std::size_t>(c) * stride + kTablePad + k] =
          narrowed<float>(profile.rows()[k][static_cast<std::size_t>(c)]);
}

}  // namespace tormid
