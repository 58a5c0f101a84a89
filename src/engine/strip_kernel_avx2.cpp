// Strip kernel on AVX2: four rows per vector. Built with -mavx2 and only
// called after the CPU has been checked.
#include "engine/strip_kernel.h"

#if defined(__x86_64__) && defined(__AVX2__)
#include <immintrin.h>

#include "engine/strip_kernel_impl.h"

namespace tormid::strips {
namespace {

struct Avx2Ops {
  using T = double;
  static constexpr int W = 4;
  using V = __m256d;
  using M = __m256d;
  static V zero() { return _mm256_setzero_pd(); }
  static V set1(double x) { return _mm256_set1_pd(x); }
  static V load(const double* p) { return _mm256_loadu_pd(p); }
  static void store(double* p, V v) { _mm256_storeu_pd(p, v); }
  static V add(V a, V b) { return _mm256_add_pd(a, b); }
  static V sub(V a, V b) { return _mm256_sub_pd(a, b); }
  static V max(V a, V b) { return _mm256_max_pd(a, b); }
  static M ge(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
  static M gt(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
  static M le(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
  static V select(M m, V a, V b) { return _mm256_blendv_pd(b, a, m); }
  static V zero_unless(M m, V a) { return _mm256_and_pd(m, a); }
  static V zero_if(M m, V a) { return _mm256_andnot_pd(m, a); }
  static M and_(M a, M b) { return _mm256_and_pd(a, b); }
  static M or_(M a, M b) { return _mm256_or_pd(a, b); }
  static M andnot(M a, M b) { return _mm256_andnot_pd(b, a); }
  static M no_lanes() { return _mm256_setzero_pd(); }
  static unsigned bits(M m) { return static_cast<unsigned>(_mm256_movemask_pd(m)); }
  static void transpose(V* r) {
    const V t0 = _mm256_unpacklo_pd(r[0], r[1]), t1 = _mm256_unpackhi_pd(r[0], r[1]);
    const V t2 = _mm256_unpacklo_pd(r[2], r[3]), t3 = _mm256_unpackhi_pd(r[2], r[3]);
    r[0] = _mm256_permute2f128_pd(t0, t2, 0x20);
    r[1] = _mm256_permute2f128_pd(t1, t3, 0x20);
    r[2] = _mm256_permute2f128_pd(t0, t2, 0x31);
    r[3] = _mm256_permute2f128_pd(t1, t3, 0x31);
  }
  static V shift_in(V cur, V below) {
    const V halves = _mm256_permute2f128_pd(below, cur, 0x21);  // below2 below3 cur0 cur1
    return _mm256_shuffle_pd(halves, cur, 0x5);                 // below3 cur0 cur1 cur2
  }
};

struct Avx2FloatOps {
  using T = float;
  static constexpr int W = 8;
  using V = __m256;
  using M = __m256;
  static V zero() { return _mm256_setzero_ps(); }
  static V set1(float x) { return _mm256_set1_ps(x); }
  static V load(const float* p) { return _mm256_loadu_ps(p); }
  static void store(float* p, V v) { _mm256_storeu_ps(p, v); }
  static V add(V a, V b) { return _mm256_add_ps(a, b); }
  static V sub(V a, V b) { return _mm256_sub_ps(a, b); }
  static V max(V a, V b) { return _mm256_max_ps(a, b); }
  static M ge(V a, V b) { return _mm256_cmp_ps(a, b, _CMP_GE_OQ); }
  static M gt(V a, V b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
  static M le(V a, V b) { return _mm256_cmp_ps(a, b, _CMP_LE_OQ); }
  static V select(M m, V a, V b) { return _mm256_blendv_ps(b, a, m); }
  static V zero_unless(M m, V a) { return _mm256_and_ps(m, a); }
  static V zero_if(M m, V a) { return _mm256_andnot_ps(m, a); }
  static M and_(M a, M b) { return _mm256_and_ps(a, b); }
  static M or_(M a, M b) { return _mm256_or_ps(a, b); }
  static M andnot(M a, M b) { return _mm256_andnot_ps(b, a); }
  static M no_lanes() { return _mm256_setzero_ps(); }
  static unsigned bits(M m) { return static_cast<unsigned>(_mm256_movemask_ps(m)); }
  static void transpose(V* r) {
    V t[8], s[8];
    for (int k = 0; k < 8; k += 2) {
      t[k] = _mm256_unpacklo_ps(r[k], r[k + 1]);      // r_k0 r_{k+1}0 r_k1 r_{k+1}1 | same at 4, 5
      t[k + 1] = _mm256_unpackhi_ps(r[k], r[k + 1]);  // columns 2, 3 | 6, 7
    }
    for (int k = 0; k < 8; k += 4) {
      s[k] = _mm256_shuffle_ps(t[k], t[k + 2], _MM_SHUFFLE(1, 0, 1, 0));      // column 0 | 4 of rows k..k+3
      s[k + 1] = _mm256_shuffle_ps(t[k], t[k + 2], _MM_SHUFFLE(3, 2, 3, 2));  // column 1 | 5
      s[k + 2] = _mm256_shuffle_ps(t[k + 1], t[k + 3], _MM_SHUFFLE(1, 0, 1, 0));
      s[k + 3] = _mm256_shuffle_ps(t[k + 1], t[k + 3], _MM_SHUFFLE(3, 2, 3, 2));
    }
    for (int c = 0; c < 4; ++c) {
      r[c] = _mm256_permute2f128_ps(s[c], s[c + 4], 0x20);
      r[c + 4] = _mm256_permute2f128_ps(s[c], s[c + 4], 0x31);
    }
  }
  static V shift_in(V cur, V below) {
    const V halves = _mm256_permute2f128_ps(below, cur, 0x21);  // below4..7 cur0..3
    return _mm256_castsi256_ps(
        _mm256_alignr_epi8(_mm256_castps_si256(cur), _mm256_castps_si256(halves), 12));  // below7 cur0..6
  }
};

// Sixteen 16-bit lanes; masks are whole lanes of ones.
struct Avx2ShortOps {
  using T = std::int16_t;
  static constexpr int W = 16;
  using V = __m256i;
  using M = __m256i;
  static V zero() { return _mm256_setzero_si256(); }
  static V set1(T x) { return _mm256_set1_epi16(x); }
  static V load(const T* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static void store(T* p, V v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  static V add(V a, V b) { return _mm256_adds_epi16(a, b); }
  static V sub(V a, V b) { return _mm256_subs_epi16(a, b); }
  static V max(V a, V b) { return _mm256_max_epi16(a, b); }
  static M ge(V a, V b) { return _mm256_cmpeq_epi16(_mm256_max_epi16(a, b), a); }
  static M gt(V a, V b) { return _mm256_cmpgt_epi16(a, b); }
  static M le(V a, V b) { return _mm256_cmpeq_epi16(_mm256_min_epi16(a, b), a); }
  static V select(M m, V a, V b) { return _mm256_blendv_epi8(b, a, m); }
  static V zero_unless(M m, V a) { return _mm256_and_si256(m, a); }
  static V zero_if(M m, V a) { return _mm256_andnot_si256(m, a); }
  static M and_(M a, M b) { return _mm256_and_si256(a, b); }
  static M or_(M a, M b) { return _mm256_or_si256(a, b); }
  static M andnot(M a, M b) { return _mm256_andnot_si256(b, a); }
  static M no_lanes() { return _mm256_setzero_si256(); }
  static unsigned bits(M m) {
    const __m128i lanes = _mm_packs_epi16(_mm256_castsi256_si128(m), _mm256_extracti128_si256(m, 1));
    return static_cast<unsigned>(_mm_movemask_epi8(lanes));
  }
  // Each 128-bit half transposed as 8 x 8 (interleaved by 16, 32 and 64
  // bits), for rows 0-7 and 8-15; then the halves exchanged.
  static void transpose(V* r) {
    V a[16], b[16], c[16];
    for (int k = 0; k < 16; k += 2) {
      a[k] = _mm256_unpacklo_epi16(r[k], r[k + 1]);
      a[k + 1] = _mm256_unpackhi_epi16(r[k], r[k + 1]);
    }
    for (int k = 0; k < 16; k += 4) {
      b[k] = _mm256_unpacklo_epi32(a[k], a[k + 2]);
      b[k + 1] = _mm256_unpackhi_epi32(a[k], a[k + 2]);
      b[k + 2] = _mm256_unpacklo_epi32(a[k + 1], a[k + 3]);
      b[k + 3] = _mm256_unpackhi_epi32(a[k + 1], a[k + 3]);
    }
    // c[8g + k]: column k (low half) and k + 8 (high half) of rows 8g to 8g + 7.
    for (int g = 0; g < 2; ++g)
      for (int k = 0; k < 4; ++k) {
        c[8 * g + 2 * k] = _mm256_unpacklo_epi64(b[8 * g + k], b[8 * g + k + 4]);
        c[8 * g + 2 * k + 1] = _mm256_unpackhi_epi64(b[8 * g + k], b[8 * g + k + 4]);
      }
    for (int k = 0; k < 8; ++k) {
      r[k] = _mm256_permute2x128_si256(c[k], c[8 + k], 0x20);
      r[k + 8] = _mm256_permute2x128_si256(c[k], c[8 + k], 0x31);
    }
  }
  static V shift_in(V cur, V below) {
    const V halves = _mm256_permute2x128_si256(below, cur, 0x21);  // below8..15 cur0..7
    return _mm256_alignr_epi8(cur, halves, 14);                     // below15 cur0..14
  }
};

}  // namespace

// Four vectors per step for long profiles, two below 300 positions
// (medians on real proteins: 1.7 against 1.25 billion cells per second at
// 86 positions, the same at 260, 2.55 against 3.0 at 1,142).
const ShortKernel* short_avx2_kernel() {
  static const ShortKernel thirty_two{"avx2", StripRunner<Avx2ShortOps, 2>::H, Avx2ShortOps::W,
                                      &StripRunner<Avx2ShortOps, 2>::run};
  static const ShortKernel kernel{"avx2", StripRunner<Avx2ShortOps, 4>::H, Avx2ShortOps::W,
                                  &StripRunner<Avx2ShortOps, 4>::run, &thirty_two, 300};
  return &kernel;
}

// Four vectors per step keep four chains of dependent steps in flight, as
// on AVX-512; shorter strips for shorter profiles. Measured with
// bench/engine_bench (semi-global, score): 16 rows against 8 gain 9% at
// 300 positions and 3% at 100, and lose 25% at 28.
const QuickKernel* quick_avx2_kernel() {
  static const QuickKernel sixteen{"avx2", StripRunner<Avx2FloatOps, 2>::H, Avx2FloatOps::W,
                                   &StripRunner<Avx2FloatOps, 2>::run};
  static const QuickKernel kernel{"avx2", StripRunner<Avx2FloatOps, 4>::H, Avx2FloatOps::W,
                                  &StripRunner<Avx2FloatOps, 4>::run, &sixteen, 120};
  return &kernel;
}

const Kernel* avx2_kernel() {
  static const Kernel eight{"avx2", StripRunner<Avx2Ops, 2>::H, Avx2Ops::W, &StripRunner<Avx2Ops, 2>::run};
  static const Kernel kernel{"avx2", StripRunner<Avx2Ops, 4>::H, Avx2Ops::W, &StripRunner<Avx2Ops, 4>::run, &eight,
                             100};
  return &kernel;
}

}  // namespace tormid::strips

#else
const tormid::strips::Kernel* tormid::strips::avx2_kernel() { return nullptr; }
const tormid::strips::QuickKernel* tormid::strips::quick_avx2_kernel() { return nullptr; }
const tormid::strips::ShortKernel* tormid::strips::short_avx2_kernel() { return nullptr; }
#endif
