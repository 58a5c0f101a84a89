// Bound kernel on AVX2: 16 lanes of 16 bits. Built with -mavx2 and only
// called after the CPU has been checked.
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

}  // namespace

const Kernel* avx2_kernel() {
  static const Kernel kernel{"avx2", Avx2Ops::W, &BoundRunner<Avx2Ops>::run, nullptr};
  return &kernel;
}

}  // namespace tormid::bounds

#else
const tormid::bounds::Kernel* tormid::bounds::avx2_kernel() { return nullptr; }
#endif
