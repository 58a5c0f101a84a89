// Coarse kernel on plain bytes: one lane, on any CPU.
#include <algorithm>

#include "engine/coarse_kernel_impl.h"

namespace tormid::coarse {
namespace {

struct ScalarOps {
  static constexpr int W = 1;
  using V = std::uint8_t;
  static V set1(std::uint8_t v) { return v; }
  static V load(const std::uint8_t* p) { return *p; }
  static void store(std::uint8_t* p, V v) { *p = v; }
  static int value(V a) { return static_cast<std::int8_t>(a); }
  static V byte(int v) { return static_cast<V>(std::clamp(v, -128, 127)); }
  static V adds(V a, V b) { return byte(value(a) + value(b)); }
  static V subs(V a, V b) { return byte(value(a) - value(b)); }
  static V max(V a, V b) { return value(a) > value(b) ? a : b; }
  static V min(V a, V b) { return value(a) < value(b) ? a : b; }
  using Index = std::uint8_t;
  using Table = const std::uint8_t*;
  static Index index(const std::uint8_t* codes) { return *codes; }
  static Table table(const std::uint8_t* scores) { return scores; }
  static V lookup(Table t, Index code) { return t[code]; }
};

}  // namespace

Kernel scalar_kernel() { return {"scalar", CoarseBatch<ScalarOps>::W, &CoarseBatch<ScalarOps>::run,
          &ProfileLanes<ScalarOps>::run, &score_bytes}; }

}  // namespace tormid::coarse
