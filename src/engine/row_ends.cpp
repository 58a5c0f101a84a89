// The matrix row by row: each row's best end (and from them each prefix's
// score), and where the matrix of a suffix meets the matrix of the whole
// sequence (what lets a search for several domains re-align only the rows
// a found domain changes).
#include <algorithm>
#include <bit>
#include <climits>
#include <functional>
#include <optional>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "engine/engine_internal.h"
#include "engine/reference_rows.h"

namespace tormid {

namespace {

void require_row_ends(const Settings& settings) {
  if (settings.end != EndMode::local && settings.end != EndMode::prf_free)
    throw std::invalid_argument("row ends need alignments that end anywhere or in the profile's last column");
}

// The plain engine's rows, one at a time, with each row's end.
class PlainRows {
 public:
  PlainRows(const Profile& profile, const Settings& settings)
      : profile_(profile), rules_(settings), end_(settings.end),
        prev_(static_cast<std::size_t>(profile.length()) + 1), cur_(prev_.size()) {
    rules_.first_row(cur_, profile.length());
  }

  // Row `row` (1-based) for residue c; returns its end.
  RowEnd next(int row, char c) {
    std::swap(prev_, cur_);
    const int code = residue_codes()[static_cast<unsigned char>(c)];
    const int prf = profile_.length();
    RowEnd end;
    double best = kScoreFloor;
    plain::next_row(profile_, rules_, row, code, prev_, cur_, [&](int j, const ScoreCell& cell, int move) {
      if (move != plain::kDiagonal || (end_ == EndMode::prf_free && j != prf)) return;
      if (cell.score > best) {
        best = cell.score;
        end = {cell.score, j};
      }
    });
    row_ = row;
    return end;
  }

  // Whether every later row reads the same from this row as from other's:
  // the same scores (to the bit), pairs and anchor columns, and anchors in
  // the row itself in the same places.
  bool same_as(const PlainRows& other) const {
    for (std::size_t j = 1; j < cur_.size(); ++j) {
      const ScoreCell& a = cur_[j];
      const ScoreCell& b = other.cur_[j];
      if (std::bit_cast<std::uint64_t>(a.score) != std::bit_cast<std::uint64_t>(b.score) ||
          a.is_match != b.is_match || a.anchor_col != b.anchor_col ||
          (a.anchor_row == row_) != (b.anchor_row == other.row_))
        return false;
    }
    return true;
  }

 private:
  const Profile& profile_;
  plain::Rules rules_;
  EndMode end_;
  std::vector<ScoreCell> prev_, cur_;
  int row_ = 0;
};

// Whether column 0 reads the same to every row after `row` of a suffix as
// to the whole sequence's row after it. Free, or of constant value, it is
// the same; decreasing, with a local start, it stops mattering once every
// move out of it is at or below 0.0 (the cell restarts, whichever move it
// chose; only whether a restarted cell of column 1 offers itself as an end
// at 0.0 may differ).
bool column0_settled(const Profile& profile, const Settings& settings, int row) {
  const plain::Rules r(settings);
  if (r.edges.free_col0 || r.del_prf == 0.0) return true;
  if (!r.edges.local_start || !(r.del_prf > 0.0)) return false;
  double best_pair = 0.0;  // residues outside the alphabet pair for 0.0
  for (int a = 0; a < kAlphabetSize; ++a) best_pair = std::max(best_pair, profile.row(0)[static_cast<std::size_t>(a)]);
  const double left = r.column0(row + 1) - r.open_seq - r.del_seq;
  const double diag = r.column0(row) + best_pair;
  return left <= 0.0 && diag <= 0.0;
}

}  // namespace

void row_ends(const Profile& profile, const Settings& settings, std::string_view sequence, Workspace& workspace,
              std::vector<RowEnd>& ends) {
  require_row_ends(settings);
  Workspace::Impl& ws = workspace.impl();
  if (!ws.reference && !sequence.empty() && profile.length() > 0 &&
      row_ends_fast(profile, settings, sequence, ws, ends))
    return;
  if (sequence.size() >= static_cast<std::size_t>(INT_MAX)) throw std::invalid_argument("a sequence too long");
  ends.resize(sequence.size());
  PlainRows rows(profile, settings);
  for (std::size_t k = 0; k < sequence.size(); ++k) ends[k] = rows.next(static_cast<int>(k) + 1, sequence[k]);
}

std::optional<Alignment> row_ends_and_prefix(const Profile& profile, const Settings& settings,
                                             std::string_view sequence, Workspace& workspace,
                                             std::vector<RowEnd>& ends,
                                             const std::function<int(const std::vector<RowEnd>&)>& choose,
                                             Detail detail) {
  require_row_ends(settings);
  if (detail == Detail::score) throw std::invalid_argument("a prefix's alignment needs its path");
  Workspace::Impl& ws = workspace.impl();
  int lanes = 0;
  const bool fast = !ws.reference && !sequence.empty() && profile.length() > 0 &&
                    row_ends_fast(profile, settings, sequence, ws, ends, &lanes);
  if (!fast) row_ends(profile, settings, sequence, workspace, ends);
  const int rows = choose(ends);
  if (rows <= 0) return std::nullopt;
  if (static_cast<std::size_t>(rows) > sequence.size())
    throw std::invalid_argument("a prefix longer than the sequence");
  if (lanes > 0) return prefix_from_moves(profile, sequence, rows, lanes, ws, detail);
  return align(profile, settings, sequence.substr(0, static_cast<std::size_t>(rows)), workspace, detail);
}

void prefix_scores(const Profile& profile, const Settings& settings, std::string_view sequence,
                   Workspace& workspace, std::vector<double>& scores) {
  if (settings.end != EndMode::prf_free)
    throw std::invalid_argument("prefix scores need alignments that end in the profile's last column");
  std::vector<RowEnd> ends;
  row_ends(profile, settings, sequence, workspace, ends);
  // A prefix's score is its best end so far; strictly better ends win, from
  // the floor, as in align().
  scores.resize(ends.size());
  double best = kScoreFloor;
  for (std::size_t k = 0; k < ends.size(); ++k) scores[k] = best = std::max(best, ends[k].score);
}

int rows_meet(const Profile& profile, const Settings& settings, std::string_view sequence, std::size_t from,
              int max_rows, std::vector<RowEnd>& ends, std::uint64_t& cells) {
  require_row_ends(settings);
  ends.clear();
  if (from > sequence.size() || sequence.size() >= static_cast<std::size_t>(INT_MAX) || profile.length() == 0)
    return -1;
  const auto positions = static_cast<std::uint64_t>(profile.length());
  PlainRows whole(profile, settings), suffix(profile, settings);
  for (std::size_t k = 0; k < from; ++k) whole.next(static_cast<int>(k) + 1, sequence[k]);
  cells += from * positions;
  const int rows = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(std::max(max_rows, 0)),
                                                          sequence.size() - from));
  for (int k = 1; k <= rows; ++k) {
    const char c = sequence[from + static_cast<std::size_t>(k) - 1];
    whole.next(static_cast<int>(from) + k, c);
    ends.push_back(suffix.next(k, c));
    cells += 2 * positions;
    if (suffix.same_as(whole) && column0_settled(profile, settings, k)) return k;
  }
  return -1;
}

}  // namespace tormid
