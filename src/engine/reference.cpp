// The plain engine: every cell carries its score, whether it is a match, and
// the anchor (the most recent match on its best path); the anchors of all
// cells are kept for the traceback. Gap opening is decided by the anchor: a
// move opens a gap when the cell it leaves is a match, or when no move of
// that direction has happened since the anchor.
#include <climits>
#include <new>

#include "engine/alignment_walk.h"
#include "engine/engine_internal.h"
#include "engine/reference_rows.h"

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
  const plain::Rules rules(settings);
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
  rules.first_row(cur, prf);
  for (int i = 1; i <= len; ++i) {
    std::swap(prev, cur);
    const int code = code_of[static_cast<unsigned char>(seq[static_cast<std::size_t>(i - 1)])];
    plain::next_row(profile, rules, i, code, prev, cur, [&](int j, const ScoreCell& cell, int move) {
      if (keep_anchors) ws.anchors[static_cast<std::size_t>(i) * width + j] = {cell.anchor_col, cell.anchor_row};
      if (move == plain::kDiagonal && tracks(settings.end, i, j, len, prf)) tracker.offer(cell.score, i, j);
    });
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
