// Quick local scores of many sequences at once, one per lane, written once
// over the bound kernels' vector interface `O` (bound_kernel_impl.h) and
// compiled with them per instruction set. Besides that interface, O
// provides lane masks:
//   M; gt(a, b): the lanes where a > b
//   select(m, a, b): a where m is set, b elsewhere
// Like everything included by the kernels' translation units, it lives in
// an anonymous namespace.
#pragma once

#include <cstdint>
#include <limits>

#include "engine/bound_kernel.h"
#include "engine/lane_schedule.h"

namespace tormid::bounds {
namespace {

// A row of kBatchLanes lanes is kBatchLanes / O::W vectors; each lane runs
// its sequence's rows along the whole profile and, when it ends, takes the
// next sequence. The cell rule is the strip kernels' (strip_kernel_impl.h)
// with a local start and end, spelled with "greater than" masks: where a
// strip keeps a diagonal on diag >= max(left, up), this keeps it unless
// max(left, up) > diag.
template <class O>
struct QuickBatch {
  static constexpr int W = kBatchLanes;
  static constexpr int G = W / O::W;  // vectors per row of lanes
  static_assert(G * O::W == W);
  using V = typename O::V;
  using M = typename O::M;
  static constexpr std::int16_t kNone = std::numeric_limits<std::int16_t>::min();

  // Several rows at a time where no lane ends its sequence between them:
  // each takes the one before as its row above before it is stored, so
  // the rows above are read and written less often. Four where a row of
  // lanes is one vector (AVX-512: 7.6 billion cells per second one row at
  // a time, 11.2 two, 12.5 four), two where it is two (AVX2: 4.8 to 5.4);
  // with more vectors per row the registers would spill.
  static constexpr int kRowsAtOnce = G == 1 ? 4 : G == 2 ? 2 : 1;

  // Each cell keeps its opening penalties with the deletion added (never
  // saturating: both are at most 4096), one subtraction less per move;
  // saturating subtractions of non-negative values give the same either
  // way.
  static std::int16_t sum(std::int16_t a, std::int16_t b) { return static_cast<std::int16_t>(a + b); }

  static void run(QuickBatchJob& job) {
    const int prf = job.prf;
    std::int16_t* const cell_s = job.s;
    std::int16_t* const cell_h = job.h;
    std::int16_t* const cell_v = job.v;

    // Column 0 outside a free border, per lane: the value of the row above
    // and what the next row lowers it by.
    alignas(64) std::int16_t best[W], col_prev[W], col_step[W];
    const std::int16_t first_step = sum(job.open_prf, job.del_prf);
    LaneSchedule<W> lanes(job.count, job.seqs, job.lens);
    auto take = [&](int lane) {
      best[lane] = kNone;
      col_prev[lane] = 0;
      col_step[lane] = first_step;
      if (lanes.take(lane) < 0) return;
      // Row 0 of a local alignment: score 0, a horizontal move out of it
      // opens nothing, a vertical one opens the profile's gap.
      for (int j = 0; j < prf; ++j) {
        cell_s[j * W + lane] = 0;
        cell_h[j * W + lane] = job.del_seq;
        cell_v[j * W + lane] = first_step;
      }
    };
    for (int lane = 0; lane < W; ++lane) take(lane);
    lanes.plan();

    while (lanes.running()) {
      const bool ended = kRowsAtOnce > 1 && lanes.rows_left() >= kRowsAtOnce
                             ? sweep<kRowsAtOnce>(job, lanes, col_prev, col_step, best)
                             : sweep<1>(job, lanes, col_prev, col_step, best);
      if (ended) {
        for (int lane = 0; lane < W; ++lane)
          if (const int seq = lanes.ended(lane); seq >= 0) {
            job.best[seq] = best[lane];
            take(lane);
          }
        lanes.plan();
      }
    }
  }

