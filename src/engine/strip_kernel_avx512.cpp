// Strip kernel on AVX-512F: eight rows per vector. Built with -mavx512f and
// only called after the CPU has been checked.
#include "engine/strip_kernel.h"

#if defined(__x86_64__) && defined(__AVX512F__)
// GCC 12's AVX-512 headers start some intrinsics from _mm512_undefined_pd()
// and then warn about it at every use (GCC bug 105593).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include "engine/strip_kernel_impl.h"
#include "engine/float_lanes_impl.h"

namespace tormid::strips {
namespace {

struct Avx512Ops {
  using T = double;
  static constexpr int W = 8;
  using V = __m512d;
  using M = __mmask8;
  static V zero() { return _mm512_setzero_pd(); }
  static V set1(double x) { return _mm512_set1_pd(x); }
  static V load(const double* p) { return _mm512_loadu_pd(p); }
  static void store(double* p, V v) { _mm512_storeu_pd(p, v); }
  static V add(V a, V b) { return _mm512_add_pd(a, b); }
  static V sub(V a, V b) { return _mm512_sub_pd(a, b); }
  static V max(V a, V b) { return _mm512_max_pd(a, b); }
  static M ge(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_GE_OQ); }
  static M gt(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_GT_OQ); }
  static M le(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_LE_OQ); }
  static V select(M m, V a, V b) { return _mm512_mask_blend_pd(m, b, a); }
  static V zero_unless(M m, V a) { return _mm512_maskz_mov_pd(m, a); }
  static V zero_if(M m, V a) { return _mm512_mask_blend_pd(m, a, _mm512_setzero_pd()); }
  static M and_(M a, M b) { return static_cast<M>(a & b); }
  static M or_(M a, M b) { return static_cast<M>(a | b); }
  static M andnot(M a, M b) { return static_cast<M>(a & ~b); }
  static M no_lanes() { return 0; }
  static unsigned bits(M m) { return m; }
  static void transpose(V* r) {
    V t[8], u[8];
    for (int k = 0; k < 8; k += 2) {
      t[k] = _mm512_unpacklo_pd(r[k], r[k + 1]);
      t[k + 1] = _mm512_unpackhi_pd(r[k], r[k + 1]);
    }
    for (int k = 0; k < 8; k += 4) {
      u[k] = _mm512_shuffle_f64x2(t[k], t[k + 2], 0x88);
      u[k + 1] = _mm512_shuffle_f64x2(t[k + 1], t[k + 3], 0x88);
      u[k + 2] = _mm512_shuffle_f64x2(t[k], t[k + 2], 0xdd);
      u[k + 3] = _mm512_shuffle_f64x2(t[k + 1], t[k + 3], 0xdd);
    }
    for (int k = 0; k < 4; ++k) {
      r[k] = _mm512_shuffle_f64x2(u[k], u[k + 4], 0x88);
      r[k + 4] = _mm512_shuffle_f64x2(u[k], u[k + 4], 0xdd);
    }
  }
  static V shift_in(V cur, V below) {
    const __m512i order = _mm512_set_epi64(6, 5, 4, 3, 2, 1, 0, 15);
    return _mm512_permutex2var_pd(cur, order, below);
  }
};

