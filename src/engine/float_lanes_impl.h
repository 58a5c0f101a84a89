// Scores of many sequences at once (strip_kernel.h, LanesJobOf), written
// once over the strip kernels' interface `O` and compiled with them per
// instruction set: on floats the quick scores, on doubles align()'s.
// Besides that interface, O provides
//   Index, index(codes): a vector's lookup indices from 32-bit codes
//   Table, table(column): a position's kLanesCodes scores
//   lookup(table, index): each lane's score
//   mul, from_int(ints): products, and 32-bit integers as values
//   Bits, load_bits, store_bits: a mask kept in memory
//   sub_where(a, m, b): a - b where m is set, a elsewhere
// A cell's opening penalties are each one of two values (a horizontal
// move out of a cell opens the sequence's gap or nothing, a vertical one
// the profile's or nothing), so the row above keeps them as two bits per
// lane: the kernel's memory is then mostly the row's scores, which keeps
// long profiles in the nearer caches. Subtracting 0.0 changes no value,
// so a - b where set is exactly a - (set ? b : 0).
// Like everything included by the kernels' translation units, it lives in
// an anonymous namespace.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "engine/strip_kernel.h"
#include "engine/lane_schedule.h"
#include "engine/strip_kernel_impl.h"

namespace tormid::strips {
namespace {

// G vectors of lanes per row: the chain along a row (two subtractions and
// two maxima per cell, four cycles each) is longer than a vector's work
// per cell, so several rows run at once (bench/engine_bench: 2, 3 and 4
// vectors of 16 lanes, 4.7, 6.0 and 6.5 billion cells per second).
template <class O, int G>
struct SequenceLanes {
  static constexpr int W = O::W * G;
  using T = typename O::T;
  using Job = LanesJobOf<T>;
  using V = typename O::V;
  using M = typename O::M;
  using Bits = typename O::Bits;

