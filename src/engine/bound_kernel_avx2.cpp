// Bound kernel on AVX2: 16 lanes of 16 bits, striped along the profile for
// one sequence, or one sequence per lane for many. Built with -mavx2 and
// only called after the CPU has been checked.
#include "engine/bound_kernel.h"

#if defined(__x86_64__) && defined(__AVX2__)
#include <immintrin.h>

#include "engine/bound_kernel_impl.h"

namespace tormid::bounds {
namespace {

struct Avx2Ops {
  static constexpr int W = 16;
  using V = __m256i;
  static V set1(std::int16_t x) { return _mm256_set1_epi16(x); }
  static V load(const std::int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static void store(std::int16_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  static V adds(V a, V b) { return _mm256_adds_epi16(a, b); }
  static V subs(V a, V b) { return _mm256_subs_epi16(a, b); }
  static V max(V a, V b) { return _mm256_max_epi16(a, b); }
  static V min(V a, V b) { return _mm256_min_epi16(a, b); }
  static bool any_gt(V a, V b) { return _mm256_movemask_epi8(_mm256_cmpgt_epi16(a, b)) != 0; }
  static V shift_in(V v, std::int16_t x) {
    // Per 128-bit half: the half's lanes moved up one, the low half's top
    // lane entering the high half.
    const V carried = _mm256_alignr_epi8(v, _mm256_permute2x128_si256(v, v, 0x08), 14);
    return _mm256_insert_epi16(carried, x, 0);
  }
  static std::int16_t lane(V v, int l) {
    alignas(32) std::int16_t a[W];
    store(a, v);
    return a[l];
  }
  static std::int16_t hmax(V v) {
    alignas(32) std::int16_t a[W];
    store(a, v);
    std::int16_t m = a[0];
    for (std::int16_t e : a) m = e > m ? e : m;
    return m;
  }
};

// One sequence per lane, the batch's 32 lanes in two vectors of 16. A
// lane's score of a position is looked up by its residue code with byte
// shuffles: the position's scores by code (kCodes <= 24) are three chunks
// of eight, each broadcast to both 128-bit halves and shuffled by indices
// that pick the lane's score where its code falls in that chunk and zero
// elsewhere; the three ORed give every lane its score.
template <bool Local, End E, bool EnterIsBonus, bool SameDeletion>
void batch_rows(BatchJob& job) {
  constexpr int W = kBatchLanes;
  constexpr int H = W / Avx2Ops::W;  // vectors per row of lanes
  constexpr int kChunks = 3;
  static_assert(H == 2 && kCodes <= 8 * kChunks);
  using O = Avx2Ops;
  using V = O::V;
  const int prf = job.prf;
  const V enter = O::set1(job.enter), del_v = O::set1(job.del_v), del_h = O::set1(job.del_h);
  const V zero = O::set1(0), bonus = O::set1(job.col0_bonus);
  std::int16_t* const d = job.d;
  std::int16_t* const x = job.x;
  const std::int16_t* const columns = job.columns;

  int seq_of[W];
  long start[W], finish[W];
  alignas(32) std::int16_t codes[W];
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

  alignas(32) std::int16_t col_prev[W], col_step[W], end[W], top[W];
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
    V idx[kChunks][H], diag[H], f[H], m[H], row_best[H], end_v[H], top_v[H], col_cur[H];
    for (int h = 0; h < H; ++h) {
      // The byte pair of code c in its chunk: 2 (c mod 8) and the next;
      // 0x80 (zero) in the chunks it is not in.
      const V code = O::load(codes + 16 * h);
      const V at = _mm256_slli_epi16(_mm256_and_si256(code, O::set1(7)), 1);
      const V pair = _mm256_or_si256(at, _mm256_slli_epi16(_mm256_add_epi16(at, O::set1(1)), 8));
      const V chunk = _mm256_srli_epi16(code, 3);
      for (int k = 0; k < kChunks; ++k)
        idx[k][h] = _mm256_blendv_epi8(O::set1(static_cast<std::int16_t>(0x8080)), pair,
                                       _mm256_cmpeq_epi16(chunk, O::set1(static_cast<std::int16_t>(k))));
      const V prev = O::load(col_prev + 16 * h);
      col_cur[h] = O::subs(prev, O::load(col_step + 16 * h));
      // With a local start every G is at least 0, so every D is: only the
      // diagonal out of column 0 needs the restart.
      diag[h] = Local ? O::max(prev, zero) : prev;
      const V left0 = O::adds(col_cur[h], bonus);
      f[h] = SameDeletion ? left0 : O::subs(left0, del_h);
      row_best[h] = O::set1(kLow);
      m[h] = zero;
      end_v[h] = O::load(end + 16 * h);
      top_v[h] = O::load(top + 16 * h);
    }
    for (int j = 0; j < prf; ++j) {
      const std::int16_t* column = columns + j * W;
      V chunk[kChunks];
      for (int k = 0; k < kChunks; ++k)
        chunk[k] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(column + 8 * k)));
      for (int h = 0; h < H; ++h) {
        const V score = _mm256_or_si256(
            _mm256_or_si256(_mm256_shuffle_epi8(chunk[0], idx[0][h]), _mm256_shuffle_epi8(chunk[1], idx[1][h])),
            _mm256_shuffle_epi8(chunk[2], idx[2][h]));
        std::int16_t* const dj = d + j * W + 16 * h;
        std::int16_t* const xj = x + j * W + 16 * h;
        const V d_up = O::load(dj);
        const V x_up = O::load(xj);
        m[h] = O::adds(diag[h], score);
        V g = SameDeletion ? O::subs(O::max(x_up, f[h]), del_v) : O::max(O::subs(x_up, del_v), f[h]);
        if constexpr (Local) g = O::max(g, zero);
        const V dd = O::max(m[h], g);
        const V xx = O::max(O::subs(m[h], enter), g);
        O::store(dj, dd);
        O::store(xj, xx);
        // With L >= 0, X <= D: D alone shows a clipped value.
        top_v[h] = O::max(top_v[h], EnterIsBonus ? O::max(dd, xx) : dd);
        if constexpr (E == End::anywhere) end_v[h] = O::max(end_v[h], m[h]);
        if constexpr (E == End::last_row) row_best[h] = O::max(row_best[h], m[h]);
        f[h] = SameDeletion ? xx : O::subs(xx, del_h);
        diag[h] = d_up;
      }
    }
    for (int h = 0; h < H; ++h) {
      if constexpr (E == End::last_column) end_v[h] = O::max(end_v[h], m[h]);
      O::store(end + 16 * h, end_v[h]);
      O::store(top + 16 * h, top_v[h]);
      O::store(col_prev + 16 * h, col_cur[h]);
      O::store(col_step + 16 * h, O::set1(job.col0_step));
    }
    ++row;

    if (row == next_finish) {
      alignas(32) std::int16_t ends[W];
      for (int h = 0; h < H; ++h)
        O::store(ends + 16 * h, E == End::last_row ? row_best[h]
                                 : E == End::last_cell ? O::load(d + (prf - 1) * W + 16 * h)
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

const Kernel* avx2_kernel() {
  static const Kernel kernel{"avx2", Avx2Ops::W, &BoundRunner<Avx2Ops>::run, &run_batch};
  return &kernel;
}

}  // namespace tormid::bounds

#else
const tormid::bounds::Kernel* tormid::bounds::avx2_kernel() { return nullptr; }
#endif
