// Short (16-bit) strip kernel on AVX-512BW: 32 rows per vector. Built with
// -mavx512bw and only called after the CPU has been checked; apart from
// the other AVX-512 kernels, which need only AVX-512F.
#include "engine/strip_kernel.h"

#if defined(__x86_64__) && defined(__AVX512BW__)
#if defined(__GNUC__) && !defined(__clang__)
// GCC bug 105593, as in the AVX-512F kernels.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>

#include "engine/strip_kernel_impl.h"

namespace tormid::strips {
namespace {

struct Avx512ShortOps {
  using T = std::int16_t;
  static constexpr int W = 32;
  using V = __m512i;
  using M = __mmask32;
  static V zero() { return _mm512_setzero_si512(); }
  static V set1(T x) { return _mm512_set1_epi16(x); }
  static V load(const T* p) { return _mm512_loadu_si512(p); }
  static void store(T* p, V v) { _mm512_storeu_si512(p, v); }
  static V add(V a, V b) { return _mm512_adds_epi16(a, b); }
  static V sub(V a, V b) { return _mm512_subs_epi16(a, b); }
  static V max(V a, V b) { return _mm512_max_epi16(a, b); }
  static M ge(V a, V b) { return _mm512_cmpge_epi16_mask(a, b); }
  static M gt(V a, V b) { return _mm512_cmpgt_epi16_mask(a, b); }
  static M le(V a, V b) { return _mm512_cmple_epi16_mask(a, b); }
  static V select(M m, V a, V b) { return _mm512_mask_blend_epi16(m, b, a); }
  static V zero_unless(M m, V a) { return _mm512_maskz_mov_epi16(m, a); }
  static V zero_if(M m, V a) { return _mm512_maskz_mov_epi16(static_cast<M>(~m), a); }
  static M and_(M a, M b) { return a & b; }
  static M or_(M a, M b) { return a | b; }
  static M andnot(M a, M b) { return a & ~b; }
  static M no_lanes() { return 0; }
  static unsigned bits(M m) { return m; }
  // Each 128-bit quarter transposed as 8 x 8 (interleaved by 16, 32 and 64
  // bits), one group of 8 rows at a time so that a group stays in
  // registers; then the quarters gathered, as in the float kernel: column
  // k + 8p from quarter p of the four groups.
  static void transpose(V* r) {
    V c[32];  // c[8g + k]: column k + 8p of rows 8g to 8g + 7 in quarter p
    for (int g = 0; g < 4; ++g) {
      V a[8], b[8];
      for (int k = 0; k < 8; k += 2) {
        a[k] = _mm512_unpacklo_epi16(r[8 * g + k], r[8 * g + k + 1]);
        a[k + 1] = _mm512_unpackhi_epi16(r[8 * g + k], r[8 * g + k + 1]);
      }
      for (int k = 0; k < 8; k += 4) {
        b[k] = _mm512_unpacklo_epi32(a[k], a[k + 2]);
        b[k + 1] = _mm512_unpackhi_epi32(a[k], a[k + 2]);
        b[k + 2] = _mm512_unpacklo_epi32(a[k + 1], a[k + 3]);
        b[k + 3] = _mm512_unpackhi_epi32(a[k + 1], a[k + 3]);
      }
      for (int k = 0; k < 4; ++k) {
        c[8 * g + 2 * k] = _mm512_unpacklo_epi64(b[k], b[k + 4]);
        c[8 * g + 2 * k + 1] = _mm512_unpackhi_epi64(b[k], b[k + 4]);
      }
    }
    for (int k = 0; k < 8; ++k) {
      const V v0 = _mm512_shuffle_i32x4(c[k], c[8 + k], 0x88), v1 = _mm512_shuffle_i32x4(c[k], c[8 + k], 0xdd);
      const V w0 = _mm512_shuffle_i32x4(c[16 + k], c[24 + k], 0x88);
      const V w1 = _mm512_shuffle_i32x4(c[16 + k], c[24 + k], 0xdd);
      r[k] = _mm512_shuffle_i32x4(v0, w0, 0x88);
      r[8 + k] = _mm512_shuffle_i32x4(v1, w1, 0x88);
      r[16 + k] = _mm512_shuffle_i32x4(v0, w0, 0xdd);
      r[24 + k] = _mm512_shuffle_i32x4(v1, w1, 0xdd);
    }
  }
  static V shift_in(V cur, V below) {
    // 128-bit lanes moved up one, below's top lane first; then within each
    // lane the last element of the lane before: {below31, cur0, ..., cur30}.
    const V lanes = _mm512_alignr_epi64(cur, below, 6);  // below lane 3, cur lanes 0-2
    return _mm512_alignr_epi8(cur, lanes, 14);
  }
};

}  // namespace

// Two vectors per step for long profiles; one, with less filling and
// draining per strip, below 500 positions (medians on real proteins:
// 3.0 against 2.85 billion cells per second at 260 positions, 3.6 against
// 3.7 at 1,142).
const ShortKernel* short_avx512_kernel() {
  static const ShortKernel thirty_two{"avx512", StripRunner<Avx512ShortOps, 1>::H, Avx512ShortOps::W,
                                      &StripRunner<Avx512ShortOps, 1>::run};
  static const ShortKernel kernel{"avx512", StripRunner<Avx512ShortOps, 2>::H, Avx512ShortOps::W,
                                  &StripRunner<Avx512ShortOps, 2>::run, &thirty_two, 500};
  return &kernel;
}

}  // namespace tormid::strips

#else
const tormid::strips::ShortKernel* tormid::strips::short_avx512_kernel() { return nullptr; }
#endif
