// Bound kernel on AVX-512BW: 32 lanes of 16 bits. Built with -mavx512bw
// -mavx512vl and only called after the CPU has been checked.
#include "engine/bound_kernel.h"

#if defined(__x86_64__) && defined(__AVX512BW__)
// GCC 12's AVX-512 headers start some intrinsics from undefined vectors
// and then warn about it at every use (GCC bug 105593).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include "engine/bound_kernel_impl.h"
#include "engine/quick_batch_impl.h"

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

  // Many at once (GroupedBatch, one group of 32): vpermw looks up each
  // lane's score of a position by its residue code in one step.
  using Index = V;
  using Table = V;
  static Index index(V code) { return code; }
  static Table table(const std::int16_t* column) { return load(column); }
  static V lookup(Table t, Index code) { return _mm512_permutexvar_epi16(code, t); }

  // Lane masks (QuickBatch).
  using M = __mmask32;
  static M gt(V a, V b) { return _mm512_cmpgt_epi16_mask(a, b); }
  static V select(M m, V a, V b) { return _mm512_mask_blend_epi16(m, b, a); }
};

// The bound of many sequences at once on 256-bit vectors (VL), its 32
// lanes two vectors of 16: vpermt2w looks a score up among 32 in one
// step, and on the Xeon measured the half-width vectors ran the kernel
// faster (semiglobal, 300 positions: 13.2 against 14.0 billion cells per
// second; a glocal search of real proteins 9.11 against 8.93 s). The quick
// scores' kernel, with its lane masks, ran slower so (11.3 against 9.7)
// and stays on 512 bits.
struct Avx512VlOps {
  static constexpr int W = 16;
  using V = __m256i;
  static V set1(std::int16_t x) { return _mm256_set1_epi16(x); }
  static V load(const std::int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static void store(std::int16_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  static V adds(V a, V b) { return _mm256_adds_epi16(a, b); }
  static V subs(V a, V b) { return _mm256_subs_epi16(a, b); }
  static V max(V a, V b) { return _mm256_max_epi16(a, b); }
  using Index = V;
  struct Table {
    V low, high;
  };
  static Index index(V code) { return code; }
  static Table table(const std::int16_t* column) { return {load(column), load(column + 16)}; }
  static V lookup(const Table& t, Index code) { return _mm256_permutex2var_epi16(t.low, code, t.high); }
  using M = __mmask16;
  static M gt(V a, V b) { return _mm256_cmpgt_epi16_mask(a, b); }
  static V select(M m, V a, V b) { return _mm256_mask_blend_epi16(m, b, a); }
};

}  // namespace

const Kernel* avx512_kernel() {
  static const Kernel kernel{"avx512bw", Avx512Ops::W, &BoundRunner<Avx512Ops>::run, &GroupedBatch<Avx512VlOps>::run,
                              &QuickBatch<Avx512Ops>::run, 3.0};  // 11.2-12.5 against 2.5-3.9
  return &kernel;
}

}  // namespace tormid::bounds

#else
const tormid::bounds::Kernel* tormid::bounds::avx512_kernel() { return nullptr; }
#endif
