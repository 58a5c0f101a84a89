// Kernel choice, the workspace, and align(): the engine's entry point.
#include <stdexcept>

#include "engine/cpu.h"
#include "engine/engine_internal.h"

namespace tormid {

namespace {

const char kReference[] = "reference";

// The kernels this CPU runs, widest first.
std::vector<strips::Kernel> supported() {
  std::vector<strips::Kernel> list;
  const CpuFeatures& cpu = cpu_features();
  if (cpu.avx512f && strips::avx512_kernel()) list.push_back(*strips::avx512_kernel());
  if (cpu.avx2 && strips::avx2_kernel()) list.push_back(*strips::avx2_kernel());
  if (cpu.sse2 && strips::sse2_kernel()) list.push_back(*strips::sse2_kernel());
  if (cpu.neon && strips::neon_kernel()) list.push_back(*strips::neon_kernel());
  list.push_back(strips::scalar_kernel());
  return list;
}

const std::vector<strips::Kernel>& kernels() {
  static const std::vector<strips::Kernel> list = supported();
  return list;
}

std::vector<strips::QuickKernel> supported_quick() {
  std::vector<strips::QuickKernel> list;
  const CpuFeatures& cpu = cpu_features();
  if (cpu.avx512f && strips::quick_avx512_kernel()) list.push_back(*strips::quick_avx512_kernel());
  if (cpu.avx2 && strips::quick_avx2_kernel()) list.push_back(*strips::quick_avx2_kernel());
  if (cpu.sse2 && strips::quick_sse2_kernel()) list.push_back(*strips::quick_sse2_kernel());
  if (cpu.neon && strips::quick_neon_kernel()) list.push_back(*strips::quick_neon_kernel());
  list.push_back(strips::quick_scalar_kernel());
  return list;
}

// The quick kernel of an instruction set by name; the plain one for the
// reference engine.
const strips::QuickKernel* quick_kernel_named(std::string_view name) {
  static const std::vector<strips::QuickKernel> list = supported_quick();
  for (const strips::QuickKernel& k : list)
    if (name == k.name) return &k;
  return &list.back();
}

// The short kernels this CPU runs, widest first; AVX-512's needs BW.
std::vector<strips::ShortKernel> supported_short() {
  std::vector<strips::ShortKernel> list;
  const CpuFeatures& cpu = cpu_features();
  if (cpu.avx512bw && strips::short_avx512_kernel()) list.push_back(*strips::short_avx512_kernel());
  if (cpu.avx2 && strips::short_avx2_kernel()) list.push_back(*strips::short_avx2_kernel());
  if (cpu.sse2 && strips::short_sse2_kernel()) list.push_back(*strips::short_sse2_kernel());
  if (cpu.neon && strips::short_neon_kernel()) list.push_back(*strips::short_neon_kernel());
  list.push_back(strips::short_scalar_kernel());
  return list;
}

// The short kernel for a workspace of the named instruction set: its own,
// or where it has none (AVX-512F alone) the widest narrower one; the plain
// one for the reference engine and plain strips.
const strips::ShortKernel* short_kernel_named(std::string_view name) {
  static const std::vector<strips::ShortKernel> list = supported_short();
  static const std::string_view widest_first[] = {"avx512", "avx2", "sse2", "neon", "scalar"};
  bool reached = false;
  for (const std::string_view isa : widest_first) {
    reached |= isa == name;
    if (!reached) continue;
    for (const strips::ShortKernel& k : list)
      if (isa == k.name) return &k;
  }
  return &list.back();
}

}  // namespace

std::vector<std::string> engine_kernels() {
  std::vector<std::string> names;
  for (const strips::Kernel& k : kernels()) names.emplace_back(k.name);
  return names;
}

std::vector<std::string> engine_kernel_heights() {
  std::vector<std::string> names;
  for (const strips::Kernel& k : kernels())
    if (k.shorter)
      for (const strips::Kernel* h = &k; h; h = h->shorter) names.push_back(std::string(k.name) + "/" + std::to_string(h->lanes));
  return names;
}

const strips::QuickKernel& quick_kernel_for(const Workspace::Impl& ws, int prf) {
  return strips::for_profile(*ws.quick, prf);
}

const strips::Kernel& strip_kernel_for(const Workspace::Impl& ws, int prf) {
  return ws.fixed_height ? ws.kernel : strips::for_profile(ws.kernel, prf);
}

Workspace::Workspace() : Workspace(kernels().front().name) {}

Workspace::Workspace(std::string_view kernel) : impl_(std::make_unique<Impl>()) {
  impl_->name = kernel;
  impl_->quick = quick_kernel_named("scalar");
  impl_->short_kernel = short_kernel_named("scalar");
  const auto choose_short = [this](std::string_view isa) {
    impl_->short_kernel = short_kernel_named(isa);
    impl_->quick_batch = quick_batch_kernel(impl_->short_kernel->name);
    const strips::LanesKernel* lanes = strips::lanes_avx512_kernel();
    impl_->quick_lanes = lanes && cpu_features().avx512f && isa == lanes->name ? lanes : nullptr;
    const strips::ExactLanesKernel* exact = strips::exact_lanes_avx512_kernel();
    impl_->exact_lanes = exact && cpu_features().avx512f && isa == exact->name ? exact : nullptr;
  };
  if (kernel == kReference) {
    impl_->reference = true;
    return;
  }
  for (const strips::Kernel& k : kernels()) {
    impl_->quick = quick_kernel_named(k.name);
    choose_short(k.name);
    if (kernel == k.name) {
      impl_->kernel = k;
      return;
    }
    for (const strips::Kernel* h = k.shorter ? &k : nullptr; h; h = h->shorter)
      if (kernel == std::string(k.name) + "/" + std::to_string(h->lanes)) {
        impl_->kernel = *h;
        impl_->fixed_height = true;
        return;
      }
  }
  throw std::invalid_argument("no engine kernel named '" + std::string(kernel) + "' on this CPU");
}

Workspace::~Workspace() = default;
Workspace::Workspace(Workspace&&) noexcept = default;
Workspace& Workspace::operator=(Workspace&&) noexcept = default;

const std::string& Workspace::kernel() const { return impl_->name; }

Alignment align(const Profile& profile, const Settings& settings, std::string_view sequence,
                Workspace& workspace, Detail detail) {
  Workspace::Impl& ws = workspace.impl();
  // An empty sequence or profile has no strips to run; the plain engine
  // answers it directly.
  if (ws.reference || sequence.empty() || profile.length() == 0)
    return align_reference(profile, settings, sequence, ws, detail);
  return align_fast(profile, settings, sequence, ws, detail);
}

}  // namespace tormid
