// Strip kernel on SSE2 (every x86-64 CPU): two rows per vector.
#include "engine/strip_kernel.h"

#if defined(__x86_64__)
#include <emmintrin.h>
#include <xmmintrin.h>

#include "engine/strip_kernel_impl.h"

namespace tormid::strips {
namespace {

struct Sse2Ops {
  using T = double;
  static constexpr int W = 2;
  using V = __m128d;
  using M = __m128d;
  static V zero() { return _mm_setzero_pd(); }
  static V set1(double x) { return _mm_set1_pd(x); }
  static V load(const double* p) { return _mm_loadu_pd(p); }
  static void store(double* p, V v) { _mm_storeu_pd(p, v); }
  static V add(V a, V b) { return _mm_add_pd(a, b); }
  static V sub(V a, V b) { return _mm_sub_pd(a, b); }
  static V max(V a, V b) { return _mm_max_pd(a, b); }
  static M ge(V a, V b) { return _mm_cmpge_pd(a, b); }
  static M gt(V a, V b) { return _mm_cmpgt_pd(a, b); }
  static M le(V a, V b) { return _mm_cmple_pd(a, b); }
  static V select(M m, V a, V b) { return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b)); }
  static V zero_unless(M m, V a) { return _mm_and_pd(m, a); }
  static V zero_if(M m, V a) { return _mm_andnot_pd(m, a); }
  static M and_(M a, M b) { return _mm_and_pd(a, b); }
  static M or_(M a, M b) { return _mm_or_pd(a, b); }
  static M andnot(M a, M b) { return _mm_andnot_pd(b, a); }
  static M no_lanes() { return _mm_setzero_pd(); }
  static unsigned bits(M m) { return static_cast<unsigned>(_mm_movemask_pd(m)); }
  static void transpose(V* r) {
    const V a = _mm_unpacklo_pd(r[0], r[1]), b = _mm_unpackhi_pd(r[0], r[1]);
    r[0] = a;
    r[1] = b;
  }
  static V shift_in(V cur, V below) { return _mm_shuffle_pd(below, cur, 1); }
};

struct Sse2FloatOps {
  using T = float;
  static constexpr int W = 4;
  using V = __m128;
  using M = __m128;
  static V zero() { return _mm_setzero_ps(); }
  static V set1(float x) { return _mm_set1_ps(x); }
  static V load(const float* p) { return _mm_loadu_ps(p); }
  static void store(float* p, V v) { _mm_storeu_ps(p, v); }
  static V add(V a, V b) { return _mm_add_ps(a, b); }
  static V sub(V a, V b) { return _mm_sub_ps(a, b); }
  static V max(V a, V b) { return _mm_max_ps(a, b); }
  static M ge(V a, V b) { return _mm_cmpge_ps(a, b); }
  static M gt(V a, V b) { return _mm_cmpgt_ps(a, b); }
  static M le(V a, V b) { return _mm_cmple_ps(a, b); }
  static V select(M m, V a, V b) { return _mm_or_ps(_mm_and_ps(m, a), _mm_andnot_ps(m, b)); }
  static V zero_unless(M m, V a) { return _mm_and_ps(m, a); }
  static V zero_if(M m, V a) { return _mm_andnot_ps(m, a); }
  static M and_(M a, M b) { return _mm_and_ps(a, b); }
  static M or_(M a, M b) { return _mm_or_ps(a, b); }
  static M andnot(M a, M b) { return _mm_andnot_ps(b, a); }
  static M no_lanes() { return _mm_setzero_ps(); }
  static unsigned bits(M m) { return static_cast<unsigned>(_mm_movemask_ps(m)); }
  static void transpose(V* r) { _MM_TRANSPOSE4_PS(r[0], r[1], r[2], r[3]); }
  static V shift_in(V cur, V below) {
    const V edge = _mm_shuffle_ps(below, cur, _MM_SHUFFLE(0, 0, 3, 3));  // below3 below3 cur0 cur0
    return _mm_shuffle_ps(edge, cur, _MM_SHUFFLE(2, 1, 2, 0));           // below3 cur0 cur1 cur2
  }
};

