// The strip kernel, written once over a small vector interface `O` and
// compiled once per instruction set (strip_kernel_<isa>.cpp). Everything
// here lives in an anonymous namespace so that no inline code compiled for
// a wide instruction set can be shared with code that runs everywhere.
//
// The interface O provides, for W lanes of T (double, or float for the
// quick kernels):
//   T, V, M           lane type, vector, lane mask
//   zero, set1, load, store (unaligned)
//   add, sub (saturating for integers), max(a, b) = a > b ? a : b, ge, gt, le
//   select(m, a, b) = m ? a : b, zero_unless(m, a), zero_if(m, a)
//   and_, or_, andnot(a, b) = a & ~b, no_lanes, bits(m)
//   shift_in(cur, below) = {below[W-1], cur[0], ..., cur[W-2]}
//   transpose(rows[W]): rows[k][l] becomes rows[l][k]
//
// Cell state per lane: the score S, and the opening penalties that a
// horizontal (Hp) and a vertical (Vp) move out of the cell would pay, 0.0
// where the gap of that direction is already open. Subtracting 0.0 leaves
// every value unchanged, so (S - Hp) - deletion is exactly what the plain
// engine computes with or without the opening penalty.
#pragma once

#include <cstdint>
#include <limits>
#include <type_traits>

#include "engine/strip_kernel.h"

#if defined(__GNUC__)
#define STRIPS_INLINE inline __attribute__((always_inline))
#else
#define STRIPS_INLINE inline
#endif

namespace tormid::strips {
namespace {

// The engine's score floor (kScoreFloor; engine.h is not included here, see
// above): trackers start there.
constexpr double kFloor = -100000.0;
// Where an integer kernel's trackers start: its lowest value.
template <class T>
constexpr T floor_of() {
  if constexpr (std::is_integral_v<T>) return std::numeric_limits<T>::min();
  else return static_cast<T>(kFloor);
}

template <int Lanes>
struct TraceWord;
template <>
struct TraceWord<8> {
  using type = std::uint8_t;
};
template <>
struct TraceWord<16> {
  using type = std::uint16_t;
};
template <>
struct TraceWord<32> {
  using type = std::uint32_t;
};
template <>
struct TraceWord<64> {
  using type = std::uint64_t;
};

template <class O, int NV>
struct StripRunner {
  static constexpr int W = O::W;
  static constexpr int H = W * NV;  // rows per strip
  using T = typename O::T;
  static constexpr int kPad = kPadOf<T>;
  static_assert(H <= kPad, "the score table's padding covers at most kPad rows");
  using Job = JobOf<T>;
  using V = typename O::V;
  using M = typename O::M;
  using Word = typename TraceWord<H>::type;
  static constexpr bool kQuick = !std::is_same_v<T, double>;  // scores only

  // What stays in memory during a strip.
  struct Memory {
    int prf;
    const T* scores;
    T* es;
    T* eh;
    T* ev;
    std::uint8_t* trace;           // this strip's traceback
    std::ptrdiff_t score_base[H];  // lane L reads its score of step t at score_base[L] + t
    alignas(64) T block[W * NV * W];  // scores of W steps, [step][vector][lane]
  };

  // The lanes whose end points count, first to end (exclusive).
  struct Lanes {
    int first;
    int end;
  };

  // What the compiler keeps in registers: every index is a constant once
  // the loops over vectors are unrolled.
  struct Registers {
    V open_seq, open_prf, del_seq, del_prf;
    V S[NV], Hp[NV], Vp[NV];
    V last_up[NV];  // the cells above at the previous step: this step's diagonals
    V lane[NV];     // lane numbers, for the masks of the first and last steps
    // Per lane, the best cell reached by a pair and its step. Every lane
    // keeps one; finish() takes only the tracked lanes' (rows past the end
    // of the sequence, or not the last row where only that row ends).
    V best[NV], best_step[NV];
    M held_diag[NV];  // whether each lane's latest cell came by a diagonal move
  };

  // A cell of row 0 or column 0 outside a free border: -open - index * del.
  // Integers saturate, as in the steps (for local alignments only, where
  // any such cell restarts its neighbours alike).
  static T border(T open, T del, int index) {
    if constexpr (std::is_integral_v<T>) {
      const long long value = -static_cast<long long>(open) - static_cast<long long>(index) * del;
      constexpr long long lowest = std::numeric_limits<T>::min(), highest = std::numeric_limits<T>::max();
      return static_cast<T>(value < lowest ? lowest : value > highest ? highest : value);
    } else {
      return -open - static_cast<T>(index) * del;
    }
  }

