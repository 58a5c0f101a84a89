#include "engine/cpu.h"

#include <array>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/engine.h"

namespace tormid {

namespace {

// Instruction sets from the widest down; neon stands apart (ARM).
constexpr std::array<std::string_view, 5> kIsaNames = {"avx512", "avx2", "sse2", "neon", "scalar"};

CpuFeatures probe_cpu() {
  CpuFeatures f;
#if defined(__x86_64__) && defined(__GNUC__)
  __builtin_cpu_init();
  f.sse2 = true;  // every x86-64 CPU
  f.avx2 = __builtin_cpu_supports("avx2");
  f.avx512f = __builtin_cpu_supports("avx512f");
  f.avx512bw = __builtin_cpu_supports("avx512bw");
  f.avx512vbmi = __builtin_cpu_supports("avx512vbmi");
  f.avx512vl = __builtin_cpu_supports("avx512vl");
#elif defined(__aarch64__)
  f.neon = true;  // every AArch64 CPU
#endif
  return f;
}

// The widest instruction set of these features, by its TORMID_ISA name.
std::string_view widest(const CpuFeatures& f) {
  if (f.avx512f) return "avx512";
  if (f.avx2) return "avx2";
  if (f.sse2) return "sse2";
  if (f.neon) return "neon";
  return "scalar";
}

struct Probed {
  CpuFeatures features;
  IsaCap cap;
};

Probed probe() {
  Probed p;
  CpuFeatures& f = p.features;
  f = probe_cpu();
  const char* value = std::getenv("TORMID_ISA");
  if (!value || !*value) return p;  // unset, or set to nothing
  const std::string_view wanted = value;
  p.cap.requested = wanted;
  bool known = false;
  for (const std::string_view name : kIsaNames) known |= name == wanted;
  if (!known) {
    p.cap.refused = true;
    p.cap.problem = "TORMID_ISA=" + std::string(wanted) + " is not an instruction set tormid knows: avx512, avx2, "
                    "sse2, neon or scalar";
    return p;
  }
  const bool has = wanted == "scalar" || (wanted == "sse2" && f.sse2) || (wanted == "avx2" && f.avx2) ||
                   (wanted == "avx512" && f.avx512f) || (wanted == "neon" && f.neon);
  if (!has) {
    // Below what was asked for, the widest this CPU has.
    p.cap.problem = "TORMID_ISA=" + std::string(wanted) + ": this CPU has no " + std::string(wanted) + "; using " +
                    std::string(widest(f));
    if (wanted == "neon" || wanted == "avx512") return p;  // nothing wider to take away
  }
  if (wanted != "avx512") f.avx512f = f.avx512bw = f.avx512vbmi = f.avx512vl = false;
  if (wanted != "avx512" && wanted != "avx2") f.avx2 = false;
  if (wanted == "scalar") f.sse2 = f.neon = false;
  return p;
}

const Probed& probed() {
  static const Probed p = probe();
  return p;
}

}  // namespace

const CpuFeatures& cpu_features() { return probed().features; }

const IsaCap& isa_cap() { return probed().cap; }

std::string kernels_line() {
  return "kernels: " + bound_kernels().front() + " (bound), " + engine_kernels().front() + " (exact)";
}

}  // namespace tormid
