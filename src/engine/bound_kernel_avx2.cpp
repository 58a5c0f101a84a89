// Bound kernel on AVX2: 16 lanes of 16 bits, striped along the profile for
// one sequence, or one sequence per lane for many. Built with -mavx2 and
// only called after the CPU has been checked.
#include "engine/bound_kernel.h"

#if defined(__x86_64__) && defined(__AVX2__)
#include <immintrin.h>

#include "engine/bound_kernel_impl.h"
#include "engine/quick_batch_impl.h"

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

  // Many at once (GroupedBatch): a position's scores by code (kCodes <= 24)
  // are three chunks of eight, each broadcast to both 128-bit halves and
  // shuffled by indices that pick a lane's score where its code falls in
  // that chunk and zero elsewhere; the three ORed give every lane its score.
  static constexpr int kChunks = 3;
  static_assert(kCodes <= 8 * kChunks);
  struct Index {
    V chunk[kChunks];
  };
  struct Table {
    V chunk[kChunks];
  };
  static Index index(V code) {
    // The byte pair of code c in its chunk: 2 (c mod 8) and the next; 0x80
    // (zero) in the chunks it is not in.
    const V at = _mm256_slli_epi16(_mm256_and_si256(code, set1(7)), 1);
    const V pair = _mm256_or_si256(at, _mm256_slli_epi16(_mm256_add_epi16(at, set1(1)), 8));
    const V chunk = _mm256_srli_epi16(code, 3);
    Index idx;
    for (int k = 0; k < kChunks; ++k)
      idx.chunk[k] = _mm256_blendv_epi8(set1(static_cast<std::int16_t>(0x8080)), pair,
                                        _mm256_cmpeq_epi16(chunk, set1(static_cast<std::int16_t>(k))));
    return idx;
  }
  static Table table(const std::int16_t* column) {
    Table t;
    for (int k = 0; k < kChunks; ++k)
      t.chunk[k] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(column + 8 * k)));
    return t;
  }
  static V lookup(const Table& t, const Index& idx) {
    return _mm256_or_si256(
        _mm256_or_si256(_mm256_shuffle_epi8(t.chunk[0], idx.chunk[0]), _mm256_shuffle_epi8(t.chunk[1], idx.chunk[1])),
        _mm256_shuffle_epi8(t.chunk[2], idx.chunk[2]));
  }

  // Lane masks (QuickBatch): all ones or all zeros per lane.
  using M = V;
  static M gt(V a, V b) { return _mm256_cmpgt_epi16(a, b); }
  static V select(M m, V a, V b) { return _mm256_blendv_epi8(b, a, m); }
};

}  // namespace

const Kernel* avx2_kernel() {
  static const Kernel kernel{"avx2", Avx2Ops::W, &BoundRunner<Avx2Ops>::run, &GroupedBatch<Avx2Ops>::run,
                              &QuickBatch<Avx2Ops>::run, 1.8};  // 5.3-5.5 against 1.8-3.1
  return &kernel;
}

}  // namespace tormid::bounds

#else
const tormid::bounds::Kernel* tormid::bounds::avx2_kernel() { return nullptr; }
#endif
