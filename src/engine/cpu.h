// What this CPU can run, probed once for every kernel family, capped by
// the environment variable TORMID_ISA. Private to the engine.
#pragma once

namespace tormid {

struct CpuFeatures {
  bool sse2 = false;
  bool neon = false;
  bool avx2 = false;
  bool avx512f = false;
  bool avx512bw = false;
  bool avx512vbmi = false;  // byte lookups across a whole vector
  bool avx512vl = false;    // AVX-512 instructions on 256-bit vectors
};

// The features the kernels may use: what the CPU has, at most what
// TORMID_ISA allows.
const CpuFeatures& cpu_features();

}  // namespace tormid
