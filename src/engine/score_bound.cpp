// An upper bound on align()'s score, and why it holds.
//
// 1. What align() computes. Every cell takes the value of one move out of
//    a neighbour (the neighbour's value plus that move's cost), so the
//    score is the value of one path, summed move by move from its source:
//    cell (0, 0) at 0.0, a row-0 or column-0 cell at its edge value, or,
//    with a local start, a restarted cell at 0.0. A pairing earns the
//    position's score for the residue (0.0 outside the alphabet); a gap
//    move costs its deletion penalty, plus its side's opening penalty for
//    the first move of that side in a stretch (the moves between two
//    pairings). A stretch out of a restarted cell pays no opening; the
//    first vertical move out of row 0 and the first horizontal move out of
//    column 0 pay theirs. So a stretch pays at most one opening per side.
//    Which moves the cells choose (ties, the order of the rule) does not
//    matter below: only that the score is such a path's value.
//
// 2. The relaxed costs. Let L = min(open_seq, open_prf, open_seq +
//    open_prf), no more than whatever openings a stretch pays when it is
//    not out of a restart. Consider all paths under these costs: pairing
//    as above; the first gap move out of a pairing pays L plus its
//    deletion; a gap move continuing a stretch pays its deletion only; any
//    cell may restart at 0 with a local start; a vertical move out of row 0
//    earns back max(0, -open_prf) and a horizontal move out of column 0
//    max(0, -open_seq) (the opening the edge value may have charged, or a
//    bonus align() would add). Every path costs no more here than under
//    align()'s rule, so the best relaxed value at an end cell is at least
//    align()'s score there. Two states per cell follow the best relaxed
//    paths: M (ends in a pairing) and G (ends in a gap move or restart).
//
// 3. The integers. Scaled by a power of two, so that scale * x is exact:
//    scores are rounded up (ceil), penalties and L down (floor), edge
//    values computed from the rounded penalties; each relaxed path's
//    integer value is then at least scale times its real value. Saturating
//    adds and subtracts clip at -32768, which only raises a value; a value
//    clipped at +32767 is lost, so a kernel that met 32767 in any D or X
//    (every M and G, and M - L, lands in one of them) gives +infinity.
//    Deletion penalties must be >= 0 for the horizontal correction pass to
//    settle, and L >= -8192 keeps the edge values inside the range.
//
// 4. The ends. Global: the last cell, whatever its state. Free ends: the
//    best M of the cells they allow, and never below kScoreFloor (align()'s
//    score when no pairing qualified). A local start lets a pairing cell
//    restart at 0.0 and still offer itself, so the bound is never below 0.
//
// 5. Rounding. align() adds in doubles; its score can exceed the real value
//    of its path by the rounding of each operation, at most 2^-53 of the
//    magnitudes on the path per operation (three per move). Those
//    magnitudes stay below 2^21 plus the largest gain per move times the
//    moves left, unless the score is itself far below any bound returned
//    here (from a magnitude below 2^20, no path climbs back). The margin
//    added is 2^-48 (N + 1) (2^21 + g (N + 1)) for N = len + prf moves and
//    gain g per move: about 1e-5 for a thousand residues.
#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <stdexcept>

#include "engine/bound_kernel.h"
#include "engine/cpu.h"
#include "engine/engine_internal.h"

