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
#include <numeric>
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

// x * scale rounded down to a whole number, exactly.
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

namespace {

// How a profile's scores and the penalties become bytes: CoarseBound's
// and CoarseBoundSet's rules.
struct CoarseScaling {
  bool usable = false;
  double scale = 0;
  double gain = 0;  // the largest score, for the rounding margin
  std::uint8_t enter = 0, del_v = 0, del_h = 0;
};

CoarseScaling coarse_scaling(const Profile& profile, const Settings& settings, double reach) {
  const double open_seq = settings.gap_open_penalty_seq, open_prf = settings.gap_open_penalty_prf;
  const double del_seq = settings.deletion_penalty_seq, del_prf = settings.deletion_penalty_prf;
  CoarseScaling c;
  bool usable = settings.start == StartMode::local && settings.end == EndMode::local && profile.length() > 0 &&
                modelled(open_seq) && modelled(open_prf) && modelled(del_seq) && modelled(del_prf) &&
                open_seq >= 0 && open_prf >= 0 && del_seq >= 0 && del_prf >= 0 && std::isfinite(reach);
  const double largest = profile.largest_score();
  usable = usable && modelled(profile.largest_magnitude());
  double scale = usable ? std::min(kFinest, kRoom / (std::fabs(reach) + largest)) : 0;
  if (largest > 0) scale = std::min(scale, kLargestUnits / largest);
  c.usable = usable && scale >= kFinestUseless;
  c.scale = scale;
  if (!c.usable) return c;
  c.gain = largest;
  // Capped at 127: a lower penalty only raises values.
  c.enter = penalty_byte(std::min(scaled_down(open_seq, scale), scaled_down(open_prf, scale)));
  c.del_v = penalty_byte(scaled_down(del_prf, scale));
  c.del_h = penalty_byte(scaled_down(del_seq, scale));
  return c;
}

// A score as a signed byte: at most 127, as no score is above the largest;
// at least -128, which only raises a score. Rounded up exactly (fma tells
// the rounding of the product), without std::ceil (a library call on
// baseline x86-64, and a library has millions of scores): within the
// bytes' range an integer conversion is exact.
std::uint8_t score_byte(double score, double scale) {
  const double v = std::min(std::max(score * scale, -129.0), 128.0);
  const int truncated = static_cast<int>(v);  // toward 0
  int up = truncated + static_cast<int>(truncated < v);
  if (up == v) up += static_cast<int>(std::fma(score, scale, -score * scale) > 0);
  return static_cast<std::uint8_t>(static_cast<std::int8_t>(std::clamp(up, -128, 127)));
}

// A profile's scores as bytes, row after row (kAlphabetSize each), on the
// kernel's vectors; the scores of a profile with whole products inside the
// range are rounded again one by one.
void profile_bytes(const coarse::Kernel& kernel, const Profile& profile, double scale, std::vector<std::uint8_t>& out) {
  const std::size_t count = static_cast<std::size_t>(profile.length()) * kAlphabetSize;
  out.resize(count);
  if (count == 0) return;
  const double* scores = profile.rows().front().data();
  static_assert(sizeof(ProfileRow) == kAlphabetSize * sizeof(double));
  if (kernel.score_bytes(scores, count, scale, out.data())) return;
  for (std::size_t i = 0; i < count; ++i) out[i] = score_byte(scores[i], scale);
}

}  // namespace

CoarseBound::CoarseBound(const Profile& profile, const Settings& settings, double reach, std::string_view kernel) {
  auto t = std::make_shared<Tables>();
  const auto& list = kernel_list();
  t->kernel = kernel_named(list, kernel, "coarse bound");
  t->kernel_name = t->kernel.name;
  t->prf = profile.length();
  const CoarseScaling c = coarse_scaling(profile, settings, reach);
  t->usable = c.usable;
  t->scale = c.scale;
  if (!c.usable) {
    tables_ = std::move(t);
    return;
  }
  t->gain = c.gain;
  t->enter = c.enter;
  t->del_v = c.del_v;
  t->del_h = c.del_h;
  // Letters outside the alphabet score 0.
  t->scores.assign(static_cast<std::size_t>(t->prf) * coarse::kTableBytes, 0);
  std::vector<std::uint8_t> bytes;
  profile_bytes(t->kernel, profile, c.scale, bytes);
  for (std::size_t k = 0; k < static_cast<std::size_t>(t->prf); ++k)
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(k * kAlphabetSize), kAlphabetSize,
                t->scores.begin() + static_cast<std::ptrdiff_t>(k * coarse::kTableBytes));
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

// Profiles of similar lengths share a group of lanes, so that few lanes
// run past their profile's end.
struct CoarseBoundSet::Tables {
  std::string kernel_name;
  coarse::Kernel kernel{};
  std::size_t size = 0;
  struct Member {
    std::size_t index;  // among the profiles given
    int prf;
    double scale, gain;
  };
  struct Group {
    int prf = 0;  // the longest member's positions
    // Per residue code, per position, one byte per lane (coarse::ProfilesJob).
    std::vector<std::uint8_t> scores;
    std::vector<std::uint8_t> enter, del_v, del_h;
    std::vector<Member> members;  // one per lane; the lanes past them are idle
  };
  std::vector<Group> groups;
};