struct Avx512FloatOps {
  using T = float;
  static constexpr int W = 16;
  using V = __m512;
  using M = __mmask16;
  static V zero() { return _mm512_setzero_ps(); }
  static V set1(float x) { return _mm512_set1_ps(x); }
  static V load(const float* p) { return _mm512_loadu_ps(p); }
  static void store(float* p, V v) { _mm512_storeu_ps(p, v); }
  static V add(V a, V b) { return _mm512_add_ps(a, b); }
  static V sub(V a, V b) { return _mm512_sub_ps(a, b); }
  static V max(V a, V b) { return _mm512_max_ps(a, b); }
  static M ge(V a, V b) { return _mm512_cmp_ps_mask(a, b, _CMP_GE_OQ); }
  static M gt(V a, V b) { return _mm512_cmp_ps_mask(a, b, _CMP_GT_OQ); }
  static M le(V a, V b) { return _mm512_cmp_ps_mask(a, b, _CMP_LE_OQ); }
  static V select(M m, V a, V b) { return _mm512_mask_blend_ps(m, b, a); }
  static V zero_unless(M m, V a) { return _mm512_maskz_mov_ps(m, a); }
  static V zero_if(M m, V a) { return _mm512_mask_blend_ps(m, a, _mm512_setzero_ps()); }
  static M and_(M a, M b) { return static_cast<M>(a & b); }
  static M or_(M a, M b) { return static_cast<M>(a | b); }
  static M andnot(M a, M b) { return static_cast<M>(a & ~b); }
  static M no_lanes() { return 0; }
  static unsigned bits(M m) { return m; }
  static void transpose(V* r) {
    V t[16], u[16];
    // Pairs of rows interleaved, then pairs of pairs: u[4g + c] holds
    // columns c, c + 4, c + 8, c + 12 of rows 4g to 4g + 3, one per 128 bits.
    for (int k = 0; k < 16; k += 2) {
      t[k] = _mm512_unpacklo_ps(r[k], r[k + 1]);
      t[k + 1] = _mm512_unpackhi_ps(r[k], r[k + 1]);
    }
    for (int k = 0; k < 16; k += 4) {
      const __m512d a = _mm512_castps_pd(t[k]), b = _mm512_castps_pd(t[k + 1]);
      const __m512d c = _mm512_castps_pd(t[k + 2]), d = _mm512_castps_pd(t[k + 3]);
      u[k] = _mm512_castpd_ps(_mm512_unpacklo_pd(a, c));
      u[k + 1] = _mm512_castpd_ps(_mm512_unpackhi_pd(a, c));
      u[k + 2] = _mm512_castpd_ps(_mm512_unpacklo_pd(b, d));
      u[k + 3] = _mm512_castpd_ps(_mm512_unpackhi_pd(b, d));
    }
    // Then the 128-bit pieces gathered: column 4p + c from piece p of
    // u[c], u[4 + c], u[8 + c], u[12 + c].
    for (int c = 0; c < 4; ++c) {
      const V v0 = _mm512_shuffle_f32x4(u[c], u[4 + c], 0x88), v1 = _mm512_shuffle_f32x4(u[c], u[4 + c], 0xdd);
      const V w0 = _mm512_shuffle_f32x4(u[8 + c], u[12 + c], 0x88), w1 = _mm512_shuffle_f32x4(u[8 + c], u[12 + c], 0xdd);
      r[c] = _mm512_shuffle_f32x4(v0, w0, 0x88);
      r[4 + c] = _mm512_shuffle_f32x4(v1, w1, 0x88);
      r[8 + c] = _mm512_shuffle_f32x4(v0, w0, 0xdd);
      r[12 + c] = _mm512_shuffle_f32x4(v1, w1, 0xdd);
    }
  }
  static V shift_in(V cur, V below) {
    const __m512i order = _mm512_set_epi32(14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 31);
    return _mm512_permutex2var_ps(cur, order, below);
  }
};

// Many sequences at once (FloatLanes): a lane's score of a position is
// one of 32 by its code, two vectors that vpermt2ps picks from.
struct Avx512LaneOps : Avx512FloatOps {
  using Index = __m512i;
  struct Table {
    __m512 low, high;
  };
  static Index index(const std::int32_t* codes) { return _mm512_load_si512(codes); }
  static Table table(const float* column) { return {_mm512_loadu_ps(column), _mm512_loadu_ps(column + 16)}; }
  static V lookup(const Table& t, Index code) { return _mm512_permutex2var_ps(t.low, code, t.high); }
  static V mul(V a, V b) { return _mm512_mul_ps(a, b); }
  static V from_int(const std::int32_t* ints) { return _mm512_cvtepi32_ps(_mm512_load_si512(ints)); }
  using Bits = std::uint16_t;
  static M load_bits(const Bits* p) { return *p; }
  static void store_bits(Bits* p, M m) { *p = m; }
  static M all_lanes() { return 0xFFFF; }
  static V sub_where(V a, M m, V b) { return _mm512_mask_sub_ps(a, m, a, b); }
};
static_assert(kLanesCodes == 32);

