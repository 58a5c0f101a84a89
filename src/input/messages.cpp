// The messages of the input readers, each formatted once. The two "can't
// open" messages go to standard output; callers match them there.
#include <cstdio>

#include "input/input.h"

void report_cant_open(const char* path) { std::printf("\ncan't open %s", path); }

void report_string_alloc_fail() { std::fprintf(stderr, "\nError---string alloc fail\n"); }

void report_unrecognized_profile(const char* path) {
  std::fprintf(stderr, "\ncan't recognize profile file in %s", path);
}

void report_matrix_alloc_fail(int which) {
  std::fprintf(stderr, "\nError---matrix alloc fail %d\n", which);
}

void report_missing_positions(const char* path, int read, int expected) {
  std::fprintf(stderr, "\nprofile file %s has %d of %d positions\n", path, read, expected);
}

void report_profile_not_finite(const char* path, int position) {
  std::fprintf(stderr, "\nprofile file %s: position %d has a score that is not a finite number\n",
               path, position);
}

void report_param_not_finite(const char* path, const char* key) {
  std::fprintf(stderr, "\nparameters file %s: %s is not a finite number\n", path, key);
}
