// Interface between the fast engine and its strip kernels, one kernel per
// instruction set. Private to the engine.
//
// A kernel fills the matrix in strips of `lanes` rows. Inside a strip it
// walks anti-diagonals: at step t, lane L (row first_row + L) computes column
// j = t - L + 1, so the left neighbour is the lane's own previous cell and
// the cell above is the lane below's previous cell, and all lanes of a step
// are independent. Every cell is computed with the same double operations in
// the same order as the plain engine, so the results are bit-identical.
// The quick kernels run the same steps on floats: twice the lanes per
// vector, and results that are the same on every instruction set (but not
// align()'s to the last bit). The short kernels run them on 16-bit integers
// with saturating additions (local alignments only, where no cell falls
// below 0): four times the lanes, and integer results that are the same on
// every instruction set.
//
// This header is included by translation units built for different
// instruction sets: it holds plain data and declarations only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "engine/residue_codes.h"

namespace tormid::strips {

// The score table is code-major: one row of `score_stride` values per
// residue code, so that each lane (one residue) reads its scores as a
// contiguous stream. Entry kScorePad + k holds profile position k; the rest
// is zero padding, enough for every read of a kernel with at most
// kScorePad rows per strip.
inline constexpr int kScorePad = 32;
// The quick kernels' tables (floats and 16-bit integers) pad for strips of
// up to 64 rows.
inline constexpr int kQuickScorePad = 64;
inline constexpr int kShortScorePad = 64;
template <class T>
inline constexpr int kPadOf = sizeof(T) == sizeof(double) ? kScorePad
                              : sizeof(T) == sizeof(float) ? kQuickScorePad
                                                           : kShortScorePad;

// The moves stored per cell for the traceback, 2 bits.
enum Move : unsigned { kLeft = 0, kUp = 1, kDiagonal = 2, kRestart = 3 };

// Which cells reached by a diagonal move can end the alignment.
enum class End { none, anywhere, last_column, last_row };

template <class T>
struct EndPointOf {
  T score;
  int row;
  int col;
};

// Where a row's last column has no pair: below any score.
template <class T>
struct NoEnd;
template <>
struct NoEnd<double> {
  static constexpr double value = -1e300;
};
template <>
struct NoEnd<float> {
  static constexpr float value = -1e30f;
};
template <>
struct NoEnd<std::int16_t> {
  static constexpr std::int16_t value = INT16_MIN;
};
inline constexpr double kNoEnd = NoEnd<double>::value;

template <class T>
struct JobOf {
  // The problem. Rows are numbered from 1 to len, columns from 1 to prf.
  int len = 0;
  int prf = 0;
  // kCodes rows of score_stride values (see above).
  const T* scores = nullptr;
  std::size_t score_stride = 0;
  // The sequence (row i is seq[i - 1]) and the residue code of every byte.
  const char* seq = nullptr;
  const std::int8_t* code_of = nullptr;
  T open_prf = 0, del_prf = 0, open_seq = 0, del_seq = 0;
  bool free_row0 = false;    // row 0 scores 0.0
  bool free_col0 = false;    // column 0 scores 0.0
  bool local_start = false;  // a cell at or below 0.0 restarts at 0.0
  End end = End::none;

  // Work space, edge_length() values each: the row above the current strip
  // as the previous strip's top vector left it, one whole vector per step
  // (the top lane holds the row): score, and the opening penalties of a
  // horizontal and of a vertical move out of the cell.
  T* edge_score = nullptr;
  T* edge_h = nullptr;
  T* edge_v = nullptr;
  // Traceback, or null: per strip, per step, two planes of `lanes` bits
  // (diagonal-or-restart, up-or-restart).
  std::uint8_t* trace = nullptr;

