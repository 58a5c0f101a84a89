// Lanes that run one sequence after another, for the kernels of many
// sequences at once (one sequence per vector lane): which sequence each
// lane holds, the residue code of each lane's current row, and when the
// next lane ends its sequence. Plain scalar code, included by translation
// units built for different instruction sets: it lives in an anonymous
// namespace, so that none of it compiled for a wide instruction set is
// shared with code that runs everywhere.
#pragma once

#include <cstdint>

#include "engine/residue_codes.h"

namespace tormid {
namespace {

template <int W>
class LaneSchedule {
 public:
  LaneSchedule(int count, const char* const* seqs, const int* lens) : count_(count), seqs_(seqs), lens_(lens) {}

  // Gives the lane the next sequence, from its first row on: its index, or
  // -1 when none is left (the lane idles).
  int take(int lane) {
    if (next_ < count_) {
      seq_of_[lane] = next_;
      start_[lane] = row_;
      finish_[lane] = row_ + lens_[next_];
      return next_++;
    }
    seq_of_[lane] = -1;
    finish_[lane] = -1;
    return -1;
  }
  // After the lanes took their sequences: when the next one ends.
  void plan() {
    next_finish_ = -1;
    for (int lane = 0; lane < W; ++lane)
      if (seq_of_[lane] >= 0 && (next_finish_ < 0 || finish_[lane] < next_finish_)) next_finish_ = finish_[lane];
  }
  // Whether some lane still runs a sequence.
  bool running() const { return next_finish_ >= 0; }
  // Each lane's residue code in the current row (or `ahead` rows below
  // it, before the next lane ends); kOutsideCode for idle lanes.
  template <class Code>
  void codes(const std::int8_t* code_of, Code* out, int ahead = 0) const {
    for (int lane = 0; lane < W; ++lane)
      out[lane] = seq_of_[lane] >= 0 ? static_cast<Code>(code_of[static_cast<unsigned char>(
                                           seqs_[seq_of_[lane]][row_ + ahead - start_[lane]])])
                                     : static_cast<Code>(kOutsideCode);
  }
  // Rows until the next lane ends its sequence, this one included.
  long rows_left() const { return next_finish_ - row_; }
  // On by `rows` rows (at most rows_left()); true where some lane ended its
  // sequence with the row just run (ended() tells which, then take() and
  // plan()).
  bool advance(int rows = 1) { return (row_ += rows) == next_finish_; }
  // Ends the lane's sequence with the current row, before advance().
  void stop(int lane) {
    finish_[lane] = row_ + 1;
    next_finish_ = row_ + 1;
  }
  // The sequence the lane holds (-1: idle), and the current row's index in
  // it (from 0).
  int sequence(int lane) const { return seq_of_[lane]; }
  long row_in(int lane) const { return row_ - start_[lane]; }
  // The sequence the lane ended with the row just run, or -1.
  int ended(int lane) const { return seq_of_[lane] >= 0 && finish_[lane] == row_ ? seq_of_[lane] : -1; }

 private:
  int count_;
  const char* const* seqs_;
  const int* lens_;
  int next_ = 0;
  long row_ = 0, next_finish_ = -1;
  int seq_of_[W];
  long start_[W], finish_[W];
};

}  // namespace
}  // namespace tormid