  static T column0(const Job& job, int row) { return job.free_col0 ? T(0) : border(job.open_prf, job.del_prf, row); }

  // One anti-diagonal step t. Edge steps are those where some lanes lie
  // outside the profile (before column 1 or after column prf); those lanes
  // keep their state.
  template <bool Edge, bool Local, bool Track, bool Trace>
  static STRIPS_INLINE void step(Memory& mem, Registers& st, int t) {
    const V zero = O::zero();
    // The previous strip's top vector at the step where its top lane did
    // column t + 1: the cells above lane 0.
    const std::size_t above = static_cast<std::size_t>(t + H - 1) * W;
    const V in_s = O::load(mem.es + above);
    const V in_h = O::load(mem.eh + above);
    const V in_v = O::load(mem.ev + above);
    if (t % W == 0) fill_scores(mem, t);
    const T* scores = mem.block + (t % W) * NV * W;
    M active[NV];
    if constexpr (Edge) {
      const V last = O::set1(static_cast<T>(t)), first = O::set1(static_cast<T>(t - mem.prf + 1));
      for (int v = 0; v < NV; ++v) active[v] = O::and_(O::le(st.lane[v], last), O::ge(st.lane[v], first));
    }
    [[maybe_unused]] const V step_number = O::set1(static_cast<T>(t));
    [[maybe_unused]] Word plane_a = 0, plane_b = 0;
    [[maybe_unused]] std::uint8_t* trace_out =
        Trace ? mem.trace + static_cast<std::size_t>(t) * 2 * sizeof(Word) : nullptr;

    // From the top vector down, so that each shift reads the vector below
    // before this step overwrites it.
    for (int v = NV - 1; v >= 0; --v) {
      const V up_s = O::shift_in(st.S[v], v ? st.S[v - 1] : in_s);
      const V up_h = O::shift_in(st.Hp[v], v ? st.Hp[v - 1] : in_h);
      const V up_v = O::shift_in(st.Vp[v], v ? st.Vp[v - 1] : in_v);
      const V diag_s = st.last_up[v];
      st.last_up[v] = up_s;
      const V score = O::load(scores + v * W);

      const V left = O::sub(O::sub(st.S[v], st.Hp[v]), st.del_seq);
      const V up = O::sub(O::sub(up_s, up_v), st.del_prf);
      const V diag = O::add(diag_s, score);
      // Ties go to the diagonal, then to up.
      const V left_or_up = O::max(left, up);
      V s = O::max(left_or_up, diag);
      const M is_diag = O::ge(diag, left_or_up);
      const M is_up = O::ge(up, left);
      V h = O::select(is_diag, st.open_seq, O::zero_unless(is_up, up_h));
      V vp = O::select(is_diag, st.open_prf, O::zero_if(is_up, st.Vp[v]));
      [[maybe_unused]] M restart = O::no_lanes();
      if constexpr (Local) {
        // A cell at or below 0.0 restarts at +0.0: max(s, +0.0) is exactly
        // that (also for -0.0) and keeps the compare off the score's path.
        restart = O::le(s, zero);
        s = O::max(s, zero);
        h = O::zero_if(restart, h);
        vp = O::zero_if(restart, vp);
      }
      if constexpr (Track && kQuick) {
        // The quick kernels give scores only: the best, without its column.
        M takes = is_diag;
        if constexpr (Edge) takes = O::and_(takes, active[v]);
        st.best[v] = O::select(takes, O::max(s, st.best[v]), st.best[v]);
      } else if constexpr (Track) {
        M better = O::and_(is_diag, O::gt(s, st.best[v]));
        if constexpr (Edge) better = O::and_(better, active[v]);
        st.best[v] = O::select(better, s, st.best[v]);
        st.best_step[v] = O::select(better, step_number, st.best_step[v]);
      }
      if constexpr (Trace) {
        M a = is_diag, b = O::andnot(is_up, is_diag);
        if constexpr (Local) {
          a = O::or_(a, restart);
          b = O::or_(b, restart);
        }
        if constexpr (W == 8) {  // one byte of each plane per vector
          trace_out[v] = static_cast<std::uint8_t>(O::bits(a));
          trace_out[sizeof(Word) + v] = static_cast<std::uint8_t>(O::bits(b));
        } else {
          plane_a = static_cast<Word>(plane_a | (static_cast<Word>(O::bits(a)) << (v * W)));
          plane_b = static_cast<Word>(plane_b | (static_cast<Word>(O::bits(b)) << (v * W)));
        }
      }
      if constexpr (Edge) {
        s = O::select(active[v], s, st.S[v]);
        h = O::select(active[v], h, st.Hp[v]);
        vp = O::select(active[v], vp, st.Vp[v]);
        st.held_diag[v] = O::or_(O::and_(active[v], is_diag), O::andnot(st.held_diag[v], active[v]));
      }
      st.S[v] = s;
      st.Hp[v] = h;
      st.Vp[v] = vp;
    }

    // The top lane has finished column t - H + 2: it is the row above the
    // next strip. Reads of this strip stay H - 1 steps ahead of the writes.
    O::store(mem.es + static_cast<std::size_t>(t) * W, st.S[NV - 1]);
    O::store(mem.eh + static_cast<std::size_t>(t) * W, st.Hp[NV - 1]);
    O::store(mem.ev + static_cast<std::size_t>(t) * W, st.Vp[NV - 1]);
    if constexpr (Trace && W != 8) {
      // Byte k holds lanes 8k to 8k + 7, whatever the byte order of the CPU.
      for (std::size_t k = 0; k < sizeof(Word); ++k) {
        trace_out[k] = static_cast<std::uint8_t>(plane_a >> (8 * k));
        trace_out[sizeof(Word) + k] = static_cast<std::uint8_t>(plane_b >> (8 * k));
      }
    }
  }

