// Bound kernel on NEON (every AArch64 CPU): 8 lanes of 16 bits, striped
// along the profile for one sequence, or one sequence per lane for many,
// with TBL looking up each lane's score by its residue code.
#include "engine/bound_kernel.h"

#if defined(__aarch64__)
#include <arm_neon.h>

#include "engine/bound_kernel_impl.h"

namespace tormid::bounds {
namespace {

struct NeonOps {
  static constexpr int W = 8;
  using V = int16x8_t;
  static V set1(std::int16_t x) { return vdupq_n_s16(x); }
  static V load(const std::int16_t* p) { return vld1q_s16(p); }
  static void store(std::int16_t* p, V v) { vst1q_s16(p, v); }
  static V adds(V a, V b) { return vqaddq_s16(a, b); }
  static V subs(V a, V b) { return vqsubq_s16(a, b); }
  static V max(V a, V b) { return vmaxq_s16(a, b); }
  static V min(V a, V b) { return vminq_s16(a, b); }
  static bool any_gt(V a, V b) { return vmaxvq_u16(vcgtq_s16(a, b)) != 0; }
  static V shift_in(V v, std::int16_t x) { return vextq_s16(vdupq_n_s16(x), v, 7); }  // x v0 ... v6
  static std::int16_t lane(V v, int l) {
    alignas(16) std::int16_t a[W];
    store(a, v);
    return a[l];
  }
  static std::int16_t hmax(V v) { return vmaxvq_s16(v); }
};

// One sequence per lane, the batch's 32 lanes in four vectors of 8. The
// position's scores by code (kCodes <= 24) are 48 bytes, a table TBL takes
// whole: the indices of a lane are the byte pair of its code.
template <bool Local, End E, bool EnterIsBonus, bool SameDeletion>
void batch_rows(BatchJob& job) {
  constexpr int W = kBatchLanes;
  constexpr int H = W / NeonOps::W;
  static_assert(kCodes <= 24);
  using O = NeonOps;
  using V = O::V;
  const int prf = job.prf;
  const V enter = O::set1(job.enter), del_v = O::set1(job.del_v), del_h = O::set1(job.del_h);
  const V zero = O::set1(0), bonus = O::set1(job.col0_bonus);
  std::int16_t* const d = job.d;
  std::int16_t* const x = job.x;
  const std::int16_t* const columns = job.columns;

  int seq_of[W];
  long start[W], finish[W];
  alignas(16) std::int16_t codes[W];
  int next = 0;
  long row = 0;
  std::uint32_t fresh = 0;
  auto take = [&](int lane) {
    if (next < job.count) {
      seq_of[lane] = next;
      start[lane] = row;
      finish[lane] = row + job.lens[next];
      ++next;
      fresh |= std::uint32_t{1} << lane;
    } else {
      seq_of[lane] = -1;
      finish[lane] = -1;
      codes[lane] = kCodes - 1;
    }
  };
  for (int lane = 0; lane < W; ++lane) take(lane);
  auto first_finish = [&] {
    long first = -1;
    for (int lane = 0; lane < W; ++lane)
      if (seq_of[lane] >= 0 && (first < 0 || finish[lane] < first)) first = finish[lane];
    return first;
  };
  long next_finish = first_finish();

  alignas(16) std::int16_t col_prev[W], col_step[W], end[W], top[W];
  for (int lane = 0; lane < W; ++lane) col_prev[lane] = col_step[lane] = 0, end[lane] = top[lane] = kLow;
  while (next_finish >= 0) {
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
      }
      fresh = 0;
    }
    for (int lane = 0; lane < W; ++lane)
      if (seq_of[lane] >= 0)
        codes[lane] = job.code_of[static_cast<unsigned char>(job.seqs[seq_of[lane]][row - start[lane]])];
    uint8x16_t idx[H];
    V diag[H], f[H], m[H], row_best[H], end_v[H], top_v[H], col_cur[H];
    for (int h = 0; h < H; ++h) {
      // Bytes 2c and 2c + 1: little-endian, the code's 16-bit score.
      const V at = vshlq_n_s16(O::load(codes + 8 * h), 1);
      idx[h] = vreinterpretq_u8_s16(vorrq_s16(at, vshlq_n_s16(vaddq_s16(at, O::set1(1)), 8)));
      const V prev = O::load(col_prev + 8 * h);
      col_cur[h] = O::subs(prev, O::load(col_step + 8 * h));
      diag[h] = Local ? O::max(prev, zero) : prev;
      const V left0 = O::adds(col_cur[h], bonus);
      f[h] = SameDeletion ? left0 : O::subs(left0, del_h);
      row_best[h] = O::set1(kLow);
      m[h] = zero;
      end_v[h] = O::load(end + 8 * h);
      top_v[h] = O::load(top + 8 * h);
    }
    for (int j = 0; j < prf; ++j) {
      const auto* column = reinterpret_cast<const std::uint8_t*>(columns + j * W);
      const uint8x16x3_t table = {{vld1q_u8(column), vld1q_u8(column + 16), vld1q_u8(column + 32)}};
      for (int h = 0; h < H; ++h) {
        const V score = vreinterpretq_s16_u8(vqtbl3q_u8(table, idx[h]));
        std::int16_t* const dj = d + j * W + 8 * h;
        std::int16_t* const xj = x + j * W + 8 * h;
        const V d_up = O::load(dj);
        const V x_up = O::load(xj);
        m[h] = O::adds(diag[h], score);
        V g = SameDeletion ? O::subs(O::max(x_up, f[h]), del_v) : O::max(O::subs(x_up, del_v), f[h]);
        if constexpr (Local) g = O::max(g, zero);
        const V dd = O::max(m[h], g);
        const V xx = O::max(O::subs(m[h], enter), g);
        O::store(dj, dd);
        O::store(xj, xx);
        top_v[h] = O::max(top_v[h], EnterIsBonus ? O::max(dd, xx) : dd);
        if constexpr (E == End::anywhere) end_v[h] = O::max(end_v[h], m[h]);
        if constexpr (E == End::last_row) row_best[h] = O::max(row_best[h], m[h]);
        f[h] = SameDeletion ? xx : O::subs(xx, del_h);
        diag[h] = d_up;
      }
    }
    for (int h = 0; h < H; ++h) {
      if constexpr (E == End::last_column) end_v[h] = O::max(end_v[h], m[h]);
      O::store(end + 8 * h, end_v[h]);
      O::store(top + 8 * h, top_v[h]);
      O::store(col_prev + 8 * h, col_cur[h]);
      O::store(col_step + 8 * h, O::set1(job.col0_step));
    }
    ++row;

