// Alignment engine: scores the sequence against the profile by dynamic
// programming and renders the alignment.
//
// Matrix cell (i, j) is the best path that has consumed the first i residues
// and the first j profile positions. A diagonal move pairs residue i with
// position j and earns that position's score for the residue (0.0 for a
// letter outside the alphabet); a vertical move leaves residue i unpaired (a
// gap in the profile, _prf penalties); a horizontal move leaves position j
// unpaired (a gap in the sequence, _seq penalties). Each stretch of unpaired
// residues and positions between two pairs pays at most one opening penalty
// per side, plus one deletion penalty per unpaired residue or position,
// whatever the order of its moves.
#pragma once

#include <string>
#include <vector>

// Residue letters in profile column order; a residue's code is its index.
inline constexpr char alphabet[] = "ARNDCQEGHILKMFPSTWYV";
inline constexpr int kAlphabetSize = 20;

// No candidate is expected below this floor; it is also the score returned
// when the engine cannot allocate its memory.
inline constexpr double kScoreFloor = -100000.0;
// A score at or below this means that no alignment path was found.
inline constexpr double kNoAlignment = -50000.0;

// Lower-case consensus letter of each profile position (build_consensus).
extern std::string consensus;
// The aligned profile line and sequence line, "." marking gaps; written by
// score_sequence when show_alignment is on, empty when there is no alignment.
extern std::string res_seq1;
extern std::string res_seq2;
// Set by score_sequence when it could not complete (memory); its score is
// then kScoreFloor.
extern bool score_failed;

// Index of the upper-case form of c in alphabet, or -1.
int getIndex(char c);

// Index of the largest of n values, the last one on ties, considering only
// values at or above kScoreFloor; -1 when there is none.
int index_of_max(const double* values, int n);

// Derives consensus from profile: the best-scoring letter of each position,
// the earlier letter of the alphabet on ties, "x" when no score rises above
// kScoreFloor.
void build_consensus();

// Aligns seq (upper-case letters) against the profile under the current
// settings and returns the score of the best alignment; builds res_seq1 and
// res_seq2 when show_alignment is on.
double score_sequence(const std::string& seq);

// The same, computed cell by cell with full anchors: the plain engine that
// every faster one must match bit for bit.
double score_sequence_reference(const std::string& seq);

// Instruction-set variants of score_sequence that this CPU can run, widest
// first ("avx512", "avx2", "sse2", "scalar"); the widest is used unless
// another is selected. Selecting "reference" makes score_sequence run the
// plain engine (for comparisons). Returns false for an unknown name.
std::vector<std::string> engine_kernels();
bool select_engine_kernel(const std::string& name);
std::string engine_kernel();

// ---- Diagnostics -----------------------------------------------------------
void report_engine_alloc_fail(int which);  // "\nError---alloc %d fail\n"
void report_lines_alloc_fail();            // "\nError---alloc fail\n"
