// What this CPU can run, probed once for every kernel family. Private to
// the engine.
#pragma once

namespace tormid {

struct CpuFeatures {
  bool avx2 = false;
  bool avx512f = false;
  bool avx512bw = false;
};

const CpuFeatures& cpu_features();

}  // namespace tormid
