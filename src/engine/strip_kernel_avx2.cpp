// Strip kernel on AVX2: four rows per vector. Built with -mavx2 and only
// called after the CPU has been checked.
#include "engine/strip_kernel.h"

#if defined(__x86_64__) && defined(__AVX2__)
#include <immintrin.h>

#include "engine/strip_kernel_impl.h"

namespace tormid::strips {
namespace {

struct Avx2Ops {
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

}  // namespace

const Kernel* avx2_kernel() {
  static const Kernel kernel{"avx2", StripRunner<Avx2Ops, 2>::H, Avx2Ops::W, &StripRunner<Avx2Ops, 2>::run};
  return &kernel;
}

}  // namespace tormid::strips

#else
const tormid::strips::Kernel* tormid::strips::avx2_kernel() { return nullptr; }
#endif