// The same on doubles, eight lanes per vector: a score is one of the 21
// codes' (kLanesCodes with room to spare); vpermt2pd picks codes 0 to 15
// from two vectors, and a masked vpermpd codes 16 to 23 from a third.
struct Avx512ExactLaneOps : Avx512Ops {
  struct Index {
    __m512i code;
    __mmask8 high;
  };
  struct Table {
    __m512d low, mid, high;
  };
  static Index index(const std::int32_t* codes) {
    const __m512i code = _mm512_cvtepi32_epi64(_mm256_load_si256(reinterpret_cast<const __m256i*>(codes)));
    return {code, _mm512_test_epi64_mask(code, _mm512_set1_epi64(16))};
  }
  static Table table(const double* column) {
    return {_mm512_loadu_pd(column), _mm512_loadu_pd(column + 8), _mm512_loadu_pd(column + 16)};
  }
  static V lookup(const Table& t, const Index& i) {
    const V low = _mm512_permutex2var_pd(t.low, i.code, t.mid);
    return _mm512_mask_permutexvar_pd(low, i.high, i.code, t.high);
  }
  static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
  static V from_int(const std::int32_t* ints) {
    return _mm512_cvtepi32_pd(_mm256_load_si256(reinterpret_cast<const __m256i*>(ints)));
  }
  using Bits = std::uint8_t;
  static M load_bits(const Bits* p) { return *p; }
  static void store_bits(Bits* p, M m) { *p = m; }
  static M all_lanes() { return 0xFF; }
  static V sub_where(V a, M m, V b) { return _mm512_mask_sub_pd(a, m, a, b); }
};

}  // namespace

const LanesKernel* lanes_avx512_kernel() {
  static const LanesKernel kernel{"avx512", SequenceLanes<Avx512LaneOps, 4>::W, &SequenceLanes<Avx512LaneOps, 4>::run};
  return &kernel;
}

const ExactLanesKernel* exact_lanes_avx512_kernel() {
  static const ExactLanesKernel kernel{"avx512", SequenceLanes<Avx512ExactLaneOps, 4>::W,
                                       &SequenceLanes<Avx512ExactLaneOps, 4>::run};
  return &kernel;
}

// Four vectors per step, as with doubles, keep four chains of dependent
// steps in flight; shorter strips for shorter profiles.
const QuickKernel* quick_avx512_kernel() {
  static const QuickKernel sixteen{"avx512", StripRunner<Avx512FloatOps, 1>::H, Avx512FloatOps::W,
                                   &StripRunner<Avx512FloatOps, 1>::run};
  static const QuickKernel thirty_two{"avx512", StripRunner<Avx512FloatOps, 2>::H, Avx512FloatOps::W,
                                      &StripRunner<Avx512FloatOps, 2>::run, &sixteen, 40};
  static const QuickKernel kernel{"avx512", StripRunner<Avx512FloatOps, 4>::H, Avx512FloatOps::W,
                                  &StripRunner<Avx512FloatOps, 4>::run, &thirty_two, 120};
  return &kernel;
}

// Crossovers measured with 450-residue sequences (bench/engine_bench):
// 16 rows overtake 32 below about 160 positions, 8 overtake 16 near 30 and
// keep the traceback near 2 bits per cell.
const Kernel* avx512_kernel() {
  static const Kernel eight{"avx512", StripRunner<Avx512Ops, 1>::H, Avx512Ops::W, &StripRunner<Avx512Ops, 1>::run};
  static const Kernel sixteen{"avx512", StripRunner<Avx512Ops, 2>::H, Avx512Ops::W, &StripRunner<Avx512Ops, 2>::run,
                              &eight, 32};
  static const Kernel kernel{"avx512", StripRunner<Avx512Ops, 4>::H, Avx512Ops::W, &StripRunner<Avx512Ops, 4>::run,
                             &sixteen, 160};
  return &kernel;
}

}  // namespace tormid::strips

#else
const tormid::strips::LanesKernel* tormid::strips::lanes_avx512_kernel() { return nullptr; }
const tormid::strips::ExactLanesKernel* tormid::strips::exact_lanes_avx512_kernel() { return nullptr; }
const tormid::strips::Kernel* tormid::strips::avx512_kernel() { return nullptr; }
const tormid::strips::QuickKernel* tormid::strips::quick_avx512_kernel() { return nullptr; }
#endif
