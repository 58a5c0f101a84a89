// The vectorised engine. The strip kernels fill the matrix; this file hands
// them the problem, picks the end point and walks the 2-bit traceback back
// to the alignment.
#include <algorithm>
#include <climits>
#include <cmath>
#include <new>
#include <optional>
#include <stdexcept>

#include "engine/alignment_walk.h"
#include "engine/bound_kernel.h"
#include "engine/engine_internal.h"

namespace tormid {

namespace {

// How many times as many cells per second the lanes of many float
// sequences run as one sequence's strips, all lanes busy (bench/
// engine_bench, profiles of 100 to 1,000 positions, AVX-512); the 16-bit
// lanes' gain is their kernel's (bounds::Kernel::quick_gain). A sequence
// that would run while fewer lanes than that share of them are busy is
// faster in strips.
constexpr double kFloatLanesGain = 2.0;
// The same for align()'s scores on doubles (real proteins against 8
// models, free at the sequence's ends: 3.1 against 1.9 billion cells per
// second).
constexpr double kExactLanesGain = 1.6;
// The lanes' schedule is planned for this many sequences at a time.
constexpr std::size_t kPlannedTogether = 1024;
// The most memory a pass keeps for the moves of a whole sequence.
constexpr std::size_t kMostKeptMoves = std::size_t{256} << 20;

// The moves of the cells, as the kernel stored them: per strip of `lanes`
// rows, per anti-diagonal step, two planes of one bit per lane.
class TraceView {
 public:
  TraceView(const std::uint8_t* data, int lanes, int prf)
      : data_(data), lanes_(lanes), plane_bytes_(lanes / 8),
        per_strip_(strips::trace_bytes_per_strip(lanes, prf)) {}

  unsigned move(int row, int col) const {
    const int lane = (row - 1) % lanes_;
    const std::size_t step = static_cast<std::size_t>(col + lane - 1);
    const std::uint8_t* p = data_ + static_cast<std::size_t>((row - 1) / lanes_) * per_strip_ +
                            step * 2 * static_cast<std::size_t>(plane_bytes_) +
                            static_cast<std::size_t>(lane / 8);
    const unsigned a = (p[0] >> (lane % 8)) & 1u;
    const unsigned b = (p[plane_bytes_] >> (lane % 8)) & 1u;
    return a ? (b ? strips::kRestart : strips::kDiagonal) : (b ? strips::kUp : strips::kLeft);
  }

  // The first paired cell met walking back from (row, col) along the moves,
  // or (0, 0) when the path reaches the border or a restart first.
  CellRef last_pair_from(int row, int col) const {
    while (row > 0 && col > 0) {
      switch (move(row, col)) {
        case strips::kDiagonal: return {row, col};
        case strips::kRestart: return {0, 0};
        case strips::kUp: --row; break;
        default: --col; break;
      }
    }
    return {0, 0};
  }

