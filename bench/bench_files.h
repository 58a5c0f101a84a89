// Small helpers of the whole-run benchmarks: programs on PATH, files as
// text, and what tormid-scan's closing line says.
#pragma once

#include <string>
#include <vector>

namespace bench {

// The full path of a program on PATH, or "".
std::string find_on_path(const std::string& name);

// A file's contents, or "" where it cannot be read.
std::string read_text(const std::string& path);

// The "dismissed X of Y pairs" of tormid-scan's closing line, as
// "99.1% (X of Y)", or "?".
std::string dismissed_share(const std::string& stderr_text);

double median(std::vector<double> values);

}  // namespace bench
