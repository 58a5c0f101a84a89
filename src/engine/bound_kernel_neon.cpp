// Bound kernel on NEON (every AArch64 CPU): 8 lanes of 16 bits, striped
// along the profile for one sequence, or one sequence per lane for many,
// with TBL looking up each lane's score by its residue code.
#include "engine/bound_kernel.h"

#if defined(__aarch64__)
#include <arm_neon.h>

#include "engine/bound_kernel_impl.h"
#include "engine/quick_batch_impl.h"

namespace tormid::bounds {
namespace {

struct NeonOps {
  static constexpr int W = 8;
  using V = int16x8_t;
  static V set1(std::int16_t x) { return vdupq_n_s16(x); }
  static V load(const std::int16_t* p) { return vld1q_s16(p); }
  static void store(std::int16_t* p, V v) { vst1q_s16(p, v); }
  static V adds(V a, V b) { return vqaddq_s16(a, b); }
  static V subs(V a, V b) { return vqsubq_s16(a, b); }
  static V max(V a, V b) { return vmaxq_s16(a, b); }
  static V min(V a, V b) { return vminq_s16(a, b); }
  static bool any_gt(V a, V b) { return vmaxvq_u16(vcgtq_s16(a, b)) != 0; }
  static V shift_in(V v, std::int16_t x) { return vextq_s16(vdupq_n_s16(x), v, 7); }  // x v0 ... v6
  static std::int16_t lane(V v, int l) {
    alignas(16) std::int16_t a[W];
    store(a, v);
    return a[l];
  }
  static std::int16_t hmax(V v) { return vmaxvq_s16(v); }

  // Many at once (GroupedBatch): a position's scores by code (kCodes <= 24)
  // are 48 bytes, a table TBL takes whole; a lane's indices are the byte
  // pair of its code (little-endian, its 16-bit score).
  static_assert(kCodes <= 24);
  using Index = uint8x16_t;
  using Table = uint8x16x3_t;
  static Index index(V code) {
    const V at = vshlq_n_s16(code, 1);
    return vreinterpretq_u8_s16(vorrq_s16(at, vshlq_n_s16(vaddq_s16(at, set1(1)), 8)));
  }
  static Table table(const std::int16_t* column) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(column);
    return {{vld1q_u8(bytes), vld1q_u8(bytes + 16), vld1q_u8(bytes + 32)}};
  }
  static V lookup(const Table& t, Index idx) { return vreinterpretq_s16_u8(vqtbl3q_u8(t, idx)); }

  // Lane masks (QuickBatch).
  using M = uint16x8_t;
  static M gt(V a, V b) { return vcgtq_s16(a, b); }
  static V select(M m, V a, V b) { return vbslq_s16(m, a, b); }
};

}  // namespace

const Kernel* neon_kernel() {
  static const Kernel kernel{"neon", NeonOps::W, &BoundRunner<NeonOps>::run, &GroupedBatch<NeonOps>::run,
                              &QuickBatch<NeonOps>::run, 1.8};  // as on AVX2 (not measured on ARM)
  return &kernel;
}

}  // namespace tormid::bounds

#else
const tormid::bounds::Kernel* tormid::bounds::neon_kernel() { return nullptr; }
#endif
