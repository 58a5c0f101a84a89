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

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "engine/coarse_kernel.h"
#include "engine/lane_schedule.h"

namespace tormid::coarse {
namespace {

// One vector of O::W lanes. Rows run two at a time where no lane starts or
// ends a sequence between them: the second row's chain along the profile
// hides the first's latency, and the rows above are read and written half
// as often (64 lanes at 300 positions: 17.5 billion cells per second one
// row at a time, 24 two at a time; three gained nothing more, four lost).
template <class O>
struct CoarseBatch {
  static constexpr int W = O::W;  // lanes
  using V = typename O::V;
  static constexpr int kRowsAtOnce = 2;

  // A value's byte: 128 below it, as a signed byte.
  static constexpr std::uint8_t kZero = 0x80;

  // R rows of every lane along the profile (codes: W per row), each row
  // taking the one before as its row above before it is stored. Column 0
  // is 0 (below 0 and so restarted); with Fresh, the lanes marked in
  // `keep` (0 there, 0x7F elsewhere) take row 0, all 0, as their row
  // above. With equal deletions, the left value is carried as X before its
  // deletion, which takes one subtraction off every cell: subtracting with
  // saturation commutes with the max.
  template <bool Fresh, bool SameDeletion, int R>
  static void rows(Job& job, const std::uint8_t* codes, const std::uint8_t* keep, std::uint8_t* best) {
    static_assert(!(Fresh && R > 1), "a lane starts its sequence on a single row");
    const V enter = O::set1(job.enter);
    const V del_v = O::set1(job.del_v), del_h = O::set1(job.del_h), zero = O::set1(kZero);
    typename O::Index idx[R];
    V diag[R], f[R];
    for (int r = 0; r < R; ++r) {
      idx[r] = O::index(codes + W * r);
      diag[r] = zero;
      f[r] = zero;
    }
    V end = O::load(best);
    const V restart = Fresh ? O::load(keep) : zero;
    // Local copies: the byte stores below may alias the job's fields.
    const int prf = job.prf;
    const std::uint8_t* const scores = job.scores;
    std::uint8_t* const d = job.d;
    std::uint8_t* const x = job.x;
    for (int j = 0; j < prf; ++j) {
      const typename O::Table table = O::table(scores + static_cast<std::size_t>(j) * kTableBytes);
      std::uint8_t* const dj = d + j * W;
      std::uint8_t* const xj = x + j * W;
      V d_up = O::load(dj);
      V x_up = O::load(xj);
      if constexpr (Fresh) {
        d_up = O::min(restart, d_up);
        x_up = O::min(restart, x_up);
      }
      for (int r = 0; r < R; ++r) {
        const V m = O::adds(diag[r], O::lookup(table, idx[r]));
        const V g = SameDeletion ? O::subs(O::max(x_up, f[r]), del_v) : O::max(O::subs(x_up, del_v), f[r]);
        const V xx = O::max(O::subs(m, enter), g);
        end = O::max(end, m);
        f[r] = SameDeletion ? xx : O::subs(xx, del_h);
        diag[r] = d_up;
        d_up = O::max(m, g);
        x_up = xx;
      }
      O::store(dj, d_up);
      O::store(xj, x_up);
    }
    O::store(best, end);
  }

  static void run(Job& job) { job.del_v == job.del_h ? run_lanes<true>(job) : run_lanes<false>(job); }