CoarseBoundSet::CoarseBoundSet(std::span<const Profile> profiles, const Settings& settings,
                               std::span<const double> reaches, std::string_view kernel) {
  if (reaches.size() != profiles.size()) throw std::invalid_argument("CoarseBoundSet: a reach per profile");
  auto t = std::make_shared<Tables>();
  t->kernel = kernel_named(kernel_list(), kernel, "coarse bound");
  t->kernel_name = t->kernel.name;
  t->size = profiles.size();
  std::vector<std::size_t> usable;
  std::vector<CoarseScaling> scaling(profiles.size());
  for (std::size_t k = 0; k < profiles.size(); ++k) {
    scaling[k] = coarse_scaling(profiles[k], settings, reaches[k]);
    if (scaling[k].usable) usable.push_back(k);
  }
  std::stable_sort(usable.begin(), usable.end(),
                   [&](std::size_t a, std::size_t b) { return profiles[a].length() < profiles[b].length(); });
  const std::size_t lanes = static_cast<std::size_t>(t->kernel.lanes);
  std::vector<std::uint8_t> bytes;
  for (std::size_t first = 0; first < usable.size(); first += lanes) {
    Tables::Group g;
    const std::size_t count = std::min(lanes, usable.size() - first);
    for (std::size_t lane = 0; lane < count; ++lane) {
      const std::size_t k = usable[first + lane];
      g.members.push_back({k, profiles[k].length(), scaling[k].scale, scaling[k].gain});
      g.prf = std::max(g.prf, profiles[k].length());
    }
    const std::size_t prf = static_cast<std::size_t>(g.prf);
    // -128 past a profile's end (and in idle lanes): nothing pairs there.
    g.scores.assign(static_cast<std::size_t>(kCodes) * prf * lanes, 0x80);
    g.enter.assign(lanes, 0);
    g.del_v.assign(lanes, 0);
    g.del_h.assign(lanes, 0);
    for (std::size_t lane = 0; lane < count; ++lane) {
      const std::size_t k = g.members[lane].index;
      const CoarseScaling& c = scaling[k];
      g.enter[lane] = c.enter;
      g.del_v[lane] = c.del_v;
      g.del_h[lane] = c.del_h;
      const std::size_t length = static_cast<std::size_t>(profiles[k].length());
      profile_bytes(t->kernel, profiles[k], c.scale, bytes);
      for (std::size_t j = 0; j < length; ++j)
        for (std::size_t r = 0; r < kAlphabetSize; ++r) g.scores[(r * prf + j) * lanes + lane] = bytes[j * kAlphabetSize + r];
      std::uint8_t* outside = g.scores.data() + static_cast<std::size_t>(kOutsideCode) * prf * lanes + lane;
      for (std::size_t j = 0; j < length; ++j) outside[j * lanes] = 0;  // letters outside the alphabet score 0
    }
    t->groups.push_back(std::move(g));
  }
  tables_ = std::move(t);
}

std::size_t CoarseBoundSet::size() const { return tables_->size; }
bool CoarseBoundSet::pays_off() const { return tables_->kernel.lanes > 1; }
const std::string& CoarseBoundSet::kernel() const { return tables_->kernel_name; }

void CoarseBoundSet::bound(std::string_view sequence, std::span<double> bounds, Workspace& workspace) const {
  const Tables& t = *tables_;
  if (bounds.size() != t.size) throw std::invalid_argument("CoarseBoundSet::bound: a bound per profile");
  std::fill(bounds.begin(), bounds.end(), std::numeric_limits<double>::infinity());
  if (sequence.empty() || sequence.size() >= static_cast<std::size_t>(std::numeric_limits<int>::max())) return;
  Workspace::Impl& ws = workspace.impl();
  const std::size_t lanes = static_cast<std::size_t>(t.kernel.lanes);
  ws.coarse_best.resize(lanes);
  for (const Tables::Group& g : t.groups) {
    const std::size_t cells = static_cast<std::size_t>(g.prf) * lanes;
    if (ws.coarse_d.size() < cells) {
      ws.coarse_d.resize(cells);
      ws.coarse_x.resize(cells);
    }
    coarse::ProfilesJob job;
    job.prf = g.prf;
    job.scores = g.scores.data();
    job.enter = g.enter.data();
    job.del_v = g.del_v.data();
    job.del_h = g.del_h.data();
    job.seq = sequence.data();
    job.len = static_cast<int>(sequence.size());
    job.code_of = residue_codes();
    job.d = ws.coarse_d.data();
    job.x = ws.coarse_x.data();
    job.best = ws.coarse_best.data();
    t.kernel.run_profiles(job);
    for (std::size_t lane = 0; lane < g.members.size(); ++lane) {
      const Tables::Member& m = g.members[lane];
      const int best = ws.coarse_best[lane] ^ 0x80;
      bounds[m.index] = best >= 255 ? std::numeric_limits<double>::infinity()
                                    : best / m.scale + rounding_margin(sequence.size(), m.prf, m.gain);
    }
  }
}

}  // namespace tormid
