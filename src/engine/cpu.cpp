#include "engine/cpu.h"

namespace tormid {

namespace {

CpuFeatures probe() {
  CpuFeatures f;
#if defined(__x86_64__) && defined(__GNUC__)
  __builtin_cpu_init();
  f.avx2 = __builtin_cpu_supports("avx2");
  f.avx512f = __builtin_cpu_supports("avx512f");
  f.avx512bw = __builtin_cpu_supports("avx512bw");
#endif
  return f;
}

}  // namespace

const CpuFeatures& cpu_features() {
  static const CpuFeatures features = probe();
  return features;
}

}  // namespace tormid
