// BLOSUM62 (Henikoff and Henikoff 1992), in half-bits, as NCBI distributes
// it: the scale the default gap costs (11 to open, 1 a position) are made
// for. Rows and columns in tormid's alphabet order, which is the matrix's
// own; then the rows of B (N or D), Z (Q or E) and X (any).
#include <array>

#include "builder/builder.h"
#include "builder/substitution_matrix.h"

namespace tormid {

namespace {

constexpr int kRows = kAlphabetSize + 3;
// clang-format off
constexpr std::array<std::array<signed char, kAlphabetSize>, kRows> kBlosum62 = {{
//  A   R   N   D   C   Q   E   G   H   I   L   K   M   F   P   S   T   W   Y   V
  { 4, -1, -2, -2,  0, -1, -1,  0, -2, -1, -1, -1, -1, -2, -1,  1,  0, -3, -2,  0},  // A
  {-1,  5,  0, -2, -3,  1,  0, -2,  0, -3, -2,  2, -1, -3, -2, -1, -1, -3, -2, -3},  // R
  {-2,  0,  6,  1, -3,  0,  0,  0,  1, -3, -3,  0, -2, -3, -2,  1,  0, -4, -2, -3},  // N
  {-2, -2,  1,  6, -3,  0,  2, -1, -1, -3, -4, -1, -3, -3, -1,  0, -1, -4, -3, -3},  // D
  { 0, -3, -3, -3,  9, -3, -4, -3, -3, -1, -1, -3, -1, -2, -3, -1, -1, -2, -2, -1},  // C
  {-1,  1,  0,  0, -3,  5,  2, -2,  0, -3, -2,  1,  0, -3, -1,  0, -1, -2, -1, -2},  // Q
  {-1,  0,  0,  2, -4,  2,  5, -2,  0, -3, -3,  1, -2, -3, -1,  0, -1, -3, -2, -2},  // E
  { 0, -2,  0, -1, -3, -2, -2,  6, -2, -4, -4, -2, -3, -3, -2,  0, -2, -2, -3, -3},  // G
  {-2,  0,  1, -1, -3,  0,  0, -2,  8, -3, -3, -1, -2, -1, -2, -1, -2, -2,  2, -3},  // H
  {-1, -3, -3, -3, -1, -3, -3, -4, -3,  4,  2, -3,  1,  0, -3, -2, -1, -3, -1,  3},  // I
  {-1, -2, -3, -4, -1, -2, -3, -4, -3,  2,  4, -2,  2,  0, -3, -2, -1, -2, -1,  1},  // L
  {-1,  2,  0, -1, -3,  1,  1, -2, -1, -3, -2,  5, -1, -3, -1,  0, -1, -3, -2, -2},  // K
  {-1, -1, -2, -3, -1,  0, -2, -3, -2,  1,  2, -1,  5,  0, -2, -1, -1, -1, -1,  1},  // M
  {-2, -3, -3, -3, -2, -3, -3, -3, -1,  0,  0, -3,  0,  6, -4, -2, -2,  1,  3, -1},  // F
  {-1, -2, -2, -1, -3, -1, -1, -2, -2, -3, -3, -1, -2, -4,  7, -1, -1, -4, -3, -2},  // P
  { 1, -1,  1,  0, -1,  0,  0,  0, -1, -2, -2,  0, -1, -2, -1,  4,  1, -3, -2, -2},  // S
  { 0, -1,  0, -1, -1, -1, -1, -2, -2, -1, -1, -1, -1, -2, -1,  1,  5, -2, -2,  0},  // T
  {-3, -3, -4, -4, -2, -2, -3, -2, -2, -3, -2, -3, -1,  1, -4, -3, -2, 11,  2, -3},  // W
  {-2, -2, -2, -3, -2, -1, -2, -3,  2, -1, -1, -2, -1,  3, -3, -2, -2,  2,  7, -1},  // Y
  { 0, -3, -3, -3, -1, -2, -2, -3, -3,  3,  1, -2,  1, -1, -2, -2,  0, -3, -1,  4},  // V
  {-2, -1,  3,  4, -3,  0,  1, -1,  0, -3, -4,  0, -3, -3, -2,  0, -1, -4, -3, -3},  // B
  {-1,  0,  0,  1, -3,  3,  4, -2,  0, -3, -3,  1, -1, -3, -1,  0, -1, -3, -2, -2},  // Z
  { 0, -1, -1, -1, -2, -1, -1, -1, -1, -1, -1, -1, -1, -1, -2,  0,  0, -2, -1, -1},  // X
}};
// clang-format on

// The matrix row of a letter: its own, B's, Z's, or X's for any other.
std::size_t row_of(char letter) {
  const int code = getIndex(letter);
  if (code >= 0) return static_cast<std::size_t>(code);
  const char upper = letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter;
  if (upper == 'B') return kAlphabetSize;
  if (upper == 'Z') return kAlphabetSize + 1;
  return kAlphabetSize + 2;
}

}  // namespace

double substitution_score(int a, int b) {
  return kBlosum62[static_cast<std::size_t>(a)][static_cast<std::size_t>(b)];
}

ProfileRow substitution_row(char letter) {
  ProfileRow row{};
  const auto& scores = kBlosum62[row_of(letter)];
  for (std::size_t b = 0; b < row.size(); ++b) row[b] = scores[b];
  return row;
}

}  // namespace tormid
