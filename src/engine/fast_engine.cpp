// score_sequence: the vectorised engine. The strip kernels fill the matrix;
// this file prepares their input, picks the end point and walks the 2-bit
// traceback back to the alignment.
#include <climits>
#include <memory>
#include <new>
#include <vector>

#include "engine/alignment_walk.h"
#include "engine/engine.h"
#include "engine/strip_kernel.h"
#include "input/input.h"

namespace {

std::vector<strips::Kernel> supported() {
  std::vector<strips::Kernel> list;
#if defined(__x86_64__) && defined(__GNUC__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && strips::avx512_kernel()) list.push_back(*strips::avx512_kernel());
  if (__builtin_cpu_supports("avx2") && strips::avx2_kernel()) list.push_back(*strips::avx2_kernel());
  if (strips::sse2_kernel()) list.push_back(*strips::sse2_kernel());
#endif
  list.push_back(strips::scalar_kernel());
  return list;
}

strips::Kernel& active_kernel() {
  static strips::Kernel kernel = supported().front();
  return kernel;
}

bool use_reference = false;

double failed(int which) {
  report_engine_alloc_fail(which);
  score_failed = true;
  return kScoreFloor;
}

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
                            step * 2 * plane_bytes_ + lane / 8;
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

}  // namespace

std::vector<std::string> engine_kernels() {
  std::vector<std::string> names;
  for (const strips::Kernel& k : supported()) names.emplace_back(k.name);
  return names;
}

bool select_engine_kernel(const std::string& name) {
  if (name == "reference") {
    use_reference = true;
    return true;
  }
  for (const strips::Kernel& k : supported()) {
    if (name == k.name) {
      active_kernel() = k;
      use_reference = false;
      return true;
    }
  }
  return false;
}

std::string engine_kernel() { return use_reference ? "reference" : active_kernel().name; }

double score_sequence(const std::string& seq) {
  // An empty sequence or profile has no strips to run; the plain engine
  // answers it directly.
  if (use_reference || seq.empty() || prf_length <= 0) return score_sequence_reference(seq);
  score_failed = false;
  res_seq1.clear();
  res_seq2.clear();
  const strips::Kernel kernel = active_kernel();
  const int lanes = kernel.lanes;
  if (seq.size() >= static_cast<std::size_t>(INT_MAX - lanes)) return failed(1);
  const int len = static_cast<int>(seq.size());
  const int prf = prf_length;
  const std::size_t strip_count = (static_cast<std::size_t>(len) + lanes - 1) / lanes;
  const std::size_t edge_size = strips::edge_length(kernel, prf);
  const std::size_t row_length = strips::score_row_length(lanes, prf);

  std::int8_t code_of[256];
  for (int c = 0; c < 256; ++c) {
    const int code = getIndex(static_cast<char>(c));
    code_of[c] = static_cast<std::int8_t>(code < 0 ? strips::kOutsideCode : code);
  }

  std::vector<double> scores, edges;
  std::unique_ptr<std::uint8_t[]> trace;
  try {
    scores.assign(strips::kCodes * row_length, 0.0);
    edges.assign(3 * edge_size, 0.0);
  } catch (const std::bad_alloc&) {
    return failed(2);
  }
  if (show_alignment) {
    try {
      trace = std::make_unique_for_overwrite<std::uint8_t[]>(
          strip_count * strips::trace_bytes_per_strip(lanes, prf));
    } catch (const std::bad_alloc&) {
      return failed(3);
    }
  }
  for (int c = 0; c < kAlphabetSize; ++c)
    for (int k = 0; k < prf; ++k) scores[c * row_length + lanes + k] = profile[k][c];

  strips::Job job;
  job.len = len;
  job.prf = prf;
  job.scores = scores.data();
  job.seq = seq.data();
  job.code_of = code_of;
  job.open_prf = gap_open_penalty_prf;
  job.del_prf = deletion_penalty_prf;
  job.open_seq = gap_open_penalty_seq;
  job.del_seq = deletion_penalty_seq;
  job.free_row0 = seq_free_beg || all_free_beg;
  job.free_col0 = prf_free_beg;
  job.local_start = all_free_beg;
  // Only the end mode that the end choice will read is tracked.
  job.track_all = all_free_end;
  job.track_prf = !all_free_end && prf_free_end;
  job.track_seq = !all_free_end && !prf_free_end && seq_free_end;
  job.all_end = job.prf_end = job.seq_end = {kScoreFloor, 0, 0};
  job.edge_score = edges.data();
  job.edge_h = edges.data() + edge_size;
  job.edge_v = edges.data() + 2 * edge_size;
  job.trace = trace.get();
  kernel.run(job);

  const strips::EndPoint* end = job.track_all   ? &job.all_end
                                : job.track_prf ? &job.prf_end
                                : job.track_seq ? &job.seq_end
                                                : nullptr;
  const double score = end ? end->score : job.last_cell;

  if (show_alignment && score > kNoAlignment) {
    const TraceView moves(trace.get(), lanes, prf);
    // The pair before a pair; a free end may be a restarted cell, which
    // has none.
    auto anchor_of = [&](CellRef pair) {
      if (moves.move(pair.row, pair.col) == strips::kRestart) return CellRef{0, 0};
      return moves.last_pair_from(pair.row - 1, pair.col - 1);
    };
    CellRef target{len, prf};
    if (end) target = {end->row, end->col};
    else if (moves.move(len, prf) != strips::kDiagonal) target = moves.last_pair_from(len, prf);
    if (!write_alignment(seq, len, prf, target, anchor_of)) {
      score_failed = true;
      return kScoreFloor;
    }
  }
  return score;
}
