// The way back from the end of an alignment along its chain of pairs,
// shared by the engines: the coordinates of the paired ends and the two
// aligned lines. Private to the engine.
#pragma once

#include <algorithm>
#include <new>
#include <string>
#include <string_view>

#include "engine/engine_internal.h"

namespace tormid {

// A matrix cell as (row, column).
struct CellRef {
  int row;
  int col;
};

// target is the last paired cell (or (0, 0) when there is none), and
// anchor_of(cell) gives the paired cell before a paired cell, or (0, 0).
// (row, col) is the cell the alignment ends in: (len, prf).
template <class AnchorOf>
void find_ends(CellRef target, AnchorOf anchor_of, Alignment& out) {
  if (target.row == 0 || target.col == 0) return;
  out.seq_to = target.row;
  out.prf_to = target.col;
  for (CellRef pair = target; pair.row != 0 && pair.col != 0; pair = anchor_of(pair)) {
    out.seq_from = pair.row;
    out.prf_from = pair.col;
  }
}

// Builds the lines backwards from the end of the alignment and reverses
// them once. Between two pairs the unpaired profile positions stand first
// and the unpaired residues after them, whatever the order of the moves.
// Throws std::bad_alloc when the lines do not fit in memory.
template <class AnchorOf>
void build_lines(std::string_view seq, const std::string& consensus, int row, int col,
                 CellRef target, AnchorOf anchor_of, Alignment& out) {
  std::string& prf_line = out.prf_line;
  std::string& seq_line = out.seq_line;
  prf_line.clear();
  seq_line.clear();
  auto unpaired = [&](int from_row, int to_row, int from_col, int to_col) {
    for (int r = from_row; r > to_row; --r) {
      prf_line += '.';
      seq_line += seq[static_cast<std::size_t>(r - 1)];
    }
    for (int c = from_col; c > to_col; --c) {
      prf_line += consensus[static_cast<std::size_t>(c - 1)];
      seq_line += '.';
    }
  };
  const std::size_t length = seq.size() + static_cast<std::size_t>(col);  // upper bound
  prf_line.reserve(length);
  seq_line.reserve(length);
  for (;;) {
    unpaired(row, target.row, col, target.col);
    if (target.row == 0 || target.col == 0) {
      unpaired(target.row, 0, target.col, 0);
      break;
    }
    prf_line += consensus[static_cast<std::size_t>(target.col - 1)];
    seq_line += seq[static_cast<std::size_t>(target.row - 1)];
    row = target.row - 1;
    col = target.col - 1;
    target = anchor_of(target);
  }
  std::reverse(prf_line.begin(), prf_line.end());
  std::reverse(seq_line.begin(), seq_line.end());
}

// Sets the status from the score and fills what `detail` asks for beyond
// it. On a memory failure for
// the lines the result becomes out_of_memory at stage 4.
template <class AnchorOf>
void finish_alignment(std::string_view seq, const Profile& profile, CellRef target,
                      AnchorOf anchor_of, Detail detail, Alignment& out) {
  if (out.score <= kNoAlignment) {
    out.status = AlignStatus::no_alignment;
    return;
  }
  if (detail == Detail::score) return;
  find_ends(target, anchor_of, out);
  if (detail != Detail::display) return;
  try {
    build_lines(seq, profile.consensus(), static_cast<int>(seq.size()), profile.length(), target,
                anchor_of, out);
  } catch (const std::bad_alloc&) {
    out = out_of_memory(4);
  }
}

}  // namespace tormid
