#include "scan/progress.h"

#include <sys/stat.h>

#include <cstdio>

namespace tormid::scan {

std::uint64_t file_size(const std::string& path) {
  struct stat info {};
  if (path == "-" || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

ProgressLine::ProgressLine(bool enabled, std::uint64_t file_size)
    : enabled_(enabled), file_size_(file_size), start_(std::chrono::steady_clock::now()), last_(start_) {}

void ProgressLine::update(const Progress& p) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  drawn_ = true;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  char line[160];
  int n = std::snprintf(line, sizeof line, "\r%llu records, %.1f M residues",
                        static_cast<unsigned long long>(p.records), p.residues / 1e6);
  if (file_size_ > 0 && p.bytes > 0) {
    const double done = static_cast<double>(p.bytes) / static_cast<double>(file_size_);
    const double left = done < 1 ? elapsed * (1 - done) / done : 0;
    n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), ", %.0f%% of the file, about %.0f s left",
                       100 * std::min(done, 1.0), left);
  }
  std::fprintf(stderr, "%s\033[K", line);
  std::fflush(stderr);
}

void ProgressLine::finish() {
  if (!enabled_ || !drawn_) return;
  drawn_ = false;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
}

}  // namespace tormid::scan
