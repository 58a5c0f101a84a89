// What the engine's translation units share: the workspace's contents, the
// matrix edges that the start mode sets, and the two engines. Private to
// the engine.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/strip_kernel.h"

namespace tormid {

namespace bounds {
struct Kernel;
}

// x as a T: for float the nearest, and beyond the floats' range an
// infinity (a plain cast would be undefined there).
template <class T>
T narrowed(double x) {
  if constexpr (std::is_same_v<T, double>) {
    return x;
  } else {
    if (std::fabs(x) <= static_cast<double>(std::numeric_limits<float>::max())) return static_cast<float>(x);
    if (std::isnan(x)) return std::numeric_limits<float>::quiet_NaN();
    return x > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
  }
}

// The matrix edges of a start mode, decided once for both engines.
struct EdgeRules {
  bool free_row0;    // row 0 scores 0.0
  bool free_col0;    // column 0 scores 0.0
  bool local_start;  // a cell at or below 0.0 restarts at 0.0
};

inline EdgeRules edge_rules(StartMode start) {
  return {start == StartMode::seq_free || start == StartMode::local, start == StartMode::prf_free,
          start == StartMode::local};
}

// What the bounds share (score_bound.cpp). Whether a value is one the
// bounds model: finite and at most 2^40 in magnitude (beyond that align()'s
// doubles could overflow on a long path).
inline constexpr double kLargestModelled = 1099511627776.0;  // 2^40
inline bool modelled(double x) { return std::fabs(x) <= kLargestModelled; }
// What a bound adds to cover align()'s rounding in doubles, for a sequence
// of len residues, a profile of prf positions and a largest gain per move.
double rounding_margin(std::size_t len, int prf, double gain);
// The kernel of this name in a list (widest first), or the widest for an
// empty name; std::invalid_argument naming the family otherwise.
template <class Kernel>
const Kernel& kernel_named(const std::vector<Kernel>& list, std::string_view name, const char* family) {
  if (name.empty()) return list.front();
  for (const Kernel& k : list)
    if (name == k.name) return k;
  throw std::invalid_argument(std::string("no ") + family + " kernel named '" + std::string(name) + "' on this CPU");
}
// The sequences a batch kernel can take into ws.bound_seqs, bound_lens and
// bound_index (their places); the others (empty, too long, or all where
// the bound is not usable) get +infinity.
void gather_for_batch(std::span<const std::string_view> sequences, std::span<double> bounds, bool usable,
                      Workspace::Impl& ws);

// The kernel of many sequences at once whose lanes match the short strip
// kernel of this name, or null.
const bounds::Kernel* quick_batch_kernel(std::string_view short_kernel);

// Residue code of every byte: 0-19 for the alphabet in either case,
// kOutsideCode for anything else.
const std::int8_t* residue_codes();

// One cell of the plain engine: its score, whether it is a match, and the
// anchor (the most recent match on its best path).
struct ScoreCell {
  double score;
  int is_match;
  int anchor_col;
  int anchor_row;
};

struct Anchor {
  int col;
  int row;
};

struct Workspace::Impl {
  std::string name;
  bool reference = false;
  strips::Kernel kernel{};     // the tallest strips, or the height named
  bool fixed_height = false;
  // Vectorised engine: the strip edges and the 2-bit traceback.
  std::vector<double> edges;
  // Quick scores: the same instruction set on floats.
  const strips::QuickKernel* quick = nullptr;
  std::vector<float> quick_edges, quick_row_ends;
  // Quick local scores on 16-bit integers: the same instruction set, or
  // the widest below it that has them (AVX-512F without BW).
  const strips::ShortKernel* short_kernel = nullptr;
  std::vector<std::int16_t> short_edges;
  // The same integers for many sequences at once, one per lane: the lanes
  // of the short kernel's instruction set, or null where it has none
  // (quick_batch_v with bound_d, bound_x and bound_best as work space).
  const bounds::Kernel* quick_batch = nullptr;
  std::vector<std::int16_t> quick_batch_v;
  // Quick float scores of many sequences at once, where the instruction
  // set has them: work space, results, row 0.
  const strips::LanesKernel* quick_lanes = nullptr;
  std::vector<float> lanes_s, lanes_scores, lanes_row0;
  std::vector<std::uint16_t> lanes_h, lanes_v;
  // align()'s scores of many sequences at once, where the instruction set
  // has them: work space, results, row 0, and the profile position-major.
  const strips::ExactLanesKernel* exact_lanes = nullptr;
  std::vector<double> exact_s, exact_scores, exact_row0, exact_columns, exact_row_ends;
  std::vector<std::uint8_t> exact_h, exact_v;
  std::vector<std::uint8_t> trace;
  // Plain engine: two rows of cells and the anchor of every cell.
  std::vector<ScoreCell> cur, prev;
  // Row ends: the kernel's scores and columns of each row.
  std::vector<double> row_scores;
  std::vector<int> row_cols;
  std::vector<Anchor> anchors;
  // The bound: one row of D and X values.
  std::vector<std::int16_t> bound_d, bound_x;
  std::vector<std::int16_t> bound_best, bound_top;
  std::vector<const char*> bound_seqs;
  std::vector<int> bound_lens, bound_index;
  // The coarse bound: a row of D and X bytes per lane, and its results.
  std::vector<std::uint8_t> coarse_d, coarse_x, coarse_best;
};

// The kernel of the workspace's instruction set for a profile: shorter
// strips for shorter profiles, unless the workspace names a height.
const strips::Kernel& strip_kernel_for(const Workspace::Impl& ws, int prf);

Alignment align_reference(const Profile& profile, const Settings& settings, std::string_view seq,
                          Workspace::Impl& ws, Detail detail);
Alignment align_fast(const Profile& profile, const Settings& settings, std::string_view seq,
                     Workspace::Impl& ws, Detail detail);

// The quick kernel of the workspace's instruction set for a profile.
const strips::QuickKernel& quick_kernel_for(const Workspace::Impl& ws, int prf);

// row_ends() with the strip kernels; false where the sequence is too long
// for them.
// With moves_lanes set, the matrix's moves are kept in ws.trace where the
// memory is there, and *moves_lanes is the strip height they were kept
// with (0 where they were not).
bool row_ends_fast(const Profile& profile, const Settings& settings, std::string_view seq, Workspace::Impl& ws,
                   std::vector<RowEnd>& ends, int* moves_lanes = nullptr);
// align()'s alignment of the first `rows` residues of seq from the moves
// and row ends the last row_ends_fast() of seq kept in ws.
Alignment prefix_from_moves(const Profile& profile, std::string_view seq, int rows, int lanes,
                            const Workspace::Impl& ws, Detail detail);

// A result that could not be computed for want of memory at `stage`.
inline Alignment out_of_memory(int stage) {
  Alignment a;
  a.score = kScoreFloor;
  a.status = AlignStatus::out_of_memory;
  a.failed_stage = stage;
  return a;
}

}  // namespace tormid
