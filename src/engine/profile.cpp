#include <algorithm>
#include <cmath>
#include <cstdint>
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

Profile::Profile(std::vector<ProfileRow> rows, std::string name, ProfileNotes notes)
    : rows_(std::move(rows)), name_(std::move(name)), notes_(std::move(notes)), built_(std::make_shared<Built>()) {
  // One running value per residue, so that the rows run on vectors rather
  // than along one chain of comparisons (maxima, whatever the order). An
  // infinite or NaN score turns its residue's sum of s * 0 into NaN; those
  // rare profiles are summed again one score at a time.
  ProfileRow scores{}, magnitudes{}, unusual{};
  for (const ProfileRow& row : rows_)
    for (std::size_t r = 0; r < kAlphabetSize; ++r) {
      const double s = row[r], magnitude = std::fabs(s);
      scores[r] = s > scores[r] ? s : scores[r];
      magnitudes[r] = magnitude > magnitudes[r] ? magnitude : magnitudes[r];
      unusual[r] += s * 0.0;
    }
  bool finite = true;
  for (std::size_t r = 0; r < kAlphabetSize; ++r) {
    finite &= unusual[r] == 0.0;
    largest_score_ = std::max(largest_score_, scores[r]);
    largest_magnitude_ = std::max(largest_magnitude_, magnitudes[r]);
  }
  if (finite) return;
  largest_score_ = largest_magnitude_ = 0;
  for (const ProfileRow& row : rows_)
    for (const double s : row) {
      largest_score_ = s > largest_score_ && s < HUGE_VAL ? s : largest_score_;
      const double magnitude = std::fabs(s);
      largest_magnitude_ = magnitude > largest_magnitude_ || magnitude != magnitude ? magnitude : largest_magnitude_;
    }
}

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
  static_assert(kShortTablePad == strips::kShortScorePad);
  const std::size_t stride = row_stride();
  table_.assign(kCodes * stride, 0.0f);
  double largest = 0;
  for (int c = 0; c < kAlphabetSize; ++c)
    for (std::size_t k = 0; k < static_cast<std::size_t>(length_); ++k) {
      const double score = profile.rows()[k][static_cast<std::size_t>(c)];
      table_[static_cast<std::size_t>(c) * stride + kTablePad + k] = narrowed<float>(score);
      largest = std::max(largest, std::fabs(score));
    }
  static_assert(kCodes <= kShortCodes && kShortCodes == strips::kLanesCodes);
  columns_.assign(static_cast<std::size_t>(length_) * kShortCodes, 0.0f);
  for (std::size_t k = 0; k < static_cast<std::size_t>(length_); ++k)
    for (int c = 0; c < kAlphabetSize; ++c)
      columns_[k * kShortCodes + static_cast<std::size_t>(c)] = table_[static_cast<std::size_t>(c) * stride + kTablePad + k];
  if (!std::isfinite(largest)) return;
  // A power of two: multiplying and dividing by it are exact.
  int exponent = 0;
  if (largest > 0) std::frexp(kShortScoreLimit / largest, &exponent);
  const double scale = std::ldexp(1.0, std::clamp(exponent - 1, -30, 30));
  if (largest * scale > kShortScoreLimit) return;  // beyond any scale of 16 bits
  short_scale_ = scale;
  const std::size_t short_stride = short_row_stride();
  short_table_.assign(kCodes * short_stride, 0);
  for (int c = 0; c < kAlphabetSize; ++c)
    for (std::size_t k = 0; k < static_cast<std::size_t>(length_); ++k)
      short_table_[static_cast<std::size_t>(c) * short_stride + kShortTablePad + k] = static_cast<std::int16_t>(
          std::lround(profile.rows()[k][static_cast<std::size_t>(c)] * short_scale_));
  short_columns_.assign(static_cast<std::size_t>(length_) * kShortCodes, 0);
  for (std::size_t k = 0; k < static_cast<std::size_t>(length_); ++k)
    for (int c = 0; c < kAlphabetSize; ++c)
      short_columns_[k * kShortCodes + static_cast<std::size_t>(c)] =
          short_table_[static_cast<std::size_t>(c) * short_stride + kShortTablePad + k];
}

}  // namespace tormid
