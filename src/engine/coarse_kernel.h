// Interface between CoarseBound and its kernels, one per instruction set.
// Private to the engine.
//
// A kernel runs the relaxed two-state recurrence of score_bound.cpp for
// local alignments on bytes, one sequence per lane (a lane that finishes
// its sequence takes the next), along the whole profile:
//   M = D(diagonal) + score, clipped at 0,
//   G = max(X(above) - del_v, X(left) - del_h, 0),
//   D = max(M, G), X = max(M - enter, G).
// A value v in 0..255 is held as the signed byte v - 128, so that signed
// saturation at the bottom is the clip at 0 (a value clipped at 0 is only
// raised, as a local start would restart it) and a pairing takes a single
// saturating addition of a signed score. Every D and X is at most the
// largest M met so far, so while that stays below 255 no addition clipped
// at the top and every value is the exact one.
//
// This header is included by translation units built for different
// instruction sets: it holds plain data and declarations only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/residue_codes.h"

namespace tormid::coarse {

// Bytes per position of the score table: one entry per residue code,
// padded to a 64-byte vector.
inline constexpr int kTableBytes = 64;
static_assert(kCodes <= 32, "the kernels look codes up among 32 entries");

struct Job {
  int prf = 0;
  // Per position, kTableBytes entries by residue code: the score, as a
  // signed byte.
  const std::uint8_t* scores = nullptr;
  int count = 0;
  const char* const* seqs = nullptr;
  const int* lens = nullptr;  // each at least 1
  const std::int8_t* code_of = nullptr;
  std::uint8_t enter = 0, del_v = 0, del_h = 0;  // each 0 to 127
  // Work space: prf * lanes bytes each.
  std::uint8_t* d = nullptr;
  std::uint8_t* x = nullptr;
  // Result, count values: the largest M of each sequence (0 to 255).
  std::uint8_t* best = nullptr;
};

// One sequence against as many profiles as the kernel has lanes, one
// profile per lane, with the same recurrence: a search of few sequences
// fills no lanes of Job's kernel. Each lane has its own scale, so its own
// penalties; a lane's positions past its profile's last score -128, which
// clips every pairing there at 0, and values flow only to the right, so a
// profile's own values are those of Job on it alone.
struct ProfilesJob {
  int prf = 0;  // the longest profile's positions
  // Per residue code (kCodes), per position, one signed byte per lane.
  const std::uint8_t* scores = nullptr;
  const std::uint8_t* enter = nullptr;  // one byte per lane, 0 to 127
  const std::uint8_t* del_v = nullptr;
  const std::uint8_t* del_h = nullptr;
  const char* seq = nullptr;
  int len = 0;  // at least 1
  const std::int8_t* code_of = nullptr;
  // Work space: prf * lanes bytes each.
  std::uint8_t* d = nullptr;
  std::uint8_t* x = nullptr;
  // Result, one value per lane: its largest M (0 to 255).
  std::uint8_t* best = nullptr;
};

struct Kernel {
  const char* name;
  int lanes;
  void (*run)(Job&);
  void (*run_profiles)(ProfilesJob&);
  // count scores times scale as signed bytes, rounded up and clipped to
  // -128..127; false where some must be rounded again exactly (whole
  // products, see coarse_bound.cpp), which the caller does. Every kernel
  // gives the same bytes.
  bool (*score_bytes)(const double* scores, std::size_t count, double scale, std::uint8_t* out);
};

// The kernels built into this binary; null where the compiler or the
// target lacks the instruction set. The scalar one, a lane at a time, is a
// reference: the search uses the coarse pass only where a wide kernel runs.
Kernel scalar_kernel();
const Kernel* avx2_kernel();
const Kernel* avx512_kernel();  // AVX-512 VBMI on 256-bit vectors (one-step byte lookups)

}  // namespace tormid::coarse
