// The first row with the best end over a range of rows, as an end tracker
// scanning them in order keeps it, in O(log n) per query and per changed
// row (a segment tree over the rows). Private to the search.
#pragma once

#include <cstddef>
#include <vector>

#include "engine/engine.h"

namespace tormid {

// Over ends (0-based rows), which the caller changes one row at a time.
class BestEnds {
 public:
  explicit BestEnds(const std::vector<RowEnd>& ends) : ends_(ends) {
    while (size_ < ends.size()) size_ *= 2;
    tree_.assign(2 * size_, -1);
    for (std::size_t k = 0; k < ends.size(); ++k) tree_[size_ + k] = static_cast<int>(k);
    for (std::size_t k = size_ - 1; k >= 1; --k) tree_[k] = better(tree_[2 * k], tree_[2 * k + 1]);
  }
  // After ends[row] changed.
  void changed(std::size_t row) {
    for (std::size_t k = (size_ + row) / 2; k >= 1; k /= 2) tree_[k] = better(tree_[2 * k], tree_[2 * k + 1]);
  }
  // The row (its end may be kNoRowEnd); -1 for an empty range.
  int first_best(std::size_t lo, std::size_t hi) const {
    int left = -1, right = -1;
    for (std::size_t a = lo + size_, b = hi + size_ + 1; a < b; a /= 2, b /= 2) {
      if (a & 1) left = better(left, tree_[a++]);
      if (b & 1) right = better(tree_[--b], right);
    }
    return better(left, right);
  }

 private:
  // Of two rows (a before b), the one a scan keeps: strictly better wins.
  int better(int a, int b) const {
    if (b < 0) return a;
    if (a < 0) return b;
    return ends_[static_cast<std::size_t>(b)].score > ends_[static_cast<std::size_t>(a)].score ? b : a;
  }
  const std::vector<RowEnd>& ends_;
  std::size_t size_ = 1;
  std::vector<int> tree_;
};

}  // namespace tormid
