// The plain engine: every cell carries its score, whether it is a match, and
// the anchor (the most recent match on its best path); the anchors of all
// cells are kept for the traceback. Gap opening is decided by the anchor: a
// move opens a gap when the cell it leaves is a match, or when no move of
// that direction has happened since the anchor.
#include <climits>
#include <new>
#include <vector>

#include "engine/alignment_walk.h"
#include "engine/engine.h"
#include "input/input.h"

namespace {

struct ScoreCell {
  double score;
  int is_match;
  int anchor_col;
  int anchor_row;
};

struct Anchor {
  int col;
  int row;
};

// Best cell seen so far for one free-end mode.
struct EndTracker {
  double score = kScoreFloor;
  int row = 0;
  int col = 0;

  void offer(double s, int i, int j) {
    if (s > score) *this = {s, i, j};
  }
};

enum Move { kLeft = 0, kUp = 1, kDiagonal = 2 };

// index_of_max, falling back to the plain largest (same tie order) when every
// candidate lies below the floor.
int choose_move(const double* candidates) {
  int k = index_of_max(candidates, 3);
  if (k < 0) {
    k = kLeft;
    if (candidates[kUp] >= candidates[k]) k = kUp;
    if (candidates[kDiagonal] >= candidates[k]) k = kDiagonal;
  }
  return k;
}

double failed(int which) {
  report_engine_alloc_fail(which);
  score_failed = true;
  return kScoreFloor;
}

}  // namespace

double score_sequence_reference(const std::string& seq) {
  score_failed = false;
  res_seq1.clear();
  res_seq2.clear();
  if (seq.size() >= static_cast<std::size_t>(INT_MAX)) return failed(1);
  const int len = static_cast<int>(seq.size());
  const int prf = prf_length;
  const std::size_t width = static_cast<std::size_t>(prf) + 1;

  std::vector<int> codes;
  try {
    codes.assign(static_cast<std::size_t>(len) + 1, 0);
  } catch (const std::bad_alloc&) {
    return failed(1);
  }
  for (int i = 0; i < len; ++i) codes[i] = getIndex(seq[i]);
  codes[len] = -1;

  EndTracker all_end, prf_end, seq_end;

  std::vector<ScoreCell> cur, prev;
  try {
    cur.assign(width, ScoreCell{});
    prev.assign(width, ScoreCell{});
  } catch (const std::bad_alloc&) {
    return failed(2);
  }
  std::vector<Anchor> anchors;
  try {
    anchors.assign((static_cast<std::size_t>(len) + 1) * width, Anchor{});
  } catch (const std::bad_alloc&) {
    return failed(3);
  }

  cur[0] = {0.0, 0, 0, 0};
  for (int j = 1; j <= prf; ++j) {
    const double penalty = -gap_open_penalty_seq - j * deletion_penalty_seq;
    cur[j] = {(seq_free_beg || all_free_beg) ? 0.0 : penalty, 0, 0, 0};
  }

  for (int i = 1; i <= len; ++i) {
    prev = cur;
    cur[0] = {prf_free_beg ? 0.0 : -gap_open_penalty_prf - i * deletion_penalty_prf, 0, 0, 0};
    const int r = codes[i - 1];
    for (int j = 1; j <= prf; ++j) {
      const ScoreCell& left = cur[j - 1];
      const ScoreCell& up = prev[j];
      const ScoreCell& diag = prev[j - 1];
      double candidates[3];
      candidates[kLeft] = left.score;
      if (left.is_match == 1 || left.anchor_col == j - 1) candidates[kLeft] -= gap_open_penalty_seq;
      candidates[kLeft] -= deletion_penalty_seq;
      candidates[kUp] = up.score;
      if (up.is_match == 1 || up.anchor_row == i - 1) candidates[kUp] -= gap_open_penalty_prf;
      candidates[kUp] -= deletion_penalty_prf;
      candidates[kDiagonal] = diag.score + (r >= 0 ? profile[j - 1][r] : 0.0);

      const int k = choose_move(candidates);
      ScoreCell cell;
      switch (k) {
        case kDiagonal:
          cell = {candidates[k], 1, diag.is_match ? j - 1 : diag.anchor_col,
                  diag.is_match ? i - 1 : diag.anchor_row};
          break;
        case kUp:
          cell = {candidates[k], 0, up.is_match ? j : up.anchor_col,
                  up.is_match ? i - 1 : up.anchor_row};
          break;
        default:
          cell = {candidates[k], 0, left.is_match ? j - 1 : left.anchor_col,
                  left.is_match ? i : left.anchor_row};
          break;
      }
      // Local start: a path that has fallen to zero or below starts afresh.
      if (all_free_beg && cell.score <= 0.0) cell = {0.0, 0, 0, 0};

      cur[j] = cell;
      anchors[i * width + j] = {cell.anchor_col, cell.anchor_row};

      if (k == kDiagonal) {
        if (all_free_end) all_end.offer(cell.score, i, j);
        if (prf_free_end && j == prf) prf_end.offer(cell.score, i, j);
        if (seq_free_end && i == len) seq_end.offer(cell.score, i, j);
      }
    }
  }

  const EndTracker* end = all_free_end   ? &all_end
                          : prf_free_end ? &prf_end
                          : seq_free_end ? &seq_end
                                         : nullptr;
  const double score = end ? end->score : cur[prf].score;

  if (show_alignment && score > kNoAlignment) {
    auto anchor_of = [&](CellRef c) {
      const Anchor& a = anchors[c.row * width + c.col];
      return CellRef{a.row, a.col};
    };
    CellRef target{end ? end->row : len, end ? end->col : prf};
    if (!end && !cur[prf].is_match) target = anchor_of(target);
    if (!write_alignment(seq, len, prf, target, anchor_of)) {
      score_failed = true;
      return kScoreFloor;
    }
  }
  return score;
}