namespace tormid {

namespace {

std::vector<bounds::Kernel> supported_bounds() {
  std::vector<bounds::Kernel> list;
  const CpuFeatures& cpu = cpu_features();
  if (cpu.avx512bw && cpu.avx512vl && bounds::avx512_kernel()) list.push_back(*bounds::avx512_kernel());
  if (cpu.avx2 && bounds::avx2_kernel()) list.push_back(*bounds::avx2_kernel());
  if (cpu.sse2 && bounds::sse2_kernel()) list.push_back(*bounds::sse2_kernel());
  if (cpu.neon && bounds::neon_kernel()) list.push_back(*bounds::neon_kernel());
  list.push_back(bounds::scalar_kernel());
  return list;
}

const std::vector<bounds::Kernel>& bound_kernel_list() {
  static const std::vector<bounds::Kernel> list = supported_bounds();
  return list;
}

// scale * x rounded down (and, in the constructor, up); exact for a
// power-of-two scale unless the product falls among the subnormals, which
// the correction covers.
std::int64_t scaled_floor(double x, double scale) {
  double v = std::floor(x * scale);
  if (v / scale > x) v -= 1;
  return static_cast<std::int64_t>(v);
}

// ceil(x) for |x| <= 2^52 through the integers, which every x86-64 has
// (std::ceil is a library call without SSE4.1).
double ceil_small(double x) {
  const double t = static_cast<double>(static_cast<std::int64_t>(x));
  return t < x ? t + 1 : t;
}

bool is_power_of_two_scale(double scale) {
  int exponent = 0;
  return std::frexp(scale, &exponent) == 0.5 && exponent >= -3 && exponent <= 11;
}

}  // namespace

const bounds::Kernel* quick_batch_kernel(std::string_view short_kernel) {
  // The short strip kernels are named by instruction set; AVX-512's needs
  // BW, as the bound's does.
  const std::string_view name = short_kernel == "avx512" ? "avx512bw" : short_kernel;
  for (const bounds::Kernel& k : bound_kernel_list())
    if (name == k.name) return k.run_quick ? &k : nullptr;
  return nullptr;
}

// See 5. above.
double rounding_margin(std::size_t len, int prf, double gain) {
  const double moves = static_cast<double>(len) + prf + 1;
  return std::ldexp(moves * (2097152.0 + gain * moves), -48);
}

void gather_for_batch(std::span<const std::string_view> sequences, std::span<double> bounds, bool usable,
                      Workspace::Impl& ws) {
  ws.bound_seqs.clear();
  ws.bound_lens.clear();
  ws.bound_index.clear();
  for (std::size_t k = 0; k < sequences.size(); ++k) {
    const std::string_view s = sequences[k];
    if (!usable || s.empty() || s.size() >= static_cast<std::size_t>(std::numeric_limits<int>::max())) {
      bounds[k] = std::numeric_limits<double>::infinity();
      continue;
    }
    ws.bound_seqs.push_back(s.data());
    ws.bound_lens.push_back(static_cast<int>(s.size()));
    ws.bound_index.push_back(static_cast<int>(k));
  }
}

struct ScoreBound::Tables {
  std::string kernel_name;
  bounds::Kernel kernel{};
  double scale = 1;
  bool usable = false;
  int prf = 0;
  int segments = 0;
  // Per position the 32 scores by code, and row 0 in position order.
  std::vector<std::int16_t> columns, row0_plain_d, row0_plain_x;
  // The same striped for the kernel along the profile, built when first
  // needed (many sequences at once never need them).
  mutable std::once_flag striped_once;
  mutable std::vector<std::int16_t> scores;          // kCodes blocks
  mutable std::vector<std::int16_t> row0_d, row0_x;
  std::int16_t enter = 0, del_v = 0, del_h = 0;
  std::int16_t col0_first = 0, col0_step = 0, col0_bonus = 0;
  bool local_start = false;
  bounds::End end = bounds::End::last_cell;
  double gain = 0;  // the largest a single move can add, for the margin

  // What both kinds of kernel job take alike: the costs and the rules.
  template <class Job>
  void set_costs(Job& job) const {
    job.code_of = residue_codes();
    job.enter = enter;
    job.del_v = del_v;
    job.del_h = del_h;
    job.local_start = local_start;
    job.end = end;
    job.col0_first = col0_first;
    job.col0_step = col0_step;
    job.col0_bonus = col0_bonus;
  }

