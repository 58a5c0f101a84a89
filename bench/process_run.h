// Whole runs of a program, timed, with their peak resident memory.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct ProcessRun {
  double seconds;
  double peak_mib;
  int status;
};

// Runs a binary with stdout sent to /dev/null (or to stdout_path), and
// stderr to stderr_path when given; wall time and peak RSS. A child's peak
// RSS includes that of this process at the moment of the spawn, so spawn
// while this process is still small.
ProcessRun run_process(const std::string& binary, const std::vector<std::string>& args,
                       const std::string& stdout_path = "/dev/null", const std::string& stderr_path = "");

// The fastest of `times` runs.
ProcessRun best_of(int times, const std::string& binary, const std::vector<std::string>& args);

// The run of median time among `times` runs.
ProcessRun median_of(int times, const std::string& binary, const std::vector<std::string>& args);

}  // namespace bench
