// The bound kernel, written once over a small vector interface `O` and
// compiled once per instruction set (bound_kernel_<isa>.cpp). Everything
// here lives in an anonymous namespace so that no inline code compiled for
// a wide instruction set can be shared with code that runs everywhere.
//
// The interface O provides, for W lanes of 16-bit integers:
//   V; set1, load, store (unaligned)
//   adds, subs (saturating), max, min
//   any_gt(a, b): some lane of a is greater than b's
//   shift_in(v, x) = {x, v[0], ..., v[W-2]}
//   lane(v, l), hmax(v)
//
// Saturation keeps every value an upper bound of the exact integer one
// except at kHigh: clipping at kLow only raises a value, and the kernel
// reports the largest value it met so that ScoreBound can tell whether
// anything was clipped at the top.
#pragma once

#include <cstdint>

#include "engine/bound_kernel.h"
#include "engine/lane_schedule.h"

namespace tormid::bounds {
namespace {

std::int16_t saturate(std::int64_t v) {
  return static_cast<std::int16_t>(v < kLow ? kLow : (v > kHigh ? kHigh : v));
}

template <class O>
struct BoundRunner {
  static constexpr int W = O::W;
  using V = typename O::V;

  template <bool Local, End E>
  static void rows(Job& job) {
    const int seg = job.segments;
    const V enter = O::set1(job.enter), del_v = O::set1(job.del_v), del_h = O::set1(job.del_h);
    const V zero = O::set1(0), low = O::set1(kLow);
    V top = low, end = low;
    const int last_t = (job.prf - 1) % seg, last_lane = (job.prf - 1) / seg;
    std::int16_t* const d = job.d;
    std::int16_t* const x = job.x;

    std::int16_t col_prev = 0;
    for (int i = 1; i <= job.len; ++i) {
      const std::int16_t col_cur = saturate(std::int64_t{col_prev} - (i == 1 ? job.col0_first : job.col0_step));
      const int code = job.code_of[static_cast<unsigned char>(job.seq[i - 1])];
      const std::int16_t* s = job.scores + static_cast<std::ptrdiff_t>(code) * seg * W;
      // Out of the cell left of lane l's first position: the last position
      // of lane l - 1, or column 0 for lane 0.
      V diag = O::shift_in(O::load(d + (seg - 1) * W), col_prev);
      V f = O::shift_in(low, saturate(std::int64_t{col_cur} + job.col0_bonus - job.del_h));
      col_prev = col_cur;
      const bool last_row = i == job.len;
      for (int t = 0; t < seg; ++t) {
        const V d_up = O::load(d + t * W);
        const V x_up = O::load(x + t * W);
        const V m = O::adds(Local ? O::max(diag, zero) : diag, O::load(s + t * W));
        V g = O::max(O::subs(x_up, del_v), f);
        if constexpr (Local) g = O::max(g, zero);
        const V dd = O::max(m, g);
        const V xx = O::max(O::subs(m, enter), g);
        O::store(d + t * W, dd);
        O::store(x + t * W, xx);
        top = O::max(top, O::max(dd, xx));
        if constexpr (E == End::anywhere) end = O::max(end, m);
        if constexpr (E == End::last_row)
          if (last_row) end = O::max(end, m);
        if constexpr (E == End::last_column)
          if (t == last_t) end = O::max(end, m);
        f = O::subs(xx, del_h);
        diag = d_up;
      }
      // The horizontal chain across lanes: carry f into the next lane until
      // it no longer raises a cell. Each pass moves it one lane on, so
      // after W passes it is kLow everywhere and stops.
      // Where it raises nothing, every later value of the chain is below
      // what the first pass already carried from that cell.
      bool settled = false;
      while (!settled) {
        f = O::shift_in(f, kLow);
        for (int t = 0; t < seg && !settled; ++t) {
          const V dd = O::load(d + t * W);
          const V xx = O::load(x + t * W);
          if (!O::any_gt(f, O::min(dd, xx))) {
            settled = true;
          } else {
            O::store(d + t * W, O::max(dd, f));
            O::store(x + t * W, O::max(xx, f));
            f = O::subs(f, del_h);
          }
        }
      }
    }

    job.top = O::hmax(top);
    switch (E) {
      case End::anywhere:
      case End::last_row: job.best = O::hmax(end); break;
      case End::last_column: job.best = O::lane(end, last_lane); break;
      case End::last_cell: job.best = O::lane(O::load(d + last_t * W), last_lane); break;
    }
  }

  template <bool Local>
  static void by_end(Job& job) {
    switch (job.end) {
      case End::last_cell: rows<Local, End::last_cell>(job); break;
      case End::anywhere: rows<Local, End::anywhere>(job); break;
      case End::last_column: rows<Local, End::last_column>(job); break;
      case End::last_row: rows<Local, End::last_row>(job); break;
    }
  }

