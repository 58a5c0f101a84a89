// Interface between ScoreBound and its kernels, one per instruction set.
// Private to the engine.
//
// A kernel runs the relaxed two-state recurrence of score_bound.cpp on
// 16-bit integers with saturation, striped along the profile (Farrar): a
// row of the matrix (one residue) is `segments` vectors of W lanes, lane l
// of vector t holding position l * segments + t, so that the diagonal and
// vertical neighbours of a vector are whole vectors of the row above and
// only the horizontal chain needs a correction pass. Per cell it keeps
//   D = max(M, G)      what a pairing move out of the cell starts from,
//   X = max(M - L, G)  what a gap move out of the cell starts from,
// where M ends in a pair and G in an unpaired residue or position.
//
// This header is included by translation units built for different
// instruction sets: it holds plain data and declarations only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/residue_codes.h"

namespace tormid::bounds {

inline constexpr std::int16_t kLow = -32768;
inline constexpr std::int16_t kHigh = 32767;

// Which cells reached by a pairing can end the alignment: none (the last
// cell, whatever its state), any, those of the last column, of the last row.
enum class End { last_cell, anywhere, last_column, last_row };

struct Job {
  int len = 0;       // rows: residues
  int prf = 0;       // profile positions
  int segments = 0;  // vectors per row
  // kCodes blocks of segments * W scores in the striped order; padding
  // positions beyond prf hold kLow.
  const std::int16_t* scores = nullptr;
  const char* seq = nullptr;
  const std::int8_t* code_of = nullptr;  // residue code of every byte
  // Scaled costs: entering a stretch (L >= -8192), a vertical move (an
  // unpaired residue) and a horizontal move (an unpaired position), both
  // >= 0.
  std::int16_t enter = 0, del_v = 0, del_h = 0;
  bool local_start = false;
  End end = End::last_cell;
  // Column 0: 0 in row 0, then lowered by col0_first in row 1 and by
  // col0_step in each row after (saturating); a horizontal move out of it
  // may add col0_bonus.
  std::int16_t col0_first = 0, col0_step = 0, col0_bonus = 0;
  // Work space, segments * W values each, holding row 0 on entry: D and X.
  std::int16_t* d = nullptr;
  std::int16_t* x = nullptr;

  // Results: the best end value, and the largest D or X value met (kHigh
  // means a value may have been clipped).
  std::int16_t best = kLow;
  std::int16_t top = kLow;
};

using KernelRun = void (*)(Job&);

// Many sequences at once, one per lane (a lane that finishes its sequence
// takes the next one): the same recurrence along the whole profile for
// each, with no correction pass, since the horizontal chain stays inside a
// lane. For instruction sets that can look up a lane's score by its
// residue code in one step (AVX-512BW) or a few (AVX2, NEON).
struct BatchJob {
  int prf = 0;
  // Per position, one vector of 32 scores by residue code (kLow beyond
  // kCodes).
  const std::int16_t* columns = nullptr;
  int count = 0;
  const char* const* seqs = nullptr;
  const int* lens = nullptr;  // each at least 1
  const std::int8_t* code_of = nullptr;
  std::int16_t enter = 0, del_v = 0, del_h = 0;
  bool local_start = false;
  End end = End::last_cell;
  // Column 0: 0 in row 0, then lowered by col0_first in row 1 and by
  // col0_step in each row after; a horizontal move out of it may add
  // col0_bonus.
  std::int16_t col0_first = 0, col0_step = 0, col0_bonus = 0;
  const std::int16_t* row0_d = nullptr;  // prf values each
  const std::int16_t* row0_x = nullptr;
  // Work space: prf vectors each.
  std::int16_t* d = nullptr;
  std::int16_t* x = nullptr;
  // Results, count each: as Job's best and top.
  std::int16_t* best = nullptr;
  std::int16_t* top = nullptr;
  // When emit_every > 0: each lane copies its row of D (positions 0 to
  // emit_width - 1) and its best end so far once emit_every rows or more
  // have passed since its last copy, before its sequence's last row (the
  // kernel may pass a few more rows at once). Copy n of sequence k: its
  // row number at emit_rows[k][n], its end at emit_ends[k][n], its values
  // at emit_d[k] + n * emit_width; emit_count[k] copies, at most
  // lens[k] / emit_every.
  int emit_every = 0;
  int emit_width = 0;
  std::int16_t* const* emit_d = nullptr;
  std::int16_t* const* emit_ends = nullptr;
  int* const* emit_rows = nullptr;
  int* emit_count = nullptr;
};

using BatchRun = void (*)(BatchJob&);
inline constexpr int kBatchLanes = 32;

// The same lanes and lookups serve quick_score()'s local recurrence: the
// strip kernels' 16-bit one (strip_kernel.h), cell for cell, with a local
// start and end, one sequence per lane. Every cell is the same function of
// its neighbours as in a strip, so each lane's best is the short strip
// kernel's to the bit.
struct QuickBatchJob {
  int prf = 0;
  // Per position, one vector of 32 scores by residue code (0 for codes
  // outside the alphabet).
  const std::int16_t* columns = nullptr;
  int count = 0;
  const char* const* seqs = nullptr;
  const int* lens = nullptr;  // each at least 1
  const std::int8_t* code_of = nullptr;
  std::int16_t open_prf = 0, del_prf = 0, open_seq = 0, del_seq = 0;  // each at least 0
  // Work space: prf vectors each, the row above as score and the opening
  // penalties of a horizontal and of a vertical move out of each cell.
  std::int16_t* s = nullptr;
  std::int16_t* h = nullptr;
  std::int16_t* v = nullptr;
  // Result, count values: each sequence's best cell reached by a pair,
  // where that is above 0; at most 0 otherwise.
  std::int16_t* best = nullptr;
};

using QuickBatchRun = void (*)(QuickBatchJob&);

struct Kernel {
  const char* name;
  int width;  // 16-bit lanes per vector
  KernelRun run;
  BatchRun run_batch;  // null where the lookup would cost more than it saves
  QuickBatchRun run_quick = nullptr;  // null where run_batch is
  // How many times as many cells per second run_quick's lanes run as one
  // sequence's 16-bit strips, all lanes busy (bench/engine_bench, profiles
  // of 100 to 1,000 positions). A sequence that would run while fewer
  // lanes than that share of them are busy is faster in strips.
  double quick_gain = 0;
};

// The kernels built into this binary; null where the compiler or the
// target lacks the instruction set.
Kernel scalar_kernel();
const Kernel* sse2_kernel();
const Kernel* avx2_kernel();
const Kernel* avx512_kernel();
const Kernel* neon_kernel();

}  // namespace tormid::bounds