  // A job of many sequences at once over those gather_for_batch() left in
  // the workspace, with its work space and results set up there.
  bounds::BatchJob batch_job(Workspace::Impl& ws) const {
    const std::size_t cells = static_cast<std::size_t>(prf) * bounds::kBatchLanes;
    ws.bound_d.assign(cells, bounds::kLow);
    ws.bound_x.assign(cells, bounds::kLow);
    ws.bound_best.assign(ws.bound_seqs.size(), bounds::kLow);
    ws.bound_top.assign(ws.bound_seqs.size(), bounds::kLow);
    bounds::BatchJob job;
    job.prf = prf;
    job.columns = columns.data();
    job.count = static_cast<int>(ws.bound_seqs.size());
    job.seqs = ws.bound_seqs.data();
    job.lens = ws.bound_lens.data();
    set_costs(job);
    job.row0_d = row0_plain_d.data();
    job.row0_x = row0_plain_x.data();
    job.d = ws.bound_d.data();
    job.x = ws.bound_x.data();
    job.best = ws.bound_best.data();
    job.top = ws.bound_top.data();
    return job;
  }

  // Lane l of vector k holds position l * segments + k.
  void stripe() const {
    std::call_once(striped_once, [this] {
      const std::size_t width = static_cast<std::size_t>(kernel.width), lanes = bounds::kBatchLanes;
      const std::size_t block = static_cast<std::size_t>(segments) * width;
      scores.assign(kCodes * block, bounds::kLow);
      row0_d.assign(block, bounds::kLow);
      row0_x.assign(block, bounds::kLow);
      for (std::size_t k = 0; k < static_cast<std::size_t>(prf); ++k) {
        const std::size_t slot = k % static_cast<std::size_t>(segments) * width + k / static_cast<std::size_t>(segments);
        for (std::size_t c = 0; c < kCodes; ++c) scores[c * block + slot] = columns[k * lanes + c];
        row0_d[slot] = row0_plain_d[k];
        row0_x[slot] = row0_plain_x[k];
      }
    });
  }