  template <bool SameDeletion>
  static void run_lanes(Job& job) {
    LaneSchedule<W> schedule(job.count, job.seqs, job.lens);
    alignas(64) std::uint8_t codes[W * kRowsAtOnce];
    alignas(64) std::uint8_t best[W];
    // Lanes that start a sequence on this row read row 0 as zeros (free
    // in a local alignment), whatever the row above holds.
    alignas(64) std::uint8_t keep[W];
    for (std::uint8_t& k : keep) k = 0x7F;
    bool any_fresh = false;
    auto take = [&](int lane) {
      best[lane] = kZero;
      keep[lane] = kZero;
      any_fresh = true;
      schedule.take(lane);
    };
    for (int lane = 0; lane < W; ++lane) take(lane);
    schedule.plan();

    while (schedule.running()) {
      bool ended = false;
      if (any_fresh) {
        schedule.codes(job.code_of, codes);
        rows<true, SameDeletion, 1>(job, codes, keep, best);
        for (std::uint8_t& k : keep) k = 0x7F;
        any_fresh = false;
        ended = schedule.advance();
      } else if (schedule.rows_left() >= kRowsAtOnce) {
        for (int r = 0; r < kRowsAtOnce; ++r) schedule.codes(job.code_of, codes + W * r, r);
        rows<false, SameDeletion, kRowsAtOnce>(job, codes, keep, best);
        ended = schedule.advance(kRowsAtOnce);
      } else {
        schedule.codes(job.code_of, codes);
        rows<false, SameDeletion, 1>(job, codes, keep, best);
        ended = schedule.advance();
      }
      if (!ended) continue;
      for (int lane = 0; lane < W; ++lane)
        if (const int seq = schedule.ended(lane); seq >= 0) {
          job.best[seq] = static_cast<std::uint8_t>(best[lane] ^ kZero);
          take(lane);
        }
      schedule.plan();
    }
  }
};

// ProfilesJob on O::W lanes: a row of the sequence at a time along the
// longest profile, each lane with its own scores and penalties.
template <class O>
struct ProfileLanes {
  static constexpr int W = O::W;
  using V = typename O::V;
  static constexpr std::uint8_t kZero = CoarseBatch<O>::kZero;

  static void run(ProfilesJob& job) {
    const std::size_t prf = static_cast<std::size_t>(job.prf);
    std::uint8_t* const d = job.d;
    std::uint8_t* const x = job.x;
    // Row 0 is free in a local alignment: all 0.
    std::fill(d, d + prf * W, kZero);
    std::fill(x, x + prf * W, kZero);
    const V enter = O::load(job.enter), del_v = O::load(job.del_v), del_h = O::load(job.del_h);
    const V zero = O::set1(kZero);
    V end = zero;
    for (int i = 0; i < job.len; ++i) {
      const int code = job.code_of[static_cast<unsigned char>(job.seq[i])];
      const std::uint8_t* const scores = job.scores + static_cast<std::size_t>(code) * prf * W;
      // Column 0 lies below 0: a pairing out of it restarts, a gap does not
      // reach past 0.
      V diag = zero, f = zero;
      for (std::size_t j = 0; j < prf; ++j) {
        std::uint8_t* const dj = d + j * W;
        std::uint8_t* const xj = x + j * W;
        const V d_up = O::load(dj);
        const V x_up = O::load(xj);
        const V m = O::adds(diag, O::load(scores + j * W));
        const V g = O::max(O::subs(x_up, del_v), f);
        const V xx = O::max(O::subs(m, enter), g);
        end = O::max(end, m);
        f = O::subs(xx, del_h);
        diag = d_up;
        O::store(dj, O::max(m, g));
        O::store(xj, xx);
      }
    }
    O::store(job.best, end);
  }
};

// Scores as signed bytes, each x * scale rounded up and clipped to
// -128..127: a plain loop, run on this file's vectors by the compiler (the
// wide files are built with -fno-trapping-math, which lets it run the
// comparisons on vectors; no value changes). A product whose double is
// whole may lie just above it (the double was rounded down); where such a
// product is from -128 to 126 (and not 0), where that changes the byte,
// the result is false and the caller rounds those scores exactly.
inline bool score_bytes(const double* scores, std::size_t count, double scale, std::uint8_t* out) {
  int doubtful = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const double x = scores[i], product = x * scale, up = std::ceil(product);
    doubtful |= static_cast<int>(up == product) & static_cast<int>(product > -129.0) &
                static_cast<int>(product < 127.0) & static_cast<int>(x != 0.0);
    const double clipped = std::min(std::max(up, -128.0), 127.0);
    out[i] = static_cast<std::uint8_t>(static_cast<std::int8_t>(static_cast<int>(clipped)));
  }
  return doubtful == 0;
}

}  // namespace
}  // namespace tormid::coarse
