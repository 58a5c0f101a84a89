// One row of the plain engine's matrix from the row above: the rule of
// every cell, shared by the plain engine and by what follows alignments
// row by row (row ends, catching up). Private to the engine.
#pragma once

#include <vector>

#include "engine/engine_internal.h"

namespace tormid::plain {

enum Move { kLeft = 0, kUp = 1, kDiagonal = 2 };

// index_of_max, falling back to the plain largest (same tie order) when every
// candidate lies below the floor.
inline int choose_move(const double* candidates) {
  int k = index_of_max(candidates, 3);
  if (k < 0) {
    k = kLeft;
    if (candidates[kUp] >= candidates[k]) k = kUp;
    if (candidates[kDiagonal] >= candidates[k]) k = kDiagonal;
  }
  return k;
}

// The settings as the rows use them.
struct Rules {
  explicit Rules(const Settings& s)
      : edges(edge_rules(s.start)),
        open_prf(s.gap_open_penalty_prf),
        del_prf(s.deletion_penalty_prf),
        open_seq(s.gap_open_penalty_seq),
        del_seq(s.deletion_penalty_seq) {}
  EdgeRules edges;
  double open_prf, del_prf, open_seq, del_seq;

  // Column 0 of row i.
  double column0(int i) const { return edges.free_col0 ? 0.0 : -open_prf - i * del_prf; }
  // Row 0, width = prf + 1 cells.
  void first_row(std::vector<ScoreCell>& cur, int prf) const {
    cur[0] = {0.0, 0, 0, 0};
    for (int j = 1; j <= prf; ++j) {
      const double penalty = -open_seq - j * del_seq;
      cur[static_cast<std::size_t>(j)] = {edges.free_row0 ? 0.0 : penalty, 0, 0, 0};
    }
  }
};

// Row i (residue code `code`) into cur from prev; on_cell(j, cell, move)
// sees every cell of the row as it is set.
template <class OnCell>
inline void next_row(const Profile& profile, const Rules& r, int i, int code, const std::vector<ScoreCell>& prev,
                     std::vector<ScoreCell>& cur, OnCell&& on_cell) {
  const int prf = profile.length();
  cur[0] = {r.column0(i), 0, 0, 0};
  for (int j = 1; j <= prf; ++j) {
    const ScoreCell& left = cur[static_cast<std::size_t>(j - 1)];
    const ScoreCell& up = prev[static_cast<std::size_t>(j)];
    const ScoreCell& diag = prev[static_cast<std::size_t>(j - 1)];
    double candidates[3];
    candidates[kLeft] = left.score;
    if (left.is_match == 1 || left.anchor_col == j - 1) candidates[kLeft] -= r.open_seq;
    candidates[kLeft] -= r.del_seq;
    candidates[kUp] = up.score;
    if (up.is_match == 1 || up.anchor_row == i - 1) candidates[kUp] -= r.open_prf;
    candidates[kUp] -= r.del_prf;
    candidates[kDiagonal] =
        diag.score + (code < kAlphabetSize ? profile.row(j - 1)[static_cast<std::size_t>(code)] : 0.0);

    const int k = choose_move(candidates);
    ScoreCell cell;
    switch (k) {
      case kDiagonal:
        cell = {candidates[k], 1, diag.is_match ? j - 1 : diag.anchor_col, diag.is_match ? i - 1 : diag.anchor_row};
        break;
      case kUp:
        cell = {candidates[k], 0, up.is_match ? j : up.anchor_col, up.is_match ? i - 1 : up.anchor_row};
        break;
      default:
        cell = {candidates[k], 0, left.is_match ? j - 1 : left.anchor_col, left.is_match ? i : left.anchor_row};
        break;
    }
    // Local start: a path that has fallen to zero or below starts afresh.
    if (r.edges.local_start && cell.score <= 0.0) cell = {0.0, 0, 0, 0};
    cur[static_cast<std::size_t>(j)] = cell;
    on_cell(j, cell, k);
  }
}

}  // namespace tormid::plain
