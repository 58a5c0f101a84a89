#include "input/input.h"

std::vector<ProfileRow> profile;
int prf_length = 0;

double gap_open_penalty_prf = 0.0;
double deletion_penalty_prf = 0.0;
double gap_open_penalty_seq = 0.0;
double deletion_penalty_seq = 0.0;

int prf_free_beg = 0;
int prf_free_end = 0;
int seq_free_beg = 0;
int seq_free_end = 0;
int all_free_beg = 0;
int all_free_end = 0;
int show_alignment = 0;

void reset_settings() {
  gap_open_penalty_prf = deletion_penalty_prf = 0.0;
  gap_open_penalty_seq = deletion_penalty_seq = 0.0;
  prf_free_beg = prf_free_end = seq_free_beg = seq_free_end = 0;
  all_free_beg = all_free_end = show_alignment = 0;
}

void set_parameters() {
  if (seq_free_end && prf_free_end) {
    all_free_end = 1;
    prf_free_end = seq_free_end = 0;
  } else {
    all_free_end = 0;
  }
  if (seq_free_beg && prf_free_beg) {
    all_free_beg = 1;
    prf_free_beg = seq_free_beg = 0;
  } else {
    all_free_beg = 0;
  }
}
