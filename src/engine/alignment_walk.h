// Rendering of an alignment from its chain of paired cells, shared by the
// engines. Private to the engine.
#pragma once

#include <algorithm>
#include <new>
#include <string>

#include "engine/engine.h"

// A matrix cell as (row, column).
struct CellRef {
  int row;
  int col;
};

// Builds res_seq1 and res_seq2 backwards from the end of the alignment.
// target is the last paired cell (or (0, 0) when there is none), and
// anchor_of(cell) gives the paired cell before a paired cell, or (0, 0).
// Between two pairs the unpaired profile positions stand first and the
// unpaired residues after them, whatever the order of the moves.
// Throws std::bad_alloc when the lines do not fit in memory.
template <class AnchorOf>
void build_lines(const std::string& seq, int row, int col, CellRef target, AnchorOf anchor_of) {
  std::string& prf_line = res_seq1;
  std::string& seq_line = res_seq2;
  prf_line.clear();
  seq_line.clear();
  auto consensus_letter = [](int c) {
    return static_cast<std::size_t>(c) <= consensus.size() ? consensus[c - 1] : 'x';
  };
  auto unpaired = [&](int from_row, int to_row, int from_col, int to_col) {
    for (int r = from_row; r > to_row; --r) {
      prf_line += '.';
      seq_line += seq[r - 1];
    }
    for (int c = from_col; c > to_col; --c) {
      prf_line += consensus_letter(c);
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
    prf_line += consensus_letter(target.col);
    seq_line += seq[target.row - 1];
    row = target.row - 1;
    col = target.col - 1;
    target = anchor_of(target);
  }
  std::reverse(prf_line.begin(), prf_line.end());
  std::reverse(seq_line.begin(), seq_line.end());
}

// build_lines for the engines: on a memory failure both lines are left
// empty, the failure is reported, and false is returned.
template <class AnchorOf>
bool write_alignment(const std::string& seq, int row, int col, CellRef target, AnchorOf anchor_of) {
  try {
    build_lines(seq, row, col, target, anchor_of);
    return true;
  } catch (const std::bad_alloc&) {
    res_seq1.clear();
    res_seq2.clear();
    report_lines_alloc_fail();
    return false;
  }
}