  // Results. The end point starts at the score floor; strictly better
  // cells win, so the first visited one keeps a tie.
  EndPointOf<T> best{};
  T last_cell = 0;  // score of cell (len, prf)
  // When set (len values), each row's end: with End::last_column the last
  // column's value where a pair reaches it, with End::anywhere the row's
  // best pair (the first column keeps a tie); NoEnd where there is none.
  T* row_ends = nullptr;
  // When set with row_ends, the column of each row's end (0 for NoEnd).
  int* row_end_cols = nullptr;
};

using EndPoint = EndPointOf<double>;
using Job = JobOf<double>;
using QuickJob = JobOf<float>;
using ShortJob = JobOf<std::int16_t>;

template <class T>
struct KernelOf {
  const char* name;
  int lanes;   // rows per strip
  int width;   // rows per vector
  void (*run)(JobOf<T>&);
  // The same instruction set with half the rows per strip, or null, and
  // the profile length below which it is faster: a strip spends lanes - 1
  // steps filling and draining, which a short profile cannot hide, while
  // fewer rows give the processor fewer independent vectors per step.
  const KernelOf* shorter = nullptr;
  int shorter_below = 0;
};

using Kernel = KernelOf<double>;
using QuickKernel = KernelOf<float>;
using ShortKernel = KernelOf<std::int16_t>;

// The strip height of k that suits a profile of prf positions.
template <class T>
const KernelOf<T>& for_profile(const KernelOf<T>& k, int prf) {
  const KernelOf<T>* h = &k;
  while (h->shorter && prf < h->shorter_below) h = h->shorter;
  return *h;
}

// Values in each of the three edge arrays of a kernel.
template <class T>
std::size_t edge_length(const KernelOf<T>& k, int prf) {
  return (static_cast<std::size_t>(prf) + 2 * static_cast<std::size_t>(k.lanes)) *
         static_cast<std::size_t>(k.width);
}

// Bytes of traceback per strip for a kernel of `lanes` rows.
inline std::size_t trace_bytes_per_strip(int lanes, int prf) {
  return static_cast<std::size_t>(prf + lanes - 1) * static_cast<std::size_t>(lanes / 4);
}

// Where a sequence in lanes may stop: at each of `count` rows (held
// descending, each before its last), once neither the best end so far,
// nor a cell of the row plus its gain, nor an alignment that starts below
// the row reaches below. Row n's gains: out of column j < prf,
// d[n * prf + prf - 1 - j] * unit + added, and waiver more where the cell
// lies inside a gap (a path out of it may continue the gap without its
// opening); out of column prf, added; from below the row,
// start[n] * unit + waiver + added.
struct LaneCut {
  double below = 0;
  const int* rows = nullptr;
  int count = 0;
  const std::int16_t* d = nullptr;
  const std::int16_t* start = nullptr;
  double unit = 0, added = 0, waiver = 0;
};

// Scores of many sequences at once, one per lane: each lane runs its
// sequence's rows along the whole profile, every cell the same operations
// as in a strip, and takes the next sequence when it ends; so each lane's
// score is its strip's to the bit: quick_score()'s with floats, align()'s
// with doubles.
template <class T>
struct LanesJobOf {
  // A word of bits per vector of lanes.
  using Bits = std::conditional_t<sizeof(T) == sizeof(float), std::uint16_t, std::uint8_t>;
  int prf = 0;
  // Per position, kLanesCodes scores by residue code (0 beyond the
  // alphabet); row 0's scores, prf values.
  const T* columns = nullptr;
  const T* row0 = nullptr;
  int count = 0;
  const char* const* seqs = nullptr;
  const int* lens = nullptr;  // each at least 1
  const std::int8_t* code_of = nullptr;
  T open_prf = 0, del_prf = 0, open_seq = 0, del_seq = 0;
  bool free_col0 = false;
  bool local_start = false;
  End end = End::none;
  // Work space: prf * lanes scores, and prf * lanes bits in h and in v.
  T* s = nullptr;
  Bits* h = nullptr;
  Bits* v = nullptr;
  // Results, count values: the best end as a strip's tracker finds it, or
  // with End::none the last cell.
  T* scores = nullptr;
  // With End::last_column, when set: per sequence, its rows' last-column
  // values where a pair reaches them, NoEnd elsewhere (lens[k] values at
  // row_ends[k]).
  T* const* row_ends = nullptr;
  // When set (count values, doubles only): where each sequence may stop;
  // its score is then the bound that stopped it.
  const LaneCut* cuts = nullptr;
};
using LanesJob = LanesJobOf<float>;
using ExactLanesJob = LanesJobOf<double>;
inline constexpr int kLanesCodes = 32;

template <class T>
struct LanesKernelOf {
  const char* name;
  int lanes;
  void (*run)(LanesJobOf<T>&);
};
using LanesKernel = LanesKernelOf<float>;
using ExactLanesKernel = LanesKernelOf<double>;

// The kernels built into this binary; null where the compiler or the
// target lacks the instruction set.
const LanesKernel* lanes_avx512_kernel();
const ExactLanesKernel* exact_lanes_avx512_kernel();
Kernel scalar_kernel();
const Kernel* sse2_kernel();
const Kernel* avx2_kernel();
const Kernel* avx512_kernel();
const Kernel* neon_kernel();
QuickKernel quick_scalar_kernel();
const QuickKernel* quick_sse2_kernel();
const QuickKernel* quick_avx2_kernel();
const QuickKernel* quick_avx512_kernel();
const QuickKernel* quick_neon_kernel();
ShortKernel short_scalar_kernel();
const ShortKernel* short_sse2_kernel();
const ShortKernel* short_avx2_kernel();
const ShortKernel* short_avx512_kernel();  // AVX-512BW
const ShortKernel* short_neon_kernel();

}  // namespace tormid::strips
