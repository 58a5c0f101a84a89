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

}  // namespace
}  // namespace tormid::bounds
