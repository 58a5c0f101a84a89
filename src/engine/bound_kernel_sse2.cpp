// Bound kernel on SSE2: 8 lanes of 16 bits, the x86-64 baseline.
#include "engine/bound_kernel.h"

#if defined(__x86_64__) && defined(__SSE2__)
#include <emmintrin.h>

#include "engine/bound_kernel_impl.h"

namespace tormid::bounds {
namespace {

struct Sse2Ops {
  static constexpr int W = 8;
  using V = __m128i;
  static V set1(std::int16_t x) { return _mm_set1_epi16(x); }
  static V load(const std::int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static void store(std::int16_t* p, V v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
  static V adds(V a, V b) { return _mm_adds_epi16(a, b); }
  static V subs(V a, V b) { return _mm_subs_epi16(a, b); }
  static V max(V a, V b) { return _mm_max_epi16(a, b); }
  static V min(V a, V b) { return _mm_min_epi16(a, b); }
  static bool any_gt(V a, V b) { return _mm_movemask_epi8(_mm_cmpgt_epi16(a, b)) != 0; }
  static V shift_in(V v, std::int16_t x) { return _mm_insert_epi16(_mm_slli_si128(v, 2), x, 0); }
  static std::int16_t lane(V v, int l) {
    alignas(16) std::int16_t a[W];
    store(a, v);
    return a[l];
  }
  static std::int16_t hmax(V v) {
    alignas(16) std::int16_t a[W];
    store(a, v);
    std::int16_t m = a[0];
    for (std::int16_t e : a) m = e > m ? e : m;
    return m;
  }
};

}  // namespace

const Kernel* sse2_kernel() {
  static const Kernel kernel{"sse2", Sse2Ops::W, &BoundRunner<Sse2Ops>::run, nullptr};
  return &kernel;
}

}  // namespace tormid::bounds

#else
const tormid::bounds::Kernel* tormid::bounds::sse2_kernel() { return nullptr; }
#endif
