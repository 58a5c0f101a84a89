// Coarse kernel on AVX2: 32 byte lanes. Built with -mavx2 and only called
// after the CPU has been checked.
#include "engine/coarse_kernel.h"

#if defined(__x86_64__) && defined(__AVX2__)
#include <immintrin.h>

#include "engine/coarse_kernel_impl.h"

namespace tormid::coarse {
namespace {

struct Avx2Ops {
  static constexpr int W = 32;
  using V = __m256i;
  static V set1(std::uint8_t v) { return _mm256_set1_epi8(static_cast<char>(v)); }
  static V load(const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static void store(std::uint8_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  static V adds(V a, V b) { return _mm256_adds_epi8(a, b); }
  static V subs(V a, V b) { return _mm256_subs_epi8(a, b); }
  static V max(V a, V b) { return _mm256_max_epi8(a, b); }
  static V min(V a, V b) { return _mm256_min_epi8(a, b); }

  // vpshufb looks up 16 entries per 128-bit half and gives 0 where an
  // index has its top bit set: codes 0-15 from the first half of the
  // scores, 16-31 from the second, each table broadcast to both halves.
  struct Index {
    V low, high;
  };
  struct Table {
    V low, high;
  };
  static Index index(const std::uint8_t* codes) {
    const V code = load(codes);
    // code + 0x70 sets the top bit from 16 on; code - 16 wraps below 16.
    return {_mm256_adds_epu8(code, set1(0x70)), _mm256_sub_epi8(code, set1(16))};
  }
  static Table table(const std::uint8_t* scores) {
    const __m128i* p = reinterpret_cast<const __m128i*>(scores);
    return {_mm256_broadcastsi128_si256(_mm_loadu_si128(p)), _mm256_broadcastsi128_si256(_mm_loadu_si128(p + 1))};
  }
  static V lookup(const Table& t, const Index& i) {
    return _mm256_or_si256(_mm256_shuffle_epi8(t.low, i.low), _mm256_shuffle_epi8(t.high, i.high));
  }
};

}  // namespace

const Kernel* avx2_kernel() {
  static const Kernel kernel{"avx2", CoarseBatch<Avx2Ops>::W, &CoarseBatch<Avx2Ops>::run,
                                     &ProfileLanes<Avx2Ops>::run, &score_bytes};
  return &kernel;
}

}  // namespace tormid::coarse

#else
const tormid::coarse::Kernel* tormid::coarse::avx2_kernel() { return nullptr; }
#endif