 private:
  const std::uint8_t* data_;
  int lanes_;
  int plane_bytes_;
  std::size_t per_strip_;
};

strips::End kernel_end(EndMode end) {
  switch (end) {
    case EndMode::local: return strips::End::anywhere;
    case EndMode::prf_free: return strips::End::last_column;
    case EndMode::seq_free: return strips::End::last_row;
    case EndMode::global: return strips::End::none;
  }
  return strips::End::none;
}

// Grows v to at least n elements; never shrinks, so later calls reuse it.
template <class T>
void grow(std::vector<T>& v, std::size_t n) {
  if (v.size() < n) v.resize(n);
}

// The kernel's job: the score table as the kernels read it (row_stride
// values per residue code), the penalties as to_lane gives them, the edge
// arrays in `edges`.
template <class T, class ToLane>
strips::JobOf<T> make_job(const T* scores, std::size_t row_stride, int prf, const Settings& settings,
                          ToLane to_lane, std::string_view seq, T* edges, std::size_t edge_size) {
  const EdgeRules rules = edge_rules(settings.start);
  strips::JobOf<T> job;
  job.len = static_cast<int>(seq.size());
  job.prf = prf;
  job.scores = scores;
  job.score_stride = row_stride;
  job.seq = seq.data();
  job.code_of = residue_codes();
  job.open_prf = to_lane(settings.gap_open_penalty_prf);
  job.del_prf = to_lane(settings.deletion_penalty_prf);
  job.open_seq = to_lane(settings.gap_open_penalty_seq);
  job.del_seq = to_lane(settings.deletion_penalty_seq);
  job.free_row0 = rules.free_row0;
  job.free_col0 = rules.free_col0;
  job.local_start = rules.local_start;
  job.end = kernel_end(settings.end);
  if constexpr (std::is_integral_v<T>) job.best = {strips::NoEnd<T>::value, 0, 0};
  else job.best = {static_cast<T>(kScoreFloor), 0, 0};
  job.edge_score = edges;
  job.edge_h = edges + edge_size;
  job.edge_v = edges + 2 * edge_size;
  return job;
}

// The same for a Profile or a QuickProfile's floats.
template <class T, class P>
strips::JobOf<T> make_job(const P& profile, const Settings& settings, std::string_view seq, T* edges,
                          std::size_t edge_size) {
  return make_job<T>(profile.table(), profile.row_stride(), profile.length(), settings, narrowed<T>, seq, edges,
                     edge_size);
}

// The quick kernel's job, or an exception where it cannot run.
strips::QuickJob quick_job(const QuickProfile& profile, const Settings& settings, std::string_view seq,
                           Workspace::Impl& ws, const strips::QuickKernel& kernel) {
  if (seq.empty() || profile.length() == 0)
    throw std::invalid_argument("quick scores need a sequence and a profile that are not empty");
  if (seq.size() >= static_cast<std::size_t>(INT_MAX - kernel.lanes))
    throw std::invalid_argument("a sequence too long for quick scores");
  const std::size_t edge_size = strips::edge_length(kernel, profile.length());
  grow(ws.quick_edges, 3 * edge_size);
  return make_job<float>(profile, settings, seq, ws.quick_edges.data(), edge_size);
}

// The short kernels' scale for these settings, or 0 where they do not
// apply: not a local alignment, penalties negative or too large for the
// profile's scale, a profile too long for 16-bit step numbers.
double short_scale_for(const QuickProfile& profile, const Settings& settings) {
  const double scale = profile.short_scale();
  if (settings.start != StartMode::local || settings.end != EndMode::local || scale == 0 ||
      profile.length() > INT16_MAX - 2 * QuickProfile::kShortTablePad)
    return 0;
  for (const double penalty : {settings.gap_open_penalty_prf, settings.deletion_penalty_prf,
                                settings.gap_open_penalty_seq, settings.deletion_penalty_seq})
    if (!(penalty * scale >= 0 && penalty * scale <= QuickProfile::kShortPenaltyLimit)) return 0;
  return scale;
}

std::int16_t short_penalty(double penalty, double scale) {
  return static_cast<std::int16_t>(std::lround(penalty * scale));
}

// A short kernel's best as a score, or nothing where it may mislead: a
// score so high that some cell may have saturated (every cell is at most
// the best plus one score), or none above 0 (the borders saturate low,
// which only a cell that restarts reads; whether any cell took a pair at
// all is then left to the floats).
std::optional<double> short_result(std::int16_t best, double scale) {
  constexpr int kCeiling = INT16_MAX - QuickProfile::kShortScoreLimit;
  if (best > kCeiling || best <= 0) return std::nullopt;
  return best / scale;
}

// The short strip kernel's local score, or nothing where it does not apply.
std::optional<double> short_score(const QuickProfile& profile, const Settings& settings, std::string_view seq,
                                  Workspace::Impl& ws) {
  const double scale = short_scale_for(profile, settings);
  if (scale == 0) return std::nullopt;
  const strips::ShortKernel& kernel = strips::for_profile(*ws.short_kernel, profile.length());
  const std::size_t edge_size = strips::edge_length(kernel, profile.length());
  grow(ws.short_edges, 3 * edge_size);
  auto to_lane = [scale](double penalty) { return short_penalty(penalty, scale); };
  strips::ShortJob job = make_job<std::int16_t>(profile.short_table(), profile.short_row_stride(), profile.length(),
                                                settings, to_lane, seq, ws.short_edges.data(), edge_size);
  kernel.run(job);
  return short_result(job.best.score, scale);
}

// The quick score on floats, for a job quick_job() made.
double float_score(const Settings& settings, const strips::QuickKernel& kernel, strips::QuickJob& job) {
  kernel.run(job);
  return settings.end != EndMode::global ? job.best.score : job.last_cell;
}

}  // namespace

bool row_ends_fast(const Profile& profile, const Settings& settings, std::string_view seq, Workspace::Impl& ws,
                   std::vector<RowEnd>& ends, int* moves_lanes) {
  const strips::Kernel& kernel = strip_kernel_for(ws, profile.length());
  if (seq.size() >= static_cast<std::size_t>(INT_MAX - kernel.lanes)) return false;
  const std::size_t edge_size = strips::edge_length(kernel, profile.length());
  grow(ws.edges, 3 * edge_size);
  grow(ws.row_scores, seq.size());
  grow(ws.row_cols, seq.size());
  bool keep_moves = moves_lanes != nullptr;
  if (keep_moves) {
    const std::size_t strip_count = (seq.size() + static_cast<std::size_t>(kernel.lanes) - 1) /
                                    static_cast<std::size_t>(kernel.lanes);
    const std::size_t bytes = strip_count * strips::trace_bytes_per_strip(kernel.lanes, profile.length());
    // Moves of a whole long record are left out: the prefix is aligned
    // afresh then, its traceback no larger than it needs.
    keep_moves = bytes <= kMostKeptMoves;
    try {
      if (keep_moves) grow(ws.trace, bytes);
    } catch (const std::bad_alloc&) {
      keep_moves = false;  // the row ends alone; the caller aligns afresh
    }
    *moves_lanes = keep_moves ? kernel.lanes : 0;
  }
  strips::Job job = make_job<double>(profile, settings, seq, ws.edges.data(), edge_size);
  job.row_ends = ws.row_scores.data();
  job.row_end_cols = ws.row_cols.data();
  job.trace = keep_moves ? ws.trace.data() : nullptr;
  kernel.run(job);
  ends.resize(seq.size());
  // As align()'s end tracker, which starts at the floor, no cell at or
  // below it is an end.
  for (std::size_t k = 0; k < seq.size(); ++k) {
    const bool found = ws.row_scores[k] > kScoreFloor;
    ends[k] = {found ? ws.row_scores[k] : kNoRowEnd, found ? ws.row_cols[k] : 0};
  }
  return true;
}

Alignment prefix_from_moves(const Profile& profile, std::string_view seq, int rows, int lanes,
                            const Workspace::Impl& ws, Detail detail) {
  // The prefix's matrix is the first rows of the sequence's: its end is the
  // first of those rows whose end is strictly the best, from the floor, as
  // align()'s tracker takes it.
  Alignment result;
  result.score = kScoreFloor;
  CellRef target{0, 0};
  for (int row = 1; row <= rows; ++row) {
    const double end = ws.row_scores[static_cast<std::size_t>(row - 1)];
    if (end > result.score) {
      result.score = end;
      target = {row, ws.row_cols[static_cast<std::size_t>(row - 1)]};
    }
  }
  const TraceView moves(ws.trace.data(), lanes, profile.length());
  auto anchor_of = [&](CellRef pair) {
    if (moves.move(pair.row, pair.col) == strips::kRestart) return CellRef{0, 0};
    return moves.last_pair_from(pair.row - 1, pair.col - 1);
  };
  finish_alignment(seq.substr(0, static_cast<std::size_t>(rows)), profile, target, anchor_of, detail, result);
  return result;
}

Alignment align_fast(const Profile& profile, const Settings& settings, std::string_view seq,
                     Workspace::Impl& ws, Detail detail) {
  const strips::Kernel& kernel = strip_kernel_for(ws, profile.length());
  const int lanes = kernel.lanes;
  if (seq.size() >= static_cast<std::size_t>(INT_MAX - lanes)) return out_of_memory(1);
  const int len = static_cast<int>(seq.size());
  const int prf = profile.length();
  const std::size_t strip_count = (static_cast<std::size_t>(len) + lanes - 1) / lanes;
  const std::size_t edge_size = strips::edge_length(kernel, prf);
  const bool keep_trace = detail != Detail::score;

  try {
    grow(ws.edges, 3 * edge_size);
  } catch (const std::bad_alloc&) {
    return out_of_memory(2);
  }
  if (keep_trace) {
    try {
      grow(ws.trace, strip_count * strips::trace_bytes_per_strip(lanes, prf));
    } catch (const std::bad_alloc&) {
      return out_of_memory(3);
    }
  }

  strips::Job job = make_job<double>(profile, settings, seq, ws.edges.data(), edge_size);
  job.trace = keep_trace ? ws.trace.data() : nullptr;
  kernel.run(job);

  const bool free_end = settings.end != EndMode::global;
  Alignment result;
  result.score = free_end ? job.best.score : job.last_cell;

  const TraceView moves(ws.trace.data(), lanes, prf);
  // The pair before a pair; a free end may be a restarted cell, which has
  // none.
  auto anchor_of = [&](CellRef pair) {
    if (moves.move(pair.row, pair.col) == strips::kRestart) return CellRef{0, 0};
    return moves.last_pair_from(pair.row - 1, pair.col - 1);
  };
  CellRef target{len, prf};
  if (free_end) target = {job.best.row, job.best.col};
  else if (keep_trace && moves.move(len, prf) != strips::kDiagonal) target = moves.last_pair_from(len, prf);
  finish_alignment(seq, profile, target, anchor_of, detail, result);
  return result;
}

double quick_score(const QuickProfile& profile, const Settings& settings, std::string_view sequence,
                   Workspace& workspace) {
  Workspace::Impl& ws = workspace.impl();
  const strips::QuickKernel& kernel = quick_kernel_for(ws, profile.length());
  strips::QuickJob job = quick_job(profile, settings, sequence, ws, kernel);
  if (const std::optional<double> score = short_score(profile, settings, sequence, ws)) return *score;
  return float_score(settings, kernel, job);
}

namespace {

// Which sequences (by index) run in the lanes, longest first, as the batch
// kernel takes them: each lane, when it ends a sequence, takes the next.
// The others go to the strips: those that would run while few lanes are
// busy, at the end of the batch or beside a much longer sequence.
std::vector<std::size_t> lane_plan(std::span<const std::string_view> sequences, std::size_t lane_count,
                                   double gain) {
  const double fewest_busy = static_cast<double>(lane_count) / gain;
  std::vector<std::size_t> order(sequences.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return sequences[a].size() > sequences[b].size(); });
  // The kernel's schedule: each sequence starts when the first lane frees.
  std::vector<std::size_t> free_at(lane_count, 0), start(order.size()), end(order.size());
  for (std::size_t k = 0; k < order.size(); ++k) {
    const auto lane = std::min_element(free_at.begin(), free_at.end());
    start[k] = *lane;
    end[k] = *lane += sequences[order[k]].size();
  }
  std::vector<std::size_t> lanes;
  for (std::size_t k = 0; k < order.size(); ++k) {
    double busy = 0;  // lane-rows of all sequences during this one's rows
    for (std::size_t j = 0; j < order.size(); ++j)
      if (start[j] < end[k] && end[j] > start[k])
        busy += static_cast<double>(std::min(end[j], end[k]) - std::max(start[j], start[k]));
    if (busy >= fewest_busy * static_cast<double>(end[k] - start[k])) lanes.push_back(order[k]);
  }
  if (static_cast<double>(lanes.size()) < fewest_busy) lanes.clear();
  return lanes;
}

// The planned sequences into ws.bound_seqs and bound_lens, as the kernels
// of many sequences take them.
void lane_sequences(std::span<const std::string_view> sequences, const std::vector<std::size_t>& lanes,
                    Workspace::Impl& ws) {
  ws.bound_seqs.clear();
  ws.bound_lens.clear();
  for (const std::size_t k : lanes) {
    ws.bound_seqs.push_back(sequences[k].data());
    ws.bound_lens.push_back(static_cast<int>(sequences[k].size()));
  }
}

// The 16-bit local scores of the planned sequences, one per lane.
void short_lanes(const QuickProfile& profile, const Settings& settings, std::span<const std::string_view> sequences,
                 const std::vector<std::size_t>& lanes, double scale, Workspace::Impl& ws, std::span<double> scores) {
  lane_sequences(sequences, lanes, ws);
  const std::size_t cells = static_cast<std::size_t>(profile.length()) * bounds::kBatchLanes;
  ws.bound_d.resize(cells);
  ws.bound_x.resize(cells);
  ws.quick_batch_v.resize(cells);
  ws.bound_best.resize(lanes.size());
  bounds::QuickBatchJob job;
  job.prf = profile.length();
  job.columns = profile.short_columns();
  job.count = static_cast<int>(lanes.size());
  job.seqs = ws.bound_seqs.data();
  job.lens = ws.bound_lens.data();
  job.code_of = residue_codes();
  job.open_prf = short_penalty(settings.gap_open_penalty_prf, scale);
  job.del_prf = short_penalty(settings.deletion_penalty_prf, scale);
  job.open_seq = short_penalty(settings.gap_open_penalty_seq, scale);
  job.del_seq = short_penalty(settings.deletion_penalty_seq, scale);
  job.s = ws.bound_d.data();
  job.h = ws.bound_x.data();
  job.v = ws.quick_batch_v.data();
  job.best = ws.bound_best.data();
  ws.quick_batch->run_quick(job);
  const strips::QuickKernel& kernel = quick_kernel_for(ws, profile.length());
  for (std::size_t n = 0; n < lanes.size(); ++n) {
    const std::size_t k = lanes[n];
    if (const std::optional<double> score = short_result(ws.bound_best[n], scale)) {
      scores[k] = *score;
    } else {
      strips::QuickJob one = quick_job(profile, settings, sequences[k], ws, kernel);
      scores[k] = float_score(settings, kernel, one);
    }
  }
}

// Where a kernel of many sequences keeps its work: scores, the two bits
// of opening penalties per cell, results, row 0.
template <class T>
struct LanesSpace {
  using Bits = typename strips::LanesJobOf<T>::Bits;
  std::vector<T>& s;
  std::vector<Bits>& h;
  std::vector<Bits>& v;
  std::vector<T>& scores;
  std::vector<T>& row0;
};

// The scores of the planned sequences, one per lane, by `kernel` on the
// profile's scores position-major (`columns`, kLanesCodes per position)
// and the penalties as T.
template <class T>
void run_lanes(const strips::LanesKernelOf<T>& kernel, const T* columns, int prf, const Settings& settings,
               std::span<const std::string_view> sequences, const std::vector<std::size_t>& lanes,
               Workspace::Impl& ws, LanesSpace<T> space, std::span<double> scores, T* const* row_ends = nullptr,
               std::span<const ScoreCut> cuts = {}) {
  lane_sequences(sequences, lanes, ws);
  const EdgeRules rules = edge_rules(settings.start);
  strips::LanesJobOf<T> job;
  job.open_prf = narrowed<T>(settings.gap_open_penalty_prf);
  job.del_prf = narrowed<T>(settings.deletion_penalty_prf);
  job.open_seq = narrowed<T>(settings.gap_open_penalty_seq);
  job.del_seq = narrowed<T>(settings.deletion_penalty_seq);
  // Row 0 as the strips set it.
  space.row0.resize(static_cast<std::size_t>(prf));
  for (int j = 1; j <= prf; ++j)
    space.row0[static_cast<std::size_t>(j - 1)] = rules.free_row0 ? T(0) : -job.open_seq - static_cast<T>(j) * job.del_seq;
  const std::size_t cells = static_cast<std::size_t>(prf) * static_cast<std::size_t>(kernel.lanes);
  constexpr std::size_t kBitsPerWord = sizeof(typename LanesSpace<T>::Bits) * 8;
  space.s.resize(cells);
  space.h.resize(cells / kBitsPerWord);
  space.v.resize(cells / kBitsPerWord);
  space.scores.resize(lanes.size());
  job.prf = prf;
  job.columns = columns;
  job.row0 = space.row0.data();
  job.count = static_cast<int>(lanes.size());
  job.seqs = ws.bound_seqs.data();
  job.lens = ws.bound_lens.data();
  job.code_of = residue_codes();
  job.free_col0 = rules.free_col0;
  job.local_start = rules.local_start;
  job.end = kernel_end(settings.end);
  job.s = space.s.data();
  job.h = space.h.data();
  job.v = space.v.data();
  job.scores = space.scores.data();
  job.row_ends = row_ends;
  std::vector<strips::LaneCut> lane_cuts;
  if (!cuts.empty()) {
    for (const std::size_t k : lanes) {
      strips::LaneCut& c = lane_cuts.emplace_back();
      if (const SuffixGains* g = cuts[k].gains; g && !g->rows.empty())
        c = {cuts[k].below, g->rows.data(), static_cast<int>(g->rows.size()), g->d.data(), g->start.data(), g->unit,
             g->added, g->waiver};
    }
    job.cuts = lane_cuts.data();
  }
  kernel.run(job);
  for (std::size_t n = 0; n < lanes.size(); ++n) scores[lanes[n]] = job.scores[n];
}

// The float scores of the planned sequences, one per lane.
void float_lanes(const QuickProfile& profile, const Settings& settings, std::span<const std::string_view> sequences,
                 const std::vector<std::size_t>& lanes, Workspace::Impl& ws, std::span<double> scores) {
  run_lanes<float>(*ws.quick_lanes, profile.columns(), profile.length(), settings, sequences, lanes, ws,
                   {ws.lanes_s, ws.lanes_h, ws.lanes_v, ws.lanes_scores, ws.lanes_row0}, scores);
}

// Runs score(first, n) on the sequences (and their scores) a plan's worth
// at a time: the plan's cost grows with the square of its sequences.
template <class Score>
void by_plans(std::size_t count, const Score& score) {
  for (std::size_t first = 0; first < count; first += kPlannedTogether)
    score(first, std::min(kPlannedTogether, count - first));
}

// Whether align_scores() runs these sequences in lanes: a kernel for them,
// and settings under which no cell can fall below the floor, so that a
// cell's best candidate is the one align() picks (every cell of a free
// column 0 is at least -(open + deletion) per position to its left), with
// scores and penalties finite.
bool exact_lanes_apply(const Profile& profile, const Settings& settings, const Workspace::Impl& ws) {
  if (!ws.exact_lanes || ws.reference || settings.start != StartMode::prf_free) return false;
  const double step = std::fabs(settings.gap_open_penalty_seq) + std::fabs(settings.deletion_penalty_seq);
  const double penalties[] = {settings.gap_open_penalty_prf, settings.deletion_penalty_prf,
                              settings.gap_open_penalty_seq, settings.deletion_penalty_seq};
  for (const double p : penalties)
    if (!std::isfinite(p)) return false;
  if (step * profile.length() >= -kScoreFloor / 2) return false;
  for (const ProfileRow& row : profile.rows())
    for (const double x : row)
      if (!std::isfinite(x) || std::fabs(x) >= -kScoreFloor / 4) return false;
  return true;
}

// align()'s scores of the planned sequences, one per lane; and where ends
// is not empty, their row ends as row_ends() gives them.
void exact_lanes(const Profile& profile, const Settings& settings, std::span<const std::string_view> sequences,
                 const std::vector<std::size_t>& lanes, Workspace::Impl& ws, std::span<double> scores,
                 std::span<std::vector<RowEnd>> ends, std::span<const ScoreCut> cuts) {
  const int prf = profile.length();
  ws.exact_columns.assign(static_cast<std::size_t>(prf) * strips::kLanesCodes, 0.0);
  for (int j = 0; j < prf; ++j)
    std::copy(profile.row(j).begin(), profile.row(j).end(),
              ws.exact_columns.begin() + static_cast<std::ptrdiff_t>(j) * strips::kLanesCodes);
  std::vector<double*> row_ends;
  if (!ends.empty()) {
    std::size_t rows = 0;
    for (const std::size_t k : lanes) rows += sequences[k].size();
    ws.exact_row_ends.assign(rows, strips::kNoEnd);  // a sequence stopped early keeps no later end
    rows = 0;
    for (const std::size_t k : lanes) {
      row_ends.push_back(ws.exact_row_ends.data() + rows);
      rows += sequences[k].size();
    }
  }
  run_lanes<double>(*ws.exact_lanes, ws.exact_columns.data(), prf, settings, sequences, lanes, ws,
                    {ws.exact_s, ws.exact_h, ws.exact_v, ws.exact_scores, ws.exact_row0}, scores,
                    row_ends.empty() ? nullptr : row_ends.data(), cuts);
  for (std::size_t n = 0; n < row_ends.size(); ++n) {
    std::vector<RowEnd>& out = ends[lanes[n]];
    out.resize(sequences[lanes[n]].size());
    for (std::size_t i = 0; i < out.size(); ++i) {
      const double value = row_ends[n][i];
      out[i] = value > kScoreFloor ? RowEnd{value, prf} : RowEnd{};
    }
  }
}

}  // namespace

