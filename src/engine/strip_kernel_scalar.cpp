// Strip kernel on plain doubles: runs on any CPU. Eight rows per strip give
// the processor eight independent chains to overlap.
#include "engine/strip_kernel_impl.h"

namespace tormid::strips {
namespace {

// Plain numbers of type T (double for the exact kernel, float for the
// quick one), one lane.
template <class Number>
struct ScalarOps {
  using T = Number;
  static constexpr int W = 1;
  using V = Number;
  using M = bool;
  static V zero() { return V(0); }
  static V set1(T x) { return x; }
  static V load(const T* p) { return *p; }
  static void store(T* p, V v) { *p = v; }
  static V add(V a, V b) { return a + b; }
  static V sub(V a, V b) { return a - b; }
  static V max(V a, V b) { return a > b ? a : b; }
  static M ge(V a, V b) { return a >= b; }
  static M gt(V a, V b) { return a > b; }
  static M le(V a, V b) { return a <= b; }
  static V select(M m, V a, V b) { return m ? a : b; }
  static V zero_unless(M m, V a) { return m ? a : V(0); }
  static V zero_if(M m, V a) { return m ? V(0) : a; }
  static M and_(M a, M b) { return a && b; }
  static M or_(M a, M b) { return a || b; }
  static M andnot(M a, M b) { return a && !b; }
  static M no_lanes() { return false; }
  static unsigned bits(M m) { return m ? 1u : 0u; }
  static void transpose(V*) {}
  static V shift_in(V, V below) { return below; }
};

// 16-bit integers with saturating additions, as the vector instructions
// compute them.
struct ScalarShortOps : ScalarOps<std::int16_t> {
  static V saturated(int x) {
    return static_cast<V>(x < INT16_MIN ? INT16_MIN : x > INT16_MAX ? INT16_MAX : x);
  }
  static V add(V a, V b) { return saturated(a + b); }
  static V sub(V a, V b) { return saturated(a - b); }
};

}  // namespace

Kernel scalar_kernel() {
  return {"scalar", StripRunner<ScalarOps<double>, 8>::H, 1, &StripRunner<ScalarOps<double>, 8>::run};
}

QuickKernel quick_scalar_kernel() {
  return {"scalar", StripRunner<ScalarOps<float>, 8>::H, 1, &StripRunner<ScalarOps<float>, 8>::run};
}

ShortKernel short_scalar_kernel() {
  return {"scalar", StripRunner<ScalarShortOps, 8>::H, 1, &StripRunner<ScalarShortOps, 8>::run};
}

}  // namespace tormid::strips