// Eight 16-bit lanes; masks are whole lanes of ones.
struct Sse2ShortOps {
  using T = std::int16_t;
  static constexpr int W = 8;
  using V = __m128i;
  using M = __m128i;
  static V zero() { return _mm_setzero_si128(); }
  static V set1(T x) { return _mm_set1_epi16(x); }
  static V load(const T* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static void store(T* p, V v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
  static V add(V a, V b) { return _mm_adds_epi16(a, b); }
  static V sub(V a, V b) { return _mm_subs_epi16(a, b); }
  static V max(V a, V b) { return _mm_max_epi16(a, b); }
  static M ge(V a, V b) { return _mm_cmpeq_epi16(_mm_max_epi16(a, b), a); }
  static M gt(V a, V b) { return _mm_cmpgt_epi16(a, b); }
  static M le(V a, V b) { return _mm_cmpeq_epi16(_mm_min_epi16(a, b), a); }
  static V select(M m, V a, V b) { return _mm_or_si128(_mm_and_si128(m, a), _mm_andnot_si128(m, b)); }
  static V zero_unless(M m, V a) { return _mm_and_si128(m, a); }
  static V zero_if(M m, V a) { return _mm_andnot_si128(m, a); }
  static M and_(M a, M b) { return _mm_and_si128(a, b); }
  static M or_(M a, M b) { return _mm_or_si128(a, b); }
  static M andnot(M a, M b) { return _mm_andnot_si128(b, a); }
  static M no_lanes() { return _mm_setzero_si128(); }
  static unsigned bits(M m) {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(m, _mm_setzero_si128())));
  }
  // Interleaved by 16, 32 and 64 bits: after the three rounds r[k] holds
  // column k.
  static void transpose(V* r) {
    V a[8], b[8];
    for (int k = 0; k < 8; k += 2) {
      a[k] = _mm_unpacklo_epi16(r[k], r[k + 1]);
      a[k + 1] = _mm_unpackhi_epi16(r[k], r[k + 1]);
    }
    for (int k = 0; k < 8; k += 4) {
      b[k] = _mm_unpacklo_epi32(a[k], a[k + 2]);
      b[k + 1] = _mm_unpackhi_epi32(a[k], a[k + 2]);
      b[k + 2] = _mm_unpacklo_epi32(a[k + 1], a[k + 3]);
      b[k + 3] = _mm_unpackhi_epi32(a[k + 1], a[k + 3]);
    }
    for (int k = 0; k < 4; ++k) {
      r[2 * k] = _mm_unpacklo_epi64(b[k], b[k + 4]);
      r[2 * k + 1] = _mm_unpackhi_epi64(b[k], b[k + 4]);
    }
  }
  static V shift_in(V cur, V below) { return _mm_or_si128(_mm_slli_si128(cur, 2), _mm_srli_si128(below, 14)); }
};

}  // namespace

const ShortKernel* short_sse2_kernel() {
  static const ShortKernel kernel{"sse2", StripRunner<Sse2ShortOps, 4>::H, Sse2ShortOps::W,
                                  &StripRunner<Sse2ShortOps, 4>::run};
  return &kernel;
}

const QuickKernel* quick_sse2_kernel() {
  static const QuickKernel kernel{"sse2", StripRunner<Sse2FloatOps, 8>::H, Sse2FloatOps::W,
                                  &StripRunner<Sse2FloatOps, 8>::run};
  return &kernel;
}

const Kernel* sse2_kernel() {
  static const Kernel kernel{"sse2", StripRunner<Sse2Ops, 8>::H, Sse2Ops::W, &StripRunner<Sse2Ops, 8>::run};
  return &kernel;
}

}  // namespace tormid::strips

#else
const tormid::strips::Kernel* tormid::strips::sse2_kernel() { return nullptr; }
const tormid::strips::QuickKernel* tormid::strips::quick_sse2_kernel() { return nullptr; }
const tormid::strips::ShortKernel* tormid::strips::short_sse2_kernel() { return nullptr; }
#endif