bool aligns_many_at_once(const Profile& profile, const Settings& settings, const Workspace& workspace) {
  return exact_lanes_apply(profile, settings, workspace.impl());
}

void align_scores(const Profile& profile, const Settings& settings, std::span<const std::string_view> sequences,
                  Workspace& workspace, std::span<double> scores, std::span<std::vector<RowEnd>> ends,
                  std::span<const ScoreCut> cuts) {
  if (sequences.size() != scores.size()) throw std::invalid_argument("align_scores: as many scores as sequences");
  if (!cuts.empty() && cuts.size() != sequences.size())
    throw std::invalid_argument("align_scores: as many cuts as sequences");
  for (std::size_t k = 0; k < cuts.size(); ++k) {
    const SuffixGains* g = cuts[k].gains;
    if (!g) continue;
    const std::size_t rows = g->rows.size(), width = static_cast<std::size_t>(profile.length());
    bool fits = g->d.size() == rows * width && g->start.size() == rows;
    for (std::size_t n = 0; n < rows && fits; ++n)
      fits = g->rows[n] >= 1 && static_cast<std::size_t>(g->rows[n]) < sequences[k].size() &&
             (n == 0 || g->rows[n] < g->rows[n - 1]);
    if (!fits) throw std::invalid_argument("align_scores: a cut's gains do not fit its sequence and profile");
  }
  if (!ends.empty() && ends.size() != sequences.size())
    throw std::invalid_argument("align_scores: as many row ends as sequences");
  if (!ends.empty() && settings.end != EndMode::prf_free)
    throw std::invalid_argument("align_scores: row ends need alignments that end in the profile's last column");
  if (sequences.size() > kPlannedTogether) {
    by_plans(sequences.size(), [&](std::size_t first, std::size_t n) {
      align_scores(profile, settings, sequences.subspan(first, n), workspace, scores.subspan(first, n),
                   ends.empty() ? ends : ends.subspan(first, n), cuts.empty() ? cuts : cuts.subspan(first, n));
    });
    return;
  }
  Workspace::Impl& ws = workspace.impl();
  std::vector<std::size_t> lanes;
  if (profile.length() > 0 && exact_lanes_apply(profile, settings, ws)) {
    // Empty sequences, and those too long for the kernel's row numbers,
    // are aligned one by one.
    std::vector<std::size_t> fits;
    std::vector<std::string_view> fitting;
    for (std::size_t k = 0; k < sequences.size(); ++k)
      if (!sequences[k].empty() && sequences[k].size() < static_cast<std::size_t>(INT_MAX / 2)) {
        fits.push_back(k);
        fitting.push_back(sequences[k]);
      }
    for (const std::size_t n : lane_plan(fitting, static_cast<std::size_t>(ws.exact_lanes->lanes), kExactLanesGain))
      lanes.push_back(fits[n]);
  }
  std::vector<char> in_lanes(sequences.size(), 0);
  for (const std::size_t k : lanes) in_lanes[k] = 1;
  for (std::size_t k = 0; k < sequences.size(); ++k) {
    if (in_lanes[k]) continue;
    if (ends.empty()) {
      scores[k] = score_sequence(profile, settings, sequences[k], workspace);
      continue;
    }
    // The score is the first strictly best row end, as align()'s tracker
    // takes it.
    row_ends(profile, settings, sequences[k], workspace, ends[k]);
    double best = kScoreFloor;
    for (const RowEnd& e : ends[k]) best = std::max(best, e.score);
    scores[k] = best;
  }
  if (!lanes.empty()) exact_lanes(profile, settings, sequences, lanes, ws, scores, ends, cuts);
}