  template <bool Local, End E>
  static void rows(Job& job) {
    const int prf = job.prf;
    const V open_seq = O::set1(job.open_seq), open_prf = O::set1(job.open_prf);
    const V del_seq = O::set1(job.del_seq), del_prf = O::set1(job.del_prf), zero = O::zero();
    const V minus_open_prf = O::set1(-job.open_prf);
    const V floor = O::set1(static_cast<T>(kFloor));
    T* const cell_s = job.s;
    // Per position and vector of lanes: whether a horizontal (h) or a
    // vertical (v) move out of the cell above opens a gap.
    static_assert(std::is_same_v<Bits, typename Job::Bits> && sizeof(Bits) * 8 == O::W,
                  "a word of bits per vector of lanes");
    Bits* const open_h = job.h;
    Bits* const open_v = job.v;

    // Per lane: the row it is on (from 1), column 0 of the row above, the
    // best end so far, and the last row's values.
    alignas(64) std::int32_t codes[W], row_of[W];
    alignas(64) T col_prev[W], best[W], last_s[W], last_best[W];
    // Per lane: whether its sequence stopped early, and the bound that
    // stopped it.
    bool stopped[W];
    double stopped_at[W];
    int next_cut[W];  // index of the lane's next row to check (they descend), or -1
    LaneSchedule<W> lanes(job.count, job.seqs, job.lens);
    auto take = [&](int lane) {
      row_of[lane] = 1;
      stopped[lane] = false;
      next_cut[lane] = -1;
      col_prev[lane] = 0;  // the corner
      best[lane] = static_cast<T>(kFloor);
      if (lanes.take(lane) < 0) return;
      if (job.cuts) next_cut[lane] = job.cuts[lanes.sequence(lane)].count - 1;
      // Row 0: a horizontal move out of it opens nothing, a vertical one
      // the profile's gap.
      const Bits bit = static_cast<Bits>(Bits{1} << (lane % O::W));
      for (int j = 0; j < prf; ++j) {
        cell_s[j * W + lane] = job.row0[j];
        Bits& h = open_h[j * G + lane / O::W];
        Bits& v = open_v[j * G + lane / O::W];
        h = static_cast<Bits>(h & ~bit);
        v = static_cast<Bits>(v | bit);
      }
    };
    for (int lane = 0; lane < W; ++lane) take(lane);
    lanes.plan();

    while (lanes.running()) {
      lanes.codes(job.code_of, codes);
      typename O::Index idx[G];
      V diag[G], left_s[G], row_best[G];
      M left_h[G], left_v[G], last_diag[G];
      for (int g = 0; g < G; ++g) {
        idx[g] = O::index(codes + O::W * g);
        // Column 0: free, or -open_prf - row * del_prf as a strip computes
        // it; a horizontal move out of it opens the sequence's gap.
        diag[g] = O::load(col_prev + O::W * g);
        left_s[g] = job.free_col0 ? zero : O::sub(minus_open_prf, O::mul(O::from_int(row_of + O::W * g), del_prf));
        O::store(col_prev + O::W * g, left_s[g]);
        left_h[g] = O::all_lanes();
        left_v[g] = O::no_lanes();
        row_best[g] = floor;
        last_diag[g] = O::no_lanes();
      }
      for (int j = 0; j < prf; ++j) {
        const typename O::Table table = O::table(job.columns + static_cast<std::size_t>(j) * kLanesCodes);
        for (int g = 0; g < G; ++g) {
          const std::size_t at = static_cast<std::size_t>(j) * W + static_cast<std::size_t>(O::W * g);
          const std::size_t bits_at = static_cast<std::size_t>(j) * G + static_cast<std::size_t>(g);
          const V up_s = O::load(cell_s + at);
          const M up_h = O::load_bits(open_h + bits_at);
          const M up_v = O::load_bits(open_v + bits_at);
          const V left = O::sub(O::sub_where(left_s[g], left_h[g], open_seq), del_seq);
          const V up = O::sub(O::sub_where(up_s, up_v, open_prf), del_prf);
          const V pair = O::add(diag[g], O::lookup(table, idx[g]));
          // Ties go to the diagonal, then to up.
          const V left_or_up = O::max(left, up);
          V s = O::max(left_or_up, pair);
          const M is_diag = O::ge(pair, left_or_up);
          const M is_up = O::ge(up, left);
          M h = O::or_(is_diag, O::and_(is_up, up_h));
          M v = O::or_(is_diag, O::andnot(left_v[g], is_up));
          if constexpr (Local) {
            const M restart = O::le(s, zero);
            s = O::max(s, zero);
            h = O::andnot(h, restart);
            v = O::andnot(v, restart);
          }
          if constexpr (E == End::anywhere || E == End::last_row)
            row_best[g] = O::select(is_diag, O::max(s, row_best[g]), row_best[g]);
          last_diag[g] = is_diag;
          O::store(cell_s + at, s);
          O::store_bits(open_h + bits_at, h);
          O::store_bits(open_v + bits_at, v);
          diag[g] = up_s;
          left_s[g] = s;
          left_h[g] = h;
          left_v[g] = v;
        }
      }
      // The row's ends, as a strip's tracker takes them row by row: a
      // strictly better one wins.
      for (int g = 0; g < G; ++g) {
        const V so_far = O::load(best + O::W * g);
        if constexpr (E == End::anywhere)
          O::store(best + O::W * g, O::select(O::gt(row_best[g], so_far), row_best[g], so_far));
        if constexpr (E == End::last_column)
          O::store(best + O::W * g,
                   O::select(O::and_(last_diag[g], O::gt(left_s[g], so_far)), left_s[g], so_far));
        O::store(last_s + O::W * g, left_s[g]);
        O::store(last_best + O::W * g, row_best[g]);
        if constexpr (E == End::last_column)
          if (job.row_ends) {
            const unsigned reached = O::bits(last_diag[g]);
            for (int k = 0; k < O::W; ++k) {
              const int lane = O::W * g + k;
              if (const int seq = lanes.sequence(lane); seq >= 0)
                job.row_ends[seq][lanes.row_in(lane)] = reached >> k & 1 ? last_s[lane] : NoEnd<T>::value;
            }
          }
      }
      if constexpr (std::is_same_v<T, double>)
        if (job.cuts) cut_lanes(job, lanes, cell_s, open_h, open_v, col_prev, best, next_cut, stopped, stopped_at);
      for (int lane = 0; lane < W; ++lane) ++row_of[lane];

      if (lanes.advance()) {
        for (int lane = 0; lane < W; ++lane)
          if (const int seq = lanes.ended(lane); seq >= 0) {
            T& score = job.scores[seq];
            if (stopped[lane]) score = static_cast<T>(stopped_at[lane]);
            else if constexpr (E == End::none) score = last_s[lane];
            else if constexpr (E == End::last_row) score = last_best[lane] > best[lane] ? last_best[lane] : best[lane];
            else score = best[lane];
            take(lane);
          }
        lanes.plan();
      }
    }
  }