  // Scores of steps t to t + W - 1 for every lane: one contiguous load per
  // lane from its residue's row, transposed into one vector per step.
  static STRIPS_INLINE void fill_scores(Memory& mem, int t) {
    for (int v = 0; v < NV; ++v) {
      V rows[W];
      for (int l = 0; l < W; ++l) rows[l] = O::load(mem.scores + mem.score_base[v * W + l] + t);
      O::transpose(rows);
      for (int k = 0; k < W; ++k) O::store(mem.block + (k * NV + v) * W, rows[k]);
    }
  }

  template <bool Local, bool Track, bool Trace>
  static void strip(Job& job, int strip_index, Lanes tracked) {
    const int first_row = strip_index * H;  // the row above the strip
    const int steps = job.prf + H - 1;
    Memory mem;
    mem.prf = job.prf;
    mem.scores = job.scores;
    mem.es = job.edge_score;
    mem.eh = job.edge_h;
    mem.ev = job.edge_v;
    mem.trace = Trace ? job.trace + static_cast<std::size_t>(strip_index) *
                                        trace_bytes_per_strip(H, job.prf)
                      : nullptr;
    Registers st;
    st.open_seq = O::set1(job.open_seq);
    st.open_prf = O::set1(job.open_prf);
    st.del_seq = O::set1(job.del_seq);
    st.del_prf = O::set1(job.del_prf);

    alignas(64) T values[H];
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(job.score_stride);
    for (int l = 0; l < H; ++l) {
      values[l] = column0(job, first_row + 1 + l);
      // Rows past the end of the sequence fill the last strip; nothing
      // reads what they compute.
      const int row = first_row + l;
      const int code = row < job.len ? job.code_of[static_cast<unsigned char>(job.seq[row])] : kOutsideCode;
      mem.score_base[l] = code * stride + kPad - l;
    }
    for (int v = 0; v < NV; ++v) {
      // Column 0: a horizontal move out of it opens a gap, a vertical one
      // continues the gap that runs down from the origin.
      st.S[v] = O::load(values + v * W);
      st.Hp[v] = st.open_seq;
      st.Vp[v] = O::zero();
      st.held_diag[v] = O::no_lanes();
    }
    // The diagonal of lane 0 at step 0 is column 0 of the row above.
    const T corner = first_row == 0 ? T(0) : column0(job, first_row);
    for (int v = 0; v < NV; ++v)
      st.last_up[v] = O::shift_in(st.S[v], v ? st.S[v - 1] : O::set1(corner));
    for (int l = 0; l < H; ++l) values[l] = static_cast<T>(l);
    for (int v = 0; v < NV; ++v) st.lane[v] = O::load(values + v * W);
    if constexpr (Track) {
      for (int v = 0; v < NV; ++v) {
        st.best[v] = O::set1(floor_of<T>());
        st.best_step[v] = O::zero();
      }
    }

    // Steps where every lane lies inside the profile and none has reached
    // its last column run without masks.
    const int main_begin = H - 1;
    const int main_end = job.prf - 1;  // exclusive
    int t = 0;
    if (main_begin < main_end) {
      for (; t < main_begin; ++t) step<true, Local, Track, Trace>(mem, st, t);
      for (; t < main_end; ++t) step<false, Local, Track, Trace>(mem, st, t);
    }
    for (; t < steps; ++t) step<true, Local, Track, Trace>(mem, st, t);

    finish<Track>(job, st, first_row, tracked);
  }

