// The coarse bound: ScoreBound's relaxed paths (see score_bound.cpp for
// why they bound align()'s score) for local alignments on bytes.
//
// With a local start and end, no opening below 0 and deletions of at least
// 0, every relaxed value that matters is at least 0: row 0 is free, column
// 0 lies below 0 (so a pairing out of it restarts, and a gap out of it is
// beaten by a restart), and the best end is never below 0. Clipping at 0
// only raises values. Scores are rounded up and penalties down to whole
// multiples of 1 / scale, exactly (fma tells the rounding of the product),
// so each path's integer value is at least scale times its real one. The
// kernels (coarse_kernel.h) say when no value was clipped at the top.
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "engine/coarse_kernel.h"
#include "engine/cpu.h"
#include "engine/engine_internal.h"

namespace tormid {

namespace {

// Units of the bytes that a value of `reach` plus the largest score may
// take: the rest of the 255 keeps the top check clear of it.
constexpr double kRoom = 250;
// Units of the largest score, rounded up: a signed byte holds it.
constexpr double kLargestUnits = 126;
// Below 2 units per unit of score, rounding lets so many chance sequences
// through that the pass costs more than it saves (real proteins against
// HMMER models: at 1 unit 24 to 86% of the pairs passed, at 2 units 3 to
// 27%, at 16 units 1%).
constexpr double kFinestUseless = 2;
constexpr double kFinest = 256;

std::vector<coarse::Kernel> supported_kernels() {
  std::vector<coarse::Kernel> list;
  const CpuFeatures& cpu = cpu_features();
  if (cpu.avx512bw && cpu.avx512vbmi && cpu.avx512vl && coarse::avx512_kernel()) list.push_back(*coarse::avx512_kernel());
  if (cpu.avx2 && coarse::avx2_kernel()) list.push_back(*coarse::avx2_kernel());
  list.push_back(coarse::scalar_kernel());
  return list;
}

const std::vector<coarse::Kernel>& kernel_list() {
  static const std::vector<coarse::Kernel> list = supported_kernels();
  return list;
}

// x * scale rounded up, or down, to a whole number, exactly.
double scaled_up(double x, double scale) {
  const double v = x * scale, up = std::ceil(v);
  return up == v && std::fma(x, scale, -v) > 0 ? up + 1 : up;
}
double scaled_down(double x, double scale) {
  const double v = x * scale, down = std::floor(v);
  return down == v && std::fma(x, scale, -v) < 0 ? down - 1 : down;
}

// A penalty of at most `units`, 0 to 127.
std::uint8_t penalty_byte(double units) { return static_cast<std::uint8_t>(std::clamp(units, 0.0, 127.0)); }

}  // namespace

struct CoarseBound::Tables {
  std::string kernel_name;
  coarse::Kernel kernel{};
  bool usable = false;
  double scale = 0;
  int prf = 0;
  double gain = 0;  // the largest score, for the rounding margin
  std::vector<std::uint8_t> scores;  // kTableBytes signed bytes per position
  std::uint8_t enter = 0, del_v = 0, del_h = 0;
};

std::vector<std::string> coarse_bound_kernels() {
  std::vector<std::string> names;
  for (const coarse::Kernel& k : kernel_list()) names.emplace_back(k.name);
  return names;
}

CoarseBound::CoarseBound(const Profile& profile, const Settings& settings, double reach, std::string_view kernel) {
  auto t = std::make_shared<Tables>();
  const auto& list = kernel_list();
  t->kernel = kernel_named(list, kernel, "coarse bound");
  t->kernel_name = t->kernel.name;
  t->prf = profile.length();

  const double open_seq = settings.gap_open_penalty_seq, open_prf = settings.gap_open_penalty_prf;
  const double del_seq = settings.deletion_penalty_seq, del_prf = settings.deletion_penalty_prf;
  const double largest = largest_score(profile);
  bool usable = settings.start == StartMode::local && settings.end == EndMode::local && t->prf > 0 &&
                modelled(open_seq) && modelled(open_prf) && modelled(del_seq) && modelled(del_prf) &&
                open_seq >= 0 && open_prf >= 0 && del_seq >= 0 && del_prf >= 0 && std::isfinite(reach);
  for (const ProfileRow& row : profile.rows())
    for (std::size_t c = 0; c < kAlphabetSize; ++c) usable = usable && modelled(row[c]);
  double scale = usable ? std::min(kFinest, kRoom / (std::fabs(reach) + largest)) : 0;
  if (largest > 0) scale = std::min(scale, kLargestUnits / largest);
  usable = usable && scale >= kFinestUseless;
  t->usable = usable;
  t->scale = scale;
  if (!usable) {
    tables_ = std::move(t);
    return;
  }
  t->gain = largest;
  // Scores as signed bytes: at most 127, as no score is above the largest;
  // at least -128, which only raises a score. Letters outside the alphabet
  // score 0.
  t->scores.assign(static_cast<std::size_t>(t->prf) * coarse::kTableBytes, 0);
  for (std::size_t k = 0; k < static_cast<std::size_t>(t->prf); ++k) {
    const ProfileRow& row = profile.rows()[k];
    for (std::size_t c = 0; c < kAlphabetSize; ++c) {
      const double units = std::clamp(scaled_up(row[c], scale), -128.0, 127.0);
      t->scores[k * coarse::kTableBytes + c] = static_cast<std::uint8_t>(static_cast<std::int8_t>(units));
    }
  }
  // Capped at 127: a lower penalty only raises values.
  t->enter = penalty_byte(std::min(scaled_down(open_seq, scale), scaled_down(open_prf, scale)));
  t->del_v = penalty_byte(scaled_down(del_prf, scale));
  t->del_h = penalty_byte(scaled_down(del_seq, scale));
  tables_ = std::move(t);
}

bool CoarseBound::usable() const { return tables_->usable; }
bool CoarseBound::pays_off() const { return tables_->usable && tables_->kernel.lanes > 1; }
const std::string& CoarseBound::kernel() const { return tables_->kernel_name; }
double CoarseBound::scale() const { return tables_->scale; }

void CoarseBound::bound_many(std::span<const std::string_view> sequences, std::span<double> bounds,
                             Workspace& workspace) const {
  const Tables& t = *tables_;
  if (sequences.size() != bounds.size()) throw std::invalid_argument("bound_many: as many bounds as sequences");
  Workspace::Impl& ws = workspace.impl();
  gather_for_batch(sequences, bounds, t.usable, ws);
  if (ws.bound_seqs.empty()) return;
  const std::size_t cells = static_cast<std::size_t>(t.prf) * static_cast<std::size_t>(t.kernel.lanes);
  ws.coarse_d.resize(cells);
  ws.coarse_x.resize(cells);
  ws.coarse_best.assign(ws.bound_seqs.size(), 0);

  coarse::Job job;
  job.prf = t.prf;
  job.scores = t.scores.data();
  job.count = static_cast<int>(ws.bound_seqs.size());
  job.seqs = ws.bound_seqs.data();
  job.lens = ws.bound_lens.data();
  job.code_of = residue_codes();
  job.enter = t.enter;
  job.del_v = t.del_v;
  job.del_h = t.del_h;
  job.d = ws.coarse_d.data();
  job.x = ws.coarse_x.data();
  job.best = ws.coarse_best.data();
  t.kernel.run(job);
  // Every value stays at most the largest M; below 255 none was clipped at
  // the top.
  const int top = 255;
  for (std::size_t n = 0; n < ws.bound_index.size(); ++n) {
    const std::size_t k = static_cast<std::size_t>(ws.bound_index[n]);
    const int best = ws.coarse_best[n];
    bounds[k] = best >= top ? std::numeric_limits<double>::infinity() : best / t.scale + rounding_margin(sequences[k].size(), t.prf, t.gain);
  }
}

}  // namespace tormid