  // The lanes whose sequence reached a row where it may stop, and cannot
  // reach its cut: stopped with the current row. A row's cells lie a whole
  // vector of lanes apart; four running maxima keep the loads going. The
  // gain's `added` joins after the maximum: the rounding that saves stays
  // far inside the margin it carries.
  static void cut_lanes(const Job& job, LaneSchedule<W>& lanes, const T* cell_s, const Bits* open_h,
                        const Bits* open_v, const T* col_prev, const T* best, int* next_cut, bool* stopped,
                        double* stopped_at) {
    const int prf = job.prf;
    for (int lane = 0; lane < W; ++lane) {
      const int seq = lanes.sequence(lane);
      if (seq < 0 || next_cut[lane] < 0) continue;
      const LaneCut& cut = job.cuts[seq];
      if (cut.rows[next_cut[lane]] != lanes.row_in(lane) + 1) continue;
      const int n = next_cut[lane]--;
      // Column j + 1 reads d[prf - 2 - j].
      const std::int16_t* d = cut.d + static_cast<std::size_t>(n) * static_cast<std::size_t>(prf);
      const T* cells = cell_s + lane;
      // A cell reached by a pairing pays every opening the gains assume;
      // one inside a gap may continue it for free.
      const std::size_t word = static_cast<std::size_t>(lane / O::W);
      const Bits bit = static_cast<Bits>(Bits{1} << (lane % O::W));
      auto gain = [&](int j) {  // out of column j + 1 < prf
        const std::size_t at = static_cast<std::size_t>(j) * G + word;
        const bool paired = (open_h[at] & open_v[at] & bit) != 0;
        return d[prf - 2 - j] * cut.unit + (paired ? 0.0 : cut.waiver);
      };
      double reach[4] = {col_prev[lane] + d[prf - 1] * cut.unit + cut.waiver,
                         static_cast<double>(cells[static_cast<std::size_t>(prf - 1) * W]), kFloor, kFloor};
      int j = 0;
      for (; j + 4 <= prf - 1; j += 4)
        for (int k = 0; k < 4; ++k) reach[k] = std::max(reach[k], cells[static_cast<std::size_t>(j + k) * W] + gain(j + k));
      for (; j < prf - 1; ++j) reach[0] = std::max(reach[0], cells[static_cast<std::size_t>(j) * W] + gain(j));
      const double paths = std::max(std::max(reach[0], reach[1]), std::max(reach[2], reach[3])) + cut.added;
      const double most =
          std::max({static_cast<double>(best[lane]), cut.start[n] * cut.unit + cut.waiver + cut.added, paths});
      if (most < cut.below) {
        stopped[lane] = true;
        stopped_at[lane] = most;
        lanes.stop(lane);
      }
    }
  }

  template <bool Local>
  static void by_end(Job& job) {
    switch (job.end) {
      case End::none: rows<Local, End::none>(job); break;
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

}  // namespace
}  // namespace tormid::strips