  // Hands the strip's end points to the job's trackers, lanes in row order.
  template <bool Track>
  static STRIPS_INLINE void finish(Job& job, const Registers& st, int first_row,
                                   Lanes tracked) {
    alignas(64) T last_column[H];
    unsigned diag_bits[NV];
    for (int v = 0; v < NV; ++v) {
      O::store(last_column + v * W, st.S[v]);
      diag_bits[v] = O::bits(st.held_diag[v]);
    }
    const int rows = job.len - first_row < H ? job.len - first_row : H;
    if (job.end == End::last_column) {
      for (int l = 0; l < rows; ++l) {
        const bool diagonal = (diag_bits[l / W] >> (l % W)) & 1;
        if (diagonal && last_column[l] > job.best.score)
          job.best = {last_column[l], first_row + 1 + l, job.prf};
        if (job.row_ends) job.row_ends[first_row + l] = diagonal ? last_column[l] : NoEnd<T>::value;
        if (job.row_end_cols) job.row_end_cols[first_row + l] = diagonal ? job.prf : 0;
      }
    }
    if constexpr (Track) {
      alignas(64) T best[H], best_step[H];
      for (int v = 0; v < NV; ++v) {
        O::store(best + v * W, st.best[v]);
        O::store(best_step + v * W, st.best_step[v]);
      }
      EndPointOf<T>& tracker = job.best;
      for (int l = 0; l < H; ++l) {
        if (l >= tracked.first && l < tracked.end && best[l] > tracker.score)
          tracker = {best[l], first_row + 1 + l, static_cast<int>(best_step[l]) - l + 1};
      }
      if (job.row_ends && job.end == End::anywhere) {
        for (int l = 0; l < rows; ++l) {
          const bool found = best[l] > floor_of<T>();
          job.row_ends[first_row + l] = found ? best[l] : NoEnd<T>::value;
          if (job.row_end_cols) job.row_end_cols[first_row + l] = found ? static_cast<int>(best_step[l]) - l + 1 : 0;
        }
      }
    }
    if (first_row + rows == job.len) job.last_cell = last_column[rows - 1];
  }

  template <bool Local, bool Trace>
  static void strip_tracked(Job& job, int s, Lanes tracked) {
    if (tracked.first < tracked.end)
      strip<Local, true, Trace>(job, s, tracked);
    else
      strip<Local, false, Trace>(job, s, tracked);
  }

  static void run(Job& job) {
    const int prf = job.prf;
    // Row 0, laid out as if a strip above row 1 had left it: entry k holds
    // column k - H + 2. Out of the profile nothing is read that matters.
    const V zero = O::zero(), open_prf = O::set1(job.open_prf);
    for (int k = 0; k < prf + 2 * H; ++k) {
      const int j = k - H + 2;
      const T score = job.free_row0 || j < 1 || j > prf ? T(0) : border(job.open_seq, job.del_seq, j);
      const std::size_t at = static_cast<std::size_t>(k) * W;
      O::store(job.edge_score + at, O::set1(score));
      O::store(job.edge_h + at, zero);
      O::store(job.edge_v + at, open_prf);
    }
    const int count = (job.len + H - 1) / H;
    for (int s = 0; s < count; ++s) {
      const int rows = job.len - s * H < H ? job.len - s * H : H;
      Lanes tracked{0, 0};
      if (job.end == End::anywhere) tracked = {0, rows};
      else if (job.end == End::last_row && s == count - 1) tracked = {rows - 1, rows};
      if (job.local_start) {
        if (job.trace) strip_tracked<true, true>(job, s, tracked);
        else strip_tracked<true, false>(job, s, tracked);
      } else {
        if (job.trace) strip_tracked<false, true>(job, s, tracked);
        else strip_tracked<false, false>(job, s, tracked);
      }
    }
  }
};

}  // namespace
}  // namespace tormid::strips