    if (row == next_finish) {
      alignas(16) std::int16_t ends[W];
      for (int h = 0; h < H; ++h)
        O::store(ends + 8 * h, E == End::last_row ? row_best[h]
                               : E == End::last_cell ? O::load(d + (prf - 1) * W + 8 * h)
                                                     : end_v[h]);
      for (int lane = 0; lane < W; ++lane)
        if (seq_of[lane] >= 0 && finish[lane] == row) {
          job.best[seq_of[lane]] = ends[lane];
          job.top[seq_of[lane]] = top[lane];
          take(lane);
        }
      next_finish = first_finish();
    }
  }
}

template <bool Local, End E>
void batch_by_bonus(BatchJob& job) {
  const bool same = job.del_v == job.del_h;
  if (job.enter < 0)
    same ? batch_rows<Local, E, true, true>(job) : batch_rows<Local, E, true, false>(job);
  else
    same ? batch_rows<Local, E, false, true>(job) : batch_rows<Local, E, false, false>(job);
}

template <bool Local>
void batch_by_end(BatchJob& job) {
  switch (job.end) {
    case End::last_cell: batch_by_bonus<Local, End::last_cell>(job); break;
    case End::anywhere: batch_by_bonus<Local, End::anywhere>(job); break;
    case End::last_column: batch_by_bonus<Local, End::last_column>(job); break;
    case End::last_row: batch_by_bonus<Local, End::last_row>(job); break;
  }
}

void run_batch(BatchJob& job) {
  if (job.local_start)
    batch_by_end<true>(job);
  else
    batch_by_end<false>(job);
}

}  // namespace

const Kernel* neon_kernel() {
  static const Kernel kernel{"neon", NeonOps::W, &BoundRunner<NeonOps>::run, &run_batch};
  return &kernel;
}

}  // namespace tormid::bounds

#else
const tormid::bounds::Kernel* tormid::bounds::neon_kernel() { return nullptr; }
#endif
