// The coarse kernel, written once over a small vector interface `O` and
// compiled once per instruction set (coarse_kernel_<isa>.cpp). Everything
// here lives in an anonymous namespace so that no inline code compiled for
// a wide instruction set can be shared with code that runs everywhere.
//
// The interface O provides, for W lanes of signed bytes:
//   V; set1, load, store (unaligned); adds, subs (saturating), max, min
//   Index, index(codes): a row's lookup indices from W residue codes
//   Table, table(scores): a position's kTableBytes scores
//   lookup(table, index): each lane's score
#pragma once

#include <cstdint>

#include "engine/coarse_kernel.h"

namespace tormid::coarse {
namespace {

// Groups of O::W lanes whose chains along the profile are independent,
// which hides each other's latency.
template <class O, int Groups>
struct CoarseBatch {
  static constexpr int W = O::W * Groups;  // lanes
  using V = typename O::V;

  // A value's byte: 128 below it, as a signed byte.
  static constexpr std::uint8_t kZero = 0x80;

  // One row of every lane along the profile. Column 0 is 0 (below 0 and
  // so restarted); with Fresh, the lanes marked in `keep` (0 there, 0x7F
  // elsewhere) take row 0, all 0, as their row above. With equal deletions, the left value is carried as X
  // before its deletion, which takes one subtraction off every cell:
  // subtracting with saturation commutes with the max.
  template <bool Fresh, bool SameDeletion>
  static void row(Job& job, const std::uint8_t* codes, const std::uint8_t* keep, std::uint8_t* best) {
    const V enter = O::set1(job.enter);
    const V del_v = O::set1(job.del_v), del_h = O::set1(job.del_h), zero = O::set1(kZero);
    typename O::Index idx[Groups];
    V diag[Groups], f[Groups], end[Groups], restart[Groups];
    for (int h = 0; h < Groups; ++h) {
      idx[h] = O::index(codes + O::W * h);
      diag[h] = zero;
      f[h] = zero;
      end[h] = O::load(best + O::W * h);
      if constexpr (Fresh) restart[h] = O::load(keep + O::W * h);
    }
    // Local copies: the byte stores below may alias the job's fields.
    const int prf = job.prf;
    const std::uint8_t* const scores = job.scores;
    std::uint8_t* const d = job.d;
    std::uint8_t* const x = job.x;
    for (int j = 0; j < prf; ++j) {
      const typename O::Table table = O::table(scores + static_cast<std::size_t>(j) * kTableBytes);
      for (int h = 0; h < Groups; ++h) {
        std::uint8_t* const dj = d + j * W + O::W * h;
        std::uint8_t* const xj = x + j * W + O::W * h;
        V d_up = O::load(dj);
        V x_up = O::load(xj);
        if constexpr (Fresh) {
          d_up = O::min(restart[h], d_up);
          x_up = O::min(restart[h], x_up);
        }
        const V m = O::adds(diag[h], O::lookup(table, idx[h]));
        const V g = SameDeletion ? O::subs(O::max(x_up, f[h]), del_v) : O::max(O::subs(x_up, del_v), f[h]);
        const V xx = O::max(O::subs(m, enter), g);
        O::store(dj, O::max(m, g));
        O::store(xj, xx);
        end[h] = O::max(end[h], m);
        f[h] = SameDeletion ? xx : O::subs(xx, del_h);
        diag[h] = d_up;
      }
    }
    for (int h = 0; h < Groups; ++h) O::store(best + O::W * h, end[h]);
  }

  static void run(Job& job) { job.del_v == job.del_h ? lanes<true>(job) : lanes<false>(job); }

  template <bool SameDeletion>
  static void lanes(Job& job) {
    // Lanes: the sequence each works on (or -1), its next residue and the
    // row at which it ends.
    int seq_of[W];
    const char* residue[W];
    long ends_at[W];
    alignas(64) std::uint8_t codes[W];
    alignas(64) std::uint8_t best[W];
    // Lanes that start a sequence on this row read row 0 as zeros (free
    // in a local alignment), whatever the row above holds.
    alignas(64) std::uint8_t keep[W];
    for (std::uint8_t& k : keep) k = 0x7F;
    bool any_fresh = false;
    int next = 0, busy = 0;
    long rows = 0, next_end = 0;
    auto take = [&](int lane) {
      best[lane] = kZero;
      keep[lane] = kZero;
      any_fresh = true;
      if (next < job.count) {
        seq_of[lane] = next;
        residue[lane] = job.seqs[next];
        ends_at[lane] = rows + job.lens[next];
        ++next;
        ++busy;
      } else {
        seq_of[lane] = -1;
        ends_at[lane] = -1;
        codes[lane] = kOutsideCode;
      }
    };
    auto first_end = [&] {
      long first = -1;
      for (int lane = 0; lane < W; ++lane)
        if (seq_of[lane] >= 0 && (first < 0 || ends_at[lane] < first)) first = ends_at[lane];
      return first;
    };
    for (int lane = 0; lane < W; ++lane) take(lane);
    next_end = first_end();

    while (busy > 0) {
      for (int lane = 0; lane < W; ++lane)
        if (seq_of[lane] >= 0)
          codes[lane] = static_cast<std::uint8_t>(job.code_of[static_cast<unsigned char>(*residue[lane]++)]);
      if (any_fresh) {
        row<true, SameDeletion>(job, codes, keep, best);
        for (std::uint8_t& k : keep) k = 0x7F;
        any_fresh = false;
      } else {
        row<false, SameDeletion>(job, codes, keep, best);
      }
      if (++rows < next_end) continue;
      for (int lane = 0; lane < W; ++lane) {
        if (seq_of[lane] < 0 || ends_at[lane] != rows) continue;
        job.best[seq_of[lane]] = static_cast<std::uint8_t>(best[lane] ^ kZero);
        --busy;
        take(lane);
      }
      next_end = first_end();
    }
  }
};

}  // namespace
}  // namespace tormid::coarse
