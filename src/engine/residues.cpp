#include <cstdio>

#include "engine/engine.h"

std::string consensus;
std::string res_seq1;
std::string res_seq2;
bool score_failed = false;

int getIndex(char c) {
  const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  for (int k = 0; k < kAlphabetSize; ++k)
    if (alphabet[k] == upper) return k;
  return -1;
}

int index_of_max(const double* values, int n) {
  double best = kScoreFloor;
  int index = -1;
  for (int k = 0; k < n; ++k) {
    if (values[k] >= best) {
      best = values[k];
      index = k;
    }
  }
  return index;
}

void report_engine_alloc_fail(int which) { std::fprintf(stderr, "\nError---alloc %d fail\n", which); }

void report_lines_alloc_fail() { std::fprintf(stderr, "\nError---alloc fail\n"); }
