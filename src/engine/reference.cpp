// The plain engine: every cell carries its score, whether it is a match, and
// the anchor (the most recent match on its best path); the anchors of all
// cells are kept for the traceback. Gap opening is decided by the anchor: a
// move opens a gap when the cell it leaves is a match, or when no move of
// that direction has happened since the anchor.
#include <climits>
#include <new>

#include "engine/alignment_walk.h"
#include "engine/engine_internal.h"

namespace tormid {

namespace {

// Best cell seen so far for the end mode.
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

// Whether the end mode takes a cell reached by the diagonal move.
bool tracks(EndMode end, int i, int j, int len, int prf) {
  switch (end) {
    case EndMode::local: return true;
    case EndMode::prf_free: return j == prf;
    case EndMode::seq_free: return i == len;
    case EndMode::global: return false;
  }
  return false;
}

}  // namespace

Alignment align_reference(const Profile& profile, const Settings& settings, std::string_view seq,
                          Workspace::Impl& ws, Detail detail) {
  if (seq.size() >= static_cast<std::size_t>(INT_MAX)) return out_of_memory(1);
  const int len = static_cast<int>(seq.size());
  const int prf = profile.length();
  const std::size_t width = static_cast<std::size_t>(prf) + 1;
  const EdgeRules edges = edge_rules(settings.start);
  const double open_prf = settings.gap_open_penalty_prf, del_prf = settings.deletion_penalty_prf;
  const double open_seq = settings.gap_open_penalty_seq, del_seq = settings.deletion_penalty_seq;
  const std::int8_t* code_of = residue_codes();

  std::vector<ScoreCell>& cur = ws.cur;
  std::vector<ScoreCell>& prev = ws.prev;
  try {
    cur.assign(width, ScoreCell{});
    prev.assign(width, ScoreCell{});
  } catch (const std::bad_alloc&) {
    return out_of_memory(2);
  }
  const bool keep_anchors = detail != Detail::score;
  if (keep_anchors) {
    try {
      ws.anchors.assign((static_cast<std::size_t>(len) + 1) * width, Anchor{});
    } catch (const std::bad_alloc&) {
      return out_of_memory(3);
    }
  }

  EndTracker tracker;
  cur[0] = {0.0, 0, 0, 0};
  for (int j = 1; j <= prf; ++j) {
    const double penalty = -open_seq - j * del_seq;
    cur[j] = {edges.free_row0 ? 0.0 : penalty, 0, 0, 0};
  }

  for (int i = 1; i <= len; ++i) {
    std::swap(prev, cur);
    cur[0] = {edges.free_col0 ? 0.0 : -open_prf - i * del_prf, 0, 0, 0};
    const int code = code_of[static_cast<unsigned char>(seq[static_cast<std::size_t>(i - 1)])];
    for (int j = 1; j <= prf; ++j) {
      const ScoreCell& left = cur[j - 1];
      const ScoreCell& up = prev[j];
      const ScoreCell& diag = prev[j - 1];
      double candidates[3];
      candidates[kLeft] = left.score;
      if (left.is_match == 1 || left.anchor_col == j - 1) candidates[kLeft] -= open_seq;
      candidates[kLeft] -= del_seq;
      candidates[kUp] = up.score;
      if (up.is_match == 1 || up.anchor_row == i - 1) candidates[kUp] -= open_prf;
      candidates[kUp] -= del_prf;
      candidates[kDiagonal] =
          diag.score + (code < kAlphabetSize ? profile.row(j - 1)[static_cast<std::size_t>(code)] : 0.0);

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
      if (edges.local_start && cell.score <= 0.0) cell = {0.0, 0, 0, 0};

      cur[j] = cell;
      if (keep_anchors) ws.anchors[static_cast<std::size_t>(i) * width + j] = {cell.anchor_col, cell.anchor_row};
      if (k == kDiagonal && tracks(settings.end, i, j, len, prf)) tracker.offer(cell.score, i, j);
    }
  }

  const bool free_end = settings.end != EndMode::global;
  Alignment result;
  result.score = free_end ? tracker.score : cur[prf].score;

  auto anchor_of = [&](CellRef c) {
    const Anchor& a = ws.anchors[static_cast<std::size_t>(c.row) * width + c.col];
    return CellRef{a.row, a.col};
  };
  CellRef target{free_end ? tracker.row : len, free_end ? tracker.col : prf};
  if (!free_end && keep_anchors && !cur[prf].is_match) target = anchor_of(target);
  finish_alignment(seq, profile, target, anchor_of, detail, result);
  return result;
}

}  // namespace tormid
