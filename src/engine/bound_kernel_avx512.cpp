// Bound kernel on AVX-512BW: 32 lanes of 16 bits. Built with -mavx512bw
// and only called after the CPU has been checked.
#include "engine/bound_kernel.h"

#if defined(__x86_64__) && defined(__AVX512BW__)
// GCC 12's AVX-512 headers start some intrinsics from undefined vectors
// and then warn about it at every use (GCC bug 105593).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include "engine/bound_kernel_impl.h"

namespace tormid::bounds {
namespace {

struct Avx512Ops {
  static constexpr int W = 32;
  using V = __m512i;
  static V set1(std::int16_t x) { return _mm512_set1_epi16(x); }
  static V load(const std::int16_t* p) { return _mm512_loadu_si512(p); }
  static void store(std::int16_t* p, V v) { _mm512_storeu_si512(p, v); }
  static V adds(V a, V b) { return _mm512_adds_epi16(a, b); }
  static V subs(V a, V b) { return _mm512_subs_epi16(a, b); }
  static V max(V a, V b) { return _mm512_max_epi16(a, b); }
  static V min(V a, V b) { return _mm512_min_epi16(a, b); }
  static bool any_gt(V a, V b) { return _mm512_cmpgt_epi16_mask(a, b) != 0; }
  static V shift_in(V v, std::int16_t x) {
    const __m512i order = _mm512_set_epi16(30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14,
                                           13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0);
    return _mm512_mask_set1_epi16(_mm512_permutexvar_epi16(order, v), 1, x);
  }
  static std::int16_t lane(V v, int l) {
    alignas(64) std::int16_t a[W];
    store(a, v);
    return a[l];
  }
  static std::int16_t hmax(V v) {
    alignas(64) std::int16_t a[W];
    store(a, v);
    std::int16_t m = a[0];
    for (std::int16_t e : a) m = e > m ? e : m;
    return m;
  }
};

// One sequence per lane; vpermw looks up each lane's score of a position
// by its residue code.
template <bool Local, End E, bool EnterIsBonus, bool SameDeletion>
void batch_rows(BatchJob& job) {
  constexpr int W = kBatchLanes;
  static_assert(W == Avx512Ops::W);
  using O = Avx512Ops;
  using V = O::V;
  const int prf = job.prf;
  const V enter = O::set1(job.enter), del_v = O::set1(job.del_v), del_h = O::set1(job.del_h);
  const V zero = O::set1(0), bonus = O::set1(job.col0_bonus);
  // Locals, so that the compiler need not reload them after each store.
  std::int16_t* const d = job.d;
  std::int16_t* const x = job.x;
  const std::int16_t* const columns = job.columns;

  // Lanes: the sequence each works on, where it started and ends (in row
  // steps), or -1 when idle.
  int seq_of[W];
  long start[W], finish[W];
  alignas(64) std::int16_t codes[W];
  int next = 0;
  long row = 0;
  __mmask32 fresh = 0;
  auto take = [&](int lane) {
    if (next < job.count) {
      seq_of[lane] = next;
      start[lane] = row;
      finish[lane] = row + job.lens[next];
      ++next;
      fresh |= __mmask32{1} << lane;
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

  V col_prev = zero, col_step = zero, end = O::set1(kLow), top = O::set1(kLow);
  while (next_finish >= 0) {
    if (fresh) {  // row 0 of the lanes' new sequences
      for (int j = 0; j < prf; ++j) {
        O::store(d + j * W, _mm512_mask_set1_epi16(O::load(d + j * W), fresh, job.row0_d[j]));
        O::store(x + j * W, _mm512_mask_set1_epi16(O::load(x + j * W), fresh, job.row0_x[j]));
      }
      col_prev = _mm512_mask_set1_epi16(col_prev, fresh, 0);
      col_step = _mm512_mask_set1_epi16(col_step, fresh, job.col0_first);
      end = _mm512_mask_set1_epi16(end, fresh, kLow);
      top = _mm512_mask_set1_epi16(top, fresh, kLow);
      fresh = 0;
    }
    for (int lane = 0; lane < W; ++lane)
      if (seq_of[lane] >= 0)
        codes[lane] = job.code_of[static_cast<unsigned char>(job.seqs[seq_of[lane]][row - start[lane]])];
    const V code = O::load(codes);
    const V col_cur = O::subs(col_prev, col_step);
    // With a local start every G is at least 0, so every D is: only the
    // diagonal out of column 0 needs the restart.
    V diag = Local ? O::max(col_prev, zero) : col_prev;
    // Out of column 0: with equal deletions, f holds X before the deletion.
    const V left0 = O::adds(col_cur, bonus);
    V f = SameDeletion ? left0 : O::subs(left0, del_h);
    V row_best = O::set1(kLow), m = zero;
    for (int j = 0; j < prf; ++j) {
      const V d_up = O::load(d + j * W);
      const V x_up = O::load(x + j * W);
      m = O::adds(diag, _mm512_permutexvar_epi16(code, O::load(columns + j * W)));
      V g = SameDeletion ? O::subs(O::max(x_up, f), del_v) : O::max(O::subs(x_up, del_v), f);
      if constexpr (Local) g = O::max(g, zero);
      const V dd = O::max(m, g);
      const V xx = O::max(O::subs(m, enter), g);
      O::store(d + j * W, dd);
      O::store(x + j * W, xx);
      // With L >= 0, X <= D: D alone shows a clipped value.
      top = O::max(top, EnterIsBonus ? O::max(dd, xx) : dd);
      if constexpr (E == End::anywhere) end = O::max(end, m);
      if constexpr (E == End::last_row) row_best = O::max(row_best, m);
      f = SameDeletion ? xx : O::subs(xx, del_h);
      diag = d_up;
    }
    if constexpr (E == End::last_column) end = O::max(end, m);
    col_prev = col_cur;
    col_step = O::set1(job.col0_step);
    ++row;

    if (row == next_finish) {
      alignas(64) std::int16_t ends[W], tops[W];
      O::store(ends, E == End::last_row ? row_best : (E == End::last_cell ? O::load(d + (prf - 1) * W) : end));
      O::store(tops, top);
      for (int lane = 0; lane < W; ++lane)
        if (seq_of[lane] >= 0 && finish[lane] == row) {
          job.best[seq_of[lane]] = ends[lane];
          job.top[seq_of[lane]] = tops[lane];
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

const Kernel* avx512_kernel() {
  static const Kernel kernel{"avx512bw", Avx512Ops::W, &BoundRunner<Avx512Ops>::run, &run_batch};
  return &kernel;
}

}  // namespace tormid::bounds

#else
const tormid::bounds::Kernel* tormid::bounds::avx512_kernel() { return nullptr; }
#endif