  static void run(Job& job) {
    if (job.local_start)
      by_end<true>(job);
    else
      by_end<false>(job);
  }
};

// Many sequences at once, one per lane, for instruction sets whose lanes
// look up their scores in a few steps: the batch's kBatchLanes lanes in
// groups of O::W, besides the interface above
//   Index, index(codes): a row's lookup indices from its lanes' codes
//   Table, table(column): a position's scores by code (kBatchLanes values)
//   lookup(table, index): each lane's score
// The recurrence is that of the strips, along the whole profile for each
// lane (no correction pass: the horizontal chain stays in the lane); a
// lane that ends its sequence takes the next. The groups' chains are
// independent, which hides each other's latency.
template <class O>
struct GroupedBatch {
  static constexpr int W = kBatchLanes;
  static constexpr int H = W / O::W;  // vectors per row of lanes
  static_assert(H * O::W == W);
  using V = typename O::V;

  // Two rows at a time where a row of lanes is at most two vectors and no
  // lane ends its sequence between them: the second takes the first's
  // cells as its row above before they are stored, so the rows above are
  // read and written half as often (AVX2, two vectors: 8.4 to 9.9 billion
  // cells per second). With more vectors per row two rows' registers would
  // spill.
  static constexpr int kRowsAtOnce = H <= 2 ? 2 : 1;

  template <bool Local, End E, bool EnterIsBonus, bool SameDeletion>
  static void rows(BatchJob& job) {
    const int prf = job.prf;
    std::int16_t* const d = job.d;
    std::int16_t* const x = job.x;

    LaneSchedule<W> lanes(job.count, job.seqs, job.lens);
    std::uint32_t fresh = 0;  // lanes that took a sequence
    auto take = [&](int lane) {
      if (lanes.take(lane) >= 0) fresh |= std::uint32_t{1} << lane;
    };
    for (int lane = 0; lane < W; ++lane) take(lane);
    lanes.plan();

    alignas(64) std::int16_t col_prev[W], col_step[W], end[W], top[W];
    long last_emit[W];
    for (int lane = 0; lane < W; ++lane) col_prev[lane] = col_step[lane] = 0, end[lane] = top[lane] = kLow;
    while (lanes.running()) {
      if (fresh) {  // row 0 of the lanes' new sequences
        for (int lane = 0; lane < W; ++lane) {
          if (!(fresh >> lane & 1)) continue;
          for (int j = 0; j < prf; ++j) {
            d[j * W + lane] = job.row0_d[j];
            x[j * W + lane] = job.row0_x[j];
          }
          col_prev[lane] = 0;
          col_step[lane] = job.col0_first;
          end[lane] = top[lane] = kLow;
          last_emit[lane] = 0;
        }
        fresh = 0;
      }
      const bool ended = kRowsAtOnce > 1 && lanes.rows_left() >= kRowsAtOnce
                             ? sweep<Local, E, EnterIsBonus, SameDeletion, kRowsAtOnce>(job, lanes, col_prev, col_step,
                                                                                       end, top)
                             : sweep<Local, E, EnterIsBonus, SameDeletion, 1>(job, lanes, col_prev, col_step, end, top);
      if (job.emit_every > 0) emit(job, lanes, end, last_emit);
      if (ended) {
        for (int lane = 0; lane < W; ++lane)
          if (const int seq = lanes.ended(lane); seq >= 0) {
            job.best[seq] = end[lane];
            job.top[seq] = top[lane];
            take(lane);
          }
        lanes.plan();
      }
    }
  }

  // The rows of D that are due (BatchJob::emit_every), each lane's read
  // across the vectors of the row.
  static void emit(BatchJob& job, const LaneSchedule<W>& lanes, const std::int16_t* end, long* last_emit) {
    for (int lane = 0; lane < W; ++lane) {
      const int seq = lanes.sequence(lane);
      if (seq < 0) continue;
      const long done = lanes.row_in(lane);
      if (done - last_emit[lane] < job.emit_every || done >= job.lens[seq]) continue;
      last_emit[lane] = done;
      const int n = job.emit_count[seq]++;
      job.emit_rows[seq][n] = static_cast<int>(done);
      job.emit_ends[seq][n] = end[lane];
      std::int16_t* out = job.emit_d[seq] + static_cast<std::size_t>(n) * static_cast<std::size_t>(job.emit_width);
      for (int j = 0; j < job.emit_width; ++j) out[j] = job.d[j * W + lane];
    }
  }

