// The coarse kernel, written once over a small vector interface `O` and
// compiled once per instruction set (coarse_kernel_<isa>.cpp). Everything
// here lives in an anonymous namespace so that no inline code compiled for
// a wide instruction set can be shared with code that runs everywhere.
//
// The interface O provides, for W lanes of unsigned bytes:
//   V; set1, load, store (unaligned); adds, subs (saturating), max,
//   andnot(a, b) = ~a & b
//   Index, index(codes): a row's lookup indices from W residue codes
//   Table, table(costs): a position's kTableBytes costs
//   lookup(table, index): each lane's cost
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

  // One row of every lane along the profile. Column 0 is 0 (below 0 and
  // so restarted); with Fresh, the lanes marked in `fresh` take row 0 as
  // their row above.
  template <bool Fresh>
  static void row(Job& job, const std::uint8_t* codes, const std::uint8_t* fresh, std::uint8_t* best) {
    const V bias = O::set1(job.bias), enter = O::set1(job.enter);
    const V del_v = O::set1(job.del_v), del_h = O::set1(job.del_h), zero = O::set1(0);
    typename O::Index idx[Groups];
    V diag[Groups], f[Groups], end[Groups], restart[Groups];
    for (int h = 0; h < Groups; ++h) {
      idx[h] = O::index(codes + O::W * h);
      diag[h] = zero;
      f[h] = zero;
      end[h] = O::load(best + O::W * h);
      if constexpr (Fresh) restart[h] = O::load(fresh + O::W * h);
    }
    for (int j = 0; j < job.prf; ++j) {
      const typename O::Table table = O::table(job.costs + static_cast<std::size_t>(j) * kTableBytes);
      for (int h = 0; h < Groups; ++h) {
        std::uint8_t* const dj = job.d + j * W + O::W * h;
        std::uint8_t* const xj = job.x + j * W + O::W * h;
        V d_up = O::load(dj);
        V x_up = O::load(xj);
        if constexpr (Fresh) {
          d_up = O::andnot(restart[h], d_up);
          x_up = O::andnot(restart[h], x_up);
        }
        const V m = O::subs(O::adds(diag[h], bias), O::lookup(table, idx[h]));
        const V g = O::max(O::subs(x_up, del_v), f[h]);
        const V xx = O::max(O::subs(m, enter), g);
        O::store(dj, O::max(m, g));
        O::store(xj, xx);
        end[h] = O::max(end[h], m);
        f[h] = O::subs(xx, del_h);
        diag[h] = d_up;
      }
    }
    for (int h = 0; h < Groups; ++h) O::store(best + O::W * h, end[h]);
  }

  static void run(Job& job) {
    // Lanes: the sequence each works on (or -1), its next residue and the
    // row at which it ends.
    int seq_of[W];
    const char* residue[W];
    long ends_at[W];
    alignas(64) std::uint8_t codes[W];
    alignas(64) std::uint8_t best[W];
    // Lanes that start a sequence on this row read row 0 as zeros (free
    // in a local alignment), whatever the row above holds.
    alignas(64) std::uint8_t fresh[W] = {};
    bool any_fresh = false;
    int next = 0, busy = 0;
    long rows = 0, next_end = 0;
    auto take = [&](int lane) {
      best[lane] = 0;
      fresh[lane] = 0xFF;
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
        row<true>(job, codes, fresh, best);
        for (int lane = 0; lane < W; ++lane) fresh[lane] = 0;
        any_fresh = false;
      } else {
        row<false>(job, codes, fresh, best);
      }
      if (++rows < next_end) continue;
      for (int lane = 0; lane < W; ++lane) {
        if (seq_of[lane] < 0 || ends_at[lane] != rows) continue;
        job.best[seq_of[lane]] = best[lane];
        --busy;
        take(lane);
      }
      next_end = first_end();
    }
  }
};

}  // namespace
}  // namespace tormid::coarse