  // The bound from a kernel's integers (see 3. to 5. above).
  double finish(std::int16_t best, std::int16_t top, std::size_t len) const {
    if (top >= bounds::kHigh) return std::numeric_limits<double>::infinity();  // a value may have been clipped
    double value = best / scale;
    if (local_start) value = std::max(value, 0.0);
    if (end != bounds::End::last_cell) value = std::max(value, kScoreFloor);
    return value + rounding_margin(len, prf, gain);
  }
};

std::vector<std::string> bound_kernels() {
  std::vector<std::string> names;
  for (const bounds::Kernel& k : bound_kernel_list()) names.emplace_back(k.name);
  return names;
}

double bound_scale(const Profile& profile, double lowest, double highest) {
  const double spare = 2 * profile.largest_score() + 8;
  const double above = std::max(0.0, highest) + spare, below = std::max(0.0, -lowest) + spare;
  double scale = 1024;
  while (scale > 1.0 / 16 && (scale * above > 16384 || scale * below > 32767)) scale /= 2;
  return scale;
}

ScoreBound::ScoreBound(const Profile& profile, const Settings& settings, double scale, std::string_view kernel,
                       BoundReach reach) {
  auto t = std::make_shared<Tables>();
  if (!is_power_of_two_scale(scale))
    throw std::invalid_argument("bound scale must be a power of two from 1/16 to 1024");
  const auto& list = bound_kernel_list();
  t->kernel = kernel_named(list, kernel, "bound");
  t->kernel_name = t->kernel.name;
  t->scale = scale;
  t->prf = profile.length();

  const double open_seq = settings.gap_open_penalty_seq, open_prf = settings.gap_open_penalty_prf;
  const double del_seq = settings.deletion_penalty_seq, del_prf = settings.deletion_penalty_prf;
  bool usable = modelled(open_seq) && modelled(open_prf) && modelled(del_seq) && modelled(del_prf) &&
                del_seq >= 0 && del_prf >= 0 && t->prf > 0;
  // Scores in position order, rounded up (the batch kernels read them so;
  // stripe() lays them out for the kernels along the profile), in one pass
  // that also tells whether the integers hold them. As in scaled_floor();
  // 1 / scale is exact too.
  const std::size_t positions = static_cast<std::size_t>(t->prf);
  const std::size_t lanes = bounds::kBatchLanes;
  const double inverse = 1 / scale;
  double largest = 0;
  t->columns.assign(positions * lanes, bounds::kLow);
  for (std::size_t k = 0; k < positions; ++k) {
    const ProfileRow& row = profile.rows()[k];
    std::int16_t* column = t->columns.data() + k * lanes;
    bool fits = true;
    for (std::size_t c = 0; c < kAlphabetSize; ++c) {
      const double s = row[c];
      const bool modelled_score = std::fabs(s) <= kLargestModelled;
      double up = ceil_small(modelled_score ? s * scale : 0.0);
      if (up * inverse < s) up += 1;
      fits &= modelled_score && up <= bounds::kHigh;
      largest = std::max(largest, s);
      column[c] = static_cast<std::int16_t>(up >= bounds::kHigh ? bounds::kHigh : (up > bounds::kLow ? up : bounds::kLow));
    }
    column[kAlphabetSize] = 0;  // letters outside the alphabet score 0.0
    usable &= fits;
  }
  const std::int64_t o_seq = usable ? scaled_floor(open_seq, scale) : 0;
  const std::int64_t o_prf = usable ? scaled_floor(open_prf, scale) : 0;
  const std::int64_t enter = std::min({o_seq, o_prf, o_seq + o_prf});
  if (enter < -8192) usable = false;
  t->usable = usable;
  if (!usable) {
    t->columns.clear();
    tables_ = std::move(t);
    return;
  }
  auto penalty = [&](double p) {
    return static_cast<std::int16_t>(std::min<std::int64_t>(scaled_floor(p, scale), bounds::kHigh));
  };
  t->enter = static_cast<std::int16_t>(std::min<std::int64_t>(enter, bounds::kHigh));
  t->del_v = penalty(del_prf);
  t->del_h = penalty(del_seq);
  t->gain = largest + std::max(0.0, -open_seq) + std::max(0.0, -open_prf);

  EdgeRules edges = edge_rules(settings.start);
  // A stretch's path starts where the sequence's may, or (its row 0 being
  // the row above the stretch) at column 0 of any row: with column 0 free
  // the relaxed paths take both, and a free edge only raises values.
  if (reach == BoundReach::stretches) edges.free_col0 = true;
  t->local_start = edges.local_start;
  switch (settings.end) {
    case EndMode::global: t->end = bounds::End::last_cell; break;
    case EndMode::local: t->end = bounds::End::anywhere; break;
    case EndMode::prf_free: t->end = bounds::End::last_column; break;
    case EndMode::seq_free: t->end = bounds::End::last_row; break;
  }

  // Row 0 in position order.
  auto clip = [](std::int64_t v) {
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, bounds::kLow, bounds::kHigh));
  };
  // Deletions are clipped at kHigh: the edge values stay upper bounds.
  const std::int64_t d_seq = t->del_h, d_prf = t->del_v;
  const std::int64_t bonus_prf = std::max<std::int64_t>(0, -o_prf), bonus_seq = std::max<std::int64_t>(0, -o_seq);
  t->row0_plain_d.resize(positions);
  t->row0_plain_x.resize(positions);
  for (std::size_t k = 0; k < positions; ++k) {
    const std::int64_t edge = edges.free_row0 ? 0 : -(o_seq + static_cast<std::int64_t>(k + 1) * d_seq);
    t->row0_plain_d[k] = clip(edge);
    t->row0_plain_x[k] = clip(edge + bonus_prf);
  }
  // Column 0 as the kernels step down it: 0, then -(open + deletion) in
  // row 1, one deletion more per row after. A drop clipped at kHigh only
  // raises the values.
  t->col0_first = clip(edges.free_col0 ? 0 : o_prf + d_prf);
  t->col0_step = clip(edges.free_col0 ? 0 : d_prf);
  t->col0_bonus = clip(bonus_seq);

  const std::size_t width = static_cast<std::size_t>(t->kernel.width);
  t->segments = static_cast<int>((positions + width - 1) / width);
  tables_ = std::move(t);
}

