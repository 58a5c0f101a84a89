// Coarse kernel on AVX-512 VBMI with 256-bit vectors (VL): 32 byte lanes,
// each lane's score looked up by vpermb in one step. Built with -mavx512bw
// -mavx512vbmi -mavx512vl and only called after the CPU has been checked.
// Half-width vectors, as the AVX2 kernel's, with a one-step lookup: on the
// Xeon measured, 512-bit vectors ran this kernel no faster per cell (their
// integer instructions issue at half the rate) and kept twice the rows in
// cache (real proteins against 8 models, local: 3.91 s with 64 lanes,
// 3.81 s with 32).
#include "engine/coarse_kernel.h"

#if defined(__x86_64__) && defined(__AVX512BW__) && defined(__AVX512VBMI__)
// GCC 12's AVX-512 headers start some intrinsics from undefined vectors
// and then warn about it at every use (GCC bug 105593).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include "engine/coarse_kernel_impl.h"

namespace tormid::coarse {
namespace {

struct Avx512Ops {
  static constexpr int W = 32;
  using V = __m256i;
  static V set1(std::uint8_t v) { return _mm256_set1_epi8(static_cast<char>(v)); }
  static V load(const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static void store(std::uint8_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  static V adds(V a, V b) { return _mm256_adds_epi8(a, b); }
  static V subs(V a, V b) { return _mm256_subs_epi8(a, b); }
  static V max(V a, V b) { return _mm256_max_epi8(a, b); }
  static V min(V a, V b) { return _mm256_min_epi8(a, b); }
  using Index = V;
  using Table = V;
  static Index index(const std::uint8_t* codes) { return load(codes); }
  // The first 32 of a position's kTableBytes scores: every code is below 32.
  static Table table(const std::uint8_t* scores) { return load(scores); }
  static V lookup(Table t, Index code) { return _mm256_permutexvar_epi8(code, t); }
};

}  // namespace

const Kernel* avx512_kernel() {
  static const Kernel kernel{"avx512vbmi", CoarseBatch<Avx512Ops>::W, &CoarseBatch<Avx512Ops>::run,
                                     &ProfileLanes<Avx512Ops>::run, &score_bytes};
  return &kernel;
}

}  // namespace tormid::coarse

#else
const tormid::coarse::Kernel* tormid::coarse::avx512_kernel() { return nullptr; }
#endif