  // R rows of every lane along the profile, each taking the one before as
  // its row above before it is stored; true where a lane ended its
  // sequence with the last of them.
  template <int R>
  static bool sweep(QuickBatchJob& job, LaneSchedule<W>& lanes, std::int16_t* col_prev, std::int16_t* col_step,
                    std::int16_t* best) {
    const int prf = job.prf;
    const std::int16_t* const columns = job.columns;
    const V del_seq = O::set1(job.del_seq), del_prf = O::set1(job.del_prf), zero = O::set1(0);
    const V open_del_seq = O::set1(sum(job.open_seq, job.del_seq));
    const V open_del_prf = O::set1(sum(job.open_prf, job.del_prf));
    std::int16_t* const cell_s = job.s;
    std::int16_t* const cell_h = job.h;
    std::int16_t* const cell_v = job.v;
    alignas(64) std::int16_t codes[R][W];
    for (int r = 0; r < R; ++r) lanes.codes(job.code_of, codes[r], r);
    typename O::Index idx[R][G];
    // Column 0 (with a local start, not a free border): 0 in row 0, then
    // -open_prf - row * del_prf, saturating; a horizontal move out of it
    // opens the sequence's gap.
    V diag[R][G], left_s[R][G], left_h[R][G], left_v[R][G], top[G];
    for (int g = 0; g < G; ++g) {
      V prev = O::load(col_prev + O::W * g);
      V step = O::load(col_step + O::W * g);
      for (int r = 0; r < R; ++r) {
        idx[r][g] = O::index(O::load(codes[r] + O::W * g));
        diag[r][g] = prev;
        left_s[r][g] = O::subs(prev, step);
        left_h[r][g] = open_del_seq;
        left_v[r][g] = del_prf;
        prev = left_s[r][g];
        step = del_prf;
      }
      O::store(col_prev + O::W * g, prev);
      O::store(col_step + O::W * g, del_prf);
      top[g] = O::load(best + O::W * g);
    }
    for (int j = 0; j < prf; ++j) {
      const typename O::Table table = O::table(columns + j * W);
      for (int g = 0; g < G; ++g) {
        const std::size_t at = static_cast<std::size_t>(j) * W + static_cast<std::size_t>(O::W * g);
        V up_s = O::load(cell_s + at);
        V up_h = O::load(cell_h + at);
        V up_v = O::load(cell_v + at);
        for (int r = 0; r < R; ++r) {
          const V left = O::subs(left_s[r][g], left_h[r][g]);
          const V up = O::subs(up_s, up_v);
          const V pair = O::adds(diag[r][g], O::lookup(table, idx[r][g]));
          const V left_or_up = O::max(left, up);
          V s = O::max(left_or_up, pair);
          // Ties go to the diagonal, then to up.
          const M not_pair = O::gt(left_or_up, pair);
          const M from_left = O::gt(left, up);
          V h = O::select(not_pair, O::select(from_left, del_seq, up_h), open_del_seq);
          V v = O::select(not_pair, O::select(from_left, left_v[r][g], del_prf), open_del_prf);
          // A cell at or below 0 restarts at 0. The strips then also set its
          // opening states to "no gap open"; with penalties of at least 0
          // that changes nothing: every move out of a restarted cell is at
          // most 0, so it either loses to a move above 0 (every comparison
          // coming out as with the reset) or ends in another restart, and
          // the states of a cell above 0 never come from a restarted one.
          s = O::max(s, zero);
          // The best cell reached by a pair, over every pair: a pair that
          // loses to a gap move loses to a cell the gap came out of, which
          // is at least as high (penalties are not negative), and that
          // chain starts at a pair (a restart or an edge is at most 0).
          // Where the best is at most 0 nothing else is read of it.
          top[g] = O::max(top[g], pair);
          diag[r][g] = up_s;
          left_s[r][g] = s;
          left_h[r][g] = h;
          left_v[r][g] = v;
          up_s = s;
          up_h = h;
          up_v = v;
        }
        O::store(cell_s + at, up_s);
        O::store(cell_h + at, up_h);
        O::store(cell_v + at, up_v);
      }
    }
    for (int g = 0; g < G; ++g) O::store(best + O::W * g, top[g]);
    return lanes.advance(R);
  }
};

}  // namespace
}  // namespace tormid::bounds