bool ScoreBound::usable() const { return tables_->usable; }
bool ScoreBound::pays_off() const {
  // Below four vectors per row the correction pass and the per-row work
  // of a kernel along the profile cost as much as align() (bench/engine_bench).
  return tables_->usable && (tables_->kernel.run_batch || tables_->segments >= 4);
}
const std::string& ScoreBound::kernel() const { return tables_->kernel_name; }
double ScoreBound::scale() const { return tables_->scale; }

double ScoreBound::bound(std::string_view sequence, Workspace& workspace) const {
  constexpr double kUnknown = std::numeric_limits<double>::infinity();
  const Tables& t = *tables_;
  if (!t.usable || sequence.empty() || sequence.size() >= static_cast<std::size_t>(std::numeric_limits<int>::max()))
    return kUnknown;
  t.stripe();
  Workspace::Impl& ws = workspace.impl();
  ws.bound_d.assign(t.row0_d.begin(), t.row0_d.end());
  ws.bound_x.assign(t.row0_x.begin(), t.row0_x.end());

  bounds::Job job;
  job.len = static_cast<int>(sequence.size());
  job.prf = t.prf;
  job.segments = t.segments;
  job.scores = t.scores.data();
  job.seq = sequence.data();
  t.set_costs(job);
  job.d = ws.bound_d.data();
  job.x = ws.bound_x.data();
  t.kernel.run(job);
  return t.finish(job.best, job.top, sequence.size());
}

void ScoreBound::bound_many(std::span<const std::string_view> sequences, std::span<double> bounds,
                            Workspace& workspace) const {
  const Tables& t = *tables_;
  if (sequences.size() != bounds.size()) throw std::invalid_argument("bound_many: as many bounds as sequences");
  // A few sequences would leave most lanes of a batch idle: along the
  // profile, each fills every lane (bench/engine_bench).
  const bool few = 2 * sequences.size() < bounds::kBatchLanes && t.segments >= 2;
  if (!t.usable || !t.kernel.run_batch || few) {
    for (std::size_t k = 0; k < sequences.size(); ++k) bounds[k] = bound(sequences[k], workspace);
    return;
  }
  Workspace::Impl& ws = workspace.impl();
  gather_for_batch(sequences, bounds, true, ws);
  if (ws.bound_seqs.empty()) return;
  bounds::BatchJob job = t.batch_job(ws);
  t.kernel.run_batch(job);
  for (std::size_t n = 0; n < ws.bound_index.size(); ++n)
    bounds[static_cast<std::size_t>(ws.bound_index[n])] =
        t.finish(ws.bound_best[n], ws.bound_top[n], sequences[static_cast<std::size_t>(ws.bound_index[n])].size());
}

// ---- Suffix bound ----------------------------------------------------------
//
// Why the gains hold. Reversing the sequence and the profile turns a path
// from cell (r, j) to an end in the last column (reached by a pairing, in
// any row below) into a path from column 0 of some row of the reversed
// matrix (free, as with StartMode::prf_free) to its cell (len - r, prf - j):
// the same moves, with the same scores and penalties, taken backwards. So
// the reversed bound's D there is at least the relaxed value of every such
// path (1. to 3. above), with one difference: it charges L to a gap
// stretch that ends in that cell, where align() may charge the path's first
// stretch nothing (the stretch may continue one that runs into (r, j)).
// Adding max(0, L) back, and the rounding margin of 5., gives at least what
// align()'s path out of the cell adds. A path out of column prf adds
// nothing that ends (0.0 is above it). An alignment that starts below row r
// starts at column 0 of a row i > r, whose gain is D at the reversed
// profile's last position in row len - i: a position of zeros after it
// passes that D on diagonally, so the best end in the extra last column up
// to row len - r is the largest of them.

