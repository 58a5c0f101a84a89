// Bound kernel on plain integers: runs on any CPU, one lane.
#include "engine/bound_kernel_impl.h"

namespace tormid::bounds {
namespace {

struct ScalarOps {
  static constexpr int W = 1;
  using V = std::int16_t;
  static V set1(std::int16_t x) { return x; }
  static V load(const std::int16_t* p) { return *p; }
  static void store(std::int16_t* p, V v) { *p = v; }
  static V adds(V a, V b) { return saturate(std::int64_t{a} + b); }
  static V subs(V a, V b) { return saturate(std::int64_t{a} - b); }
  static V max(V a, V b) { return a > b ? a : b; }
  static V min(V a, V b) { return a < b ? a : b; }
  static bool any_gt(V a, V b) { return a > b; }
  static V shift_in(V, std::int16_t x) { return x; }
  static std::int16_t lane(V v, int) { return v; }
  static std::int16_t hmax(V v) { return v; }
};

}  // namespace

Kernel scalar_kernel() { return {"scalar", ScalarOps::W, &BoundRunner<ScalarOps>::run, nullptr}; }

}  // namespace tormid::bounds
