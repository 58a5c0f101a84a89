// Writing tormid-scan's files. Private to tormid-scan.
#pragma once

#include <stdexcept>
#include <string>

namespace tormid::scan {

// A file that could not be written; the message names it and the reason.
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes text to path completely or not at all. Throws OutputError.
void write_file_atomically(const std::string& path, const std::string& text);

}  // namespace tormid::scan