  // R rows of every lane along the profile; true where a lane ended its
  // sequence with the last of them, `end` then holding each lane's end.
  template <bool Local, End E, bool EnterIsBonus, bool SameDeletion, int R>
  static bool sweep(BatchJob& job, LaneSchedule<W>& lanes, std::int16_t* col_prev, std::int16_t* col_step,
                    std::int16_t* end, std::int16_t* top) {
    const int prf = job.prf;
    const std::int16_t* const columns = job.columns;
    const V enter = O::set1(job.enter), del_v = O::set1(job.del_v), del_h = O::set1(job.del_h);
    const V zero = O::set1(0), bonus = O::set1(job.col0_bonus);
    std::int16_t* const d = job.d;
    std::int16_t* const x = job.x;
    alignas(64) std::int16_t codes[R][W];
    for (int r = 0; r < R; ++r) lanes.codes(job.code_of, codes[r], r);
    typename O::Index idx[R][H];
    V diag[R][H], f[R][H], m[R][H], row_best[H], end_v[H], top_v[H], col_cur[H];
    for (int h = 0; h < H; ++h) {
      V prev = O::load(col_prev + O::W * h);
      V step = O::load(col_step + O::W * h);
      for (int r = 0; r < R; ++r) {
        idx[r][h] = O::index(O::load(codes[r] + O::W * h));
        col_cur[h] = O::subs(prev, step);
        // With a local start every G is at least 0, so every D is: only the
        // diagonal out of column 0 needs the restart.
        diag[r][h] = Local ? O::max(prev, zero) : prev;
        // Out of column 0: with equal deletions, f holds X before the deletion.
        const V left0 = O::adds(col_cur[h], bonus);
        f[r][h] = SameDeletion ? left0 : O::subs(left0, del_h);
        m[r][h] = zero;
        prev = col_cur[h];
        step = O::set1(job.col0_step);
      }
      row_best[h] = O::set1(kLow);
      end_v[h] = O::load(end + O::W * h);
      top_v[h] = O::load(top + O::W * h);
    }
    for (int j = 0; j < prf; ++j) {
      const typename O::Table table = O::table(columns + j * W);
      for (int h = 0; h < H; ++h) {
        std::int16_t* const dj = d + j * W + O::W * h;
        std::int16_t* const xj = x + j * W + O::W * h;
        V d_up = O::load(dj);
        V x_up = O::load(xj);
        for (int r = 0; r < R; ++r) {
          m[r][h] = O::adds(diag[r][h], O::lookup(table, idx[r][h]));
          V g = SameDeletion ? O::subs(O::max(x_up, f[r][h]), del_v) : O::max(O::subs(x_up, del_v), f[r][h]);
          if constexpr (Local) g = O::max(g, zero);
          const V dd = O::max(m[r][h], g);
          const V xx = O::max(O::subs(m[r][h], enter), g);
          // With L >= 0, X <= D: D alone shows a clipped value.
          top_v[h] = O::max(top_v[h], EnterIsBonus ? O::max(dd, xx) : dd);
          if constexpr (E == End::anywhere) end_v[h] = O::max(end_v[h], m[r][h]);
          // Only the last of the rows can end a sequence.
          if constexpr (E == End::last_row) {
            if (r == R - 1) row_best[h] = O::max(row_best[h], m[r][h]);
          }
          f[r][h] = SameDeletion ? xx : O::subs(xx, del_h);
          diag[r][h] = d_up;
          d_up = dd;
          x_up = xx;
        }
        O::store(dj, d_up);
        O::store(xj, x_up);
      }
    }
    for (int h = 0; h < H; ++h) {
      if constexpr (E == End::last_column)
        for (int r = 0; r < R; ++r) end_v[h] = O::max(end_v[h], m[r][h]);
      O::store(end + O::W * h, end_v[h]);
      O::store(top + O::W * h, top_v[h]);
      O::store(col_prev + O::W * h, col_cur[h]);
      O::store(col_step + O::W * h, O::set1(job.col0_step));
    }
    if (!lanes.advance(R)) return false;
    for (int h = 0; h < H; ++h) {
      if constexpr (E == End::last_row) O::store(end + O::W * h, row_best[h]);
      if constexpr (E == End::last_cell) O::store(end + O::W * h, O::load(d + (prf - 1) * W + O::W * h));
    }
    return true;
  }

  template <bool Local, End E>
  static void by_bonus(BatchJob& job) {
    const bool same = job.del_v == job.del_h;
    if (job.enter < 0)
      same ? rows<Local, E, true, true>(job) : rows<Local, E, true, false>(job);
    else
      same ? rows<Local, E, false, true>(job) : rows<Local, E, false, false>(job);
  }

  template <bool Local>
  static void by_end(BatchJob& job) {
    switch (job.end) {
      case End::last_cell: by_bonus<Local, End::last_cell>(job); break;
      case End::anywhere: by_bonus<Local, End::anywhere>(job); break;
      case End::last_column: by_bonus<Local, End::last_column>(job); break;
      case End::last_row: by_bonus<Local, End::last_row>(job); break;
    }
  }

  static void run(BatchJob& job) {
    if (job.local_start)
      by_end<true>(job);
    else
      by_end<false>(job);
  }
};

}  // namespace
}  // namespace tormid::bounds
