// The coarse kernel, written once over a small vector interface `O` and
// compiled once per instruction set (coarse_kernel_<isa>.cpp). Everything
// here lives in an anonymous namespace so that no inline code compiled for
// a wide instruction set can be shared with code that runs everywhere.
//
// The interface O provides, for W lanes of unsigned bytes:
//   V; set1, load, store (unaligned); adds, subs (saturating), max
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

  static void run(Job& job) {
    const int prf = job.prf;
    const V bias = O::set1(job.bias), enter = O::set1(job.enter);
    const V del_v = O::set1(job.del_v), del_h = O::set1(job.del_h), zero = O::set1(0);
    std::uint8_t* const d = job.d;
    std::uint8_t* const x = job.x;

    // Lanes: the sequence each works on and the row it is at, or -1.
    int seq_of[W];
    int at[W];
    alignas(64) std::uint8_t codes[W];
    alignas(64) std::uint8_t best[W];
    int next = 0, busy = 0;
    auto take = [&](int lane) {
      // Row 0 and column 0 are 0: free in a local alignment, or below 0
      // and so restarted.
      for (int j = 0; j < prf; ++j) d[j * W + lane] = x[j * W + lane] = 0;
      best[lane] = 0;
      at[lane] = 0;
      if (next < job.count) {
        seq_of[lane] = next++;
        ++busy;
      } else {
        seq_of[lane] = -1;
        codes[lane] = kOutsideCode;
      }
    };
    for (int lane = 0; lane < W; ++lane) take(lane);

    while (busy > 0) {
      for (int lane = 0; lane < W; ++lane)
        if (seq_of[lane] >= 0)
          codes[lane] = static_cast<std::uint8_t>(
              job.code_of[static_cast<unsigned char>(job.seqs[seq_of[lane]][at[lane]])]);
      typename O::Index idx[Groups];
      V diag[Groups], f[Groups], end[Groups];
      for (int h = 0; h < Groups; ++h) {
        idx[h] = O::index(codes + O::W * h);
        diag[h] = zero;
        f[h] = zero;
        end[h] = O::load(best + O::W * h);
      }
      for (int j = 0; j < prf; ++j) {
        const typename O::Table table = O::table(job.costs + static_cast<std::size_t>(j) * kTableBytes);
        for (int h = 0; h < Groups; ++h) {
          std::uint8_t* const dj = d + j * W + O::W * h;
          std::uint8_t* const xj = x + j * W + O::W * h;
          const V d_up = O::load(dj);
          const V x_up = O::load(xj);
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
      for (int lane = 0; lane < W; ++lane) {
        if (seq_of[lane] < 0 || ++at[lane] < job.lens[seq_of[lane]]) continue;
        job.best[seq_of[lane]] = best[lane];
        --busy;
        take(lane);
      }
    }
  }
};

}  // namespace
}  // namespace tormid::coarse
