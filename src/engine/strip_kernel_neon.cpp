// Strip kernel on NEON (every AArch64 CPU): two rows per vector of doubles,
// four per vector of floats. Every operation is the one the x86 kernels
// use, lane by lane (max as "a > b ? a : b", compares ordered), so the
// scores are the reference engine's, bit for bit.
#include "engine/strip_kernel.h"

#if defined(__aarch64__)
#include <arm_neon.h>

#include "engine/strip_kernel_impl.h"

namespace tormid::strips {
namespace {

struct NeonOps {
  using T = double;
  static constexpr int W = 2;
  using V = float64x2_t;
  using M = uint64x2_t;
  static V zero() { return vdupq_n_f64(0.0); }
  static V set1(double x) { return vdupq_n_f64(x); }
  static V load(const double* p) { return vld1q_f64(p); }
  static void store(double* p, V v) { vst1q_f64(p, v); }
  static V add(V a, V b) { return vaddq_f64(a, b); }
  static V sub(V a, V b) { return vsubq_f64(a, b); }
  static V max(V a, V b) { return vbslq_f64(vcgtq_f64(a, b), a, b); }
  static M ge(V a, V b) { return vcgeq_f64(a, b); }
  static M gt(V a, V b) { return vcgtq_f64(a, b); }
  static M le(V a, V b) { return vcleq_f64(a, b); }
  static V select(M m, V a, V b) { return vbslq_f64(m, a, b); }
  static V zero_unless(M m, V a) { return vreinterpretq_f64_u64(vandq_u64(m, vreinterpretq_u64_f64(a))); }
  static V zero_if(M m, V a) { return vreinterpretq_f64_u64(vbicq_u64(vreinterpretq_u64_f64(a), m)); }
  static M and_(M a, M b) { return vandq_u64(a, b); }
  static M or_(M a, M b) { return vorrq_u64(a, b); }
  static M andnot(M a, M b) { return vbicq_u64(a, b); }
  static M no_lanes() { return vdupq_n_u64(0); }
  static unsigned bits(M m) {
    return static_cast<unsigned>((vgetq_lane_u64(m, 0) >> 63) | ((vgetq_lane_u64(m, 1) >> 63) << 1));
  }
  static void transpose(V* r) {
    const V a = vzip1q_f64(r[0], r[1]), b = vzip2q_f64(r[0], r[1]);
    r[0] = a;
    r[1] = b;
  }
  static V shift_in(V cur, V below) { return vextq_f64(below, cur, 1); }  // below1 cur0
};

struct NeonFloatOps {
  using T = float;
  static constexpr int W = 4;
  using V = float32x4_t;
  using M = uint32x4_t;
  static V zero() { return vdupq_n_f32(0.0f); }
  static V set1(float x) { return vdupq_n_f32(x); }
  static V load(const float* p) { return vld1q_f32(p); }
  static void store(float* p, V v) { vst1q_f32(p, v); }
  static V add(V a, V b) { return vaddq_f32(a, b); }
  static V sub(V a, V b) { return vsubq_f32(a, b); }
  static V max(V a, V b) { return vbslq_f32(vcgtq_f32(a, b), a, b); }
  static M ge(V a, V b) { return vcgeq_f32(a, b); }
  static M gt(V a, V b) { return vcgtq_f32(a, b); }
  static M le(V a, V b) { return vcleq_f32(a, b); }
  static V select(M m, V a, V b) { return vbslq_f32(m, a, b); }
  static V zero_unless(M m, V a) { return vreinterpretq_f32_u32(vandq_u32(m, vreinterpretq_u32_f32(a))); }
  static V zero_if(M m, V a) { return vreinterpretq_f32_u32(vbicq_u32(vreinterpretq_u32_f32(a), m)); }
  static M and_(M a, M b) { return vandq_u32(a, b); }
  static M or_(M a, M b) { return vorrq_u32(a, b); }
  static M andnot(M a, M b) { return vbicq_u32(a, b); }
  static M no_lanes() { return vdupq_n_u32(0); }
  static unsigned bits(M m) {
    const uint32x4_t top = vshrq_n_u32(m, 31);
    return vgetq_lane_u32(top, 0) | vgetq_lane_u32(top, 1) << 1 | vgetq_lane_u32(top, 2) << 2 |
           vgetq_lane_u32(top, 3) << 3;
  }
  static void transpose(V* r) {
    const V t0 = vtrn1q_f32(r[0], r[1]), t1 = vtrn2q_f32(r[0], r[1]);
    const V t2 = vtrn1q_f32(r[2], r[3]), t3 = vtrn2q_f32(r[2], r[3]);
    r[0] = vreinterpretq_f32_f64(vtrn1q_f64(vreinterpretq_f64_f32(t0), vreinterpretq_f64_f32(t2)));
    r[1] = vreinterpretq_f32_f64(vtrn1q_f64(vreinterpretq_f64_f32(t1), vreinterpretq_f64_f32(t3)));
    r[2] = vreinterpretq_f32_f64(vtrn2q_f64(vreinterpretq_f64_f32(t0), vreinterpretq_f64_f32(t2)));
    r[3] = vreinterpretq_f32_f64(vtrn2q_f64(vreinterpretq_f64_f32(t1), vreinterpretq_f64_f32(t3)));
  }
  static V shift_in(V cur, V below) { return vextq_f32(below, cur, 3); }  // below3 cur0 cur1 cur2
};

// Eight 16-bit lanes, saturating; masks are whole lanes of ones.
struct NeonShortOps {
  using T = std::int16_t;
  static constexpr int W = 8;
  using V = int16x8_t;
  using M = uint16x8_t;
  static V zero() { return vdupq_n_s16(0); }
  static V set1(T x) { return vdupq_n_s16(x); }
  static V load(const T* p) { return vld1q_s16(p); }
  static void store(T* p, V v) { vst1q_s16(p, v); }
  static V add(V a, V b) { return vqaddq_s16(a, b); }
  static V sub(V a, V b) { return vqsubq_s16(a, b); }
  static V max(V a, V b) { return vmaxq_s16(a, b); }
  static M ge(V a, V b) { return vcgeq_s16(a, b); }
  static M gt(V a, V b) { return vcgtq_s16(a, b); }
  static M le(V a, V b) { return vcleq_s16(a, b); }
  static V select(M m, V a, V b) { return vbslq_s16(m, a, b); }
  static V zero_unless(M m, V a) { return vandq_s16(vreinterpretq_s16_u16(m), a); }
  static V zero_if(M m, V a) { return vbicq_s16(a, vreinterpretq_s16_u16(m)); }
  static M and_(M a, M b) { return vandq_u16(a, b); }
  static M or_(M a, M b) { return vorrq_u16(a, b); }
  static M andnot(M a, M b) { return vbicq_u16(a, b); }
  static M no_lanes() { return vdupq_n_u16(0); }
  static unsigned bits(M m) {
    static const std::uint16_t weights[8] = {1, 2, 4, 8, 16, 32, 64, 128};
    return vaddvq_u16(vandq_u16(m, vld1q_u16(weights)));
  }
  // Interleaved by 16, 32 and 64 bits: after the three rounds r[k] holds
  // column k.
  static void transpose(V* r) {
    V a[8];
    int32x4_t b[8];
    for (int k = 0; k < 8; k += 2) {
      a[k] = vzip1q_s16(r[k], r[k + 1]);
      a[k + 1] = vzip2q_s16(r[k], r[k + 1]);
    }
    for (int k = 0; k < 8; k += 4) {
      const int32x4_t a0 = vreinterpretq_s32_s16(a[k]), a1 = vreinterpretq_s32_s16(a[k + 1]);
      const int32x4_t a2 = vreinterpretq_s32_s16(a[k + 2]), a3 = vreinterpretq_s32_s16(a[k + 3]);
      b[k] = vzip1q_s32(a0, a2);
      b[k + 1] = vzip2q_s32(a0, a2);
      b[k + 2] = vzip1q_s32(a1, a3);
      b[k + 3] = vzip2q_s32(a1, a3);
    }
    for (int k = 0; k < 4; ++k) {
      const int64x2_t lo = vreinterpretq_s64_s32(b[k]), hi = vreinterpretq_s64_s32(b[k + 4]);
      r[2 * k] = vreinterpretq_s16_s64(vzip1q_s64(lo, hi));
      r[2 * k + 1] = vreinterpretq_s16_s64(vzip2q_s64(lo, hi));
    }
  }
  static V shift_in(V cur, V below) { return vextq_s16(below, cur, 7); }  // below7 cur0 .. cur6
};

}  // namespace

const ShortKernel* short_neon_kernel() {
  static const ShortKernel kernel{"neon", StripRunner<NeonShortOps, 4>::H, NeonShortOps::W,
                                  &StripRunner<NeonShortOps, 4>::run};
  return &kernel;
}

const QuickKernel* quick_neon_kernel() {
  static const QuickKernel kernel{"neon", StripRunner<NeonFloatOps, 8>::H, NeonFloatOps::W,
                                  &StripRunner<NeonFloatOps, 8>::run};
  return &kernel;
}

const Kernel* neon_kernel() {
  static const Kernel kernel{"neon", StripRunner<NeonOps, 8>::H, NeonOps::W, &StripRunner<NeonOps, 8>::run};
  return &kernel;
}

}  // namespace tormid::strips

#else
const tormid::strips::Kernel* tormid::strips::neon_kernel() { return nullptr; }
const tormid::strips::QuickKernel* tormid::strips::quick_neon_kernel() { return nullptr; }
const tormid::strips::ShortKernel* tormid::strips::short_neon_kernel() { return nullptr; }
#endif
