// A one-line progress display on standard error. Private to tormid-scan.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "search/search.h"

namespace tormid::scan {

class ProgressLine {
 public:
  // Shows nothing unless enabled (standard error is a terminal and the
  // user did not ask for quiet). file_size is 0 when unknown.
  ProgressLine(bool enabled, std::uint64_t file_size);
  // Clears the line.
  ~ProgressLine() { finish(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  // Redraws the line, at most ten times a second.
  void update(const Progress& progress);
  void finish();

 private:
  bool enabled_;
  std::uint64_t file_size_;
  std::chrono::steady_clock::time_point start_, last_;
  bool drawn_ = false;
};

// The size of a regular file, or 0.
std::uint64_t file_size(const std::string& path);

}  // namespace tormid::scan