namespace {

Profile reversed_with_zeros(const Profile& profile) {
  std::vector<ProfileRow> rows(profile.rows().rbegin(), profile.rows().rend());
  rows.push_back(ProfileRow{});
  return Profile(std::move(rows));
}

}  // namespace

SuffixBound::SuffixBound(const Profile& profile, const Settings& settings, double scale)
    : prf_(profile.length()), reversed_(reversed_with_zeros(profile)), bound_(reversed_, settings, scale) {
  usable_ = prf_ > 0 && bound_.usable() && bound_.tables_->kernel.run_batch &&
            settings.start == StartMode::prf_free && settings.end == EndMode::prf_free;
}

void SuffixBound::gains(std::span<const std::string_view> sequences, int every, Workspace& workspace,
                        std::vector<SuffixGains>& out) const {
  out.assign(sequences.size(), {});
  if (!usable_ || every <= 0) return;
  const ScoreBound::Tables& t = *bound_.tables_;
  Workspace::Impl& ws = workspace.impl();
  std::vector<std::string> reversed;
  std::vector<std::string_view> views;
  reversed.reserve(sequences.size());  // the views stay on their letters
  for (const std::string_view s : sequences) {
    reversed.emplace_back(s.rbegin(), s.rend());
    views.emplace_back(reversed.back());
  }
  std::vector<double> unused(sequences.size());
  gather_for_batch(views, unused, true, ws);
  const std::size_t count = ws.bound_seqs.size();
  if (count == 0) return;
  // Room for every copy the kernel may make, straight in the gains.
  const auto width = static_cast<std::size_t>(prf_);
  std::vector<std::int16_t*> d_at(count), start_at(count);
  std::vector<int*> rows_at(count);
  std::vector<int> copies(count, 0);
  for (std::size_t n = 0; n < count; ++n) {
    SuffixGains& g = out[static_cast<std::size_t>(ws.bound_index[n])];
    const std::size_t most = static_cast<std::size_t>(ws.bound_lens[n] / every);
    g.d.resize(most * width);
    g.start.resize(most);
    g.rows.resize(most);
    d_at[n] = g.d.data();
    start_at[n] = g.start.data();
    rows_at[n] = g.rows.data();
  }

  bounds::BatchJob job = t.batch_job(ws);
  job.emit_every = every;
  job.emit_width = prf_;
  job.emit_d = d_at.data();
  job.emit_ends = start_at.data();
  job.emit_rows = rows_at.data();
  job.emit_count = copies.data();
  t.kernel.run_batch(job);

  // The copies came in the reversed sequence's row order: each is the row
  // len minus that of the sequence, so the rows descend.
  for (std::size_t n = 0; n < count; ++n) {
    SuffixGains& g = out[static_cast<std::size_t>(ws.bound_index[n])];
    if (ws.bound_top[n] >= bounds::kHigh) {  // a value may have been clipped
      g = {};
      continue;
    }
    const int len = ws.bound_lens[n];
    const auto kept = static_cast<std::size_t>(copies[n]);
    g.rows.resize(kept);
    g.d.resize(kept * width);
    g.start.resize(kept);
    for (int& row : g.rows) row = len - row;
    g.unit = 1 / t.scale;
    g.added = rounding_margin(static_cast<std::size_t>(len), t.prf, t.gain);
    g.waiver = std::max<double>(0, t.enter) / t.scale;
  }
}

}  // namespace tormid