void quick_scores(const QuickProfile& profile, const Settings& settings,
                  std::span<const std::string_view> sequences, Workspace& workspace, std::span<double> scores) {
  if (sequences.size() != scores.size()) throw std::invalid_argument("quick_scores: as many scores as sequences");
  if (sequences.size() > kPlannedTogether) {
    by_plans(sequences.size(), [&](std::size_t first, std::size_t n) {
      quick_scores(profile, settings, sequences.subspan(first, n), workspace, scores.subspan(first, n));
    });
    return;
  }
  Workspace::Impl& ws = workspace.impl();
  const strips::QuickKernel& kernel = quick_kernel_for(ws, profile.length());
  // Each sequence is checked as quick_score() checks it, before any runs.
  for (const std::string_view seq : sequences) quick_job(profile, settings, seq, ws, kernel);
  // Where the 16-bit integers apply, their lanes; elsewhere the floats'.
  const double scale = short_scale_for(profile, settings);
  const bool on_short = scale != 0 && ws.quick_batch;
  const bool on_float = scale == 0 && ws.quick_lanes;
  std::vector<std::size_t> lanes;
  if (on_short) lanes = lane_plan(sequences, bounds::kBatchLanes, ws.quick_batch->quick_gain);
  if (on_float) lanes = lane_plan(sequences, static_cast<std::size_t>(ws.quick_lanes->lanes), kFloatLanesGain);
  std::vector<char> in_lanes(sequences.size(), 0);
  for (const std::size_t k : lanes) in_lanes[k] = 1;
  for (std::size_t k = 0; k < sequences.size(); ++k)
    if (!in_lanes[k]) scores[k] = quick_score(profile, settings, sequences[k], workspace);
  if (lanes.empty()) return;
  if (on_short) short_lanes(profile, settings, sequences, lanes, scale, ws, scores);
  else float_lanes(profile, settings, sequences, lanes, ws, scores);
}

void quick_prefix_scores(const QuickProfile& profile, const Settings& settings, std::string_view sequence,
                         Workspace& workspace, std::vector<double>& scores) {
  if (settings.end != EndMode::prf_free)
    throw std::invalid_argument("prefix scores need alignments that end in the profile's last column");
  Workspace::Impl& ws = workspace.impl();
  const strips::QuickKernel& kernel = quick_kernel_for(ws, profile.length());
  strips::QuickJob job = quick_job(profile, settings, sequence, ws, kernel);
  std::vector<float>& ends = ws.quick_row_ends;
  grow(ends, sequence.size());
  job.row_ends = ends.data();
  kernel.run(job);
  // As prefix_scores(): the best end so far, from the floor.
  scores.resize(sequence.size());
  double best = kScoreFloor;
  for (std::size_t k = 0; k < sequence.size(); ++k) scores[k] = best = std::max(best, static_cast<double>(ends[k]));
}

}  // namespace tormid
